#include "monitoring/monitoring_data_holder.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <list>

#include "board/netif.h"
#include "board/paths.h"
#include "runtime/fd.h"
#include "runtime/net.h"
#include "runtime/trace_ctl.h"

namespace {

constexpr int kInterfaceIndexes = 16;
const char kFramerStatusPath[] = "/proc/driver/hdlc/peb22554/";

template <class T>
bool store_if_changed(T& held, const T& value) {
    if (held == value) return false;
    held = value;
    return true;
}

// The row with the key of `row` takes its values; a new key is appended.
template <class Row, class Key>
void put_row(std::vector<Row>& rows, const Row& row, Key key) {
    for (Row& held : rows) {
        if (key(held) != key(row)) continue;
        held = row;
        return;
    }
    rows.push_back(row);
}

bool same_host(const TERM::HostAddress& a, const TERM::HostAddress& b) {
    return a.get_iaddr() == b.get_iaddr() && a.get_port().getValue() == b.get_port().getValue();
}

// Both commands address the same object: by the same oid, or by the same
// section, name and index.
bool same_address(const MON::SnmpSetCommandId& a, const MON::SnmpSetCommandId& b) {
    if (a.get_oid() && b.get_oid()) return *a.get_oid() == *b.get_oid();
    const MON::IniName* x = a.get_name();
    const MON::IniName* y = b.get_name();
    return x && y && x->get_section() == y->get_section() && x->get_name() == y->get_name() &&
           x->get_index().getValue() == y->get_index().getValue();
}

// A row matches a counter of its owner unless both carry different owner ids.
bool counter_matches(const LGCP::TermCounter& row, const LGCP::TermCounter& counter) {
    if (row.get_owner().getValue() != counter.get_owner().getValue()) return false;
    if (!row.has_ownerId()) return true;
    return counter.has_ownerId() &&
           row.get_ownerId()->getValue() == counter.get_ownerId()->getValue();
}

// The file a counter is written to; empty when it has none.
std::string counter_path(const LGCP::TermCounter& counter) {
    switch (counter.get_owner().getValue()) {
        case LGCP::TermCounterOwner::router: return "/var/monitoring/term_cnts/router";
        case LGCP::TermCounterOwner::controller: return "/var/monitoring/term_cnts/controller";
        case LGCP::TermCounterOwner::server: return "/var/monitoring/term_cnts/server";
        case LGCP::TermCounterOwner::extBoard:
            if (!counter.has_ownerId()) return "";
            return "/var/monitoring/term_cnts/board" +
                   std::to_string(counter.get_ownerId()->getValue());
        default: return "";
    }
}

// A section or name of a set-command must stay one file name inside its
// folder.
bool is_plain_file_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// A text for a log line: a zero byte would cut a syslog record.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

}  // namespace

MonitoringDataHolder::MonitoringDataHolder() {
    ClearMonitorFiles();
    FindOwnAddress();
    FindFramers();
    FindNetIfs();
    CheckForMonDir("/var/monitoring/");
    CheckForMonDir("/var/monitoring/term_cnts/");
}

MonitoringDataHolder::~MonitoringDataHolder() {
    writtenUnlisted_.clear();  // this run's files go too
    ClearMonitorFiles();
}

void MonitoringDataHolder::FindOwnAddress() {
    std::list<INet4::Addr> addresses;
    if (Net::ifconfig(addresses, Net::ifconfig_private) > 0)
        ownAddress = addresses.front();
    else
        ownAddress.Assign("127.0.0.1");
    ownAddress.SetPort(0);
}

void MonitoringDataHolder::FindFramers() {
    for (int n = 0; n < FramerDataHolder::maxFramers; ++n) {
        std::string path = kFramerStatusPath + std::to_string(n);
        struct stat st;
        if (::stat(board::path(path).c_str(), &st) == 0) framers.emplace_back(n + 1, path);
    }
}

void MonitoringDataHolder::FindNetIfs() {
    Fd sock(board::netif::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 255));
    if (!sock) return;
    for (int index = 0; index < kInterfaceIndexes; ++index) {
        ifreq request;
        std::memset(&request, 0, sizeof request);
        request.ifr_ifindex = index;
        if (board::netif::ioctl(sock.get(), SIOCGIFNAME, &request) != 0) continue;
        netIfs.emplace_back(index, std::string(request.ifr_name, strnlen(request.ifr_name, IFNAMSIZ)));
    }
}

// ---- Values read by the checks

bool MonitoringDataHolder::setDipValue(int v) {
    if (!store_if_changed(dip, v)) return false;
    SaveStatusToFile("/var/monitoring/dip", [this](std::ostream& os) { DipStatusSaver(os); });
    return true;
}

bool MonitoringDataHolder::setPowerStatus(const LGCP::POWERStatus& v) {
    if (powerStatus.getValue() == v.getValue()) return false;
    powerStatus = v.getValue();
    SaveStatusToFile("/var/monitoring/powerstatus",
                     [this](std::ostream& os) { PowerStatusSaver(os); });
    return true;
}

bool MonitoringDataHolder::setConfigVersion(uint32_t first, uint64_t second) {
    if (first == configVersion32 && second == configVersion64) return false;
    configVersion32 = first;
    configVersion64 = second;
    SaveStatusToFile("/var/monitoring/config_version",
                     [this](std::ostream& os) { ConfigVersionSaver(os); });
    return true;
}

bool MonitoringDataHolder::setTemperature(std::string v) { return store_if_changed(temperature, v); }

bool MonitoringDataHolder::setBuildVersion(std::string v) {
    return store_if_changed(buildVersion, v);
}

