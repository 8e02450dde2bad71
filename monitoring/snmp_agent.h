#pragma once
// The links to the SNMP agents. The server does not speak SNMP itself: each
// agent is a process that listens on a TCP port, and the server connects to
// it as a client and feeds it MON messages, one per TPKT frame, in aligned
// PER. One configuration section per agent:
//
//   [snmpagent]
//   host = 10.0.0.5:7001     the agent's address and port (no port: no link)
//   name = zemb              varkgw, varkgw.ox, zemb or a number

#include <list>
#include <memory>
#include <string>

#include "link/control_links.h"
#include "messages/mon.h"
#include "runtime/ini_file.h"
#include "runtime/ini_reader.h"
#include "runtime/inet4_addr.h"
#include "runtime/timer.h"

// Told when an agent link comes up.
class ISnmpAgentNotify {
public:
    virtual ~ISnmpAgentNotify() = default;
    virtual void OnSnmpAgentConnect(const std::string& name) = 0;
};

// One link to one agent, read from one "snmpagent" section.
class SnmpAgentInstance : public Control::Notify {
public:
    enum MonitoringAddressType : int { varkgw = 1, zemb = 2, varkgw_ox = 4 };
    static const IniFile::Symbol<MonitoringAddressType> monitoringAddressTypes[];

    // An agent that has sent nothing for longer is dropped on the next send.
    static constexpr uint32_t silence_ms = 30000;
    // A ping follows the last message sent after this long.
    static constexpr unsigned ping_ms = 5000;

    SnmpAgentInstance() = default;
    ~SnmpAgentInstance() override;
    SnmpAgentInstance(const SnmpAgentInstance&) = delete;
    SnmpAgentInstance& operator=(const SnmpAgentInstance&) = delete;

    // Reads the section and, when "host" carries a port, starts the link.
    void Activate(IniFile::SubSection& section);
    void Command(const MON::Command& command);
    // Dropped unless the link is connected.
    void Send(const MON::Message& message);

    void OnConnect() override;
    void OnDisconnect() override;
    void OnMessage(const char* data, int length) override;
    void OnMessage(const MON::Message& message);

    void SetNotify(ISnmpAgentNotify* notify) { notify_ = notify; }
    void PutHeader(std::ostream& os) const { os << header_; }

    const Control::ConnectorNet* link() const { return link_.get(); }
    const std::string& name() const { return name_; }
    MonitoringAddressType addressType() const { return addressType_; }
    const INet4::Addr& address() const { return address_; }

private:
    void SetPingTimer();
    void OnPingTimer(Timer*);

    std::unique_ptr<Control::ConnectorNet> link_;
    MonitoringAddressType addressType_ = MonitoringAddressType(0);
    std::string name_;
    std::string header_;
    INet4::Addr address_;
    uint32_t lastReceived_ = 0;
    Timer pingTimer_;
    ISnmpAgentNotify* notify_ = nullptr;
};

// The feed: owns every agent link, in configuration order.
class SnmpAgentCtrl {
public:
    SnmpAgentCtrl() = default;
    SnmpAgentCtrl(const SnmpAgentCtrl&) = delete;
    SnmpAgentCtrl& operator=(const SnmpAgentCtrl&) = delete;

    // One agent per subsection; one whose section does not read has no link.
    void CreateInstances(IniFile::Section& section);
    // The agents made so far tell `notify` when they connect.
    void Bind(ISnmpAgentNotify* notify);
    void UnBind() { Bind(nullptr); }

    const std::list<std::unique_ptr<SnmpAgentInstance>>& instances() const { return instances_; }

private:
    std::list<std::unique_ptr<SnmpAgentInstance>> instances_;
};
