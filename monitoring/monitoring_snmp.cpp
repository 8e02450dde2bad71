// The monitoring service's publishers: each turns held values into the
// values of its monitored items and hands them to the SNMP feed; and the
// full re-send an agent's connection asks for.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "board/paths.h"
#include "monitoring/monitoring_ctl.h"
#include "runtime/version.h"

namespace {

using Item = SnmpAgentCtrl::MonitoringItemType;

const char kDriverVersionFile[] = "/proc/voice/version";

// Numbers travel as decimal text: "unsigned" ones as 32-bit unsigned
// numbers, the others as a signed int prints.
std::string unsigned_text(uint32_t value) { return std::to_string(value); }
std::string decimal(int value) { return std::to_string(value); }
std::string text(const ASN1::OCTET_STRING& bytes) { return std::string(bytes.begin(), bytes.end()); }

const char kWhiteSpace[] = " \t\n\r\f\v";

std::string trimmed(const std::string& piece) {
    const size_t first = piece.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos) return "";
    return piece.substr(first, piece.find_last_not_of(kWhiteSpace) + 1 - first);
}

// The pieces between spaces, a run of spaces counting as one separator.
std::vector<std::string> split_at_spaces(const std::string& line) {
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != ' ')
            pieces.back() += line[i];
        else if (i == 0 || line[i - 1] != ' ')
            pieces.emplace_back();
    }
    for (std::string& piece : pieces) piece = trimmed(piece);
    return pieces;
}

// The voice driver's build from the first line of its version file:
// "B [C D]" of "A B C D", "B [C]" of "A B C", "none" of fewer words.
std::string driver_build_of(const std::string& line) {
    const std::vector<std::string> pieces = split_at_spaces(line);
    if (pieces.size() >= 4) return pieces[1] + " [" + pieces[2] + " " + pieces[3] + "]";
    if (pieces.size() == 3) return pieces[1] + " [" + pieces[2] + "]";
    return "none";
}

}  // namespace

// ---- Scalars

void MonitoringCtl::sendSnmpDriverBuild() {
    FILE* file = std::fopen(board::path(kDriverVersionFile).c_str(), "re");
    if (file == nullptr) return;
    char line[127] = {};
    if (std::fgets(line, sizeof line, file) != nullptr)
        snmp_.Send(SnmpAgentCtrl::driverBuild, driver_build_of(line));
    std::fclose(file);
}

void MonitoringCtl::sendSnmpSoftwareBuild() {
    std::ostringstream version;
    version << Version::current;
    snmp_.Send(SnmpAgentCtrl::softwareBuild, version.str());
}

void MonitoringCtl::sendSnmpPowerStatus() {
    snmp_.Send(SnmpAgentCtrl::powerStatus, unsigned_text(data_.powerStatus.getValue()));
}

void MonitoringCtl::sendSnmpControllerStatus() {
    snmp_.Send(SnmpAgentCtrl::controllerStatus, unsigned_text(data_.ownStatus.getValue()));
}

// Before the first DIP reading the held value is no switch position: the
// agents get nothing rather than a number the switch cannot show.
void MonitoringCtl::sendSnmpGatewayDip() {
    if (data_.dip < 0) return;
    snmp_.Send(SnmpAgentCtrl::gatewayDip, unsigned_text(uint32_t(data_.dip)));
}

// Likewise before a configuration file has named a version (the file
// "config_version" is not written then either).
void MonitoringCtl::sendSnmpGatewayConfigVersion() {
    if (data_.configVersion32 == ~uint32_t(0) && data_.configVersion64 == ~uint64_t(0)) return;
    snmp_.Send(SnmpAgentCtrl::gatewayConfigVersion, unsigned_text(data_.configVersion32));
}

void MonitoringCtl::sendSnmpTemperature() {
    snmp_.Send(SnmpAgentCtrl::temperature, data_.temperature);
}

void MonitoringCtl::sendSnmpStatusBuildVersion() {
    snmp_.Send(SnmpAgentCtrl::sgBuildVersion, data_.buildVersion);
}

void MonitoringCtl::sendSnmpStatusFPGAVersion() {
    snmp_.Send(SnmpAgentCtrl::sgFPGAVersion, data_.fpgaVersion);
}

void MonitoringCtl::sendSnmpStatusBootVersion() {
    snmp_.Send(SnmpAgentCtrl::sgBootVersion, data_.bootVersion);
}

void MonitoringCtl::sendSnmpStatusBoardVersion() {
    snmp_.Send(SnmpAgentCtrl::sgBoardVersion, data_.boardVersion);
}

// ---- Table rows

void MonitoringCtl::sendSnmpBoardStatus(const LGCP::BoardStatusParams& p) {
    const int row = p.get_position().getValue();
    snmp_.Send(SnmpAgentCtrl::extBoardStatus, row, decimal(p.get_status().getValue()));
    snmp_.Send(SnmpAgentCtrl::extBoardSoftVer, row, text(p.get_version()));
    snmp_.Send(SnmpAgentCtrl::extBoardType, row, decimal(p.get_type().getValue()));
}

void MonitoringCtl::sendSnmpBoardStatuses() {
    for (const LGCP::BoardStatusParams& board : data_.boards) sendSnmpBoardStatus(board);
}

