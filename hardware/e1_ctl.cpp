#include "hardware/e1_ctl.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <iterator>
#include <sstream>

#include "board/devio.h"
#include "board/drivers/maintenance.h"
#include "hardware/device_names.h"
#include "runtime/descriptor_end.h"
#include "runtime/ext_output.h"

namespace cas = board::e1_cas;
namespace maintenance = board::maintenance;

static_assert(E1Ctl::kTrunks == cas::kTrunks && E1Ctl::kTrunks == maintenance::kTrunks);

namespace {

// The driver's state word, numbered as ACP::TrunkState; any other word is
// a state the controller cannot be told.
ACP::TrunkState::NamedNumber TrunkState(int32_t word) {
    if (word < ACP::TrunkState::normal || word > ACP::TrunkState::disabled)
        return ACP::TrunkState::unknown;
    return static_cast<ACP::TrunkState::NamedNumber>(word);
}

// The trunk is the one asked for: the driver may fill in word 0 as well.
LGCP::Signal TrunkStatusSignal(unsigned trunk, const maintenance::trunk_status& record) {
    LGCP::Signal signal;
    ACP::TrunkStatus& status = signal.select_trunkStatus();
    status.set_trunk(static_cast<int>(trunk));
    status.set_state(TrunkState(record.state));
    status.set_slips(record.slips);
    status.set_lossBF(record.lossBF);
    status.set_lossCarrier(record.lossCarrier);
    status.set_lossAIS(record.lossAIS);
    status.set_lossRAI(record.lossRAI);
    status.set_clockMaster(false);
    status.set_type(ACP::TrunkType::e1);
    return signal;
}

// The `cas` signal of a channel: its bits, or a request's result in rx.
LGCP::Signal CasSignal(int trunk, int timeslot, int rx, int tx) {
    LGCP::Signal signal;
    LGCP::CasSignalling& signalling = signal.select_cas();
    signalling.get_channel().set_path(trunk);
    signalling.get_channel().set_timeslot(timeslot);
    signalling.set_rx(rx);
    signalling.set_tx(tx);
    return signal;
}

E1Ctl::cas_channel ChannelOf(const LGCP::CasChannel& channel) {
    E1Ctl::cas_channel record{};
    record.trunk = static_cast<uint32_t>(channel.get_path().getValue());
    record.timeslot = static_cast<uint32_t>(channel.get_timeslot().getValue());
    return record;
}

}  // namespace

E1Ctl& E1Ctl::instance() {
    static E1Ctl e1;
    return e1;
}

void E1Ctl::reset_for_test() {
    statusTimer_.reset();
    casEvent_.Release();
    cas_.reset();
    if (maintenance_ >= 0) ::close(maintenance_);
    maintenance_ = -1;
    std::fill(std::begin(casOpen_), std::end(casOpen_), 0);
    tclk_ = 0;
    tclkOwed_.clear();
    std::fill(std::begin(statusReadFail_), std::end(statusReadFail_), LogThrottle());
}

void E1Ctl::PutHeader(std::ostream& os) const { os << "E1: "; }

void E1Ctl::OnConnect() {
    SendStatus();
    statusTimer_.set(kStatusPeriodMs, &E1Ctl::OnCheckStatus, this);
    // Every trunk a master: owed to the driver until it takes the mask.
    tclk_ = 0;
    tclkOwed_.settle();
    CheckOpenCas();
}

void E1Ctl::OnCheckStatus() {
    SendStatus();
    CheckOpenCas();
    statusTimer_.set(kStatusPeriodMs, &E1Ctl::OnCheckStatus, this);
}

bool E1Ctl::OnCommand(const LGCP::Command& command) {
    if (const LGCP::IoctlParams* params = command.get_ioctl()) {
        HandleCas(*params);
        Success();
        return true;
    }
    const LGCP::TrunkCfg* cfg = command.get_trunkCfg();
    if (cfg == nullptr) return false;
    if (cfg->get_trunk().getValue() > kMaxTclkTrunk)
        Error(LGCP::ErrorCause::invalidParams);
    else if (SetMode(*cfg))
        Success();
    else
        Error(LGCP::ErrorCause::internal);
    return true;
}

