#include "radio/radio_control.h"

#include <fcntl.h>
#include <poll.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "board/devio.h"
#include "hardware/device_names.h"
#include "runtime/ext_output.h"
#include "runtime/mux_time.h"

namespace RTPSignalling {

namespace drv = board::rtp_ext;

const char* GetRtpExtDevName() {
    return ::GetRtpExtDevName();
}

RadioControl::RadioControl(int id, const rtp_ext_attach_session_params& attach,
                           const rtp_ext_init_params& init)
    : extAttach_(attach), init_(init), id_(static_cast<unsigned long>(id)) {
    Init(RadioControlOwnAttached);
}

RadioControl::RadioControl(int id, Fd rtp, const rtp_attach_session_params& attach)
    : rtp_(std::move(rtp)), rtpAttach_(attach), id_(static_cast<unsigned long>(id)) {
    Init(RadioControlOnRtpSession);
}

RadioControl::RadioControl(const rtp_ext_init_params& init) : init_(init) {
    Init(RadioControlOwnDetached);
}

RadioControl::~RadioControl() {
    timer_.reset();
    event_.Release();
}

void RadioControl::Init(RadioControlType type) {
    type_ = type;
    lastActivity_ = Now();
    interval_ = kDefaultInterval;
    notify_ = nullptr;
    timerEnabled_ = false;
    event_.Bind("RadioControl::OnRtpExtEvent", &RadioControl::OnRtpExtEvent, this);
    RtpExtStart(true);
}

uint32_t RadioControl::Now() {
    return Mux::milliseconds();
}

uint32_t RadioControl::Age(unsigned long now, unsigned long then) {
    const uint32_t age = static_cast<uint32_t>(now) - static_cast<uint32_t>(then);
    return static_cast<int32_t>(age) < 0 ? 0 : age;
}

bool RadioControl::Fail(const char* message) {
    std::cerr << GetPrefix() << message << std::endl;
    return false;
}

// A read never waits: a burst ends when the driver has nothing more. A
// session the loop cannot watch (no descriptor left) would never be read:
// it is closed as one that did not open.
bool RadioControl::OpenAndInit() {
    event_.Release();
    ext_.reset(board::open(GetRtpExtDevName(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
    if (!ext_) {
        shortOfDescriptors_ = NoDescriptorFree(errno);
        return Fail("create rtp_ext session fail !!!");
    }
    rtp_ext_init_params init = init_;
    if (board::ioctl(ext_.get(), drv::kInit, &init) != 0) {
        Fail("init rtp_ext session fail !!!");
        ext_.reset();
        return false;
    }
    if (event_.Schedule(ext_, POLLIN)) return true;
    const int error = errno;
    shortOfDescriptors_ = NoDescriptorFree(error);
    Fail(("rtp_ext session watch fail: " + std::string(std::strerror(error))).c_str());
    ext_.reset();
    return false;
}

// A type 2 session opens once: a later start opens it only while it is owed.
int RadioControl::RtpExtStart(bool initial) {
    if (type_ == RadioControlOwnDetached && !initial && !owed_.owes(Debt::session)) return 1;
    return owed_.settle(Debt::session) ? 1 : 0;
}

bool RadioControl::Start() {
    shortOfDescriptors_ = false;
    switch (type_) {
        case RadioControlOwnAttached: {
            if (!OpenAndInit()) return false;
            rtp_ext_attach_session_params attach = extAttach_;
            if (board::ioctl(ext_.get(), drv::kAttach, &attach) != 0) {
                Fail("attach rtp_ext session fail !!!");
                event_.Release();
                ext_.reset();
                return false;
            }
            break;
        }
        case RadioControlOnRtpSession: {
            rtp_attach_session_params attach = rtpAttach_;
            if (board::ioctl(rtp_.get(), board::rtp::kAttach, &attach) != 0)
                return Fail("attach rtp session fail !!!");
            return true;
        }
        case RadioControlOwnDetached:
            if (!OpenAndInit()) return false;
            break;
    }
    SessionOpened();
    return true;
}

// A new session has none of the old one's settings: it gets the filter in
// force, its status reports, and the status timer where it does not run.
void RadioControl::SessionOpened() {
    sessionEnded_ = false;
    filterHas_.reset();
    owed_.settle(Debt::filter);
    if (timerEnabled_ && !timer_) SetTimerEnable(true);
    OnSessionOpened();
}

// The filter stays in force for the session that follows.
int RadioControl::RtpExtStop() {
    if (type_ != RadioControlOwnAttached || !ext_) return 1;
    rtp_ext_attach_session_params attach = extAttach_;
    if (board::ioctl(ext_.get(), drv::kDetach, &attach) != 0)
        Fail("detach rtp_ext session fail !!!");
    event_.Release();
    ext_.reset();
    return 1;
}

void RadioControl::LetGoOfSession() {
    SetTimerEnable(false);
    owed_.clear();
    RtpExtStop();
    event_.Release();
    ext_.reset();
    rtp_.reset();
}

void RadioControl::SetRtpSession(const Fd& rtp) {
    if (type_ == RadioControlOwnAttached)
        extAttach_.fd_rtp = rtp.get();
    else if (type_ == RadioControlOnRtpSession)
        rtp_ = rtp;
}

void RadioControl::SetTimerEnable(bool on) {
    timerEnabled_ = on;
    if (on)
        timer_.set(static_cast<unsigned>(interval_), &RadioControl::OnProcessStatus, this);
    else
        timer_.reset();
}

void RadioControl::OnProcessStatus(Timer*) {
    const uint32_t now = Now();
    lastActivity_ = now;
    const unsigned long delay = sessionEnded_ ? interval_ : ProcessRadioStatus(now, interval_);
    if (timerEnabled_)
        timer_.set(static_cast<unsigned>(delay), &RadioControl::OnProcessStatus, this);
}

// Address 0 names no source: until a real one is known every source passes,
// or a keyed radio would hear nobody.
bool RadioControl::UpdateAccess(bool on, const in_addr& addr) {
    filterWanted_.reset();
    if (on && addr.s_addr != 0) filterWanted_ = addr.s_addr;
    owed_.settle(Debt::filter);
    return !filterHas_ || filterHas_ == filterWanted_;
}

// The driver's filter stays in force until it takes its removal; a session
// that is gone took its filter with it, and a new one asks for the filter
// wanted then. A filter for another position that the driver refuses must
// not leave the old position's: it goes, as at an un-key.
bool RadioControl::SettleFilter() {
    if (!ext_) filterHas_.reset();
    if (!ext_ || filterHas_ == filterWanted_) return true;
    if (filterWanted_ && SetFilter(*filterWanted_))
        filterHas_ = filterWanted_;
    else if (filterHas_ && RemoveFilter())
        filterHas_.reset();
    return filterHas_ == filterWanted_;
}

bool RadioControl::RemoveFilter() {
    board::rtp_ext::rtp_ext_source_filter cleared{};
    if (board::ioctl(ext_.get(), drv::kRemoveFilter, &cleared) == 0) return true;
    if (removeFailed_.admit())
        std::cerr << GetPrefix() << "reset filer rtp_ext session fail !!!" << removeFailed_
                  << std::endl;
    return false;
}

bool RadioControl::SetFilter(uint32_t addr) {
    board::rtp_ext::rtp_ext_source_filter filter{addr, 0};
    if (board::ioctl(ext_.get(), drv::kSetFilter, &filter) == 0) return true;
    if (setFailed_.admit())
        std::cerr << GetPrefix() << "set filer rtp_ext session fail !!!" << setFailed_ << std::endl;
    return false;
}

const std::string& RadioControl::GetPrefix() {
    Mux::timeval tv;
    Mux::gettimeval(tv);
    const std::string time = Mux::timevaltostring(tv);
    char text[255];
    if (type_ == RadioControlOwnDetached)
        std::snprintf(text, sizeof text, "rtp_ext %s:", time.c_str());
    else
        std::snprintf(text, sizeof text, "rtp_ext[%lu] %s:", id_, time.c_str());
    prefix_ = text;
    return prefix_;
}

ssize_t RadioControl::ReceiveOne(drv::rtp_ext_receive_info& info, unsigned char* bytes,
                                 size_t size) {
    // A failed request must not leave the previous packet's source here.
    info = {};
    board::ioctl(ext_.get(), drv::kReceiveInfo, &info);
    const ssize_t n = board::read(ext_.get(), bytes, size);
    if (n > 0) Trace("recv", bytes, static_cast<int>(n));
    return n;
}

// The loss is told once: the status reports (and ED-137's keep-alive
// watch), which can only fail now, wait for the next session; the ticks go
// on for what the slot's stream, which stays, still owes.
void RadioControl::SessionEnded(const char* why) {
    EndWatch(event_, GetPrefix() + "rtp_ext session read fail: ", why);
    ext_.reset();
    sessionEnded_ = true;
    if (notify_) notify_->RadioControlNotify(kSessionEnded);
}

bool RadioControl::WriteExtension(const unsigned char* bytes, int length) {
    if (length <= 0 || static_cast<size_t>(length) > drv::kMaxExtension) return false;
    Trace("send", bytes, length);
    if (board::write(ext_.get(), bytes, static_cast<size_t>(length)) != length) return false;
    lastActivity_ = Now();
    return true;
}

void RadioControl::Trace(const char* what, const unsigned char* bytes, int length) {
    if (!trace_) return;
    std::clog << GetPrefix() << what << ' ' << ext::OutBufInHex(bytes, static_cast<size_t>(length))
              << std::endl;
}

}  // namespace RTPSignalling
