#include "monitoring/snmp_agent.h"

#include <algorithm>
#include <iostream>
#include <iterator>
#include <vector>

#include "asn1/coder_env.h"
#include "asn1/type_info.h"
#include "link/tpkt_protocol.h"
#include "runtime/ext_output.h"
#include "runtime/mux_time.h"

namespace {

MON::Message message_of(const MON::Command& command) {
    MON::Message message;
    message.get_pdu().set_command(command);
    return message;
}

bool encode(const MON::Message& message, std::vector<char>& bytes) {
    ASN1::CoderEnv env(ASN1::CoderEnv::AlignedPER);
    return ASN1::encode(message, &env, std::back_inserter(bytes));
}

// IA5 carries octets 0 to 127: one above is written as \xHH, so that an
// agent that checks every character decodes the whole message.
void to_ia5(std::string& text) {
    const auto high = [](char c) { return static_cast<unsigned char>(c) > 0x7F; };
    if (std::none_of(text.begin(), text.end(), high)) return;
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto octet = static_cast<unsigned char>(c);
        if (high(c)) {
            out += {'\\', 'x', kHex[octet >> 4], kHex[octet & 0xF]};
        } else {
            out += c;
        }
    }
    text = out;
}

void to_ia5(MON::SnmpSetCommand& command) {
    if (ASN1::IA5String* oid = command.get_id().get_oid()) to_ia5(*oid);
    if (MON::IniName* name = command.get_id().get_name()) {
        to_ia5(name->get_section());
        to_ia5(name->get_name());
    }
    to_ia5(command.get_value());
}

}  // namespace

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

    int port = INet4::Addr::no_port;
    bool valid = address_.Assign(host, &port);
    if (port == INet4::Addr::no_port) return;
    if (!valid || port < 1) {
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

void SnmpAgentInstance::Command(const MON::Command& command) { Send(message_of(command)); }

void SnmpAgentInstance::Send(const MON::Message& message) {
    if (!connected()) return;

    std::vector<char> bytes;
    if (!encode(message, bytes)) return EncodeFailed();
    SendEncoded(bytes);
}

void SnmpAgentInstance::EncodeFailed() const {
    if (connected()) std::clog << ext::header(this) << ": encode MON message fail!!!" << std::endl;
}

void SnmpAgentInstance::SendEncoded(const std::vector<char>& bytes) {
    if (!connected()) return;
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
        if (undecodable_.admit())
            std::cerr << ext::header(this) << ": receive : decode error!" << undecodable_
                      << std::endl;
        return;
    }
    OnMessage(message);
}

// The agents answer and signal; neither needs anything from the server.
void SnmpAgentInstance::OnMessage(const MON::Message& message) {
    if (message.get_pdu().is_command() && unknownType_.admit())
        std::cerr << ext::header(this) << ": receive unknown message type" << unknownType_
                  << std::endl;
}

// ---- The feed

namespace {

// The two pending batches, keyed by the agent kinds they are meant for.
constexpr int kZembBatch = SnmpAgentInstance::zemb;
constexpr int kOxBatch = SnmpAgentInstance::varkgw_ox;
constexpr int kBoth = kZembBatch | kOxBatch;

struct ItemRow {
    int mask;
    const char* section;
    const char* name;
};

// In identifier order.
const ItemRow kItems[SnmpAgentCtrl::itemCount] = {
    {kBoth, "gatewayCommon", "driverBuild"},
    {kBoth, "gatewayCommon", "softwareBuild"},
    {kBoth, "gatewayCommon", "powerStatus"},
    {kBoth, "gatewayCommon", "controllerStatus"},
    {kBoth, "gatewayCommon", "gatewayDip"},
    {kBoth, "gatewayCommon", "gatewayConfigVersion"},
    {kZembBatch, "extBoardTable", "extBoardStatus"},
    {kZembBatch, "extBoardTable", "extBoardSoftVer"},
    {kZembBatch, "extBoardTable", "extBoardType"},
    {kZembBatch, "emPhoneTable", "emPhonePanelSoftVer"},
    {kZembBatch, "emPhoneTable", "emPhoneCtrlSoftVer"},
    {kZembBatch, "emPhoneTable", "emPhoneFpgaSoftVer"},
    {kZembBatch, "emPhoneTable", "emPhoneStatus"},
    {kZembBatch, "emPhoneTable", "emPhonePowerStatus"},
    {kZembBatch, "emPhoneTable", "emPhoneMode"},
    {kZembBatch, "emPhoneTable", "emPhoneHookStatus"},
    {kZembBatch, "emPhoneTable", "emPhoneBaseStatus"},
    {kBoth, "gatewayTermCounters", "routerTermCnt"},
    {kBoth, "gatewayTermCounters", "controllerTermCnt"},
    {kBoth, "gatewayTermCounters", "serverTermCnt"},
    {kZembBatch, "extBoardTermCntTable", "extBoardTermCnt"},
    {kZembBatch, "e1Table", "e1Connected"},
    {kZembBatch, "e1Table", "e1StatusDsc"},
    {kZembBatch, "e1Table", "e1SignalLoss"},
    {kZembBatch, "e1Table", "e1FrameAlignLoss"},
    {kZembBatch, "e1Table", "e1NegSlipCount"},
    {kZembBatch, "e1Table", "e1PosSlipCount"},
    {kOxBatch, "statusGeneral", "sgBuildVersion"},
    {kOxBatch, "statusGeneral", "sgFPGAVersion"},
    {kOxBatch, "statusGeneral", "sgBootVersion"},
    {kOxBatch, "statusGeneral", "sgBoardVersion"},
    {kBoth, "ifTable", "ifDescr"},
    {kBoth, "ifTable", "ifAdminStatus"},
    {kBoth, "ifTable", "ifOperStatus"},
    {kZembBatch, "gatewayCommon", "temperature"},
};

MON::Command* empty_batch() {
    auto* command = new MON::Command;
    command->select_snmp_set();
    return command;
}

}  // namespace

