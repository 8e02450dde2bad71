#include "monitoring/monitoring_ctl.h"

#include <ostream>

MonitoringCtl& MonitoringCtl::instance() {
    static MonitoringCtl monitoring;
    return monitoring;
}

void MonitoringCtl::Configure(IniFile::File& file) {
    snmp_.CreateInstances(file["snmpagent"]);
    snmp_.Bind(this);
}

void MonitoringCtl::OnConnect() { sendPowerStatus(); }

bool MonitoringCtl::OnCommand(const LGCP::Command& command) {
    if (!command.is_display()) return false;
    Success();
    return true;
}

void MonitoringCtl::sendPowerStatus() {
    LGCP::Signal signal;
    signal.set_power(powerStatus_);
    SendSignal(signal);
}

void MonitoringCtl::PutHeader(std::ostream& os) const { os << "monitoring: "; }
