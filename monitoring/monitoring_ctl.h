#pragma once
// The board's monitoring service: takes the controller's `display` command,
// tells the controller the board's power state when it connects, and owns
// the feed of the SNMP agents configured in the "snmpagent" sections.

#include <iosfwd>

#include "link/ctrl_server.h"
#include "monitoring/snmp_agent.h"
#include "runtime/ini_file.h"

class MonitoringCtl : public CtrlSrv::Service, public ISnmpAgentNotify {
public:
    static MonitoringCtl& instance();

    // Creates one agent link per "snmpagent" section; called once at start-up.
    void Configure(IniFile::File& file);

    void OnConnect() override;
    void OnDisconnect() override {}
    // Takes `display` only and answers it with success.
    bool OnCommand(const LGCP::Command& command) override;
    void OnSnmpAgentConnect(const std::string&) override {}

    // Sends the held power state as a `power` signal.
    void sendPowerStatus();
    void PutHeader(std::ostream& os) const;

    const SnmpAgentCtrl& snmp() const { return snmp_; }

private:
    MonitoringCtl() = default;

    LGCP::POWERStatus::NamedNumber powerStatus_ = LGCP::POWERStatus::unknown;
    SnmpAgentCtrl snmp_;
};