SnmpAgentCtrl::SnmpAgentCtrl() {
    items_.reserve(itemCount);
    for (int type = 0; type < itemCount; ++type)
        items_.emplace_back(MonitoringItemType(type), kItems[type].mask, kItems[type].section,
                            kItems[type].name);
    pending_[0] = nullptr;
    pending_[1] = nullptr;
    pending_[kZembBatch].reset(empty_batch());
    pending_[kOxBatch].reset(empty_batch());
    flushDpc_.Bind(this, &SnmpAgentCtrl::OnDpcSend);
}

void SnmpAgentCtrl::CreateInstances(IniFile::Section& section) {
    for (IniFile::SubSection& sub : section) {
        instances_.emplace_back(new SnmpAgentInstance);
        instances_.back()->Activate(sub);
    }
}

void SnmpAgentCtrl::Bind(ISnmpAgentNotify* notify) {
    notify_ = notify;
    for (auto& instance : instances_) instance->SetNotify(notify);
}

void SnmpAgentCtrl::Send(MonitoringItemType type, int index, const std::string& value) {
    // The table holds the items in identifier order.
    if (type < 0 || type >= itemCount) return;
    const MonitoringItem& item = items_[type];
    const std::string text = value.substr(0, value.find('\0'));
    for (auto& [key, command] : pending_) {
        MON::SnmpSetCommands* batch = command ? command->get_snmp_set() : nullptr;
        if ((key & item.agentMask) == 0 || batch == nullptr) continue;
        MON::SnmpSetCommand& set = batch->get_commands().append();
        set.get_uniq().setValue(uniq_++);
        MON::IniName& id = set.get_id().select_name();
        id.set_section(item.section);
        id.set_name(item.name);
        id.set_index(index);
        set.set_value(text);
        flushDpc_.Activate();
    }
}

void SnmpAgentCtrl::OnDpcSend() {
    for (auto& entry : pending_) {
        MON::Command* command = entry.second.get();
        MON::SnmpSetCommands* batch = command ? command->get_snmp_set() : nullptr;
        if (batch == nullptr) continue;
        SendSets(batch->get_commands());
        batch->get_commands().clear();
    }
    flushDpc_.Deactivate();
}

void SnmpAgentCtrl::Send(const MON::SnmpSetCommands& commands) { SendSets(commands.get_commands()); }

// An agent decodes at most MaximumArraySize set-commands in one message, and
// a message must fit one frame: a longer list goes in several messages, in
// its order.
void SnmpAgentCtrl::SendSets(const SetList& sets) {
    for (unsigned first = 0; first < sets.size(); first += ASN1::MaximumArraySize)
        SendSets(sets, first, std::min(sets.size(), first + ASN1::MaximumArraySize));
}

// Elements [first, last) in one message, or in halves while it is too long
// for a frame or does not encode: a set-command that cannot be encoded (a
// text of 16384 characters or more) is dropped alone, with a line for each
// agent. Encoded once for every agent, and only when one listens.
void SnmpAgentCtrl::SendSets(const SetList& sets, unsigned first, unsigned last) {
    if (std::none_of(instances_.begin(), instances_.end(),
                     [](const auto& instance) { return instance->connected(); }))
        return;
    MON::Command command;
    SetList& part = command.select_snmp_set().get_commands();
    for (unsigned i = first; i < last; ++i) {
        part.push_back(sets[i]);
        to_ia5(part[i - first]);
    }
    std::vector<char> bytes;
    const bool encoded = encode(message_of(command), bytes);
    if (last - first > 1 && (!encoded || bytes.size() > Tpkt_protocol::max_payload)) {
        const unsigned middle = first + (last - first) / 2;
        SendSets(sets, first, middle);
        SendSets(sets, middle, last);
        return;
    }
    for (auto& instance : instances_) {
        if (encoded)
            instance->SendEncoded(bytes);
        else
            instance->EncodeFailed();
    }
}

void SnmpAgentCtrl::SendTrapsink(const std::vector<std::string>& hosts) {
    if (hosts.empty()) return;
    MON::Command command;
    auto& trapsinks = command.select_snmp_trapsink_set().get_trapsinks();
    for (const std::string& host : hosts) {
        ASN1::IA5String& sink = trapsinks.append().get_host();
        sink = host;
        to_ia5(sink);
    }
    SendToAll(command);
}

void SnmpAgentCtrl::SendToAll(const MON::Command& command) {
    for (auto& instance : instances_) instance->Command(command);
}

const MON::Command* SnmpAgentCtrl::pending(int key) const {
    auto entry = pending_.find(key);
    return entry == pending_.end() ? nullptr : entry->second.get();
}
