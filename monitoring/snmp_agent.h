#pragma once
// The links to the SNMP agents. The server does not speak SNMP itself: each
// agent is a process that listens on a TCP port, and the server connects to
// it as a client and feeds it MON messages, one per TPKT frame, in aligned
// PER. One configuration section per agent:
//
//   [snmpagent]
//   host = 10.0.0.5:7001     the agent's address and port (no port: no link)
//   name = zemb              varkgw, varkgw.ox, zemb or a number

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/control_links.h"
#include "messages/mon.h"
#include "runtime/ini_file.h"
#include "runtime/ini_reader.h"
#include "runtime/inet4_addr.h"
#include "runtime/log_throttle.h"
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
    // A message encoded already; dropped unless the link is connected.
    void SendEncoded(const std::vector<char>& bytes);
    // The line for a message meant for this agent that could not be encoded.
    void EncodeFailed() const;
    bool connected() const { return link_ && link_->connected(); }

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
    // An agent may send what is not for the server as fast as it likes.
    LogThrottle undecodable_;
    LogThrottle unknownType_;
};

// The feed: owns every agent link, in configuration order, and the table of
// monitored items. Item values are gathered into two pending batches of
// set-commands (keys 2 and 4, after the agent kinds) that one deferred call
// flushes, so that the values published in one loop pass reach each agent
// in one message per batch, or in several in their order where one would
// hold more set-commands than an agent decodes or not fit one frame. Every
// batch goes to every agent, whatever its kind. Texts go out as IA5 (octets
// 0 to 127): an octet above 127 is written as the four characters \xHH.
class SnmpAgentCtrl {
public:
    // The monitored items, named after their MIB objects.
    enum MonitoringItemType : int {
        driverBuild, softwareBuild, powerStatus, controllerStatus, gatewayDip,
        gatewayConfigVersion,
        extBoardStatus, extBoardSoftVer, extBoardType,
        emPhonePanelSoftVer, emPhoneCtrlSoftVer, emPhoneFpgaSoftVer, emPhoneStatus,
        emPhonePowerStatus, emPhoneMode, emPhoneHookStatus, emPhoneBaseStatus,
        routerTermCnt, controllerTermCnt, serverTermCnt, extBoardTermCnt,
        e1Connected, e1StatusDsc, e1SignalLoss, e1FrameAlignLoss, e1NegSlipCount,
        e1PosSlipCount,
        sgBuildVersion, sgFPGAVersion, sgBootVersion, sgBoardVersion,
        ifDescr, ifAdminStatus, ifOperStatus,
        temperature,
    };
    static constexpr int itemCount = temperature + 1;

    // One monitored MIB object and the batches it goes into.
    struct MonitoringItem {
        MonitoringItem(MonitoringItemType type, int agentMask, const char* section, const char* name)
            : type(type), agentMask(agentMask), section(section), name(name) {}
        MonitoringItemType type;
        int agentMask;  // 2, 4 or both
        std::string section;
        std::string name;
    };

    SnmpAgentCtrl();
    SnmpAgentCtrl(const SnmpAgentCtrl&) = delete;
    SnmpAgentCtrl& operator=(const SnmpAgentCtrl&) = delete;

    // One agent per subsection; one whose section does not read has no link.
    void CreateInstances(IniFile::Section& section);
    // The agents made so far tell `notify` when they connect.
    void Bind(ISnmpAgentNotify* notify);
    void UnBind() { Bind(nullptr); }

    // Queues the item's value (row `index` of a table, 0 for a scalar) in
    // the batches of its mask; the text goes up to its first zero byte.
    void Send(MonitoringItemType type, const std::string& value) { Send(type, 0, value); }
    void Send(MonitoringItemType type, int index, const std::string& value);
    // At once to every agent, with the caller's uniq numbers; nothing when
    // the list is empty.
    void Send(const MON::SnmpSetCommands& commands);
    // At once to every agent, one trap sink per host text without a port;
    // nothing when the list is empty (the agents keep what they had).
    void SendTrapsink(const std::vector<std::string>& hosts);
    // The flush: each non-empty batch to every agent, key 2 first.
    void OnDpcSend();

    const std::list<std::unique_ptr<SnmpAgentInstance>>& instances() const { return instances_; }
    const std::vector<MonitoringItem>& items() const { return items_; }
    // The pending batch of an agent-kind key; null for the keys without one.
    const MON::Command* pending(int key) const;
    // Months of values in a test's moment.
    void set_next_uniq_for_test(uint32_t uniq) { uniq_ = uniq; }

private:
    using SetList = ASN1::SEQUENCE_OF<MON::SnmpSetCommand>;
    void SendSets(const SetList& sets);
    void SendSets(const SetList& sets, unsigned first, unsigned last);
    void SendToAll(const MON::Command& command);

    std::list<std::unique_ptr<SnmpAgentInstance>> instances_;
    std::vector<MonitoringItem> items_;
    Dpc flushDpc_;
    uint32_t uniq_ = 1;  // of the next queued set-command; wraps after 2^32
    ISnmpAgentNotify* notify_ = nullptr;
    std::map<int, std::unique_ptr<MON::Command>> pending_;
};
