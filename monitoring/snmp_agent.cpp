#include "monitoring/snmp_agent.h"

#include <iostream>
#include <iterator>
#include <vector>

#include "asn1/coder_env.h"
#include "runtime/ext_output.h"
#include "runtime/mux_time.h"

const IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType>
    SnmpAgentInstance::monitoringAddressTypes[] = {
        {"varkgw", varkgw},
        {"varkgw.ox", varkgw_ox},
        {"zemb", zemb},
        {nullptr, MonitoringAddressType(0)},
};

SnmpAgentInstance::~SnmpAgentInstance() {
    if (link_) link_->UnBind();
}

void SnmpAgentInstance::Activate(IniFile::SubSection& section) {
    std::string host;
    IniFile::Reader reader("snmpagent: ", std::cerr);
    reader.required.add(&host, "host");
    reader.required.add(&name_, "name");
    reader.required.add(&addressType_, "name", monitoringAddressTypes);
    if (!reader.parse(section)) return;

    int port = -1;
    bool valid = address_.Assign(host, &port);
    if (port < 0) return;
    if (!valid || port < 1 || port > 65535) {
        std::cerr << "snmpagent: key \"host\" has invalid value=\"" << host << "\", line "
                  << section["host"].First()->mLineNo << std::endl;
        return;
    }

    header_ = "snmpagent." + name_ + " " + address_.GetString();
    link_.reset(new Control::ConnectorNet(address_.GetString()));
    link_->service_name(header_);
    link_->Bind(this);
    link_->Activate();
}

void SnmpAgentInstance::Command(const MON::Command& command) {
    MON::Message message;
    message.get_pdu().set_command(command);
    Send(message);
}

void SnmpAgentInstance::Send(const MON::Message& message) {
    if (!link_ || !link_->connected()) return;

    ASN1::CoderEnv env(ASN1::CoderEnv::AlignedPER);
    std::vector<char> bytes;
    if (!ASN1::encode(message, &env, std::back_inserter(bytes))) {
        std::clog << ext::header(this) << ": encode MON message fail!!!" << std::endl;
        return;
    }
    link_->Send(bytes.data(), static_cast<int>(bytes.size()));
    SetPingTimer();

    uint32_t now = Mux::milliseconds();
    if (static_cast<int32_t>(now - lastReceived_) > static_cast<int32_t>(silence_ms)) {
        std::clog << ext::header(this) << ": ping timeout !!!" << " now=" << now
                  << " stamp=" << lastReceived_ << std::endl;
        link_->Disconnect();
    }
}

void SnmpAgentInstance::SetPingTimer() {
    pingTimer_.set(ping_ms, &SnmpAgentInstance::OnPingTimer, this);
}

void SnmpAgentInstance::OnPingTimer(Timer*) {
    MON::Command ping;
    ping.select_ping();
    Command(ping);
}

void SnmpAgentInstance::OnConnect() {
    std::clog << ext::header(this) << ": connected." << std::endl;
    lastReceived_ = Mux::milliseconds();
    if (notify_) notify_->OnSnmpAgentConnect(name_);
}

void SnmpAgentInstance::OnDisconnect() {
    std::clog << ext::header(this) << ": connection lost, reset snmpagent instance" << std::endl;
    pingTimer_.reset();
}

void SnmpAgentInstance::OnMessage(const char* data, int length) {
    lastReceived_ = Mux::milliseconds();
    ASN1::CoderEnv env(ASN1::CoderEnv::AlignedPER);
    MON::Message message;
    if (!ASN1::decode(data, data + length, &env, message, true)) {
        std::cerr << ext::header(this) << ": receive : decode error!" << std::endl;
        return;
    }
    OnMessage(message);
}

// The agents answer and signal; neither needs anything from the server.
void SnmpAgentInstance::OnMessage(const MON::Message& message) {
    if (message.get_pdu().is_command())
        std::cerr << ext::header(this) << ": receive unknown message type" << std::endl;
}

void SnmpAgentCtrl::CreateInstances(IniFile::Section& section) {
    for (IniFile::SubSection& sub : section) {
        instances_.emplace_back(new SnmpAgentInstance);
        instances_.back()->Activate(sub);
    }
}

void SnmpAgentCtrl::Bind(ISnmpAgentNotify* notify) {
    for (auto& instance : instances_) instance->SetNotify(notify);
}
