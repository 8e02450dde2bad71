#include "hardware/spi_ctrl.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <iterator>

#include "board/devio.h"
#include "board/drivers/hal.h"
#include "runtime/fd.h"

namespace hal = board::hal;

static_assert(spiCtrl::kLines == static_cast<int>(hal::kSpiLines));

namespace {

bool is_line(int line) { return static_cast<unsigned>(line) < hal::kSpiLines; }

ACP::TrunkState::NamedNumber LineState(unsigned value) {
    if (!(value & spiCtrl::kCarrier)) return ACP::TrunkState::lossCarrier;
    if (!(value & spiCtrl::kFrameSync)) return ACP::TrunkState::lossBF;
    switch (value & spiCtrl::kFarEnd) {
        case spiCtrl::kFarEndRemoteAlarm: return ACP::TrunkState::rai;
        case spiCtrl::kFarEndNormal: return ACP::TrunkState::normal;
        default: return ACP::TrunkState::ais;
    }
}

}  // namespace

spiCtrl& spiCtrl::instance() {
    static spiCtrl spi;
    return spi;
}

spiCtrl::spiCtrl() { init_device_and_channels(); }

spiCtrl::~spiCtrl() {
    if (fd_ < 0) return;
    statusTimer_.reset();
    for (int line = 0; line < kLines; ++line) disable_channel(line);
    clock(-1);
    ::close(fd_);
}

void spiCtrl::reset_for_test() {
    statusTimer_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    spiPresent_ = true;
    std::fill(std::begin(slip_), std::end(slip_), false);
    std::fill(std::begin(readError_), std::end(readError_), LogThrottle());
}

void spiCtrl::OnConnect() {
    if (IsOpened() && spiPresent_) statusTimer_.set(kStatusPeriodMs, &spiCtrl::status, this);
}

void spiCtrl::init_device_and_channels() {
    if (!spiPresent_ || fd_ >= 0) return;
    std::clog << "spi: try init" << std::endl;
    fd_ = board::open(hal::kDevice, O_RDWR);
    if (fd_ < 0) {
        std::clog << "spi: /dev/hal open fail" << std::endl;
        return;
    }
    // Not to be inherited by pppd and the fax programs.
    SetCloexec(fd_);
    for (int line = 0; line < kLines; ++line) {
        init_channel(line);
        enable_channel(line);
    }
}

bool spiCtrl::LineReady(int line, const char* use) {
    if (!spiPresent_) return false;
    if (!is_line(line)) {
        std::clog << "spi: bad channel for " << use << " " << line << std::endl;
        return false;
    }
    init_device_and_channels();
    return true;
}

void spiCtrl::init_channel(int line) {
    if (!LineReady(line, "init")) return;
    // {register, value}: the line off and no clock master, then the
    // transceiver's own set-up.
    const unsigned preparation[][2] = {{kEnable, kLineDisabled},
                                       {48, 8},
                                       {kClockMaster, kNotMaster},
                                       {52, 96},
                                       {53, 0},
                                       {54, 0},
                                       {55, 0}};
    for (const auto& [reg, value] : preparation) write(line, reg, value);
    std::clog << "spi: init channel " << line << std::endl;
}

void spiCtrl::enable_channel(int line) { SwitchLine(line, true); }

void spiCtrl::disable_channel(int line) { SwitchLine(line, false); }

void spiCtrl::SwitchLine(int line, bool on) {
    const char* use = on ? "enable" : "disable";
    if (!LineReady(line, use)) return;
    write(line, kEnable, on ? kLineEnabled : kLineDisabled);
    std::clog << "spi: " << use << " channel " << line << std::endl;
}

void spiCtrl::clock(int channel) {
    if (!spiPresent_) return;
    if (channel != -1 && !is_line(channel)) {
        std::clog << "spi: bad channel for set clock master " << channel << std::endl;
        return;
    }
    init_device_and_channels();
    for (int line = 0; line < kLines; ++line) write(line, kClockMaster, kNotMaster);
    if (channel == -1) {
        std::clog << "spi: clock master disabled" << std::endl;
        return;
    }
    write(channel, kClockMaster, kMaster);
    std::clog << "spi: set clock master on channel " << channel << std::endl;
}

bool spiCtrl::NoSpi() {
    if (errno != ENODEV) return false;
    spiPresent_ = false;
    statusTimer_.reset();
    std::clog << "spi: hal without spi" << std::endl;
    return true;
}

void spiCtrl::write(unsigned channel, unsigned reg, unsigned data) {
    if (!spiPresent_ || !IsOpened()) return;
    hal::spi_register record{static_cast<uint8_t>(channel), static_cast<uint8_t>(reg),
                             static_cast<uint8_t>(data)};
    if (board::ioctl(fd_, hal::kSpiWrite, &record) >= 0 || NoSpi()) return;
    std::clog << "spi: write error: channel=" << channel << " addr=" << reg << " data=" << data
              << std::endl;
}

unsigned spiCtrl::read(unsigned channel, unsigned reg) {
    if (!spiPresent_ || !IsOpened()) return 0;
    hal::spi_register record{static_cast<uint8_t>(channel), static_cast<uint8_t>(reg), 0xFF};
    int value = board::ioctl(fd_, hal::kSpiRead, &record);
    if (value != -1) return static_cast<unsigned>(value) & 0xFF;
    LogThrottle& throttle = readError_[std::min(channel, static_cast<unsigned>(kLines))];
    if (!NoSpi() && throttle.admit())
        std::clog << "spi: read error: channel=" << channel << " addr=" << reg << throttle
                  << std::endl;
    return 0;
}

void spiCtrl::status() {
    for (int line = 0; line < kLines; ++line) {
        unsigned value = read(line, kStatus);
        if (!spiPresent_) return;  // and the poll stops for good
        SendLineStatus(line, value);
    }
    statusTimer_.set(kStatusPeriodMs, &spiCtrl::status, this);
}

void spiCtrl::SendLineStatus(int line, unsigned value) {
    const bool slip = value & kSlip;
    LGCP::Signal signal;
    ACP::TrunkStatus& state = signal.select_trunkStatus();
    state.set_trunk(line);
    state.set_state(LineState(value));
    // A slip counts once, when the line first shows it.
    state.set_slips(slip && !slip_[line] ? 1 : 0);
    slip_[line] = slip;
    state.set_lossBF(0);
    state.set_lossCarrier(0);
    state.set_lossAIS(0);
    state.set_lossRAI(0);
    state.set_clockMaster(false);
    state.set_type(ACP::TrunkType::bri);
    SendSignal(signal);
}
