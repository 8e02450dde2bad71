#include "monitoring/monitoring_ctl.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <tuple>

#include "board/devio.h"
#include "board/drivers/hal.h"
#include "board/paths.h"
#include "runtime/ext_output.h"
#include "runtime/fd.h"
#include "runtime/process.h"
#include "runtime/trace_ctl.h"

namespace {

const char kConfigDir[] = "/usr/local/etc/";
const char kConfigPrefix[] = "config.";
const char kConfigArchive[] = "config.2save.tar.bz2";
const char kTemperatureFile[] = "/proc/temperature";
constexpr size_t kFramerReadMax = 1024;

// The version files: where each is read, its trace label, where it is held
// and who publishes it.
struct VersionFile {
    const char* path;
    const char* label;
    bool (MonitoringDataHolder::*store)(std::string);
    void (MonitoringCtl::*publish)();
};

const VersionFile kVersionFiles[] = {
    {"/var/version", "BuildVersion - ", &MonitoringDataHolder::setBuildVersion,
     &MonitoringCtl::sendSnmpStatusBuildVersion},
    {"/var/u-boot-version", "BootVersion - ", &MonitoringDataHolder::setBootVersion,
     &MonitoringCtl::sendSnmpStatusBootVersion},
    {"/var/fpga-version", "FPGAVersion - ", &MonitoringDataHolder::setFPGAVersion,
     &MonitoringCtl::sendSnmpStatusFPGAVersion},
    {"/var/board-version", "BoardVersion - ", &MonitoringDataHolder::setBoardVersion,
     &MonitoringCtl::sendSnmpStatusBoardVersion},
};

// Whether a set-command names its file with the name every status file is
// written under first: as a section its folder would stop every file
// directly under "/var/monitoring/" being written, as a name the next write
// in its folder would take its file over.
bool TakesWriteName(const MON::SnmpSetCommand& command) {
    const MON::IniName* id = command.get_id().get_name();
    return id && (id->get_section() == MonitoringDataHolder::writeName ||
                  id->get_name() == MonitoringDataHolder::writeName);
}

// Why a display cannot be held and published; null when it can. The phone
// table counts its rows from 1, the row of id n being n + 1: a negative id
// and INT_MAX have none.
const char* InvalidDisplay(const LGCP::DisplayParams& display) {
    if (const MON::SnmpSetCommands* commands = display.get_snmp_set()) {
        const auto& list = commands->get_commands();
        if (std::any_of(list.begin(), list.end(), TakesWriteName))
            return "a set-command named as the status files' write name";
    }
    const LGCP::EmPhoneInfo* phone = display.get_emPhone();
    const LGCP::EmPhoneStatusParams* status = phone ? phone->get_phoneStatus() : nullptr;
    if (!status) return nullptr;
    const int id = status->get_id().getValue();
    if (id < 0 || id == std::numeric_limits<int>::max()) return "a phone id with no table row";
    return nullptr;
}

// The first line of a board file, its line end kept, at most 254
// characters; none when the file does not open.
std::optional<std::string> read_first_line(const char* boardPath) {
    FILE* file = std::fopen(board::path(boardPath).c_str(), "re");
    if (file == nullptr) return std::nullopt;
    char line[256] = {};
    if (std::fgets(line, 255, file) == nullptr) line[0] = '\0';
    std::fclose(file);
    return std::string(line);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The hexadecimal number at the start of `field`; 0 when it starts with no
// digit.
template <class T>
T read_hex(const std::string& field) {
    T value = 0;
    for (char c : field) {
        int digit = hex_digit(c);
        if (digit < 0) break;
        value = static_cast<T>(value * 16 + static_cast<T>(digit));
    }
    return value;
}

void trace_file_failure(const char* what, const std::string& path, int error) {
    if (traces.monitoring)
        std::clog << what << ext::quoted(path) << " errno=" << ext::quoted(std::strerror(error))
                  << std::endl;
}

}  // namespace

MonitoringCtl& MonitoringCtl::instance() {
    static MonitoringCtl monitoring;
    return monitoring;
}

MonitoringCtl::MonitoringCtl() {
    bkgTimer_.set(bkgFirstMs, &MonitoringCtl::onBkgCheckTimer, this);
    powerTimer_.set(powerPeriodMs, &MonitoringCtl::onPowerCheckTimer, this);
    controllerTimer_.set(controllerPeriodMs, &MonitoringCtl::onControllerCheckTimer, this);
    resendDpc_.Bind(this, &MonitoringCtl::OnDpcSend);
}

MonitoringCtl::~MonitoringCtl() {
    if (halFd_ < 0) return;
    framerLeds_ = 0;
    WriteFramerLeds();
    ::close(halFd_);
}

void MonitoringCtl::Configure(IniFile::File& file) {
    snmp_.CreateInstances(file["snmpagent"]);
    snmp_.Bind(this);
}

void MonitoringCtl::OnConnect() {
    doPowerCheck();
    sendPowerStatus();
    doControllerCheck();
}

void MonitoringCtl::OnDisconnect() {
    data_.ClearControllerFiles();
    doControllerCheck();
}

bool MonitoringCtl::OnCommand(const LGCP::Command& command) {
    const LGCP::DisplayParams* display = command.get_display();
    if (display == nullptr) return false;
    if (const char* invalid = InvalidDisplay(*display)) {
        std::cerr << ext::header(this) << "display refused: " << invalid << std::endl;
        Error(LGCP::ErrorCause::invalidParams);
        return true;
    }
    OnDisplayCMD(*display);
    Success();
    return true;
}

void MonitoringCtl::sendPowerStatus() {
    LGCP::Signal signal;
    signal.set_power(data_.powerStatus.getValue());
    SendSignal(signal);
}

void MonitoringCtl::PutHeader(std::ostream& os) const { os << "monitoring: "; }

// ---- The device

// An open writes the LEDs as the displays have set them so far: all off
// before the first.
bool MonitoringCtl::IsOpen() {
    if (halFd_ >= 0) return true;
    if (!OpenHal()) return false;
    leds_.settle();
    return true;
}

bool MonitoringCtl::OpenHal() {
    halFd_ = board::open(board::hal::kDevice, O_RDWR | O_CLOEXEC);
    return halFd_ >= 0;
}

bool MonitoringCtl::ReadHalByte(uint32_t request, uint8_t& byte) {
    byte = 0;
    return IsOpen() && board::ioctl(halFd_, request, &byte) >= 0;
}

bool MonitoringCtl::WriteFramerLeds() {
    return board::ioctl(halFd_, board::hal::kSetFramerLeds, &framerLeds_) >= 0;
}

LGCP::POWERStatus::NamedNumber MonitoringCtl::PowerStatusOf(uint8_t byte) {
    if (byte == 0) return LGCP::POWERStatus::both;
    if (byte > LGCP::POWERStatus::both) return LGCP::POWERStatus::unknown;
    return LGCP::POWERStatus::NamedNumber(byte);
}

// A line that comes up lights both its LEDs until its link is reported up
// (a line already up is left as it is); a line that goes down turns both off.
// LEDs the driver does not take (or a device that does not open) are owed.
int MonitoringCtl::setFramerLed(const LGCP::FramerInfo& info) {
    const bool open = IsOpen();
    unsigned e1 = info.get_e1().getValue();
    if (e1 >= unsigned(FramerDataHolder::maxFramers)) return 0;  // no LEDs of its own
    const unsigned linkBit = 1u << (2 * e1);
    const unsigned lineBit = linkBit << 1;
    unsigned leds = framerLeds_;
    const LGCP::FramerInfoData& data = info.get_info();
    if (const ASN1::BOOLEAN* link = data.get_link()) {
        leds = link->getValue() ? leds & ~linkBit : leds | linkBit;
    } else if (const ASN1::BOOLEAN* line = data.get_line()) {
        if (!line->getValue()) {
            leds &= ~(linkBit | lineBit);
        } else {
            if (!(leds & lineBit)) leds |= linkBit;
            leds |= lineBit;
        }
    }
    framerLeds_ = static_cast<uint8_t>(leds);
    if (open) return leds_.settle() ? 0 : -1;
    leds_.owe();
    return 0;
}

// ---- The display command

void MonitoringCtl::OnDisplayCMD(const LGCP::DisplayParams& p) {
    data_.setDisplayStatus(p);
    if (const LGCP::BoardInfo* board = p.get_board()) {
        if (const auto* status = board->get_boardStatus()) sendSnmpBoardStatus(*status);
    } else if (p.is_snmpTrapReceivers()) {
        sendSnmpTrapReceivers();
    } else if (const LGCP::FramerInfo* framer = p.get_framer()) {
        setFramerLed(*framer);
    } else if (const LGCP::EmPhoneInfo* phone = p.get_emPhone()) {
        if (const auto* status = phone->get_phoneStatus()) sendSnmpEmPhoneStatus(*status);
    } else if (p.is_controller()) {
        sendSnmpControllerStatus();
    } else if (p.is_termCounter()) {
        sendSnmpRouterTermCnt();
        sendSnmpControllerTermCnt();
        sendSnmpServerTermCnt();
        sendSnmpBoardTermCnt();
    } else if (const MON::SnmpSetCommands* commands = p.get_snmp_set()) {
        sendSnmpCommands(*commands);
    }
}

// ---- The timers: each runs its checks, then counts its period from there

void MonitoringCtl::onBkgCheckTimer(Timer*) {
    doVersionsCheck();
    doConfigCheck();
    doFramerCheck();
    doTemperatureCheck();
    bkgTimer_.set(bkgPeriodMs, &MonitoringCtl::onBkgCheckTimer, this);
}

void MonitoringCtl::onPowerCheckTimer(Timer*) {
    data_.SaveUnwrittenFiles();
    doPowerCheck();
    doDipCheck();
    doNetIfCheck();
    powerTimer_.set(powerPeriodMs, &MonitoringCtl::onPowerCheckTimer, this);
}

void MonitoringCtl::onControllerCheckTimer(Timer*) {
    doControllerCheck();
    controllerTimer_.set(controllerPeriodMs, &MonitoringCtl::onControllerCheckTimer, this);
}

// ---- The checks

void MonitoringCtl::doPowerCheck() {
    uint8_t byte;
    if (!ReadHalByte(board::hal::kGetPowerStatus, byte)) return;
    LGCP::POWERStatus status(PowerStatusOf(byte));
    if (!data_.setPowerStatus(status)) return;
    if (traces.monitoring) std::clog << "New power status - " << status << std::endl;
    sendPowerStatus();
    sendSnmpPowerStatus();
}

void MonitoringCtl::doDipCheck() {
    uint8_t byte;
    if (!ReadHalByte(board::hal::kGetDip, byte)) return;
    if (!data_.setDipValue(byte)) return;
    if (traces.monitoring) std::clog << "New dip - " << unsigned(byte) << std::endl;
    sendSnmpGatewayDip();
}

void MonitoringCtl::doNetIfCheck() {
    for (NetIfDataHolder& netIf : data_.netIfs)
        if (netIf.updateNetIf()) sendSnmpNetIfStatus(netIf);
}

void MonitoringCtl::doVersionsCheck() {
    for (const VersionFile& file : kVersionFiles) {
        std::optional<std::string> text = read_first_line(file.path);
        if (!text) continue;
        if (traces.monitoring) std::clog << file.label << *text << std::endl;
        if ((data_.*file.store)(*text)) (this->*file.publish)();
    }
}

void MonitoringCtl::doTemperatureCheck() {
    std::optional<std::string> line = read_first_line(kTemperatureFile);
    if (!line) return;
    if (traces.monitoring) std::clog << "Temperature - " << *line << std::endl;
    if (data_.setTemperature(line->substr(0, line->find_first_of(" \t\n\r\f\v"))))
        sendSnmpTemperature();
}

void MonitoringCtl::doFramerCheck() {
    for (FramerDataHolder& framer : data_.framers) {
        Fd fd(::open(board::path(framer.path).c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) {
            trace_file_failure("Error open file: ", framer.path, errno);
            continue;
        }
        std::vector<unsigned char> data(kFramerReadMax);
        ssize_t n = ::read(fd.get(), data.data(), data.size());
        int error = errno;
        fd.close();
        if (n <= 0) {
            trace_file_failure("Error read file: ", framer.path, n < 0 ? error : 0);
            continue;
        }
        data.resize(static_cast<size_t>(n));
        if (framer.setFramerStatus(data)) sendSnmpFramerStatus(framer);
    }
}

bool MonitoringCtl::ConfigVersion::operator<(const ConfigVersion& other) const {
    return std::tie(first, second) < std::tie(other.first, other.second);
}

std::optional<MonitoringCtl::ConfigVersion> MonitoringCtl::ParseConfigName(const std::string& name) {
    const size_t prefix = std::strlen(kConfigPrefix);
    if (name.compare(0, prefix, kConfigPrefix) != 0) return std::nullopt;
    if (name.compare(0, std::strlen(kConfigArchive), kConfigArchive) == 0) return std::nullopt;
    std::string version = name.substr(prefix, 25);
    ConfigVersion v;
    v.first = read_hex<uint32_t>(version.substr(0, 8));
    if (version.size() > 9) v.second = read_hex<uint64_t>(version.substr(9, 16));
    return v;
}

// The working directory stays in the configuration folder from here on.
// Of several configuration files the highest version is the one held.
void MonitoringCtl::doConfigCheck() {
    std::string folder = board::path(kConfigDir);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    if (::chdir(folder.c_str()) != 0) {
        ::closedir(dir);
        return;
    }
    std::optional<ConfigVersion> highest;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st;
        if (::lstat(entry->d_name, &st) != 0 || S_ISDIR(st.st_mode)) continue;
        std::optional<ConfigVersion> version = ParseConfigName(entry->d_name);
        if (version && (!highest || *highest < *version)) highest = version;
    }
    ::closedir(dir);
    if (highest && data_.setConfigVersion(highest->first, highest->second))
        sendSnmpGatewayConfigVersion();
}

void MonitoringCtl::doControllerCheck() {
    bool connected = false;
    if (!CheckServerConnection(connected)) connected = false;
    HSP::ControllerStatus::NamedNumber status = data_.ownStatus.getValue();
    if (!connected) {
        data_.controllerPid = find_proc_by_name("controller", data_.controllerPid);
        status = data_.controllerPid >= 1 ? HSP::ControllerStatus::notconnection
                                          : HSP::ControllerStatus::notrun;
    }
    LGCP::ControllerInfo info;
    info.get_host().set_iaddr(MonitoringDataHolder::Dotted(data_.ownAddress));
    info.get_host().set_port(0);
    info.set_status(status);
    if (data_.setControllerStatus(info)) sendSnmpControllerStatus();
}