bool MonitoringDataHolder::setFPGAVersion(std::string v) { return store_if_changed(fpgaVersion, v); }

bool MonitoringDataHolder::setBootVersion(std::string v) { return store_if_changed(bootVersion, v); }

bool MonitoringDataHolder::setBoardVersion(std::string v) {
    return store_if_changed(boardVersion, v);
}

// ---- Values told by the controller

void MonitoringDataHolder::setDisplayStatus(const LGCP::DisplayParams& p) {
    if (const auto* board = p.get_board()) setBoardStatus(*board);
    if (const auto* receivers = p.get_snmpTrapReceivers()) setSnmpTrapReceivers(*receivers);
    if (const auto* phone = p.get_emPhone()) setEmPhoneInfo(*phone);
    if (const auto* controller = p.get_controller()) setControllerStatus(*controller);
    if (const auto* counter = p.get_termCounter()) setTermCounter(*counter);
    if (const auto* commands = p.get_snmp_set()) setSnmpCommands(*commands);
}

void MonitoringDataHolder::setBoardStatus(const LGCP::BoardInfo& info) {
    const LGCP::BoardStatusParams* p = info.get_boardStatus();
    if (p == nullptr) return;
    int position = p->get_position().getValue();
    std::string path = "/var/monitoring/board" + std::to_string(position);
    SaveStatusToFile(path, [p](std::ostream& os) { BoardStatusSaver(os, *p); });
    put_row(boards, *p, [](const auto& row) { return row.get_position().getValue(); });
}

void MonitoringDataHolder::setEmPhoneInfo(const LGCP::EmPhoneInfo& info) {
    const LGCP::EmPhoneStatusParams* p = info.get_phoneStatus();
    if (p == nullptr) return;
    int id = p->get_id().getValue();
    std::string path = "/var/monitoring/emphone" + std::to_string(id);
    SaveStatusToFile(path, [p](std::ostream& os) { PhoneStatusSaver(os, *p); });
    put_row(phones, *p, [](const auto& row) { return row.get_id().getValue(); });
}

void MonitoringDataHolder::setTermCounter(const LGCP::TermCounter& counter) {
    int cnt = counter.get_cnt().getValue();
    std::string path = counter_path(counter);
    if (!path.empty()) SaveStatusToFile(path, [cnt](std::ostream& os) { TermCounterSaver(os, cnt); });
    for (LGCP::TermCounter& row : termCounters) {
        if (!counter_matches(row, counter)) continue;
        row.set_cnt(cnt);
        return;
    }
    termCounters.push_back(counter);
}

bool MonitoringDataHolder::setControllerStatus(const LGCP::ControllerInfo& info) {
    INet4::Addr address;
    address.Assign(host2str(info.get_host()));
    address.SetPort(0);
    const HSP::ControllerStatus& status = info.get_status();
    bool own = address.IsEqual(ownAddress);
    if (own) ownStatus = status.getValue();

    bool changed = true;
    auto row = std::find_if(controllers.begin(), controllers.end(), [&](const auto& c) {
        return same_host(c.get_host(), info.get_host());
    });
    if (row != controllers.end()) {
        changed = row->get_status().getValue() != status.getValue();
        row->set_status(status.getValue());
    } else {
        controllers.push_back(info);
    }
    if (!changed) return false;

    if (traces.monitoring)
        std::clog << "New controller " << Dotted(address) << " status - " << status << std::endl;
    CheckForMonControllerDir(address);
    SaveStatusToFile(ControllerStatusPath(address),
                     [&status](std::ostream& os) { ControllerStatusSaver(os, status); });
    return own;
}

void MonitoringDataHolder::setSnmpTrapReceivers(const ASN1::SEQUENCE_OF<ASN1::IA5String>& receivers) {
    trapReceivers.clear();
    if (traces.monitoring) std::clog << "Trap receivers:" << receivers << std::endl;
    for (const ASN1::IA5String& receiver : receivers) trapReceivers.push_back(receiver);
}

void MonitoringDataHolder::setSnmpCommands(const MON::SnmpSetCommands& commands) {
    for (const MON::SnmpSetCommand& command : commands.get_commands()) {
        MergeSnmpCommand(command);
        SaveSnmpCommand(command);
    }
}

void MonitoringDataHolder::MergeSnmpCommand(const MON::SnmpSetCommand& command) {
    for (MON::SnmpSetCommand& stored : snmpCommands.get_commands()) {
        if (!same_address(stored.get_id(), command.get_id())) continue;
        stored.get_value() = command.get_value();
        return;
    }
    snmpCommands.get_commands().push_back(command);
}

// A command addressed by name is also written to "<section>/<index>/<name>";
// a section or name that would leave its folder writes nothing.
void MonitoringDataHolder::SaveSnmpCommand(const MON::SnmpSetCommand& command) {
    const MON::IniName* id = command.get_id().get_name();
    if (id == nullptr) return;
    const std::string& section = id->get_section();
    const std::string& name = id->get_name();
    if (!is_plain_file_name(section) || !is_plain_file_name(name)) {
        std::cerr << "monitoring: set-command not written, bad section or name \""
                  << printable(section) << "\" \"" << printable(name) << "\"" << std::endl;
        return;
    }
    std::string sectionDir = "/var/monitoring/" + section;
    std::string indexDir = sectionDir + "/" + std::to_string(id->get_index().getValue());
    CheckForMonDir(sectionDir);
    CheckForMonDir(indexDir);
    lastSetValue = command.get_value();
    SaveStatusToFile(indexDir + "/" + name,
                     [this](std::ostream& os) { StringParamSaver(os, lastSetValue); });
}