void E1Ctl::Report(const LGCP::Signal& signal) {
    bool connected = false;
    if (CheckServerConnection(connected) && connected)
        SendSignal(signal);
    else
        OfferSignal(signal);
}

// ---- Trunk status and clocking

bool E1Ctl::IsOpen() {
    if (maintenance_ >= 0) return true;
    maintenance_ = board::open(GetMaintenance(), O_RDWR | O_NONBLOCK);
    if (maintenance_ < 0) return false;
    SetCloexec(maintenance_);
    return true;
}

void E1Ctl::SendStatus() {
    if (!IsOpen()) return;
    for (unsigned trunk = 0; trunk < kTrunks; ++trunk) {
        maintenance::trunk_status record{};
        record.trunk = static_cast<int32_t>(trunk);
        if (board::ioctl(maintenance_, maintenance::kTrunkStatus, &record) < 0) {
            LogThrottle& throttle = statusReadFail_[trunk];
            if (throttle.admit())
                std::cerr << ext::header(this)
                          << "synchronization status read fail, trunk = " << trunk
                          << " cause = " << std::strerror(errno) << throttle << std::endl;
            continue;
        }
        Report(TrunkStatusSignal(trunk, record));
    }
}

bool E1Ctl::SetMode(const LGCP::TrunkCfg& cfg) {
    int trunk = cfg.get_trunk().getValue();
    if (trunk < 0) return true;
    if (trunk > kMaxTclkTrunk) return false;
    const uint32_t before = tclk_;
    switch (cfg.get_mode().getValue()) {
        case LGCP::TrunkMode::slave: tclk_ |= 1u << trunk; break;
        case LGCP::TrunkMode::master: tclk_ &= ~(1u << trunk); break;
        default: return true;
    }
    // A mask the driver refused is not the trunks' mode: the next trunk's
    // command must not write it.
    if (UpdateTclk()) {
        tclkOwed_.forgive();
        return true;
    }
    tclk_ = before;
    return false;
}

bool E1Ctl::UpdateTclk() {
    if (!IsOpen()) return false;
    if (board::ioctl_value(maintenance_, maintenance::kSetTclk, tclk_) < 0) {
        std::cerr << ext::header(this) << "fail to set TCLK [cause=" << std::strerror(errno) << "]"
                  << std::endl;
        return false;
    }
    std::clog << ext::header(this) << "TCLT = 0x" << std::hex << tclk_ << std::dec << std::endl;
    return true;
}

void E1Ctl::select_source(int source) {
    if (maintenance_ < 0) return;
    if (board::ioctl_value(maintenance_, maintenance::kSelectClockSource,
                           static_cast<unsigned long>(source)) < 0)
        std::cerr << ext::header(this) << "fail to set clock source" << std::endl;
}

// ---- CAS

bool E1Ctl::CheckOpenCas() {
    if (cas_) return true;
    int fd = board::open(cas::kDevice, O_RDWR | O_NONBLOCK);
    if (fd < 0) return false;
    SetCloexec(fd);
    cas_.reset(fd);
    std::clog << ext::header(this) << "cas interface opened!" << std::endl;
    casEvent_.Bind("E1/Cas", &E1Ctl::OnUpdateCas, this);
    if (casEvent_.Schedule(cas_, POLLIN)) return true;
    // Never to be read: closed as a device that did not open, for the next
    // status poll to open again.
    const int error = errno;
    std::cerr << ext::header(this) << "cas watch fail: " << std::strerror(error) << std::endl;
    cas_.reset();
    return false;
}

// One record per event; one of another size is dropped.
void E1Ctl::OnUpdateCas(int fd, short revents) {
    cas_channel record{};
    const char* ended = ReadEvent(
        revents, [&] { return board::read(fd, &record, sizeof record); },
        [&](ssize_t n) {
            if (n != static_cast<ssize_t>(sizeof record)) return;
            Report(CasSignal(static_cast<int>(record.trunk), static_cast<int>(record.timeslot),
                             record.rx, record.tx));
        },
        1);
    if (ended) CasEnded(ended);
}

// Closed as a device that did not open: the next status poll opens it again.
void E1Ctl::CasEnded(const char* why) {
    std::ostringstream what;
    PutHeader(what);
    what << "cas read fail: ";
    EndWatch(casEvent_, what.str(), why);
    cas_.reset();
}