// The phone table counts its rows from 1.
void MonitoringCtl::sendSnmpEmPhoneStatus(const LGCP::EmPhoneStatusParams& p) {
    const int row = p.get_id().getValue() + 1;
    snmp_.Send(SnmpAgentCtrl::emPhonePanelSoftVer, row, text(p.get_panelSV()));
    snmp_.Send(SnmpAgentCtrl::emPhoneCtrlSoftVer, row, text(p.get_ctrlSV()));
    snmp_.Send(SnmpAgentCtrl::emPhoneFpgaSoftVer, row, text(p.get_fpgaSV()));
    snmp_.Send(SnmpAgentCtrl::emPhoneStatus, row, decimal(p.get_status().getValue()));
    snmp_.Send(SnmpAgentCtrl::emPhonePowerStatus, row, decimal(p.get_powerStatus().getValue()));
    snmp_.Send(SnmpAgentCtrl::emPhoneMode, row, decimal(p.get_mode().getValue()));
    snmp_.Send(SnmpAgentCtrl::emPhoneHookStatus, row, decimal(p.get_hookStatus().getValue()));
    snmp_.Send(SnmpAgentCtrl::emPhoneBaseStatus, row, decimal(p.get_baseStatus().getValue()));
}

void MonitoringCtl::sendSnmpEmPhoneStatuses() {
    for (const LGCP::EmPhoneStatusParams& phone : data_.phones) sendSnmpEmPhoneStatus(phone);
}

void MonitoringCtl::SendTermCounts(LGCP::TermCounterOwner::NamedNumber owner, Item item) {
    for (const LGCP::TermCounter& counter : data_.termCounters)
        if (counter.get_owner().getValue() == owner)
            snmp_.Send(item, unsigned_text(uint32_t(counter.get_cnt().getValue())));
}

void MonitoringCtl::sendSnmpRouterTermCnt() {
    SendTermCounts(LGCP::TermCounterOwner::router, SnmpAgentCtrl::routerTermCnt);
}

void MonitoringCtl::sendSnmpControllerTermCnt() {
    SendTermCounts(LGCP::TermCounterOwner::controller, SnmpAgentCtrl::controllerTermCnt);
}

void MonitoringCtl::sendSnmpServerTermCnt() {
    SendTermCounts(LGCP::TermCounterOwner::server, SnmpAgentCtrl::serverTermCnt);
}

// An extension board's counter is a row of its own table, by owner id.
void MonitoringCtl::sendSnmpBoardTermCnt() {
    for (const LGCP::TermCounter& counter : data_.termCounters) {
        const ASN1::INTEGER* ownerId = counter.get_ownerId();
        if (counter.get_owner().getValue() != LGCP::TermCounterOwner::extBoard || !ownerId) continue;
        snmp_.Send(SnmpAgentCtrl::extBoardTermCnt, ownerId->getValue(),
                   unsigned_text(uint32_t(counter.get_cnt().getValue())));
    }
}

void MonitoringCtl::sendSnmpFramerStatus(const FramerDataHolder& f) {
    snmp_.Send(SnmpAgentCtrl::e1Connected, f.index, decimal(f.connected));
    snmp_.Send(SnmpAgentCtrl::e1StatusDsc, f.index, f.statusText);
    snmp_.Send(SnmpAgentCtrl::e1SignalLoss, f.index, decimal(f.signalLoss));
    snmp_.Send(SnmpAgentCtrl::e1FrameAlignLoss, f.index, decimal(f.frameAlignLoss));
    snmp_.Send(SnmpAgentCtrl::e1NegSlipCount, f.index, decimal(f.negSlips));
    snmp_.Send(SnmpAgentCtrl::e1PosSlipCount, f.index, decimal(f.posSlips));
}

void MonitoringCtl::sendSnmpFramerStatus() {
    for (const FramerDataHolder& framer : data_.framers) sendSnmpFramerStatus(framer);
}

void MonitoringCtl::sendSnmpNetIfStatus(const NetIfDataHolder& n) {
    snmp_.Send(SnmpAgentCtrl::ifOperStatus, n.index, decimal(n.operStatus));
    snmp_.Send(SnmpAgentCtrl::ifAdminStatus, n.index, decimal(n.adminStatus));
    snmp_.Send(SnmpAgentCtrl::ifDescr, n.index, n.name);
}

void MonitoringCtl::sendSnmpNetIfStatus() {
    for (const NetIfDataHolder& netIf : data_.netIfs) sendSnmpNetIfStatus(netIf);
}

// ---- Sent at once

void MonitoringCtl::sendSnmpTrapReceivers() { snmp_.SendTrapsink(data_.trapReceivers); }

void MonitoringCtl::sendSnmpCommands() { snmp_.Send(data_.snmpCommands); }

void MonitoringCtl::sendSnmpCommands(const MON::SnmpSetCommands& c) { snmp_.Send(c); }

// ---- The full re-send

// Each agent then receives the trap sinks and the stored set-commands at
// once, and every item value in the two batches of the next flush. Phones
// are queued twice, as the agents have always received them.
void MonitoringCtl::OnDpcSend() {
    sendSnmpTrapReceivers();
    sendSnmpDriverBuild();
    sendSnmpSoftwareBuild();
    sendSnmpPowerStatus();
    sendSnmpControllerStatus();
    sendSnmpGatewayDip();
    sendSnmpGatewayConfigVersion();
    sendSnmpTemperature();
    sendSnmpStatusBuildVersion();
    sendSnmpStatusFPGAVersion();
    sendSnmpStatusBootVersion();
    sendSnmpStatusBoardVersion();
    sendSnmpBoardStatuses();
    sendSnmpEmPhoneStatuses();
    sendSnmpEmPhoneStatuses();
    sendSnmpRouterTermCnt();
    sendSnmpControllerTermCnt();
    sendSnmpServerTermCnt();
    sendSnmpBoardTermCnt();
    sendSnmpFramerStatus();
    sendSnmpNetIfStatus();
    sendSnmpCommands();
    resendDpc_.Deactivate();
}
