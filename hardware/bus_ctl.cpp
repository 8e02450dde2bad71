#include "hardware/bus_ctl.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <optional>

#include "board/devio.h"
#include "board/drivers/hal.h"
#include "hardware/spi_ctrl.h"
#include "runtime/ext_output.h"
#include "runtime/fd.h"

namespace {

// The source a configuration selects, if any.
std::optional<int> SourceOf(const LGCP::ClockCfg& cfg) {
    if (cfg.get_clkSel0().getValue() == LGCP::ClkSel0::internal) return BusCtl::kFreeRun;
    if (cfg.get_bextEn().getValue() == LGCP::BExtEn::disabled) return BusCtl::kExternal;
    int source = cfg.get_source().getValue();
    if (source < 0) return std::nullopt;
    return source;
}

// The name of a source for the log; a source beyond the table by number.
void PutSourceName(std::ostream& os, int source) {
    static const char* const names[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};
    if (source >= 0 && source < static_cast<int>(sizeof names / sizeof names[0]))
        os << names[source];
    else
        os << source;
}

}  // namespace

BusCtl& BusCtl::instance() {
    static BusCtl bus;
    return bus;
}

BusCtl::~BusCtl() {
    if (fd_ >= 0) ::close(fd_);
}

void BusCtl::reset_for_test() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    control_ = true;
    freeRun_.clear();
}

void BusCtl::PutHeader(std::ostream& os) const { os << "clkctl: "; }

void BusCtl::DisableControl() {
    std::clog << "clock control disabled." << std::endl;
    control_ = false;
}

void BusCtl::OnConnect() { ToFreeRun(); }

// The departed controller's source, one of its trunks, must not go on
// clocking the board until the next controller connects.
void BusCtl::OnDisconnect() { ToFreeRun(); }

void BusCtl::ToFreeRun() {
    if (control_) freeRun_.settle();
}

bool BusCtl::OnCommand(const LGCP::Command& command) {
    const LGCP::ClockCfg* cfg = command.get_clockCfg();
    if (cfg == nullptr) return false;
    if (!control_) {
        Error(LGCP::ErrorCause::unsupported);
    } else if (SetClockSrc(*cfg)) {
        // A source the driver took replaces an owed free-run; a
        // configuration that selects none leaves it owed.
        if (SourceOf(*cfg)) freeRun_.forgive();
        Success();
    } else {
        Error(LGCP::ErrorCause::internal);
    }
    return true;
}

bool BusCtl::SetDefaultClock() {
    LGCP::ClockCfg cfg;
    cfg.set_clkSel0(LGCP::ClkSel0::internal);
    cfg.set_bextEn(LGCP::BExtEn::disabled);
    cfg.set_source(-1);
    return SetClockSrc(cfg);
}

bool BusCtl::IsOpen() {
    if (fd_ >= 0) return true;
    if (!control_) return false;
    fd_ = board::open(board::hal::kDevice, O_RDWR);
    if (fd_ < 0) return false;
    SetCloexec(fd_);
    return true;
}

bool BusCtl::SetClockSrc(const LGCP::ClockCfg& cfg) {
    if (!IsOpen()) {
        spiCtrl::instance().clock(-1);
        std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
        return false;
    }
    std::cerr << ext::header(this) << "set clock source cmd: " << cfg << std::endl;
    std::optional<int> source = SourceOf(cfg);
    return !source || DrvSetClkSrc(*source);
}

bool BusCtl::DrvSetClkSrc(int source) {
    if (!IsOpen()) {
        std::cerr << ext::header(this) << "device open error" << std::endl;
        return false;
    }
    int32_t record = source;
    if (board::ioctl(fd_, board::hal::kClockSelect, &record) < 0) {
        std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
        return false;
    }
    std::cerr << ext::header(this) << "clock source = ";
    PutSourceName(std::cerr, source);
    std::cerr << std::endl;
    return true;
}