void E1Ctl::HandleCas(const LGCP::IoctlParams& params) {
    const LGCP::CasCommand* command = params.get_cas();
    if (!CheckOpenCas() || command == nullptr) return;
    const cas_channel channel = ChannelOf(command->get_channel());
    const LGCP::CasCommandSignal& cmd = command->get_cmd();
    if (const ASN1::INTEGER* value = cmd.get_open())
        HandleCasOpen(channel, value->getValue());
    else if (cmd.is_close())
        HandleCasClose(channel);
    else if (const ASN1::INTEGER* bits = cmd.get_set())
        HandleCasSet(channel, bits->getValue());
    else if (cmd.is_get())
        HandleCasGet(channel);
}

void E1Ctl::HandleCasOpen(const cas_channel& channel, int value) {
    const uint32_t trunk = channel.trunk;
    if (trunk >= kTrunks) return;
    if (casOpen_[trunk]) {
        SendCASTrunkStatus(trunk, 0);
    } else {
        int result = board::ioctl_value(cas_.get(), cas::kOpenTrunk, trunk);
        SendCASTrunkStatus(trunk, result);
        if (result < 0) {
            std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk
                      << ") - fail(" << result << ")" << std::endl;
            return;
        }
        std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - ok"
                  << std::endl;
        casOpen_[trunk] = 1;
    }
    if (!cas::carries_cas(channel.timeslot)) return;
    int result = EnableChannel(channel, value & 15, false);
    if (result < 0)
        SendCASSignal(trunk, channel.timeslot, result, 0);
    else
        SendBits(channel);
}

void E1Ctl::HandleCasClose(const cas_channel& channel) {
    const uint32_t trunk = channel.trunk;
    if (trunk >= kTrunks) return;
    if (!casOpen_[trunk] && channel.timeslot != cas::kFramingTimeslot) return;
    if (channel.timeslot == cas::kFramingTimeslot) {
        int result = board::ioctl_value(cas_.get(), cas::kCloseTrunk, trunk);
        if (result == 0) result = 1;
        SendCASTrunkStatus(trunk, result);
        if (result < 0) return;
        casOpen_[trunk] = 0;
    }
    if (!cas::carries_cas(channel.timeslot)) return;
    int result = EnableChannel(channel, 0, true);
    if (result < 0)
        SendCASSignal(trunk, channel.timeslot, result, 0);
    else
        SendCASSignal(trunk, channel.timeslot, -1, 1);
}

void E1Ctl::HandleCasSet(const cas_channel& channel, int value) {
    if (channel.trunk >= kTrunks || !casOpen_[channel.trunk]) return;
    cas_channel record = channel;
    record.rx = 0;
    record.tx = static_cast<uint8_t>(value & 15);
    int result = board::ioctl(cas_.get(), cas::kSetBits, &record);
    if (result < 0)
        SendCASSignal(channel.trunk, channel.timeslot, result, 0);
    else
        SendBits(channel);
}

void E1Ctl::HandleCasGet(const cas_channel& channel) {
    if (channel.trunk >= kTrunks || !casOpen_[channel.trunk]) return;
    SendBits(channel);
}

int E1Ctl::EnableChannel(const cas_channel& channel, int tx, bool close) {
    board::e1_cas::cas_channel_enable record{};
    record.channel.trunk = channel.trunk;
    record.channel.timeslot = channel.timeslot;
    record.channel.tx = static_cast<uint8_t>(tx);
    record.close = close ? 1 : 0;
    return board::ioctl(cas_.get(), cas::kEnableChannel, &record);
}

void E1Ctl::SendBits(const cas_channel& channel) {
    cas_channel record{};
    record.trunk = channel.trunk;
    record.timeslot = channel.timeslot;
    int result = board::ioctl(cas_.get(), cas::kGetBits, &record);
    if (result < 0)
        SendCASSignal(channel.trunk, channel.timeslot, result, 0);
    else
        SendCASSignal(channel.trunk, channel.timeslot, record.rx, record.tx);
}

void E1Ctl::SendCASSignal(int trunk, int timeslot, int rx, int tx) {
    SendSignal(CasSignal(trunk, timeslot, rx, tx));
}
