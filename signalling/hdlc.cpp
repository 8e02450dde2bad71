#include "signalling/hdlc.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>

#include <cstring>
#include <iostream>

#include "board/devio.h"
#include "board/drivers/mcc.h"
#include "hardware/hw_mux.h"
#include "link/packet.h"
#include "runtime/descriptor_end.h"
#include "runtime/ext_output.h"
#include "runtime/trace_ctl.h"

namespace mcc = board::mcc;

namespace {

class NoNotify : public HDLC::Notify {
public:
    void on_hdlc_receive(Packet&) override {}
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}
};

uint32_t channel_type(int mode) {
    switch (mode) {
        case HDLC::ss7: return mcc::kSs7;
        case HDLC::bri: return mcc::kBri;
        default: return mcc::kData;
    }
}

}  // namespace

// A driver that keeps answering EINTR must not hold the loop: after a few
// tries the frame is refused as by a failed write.
FrameWrite write_frame(int fd, const Packet& frame) {
    for (unsigned tries = 1;; ++tries) {
        if (board::write(fd, frame.data(), frame.length()) >= 0) return FrameWrite::written;
        if (errno == EINTR && tries < kFrameWriteTries) continue;
        return errno == EAGAIN ? FrameWrite::busy : FrameWrite::failed;
    }
}

const char* read_frame(int fd, short revents, Packet& frame) {
    frame = Packet();
    if (Packet_pool::free_count() == 0) {
        // Read all the same, or the device stays readable; the frame is lost.
        unsigned char scratch[HDLC::rx_packet_size];
        return DeviceReadEnd(board::read(fd, scratch, sizeof scratch), revents);
    }
    frame.reserve_head(0);
    const ssize_t n = board::read(fd, frame->tail, frame._tailroom());
    if (n > 0) frame.extend(static_cast<unsigned>(n));
    return DeviceReadEnd(n, revents);
}

HDLC::HDLC() { unbind(); }

// The descriptor closes after the body; the switch forgets the channel as
// an owner.
HDLC::~HDLC() { BreakPaths(); }

void HDLC::unbind() {
    static NoNotify nobody;
    notify = &nobody;
}

void HDLC::PutHeader(std::ostream& os) const {
    os << "hdlc [" << link << "/" << timeslot << "]: ";
}

void HDLC::PutOwner(std::ostream& os) const {
    os << "hdlc channel " << controllerChannel_;
}

bool HDLC::refuse(const char* what, int error, Fd& device) const {
    std::cerr << ext::header(this) << what << " fail: " << std::strerror(error) << std::endl;
    device.close();
    return false;
}

bool HDLC::activate() {
    deactivate();
    txSU = txDiscard = txError = txOverflow = rxSU = rxDropped = 0;
    Fd device(board::open(mcc::kDevice, O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!device) {
        const int error = errno;
        std::cerr << ext::header(this) << "fail to open MCC device: " << std::strerror(error)
                  << std::endl;
        return false;
    }
    mcc::mcc_allocation record{channel_type(mode), rx_packet_size, 0, 1, tx_threshold};
    if (board::ioctl(device.get(), mcc::MCC_ALLOCATE, &record) < 0)
        return refuse("MCC_ALLOCATE", errno, device);
    const int channel = board::ioctl_value(device.get(), mcc::MCC_TIMESLOT, 0);
    if (channel < 0) return refuse("MCC_TIMESLOT", errno, device);
    // With no descriptor left for the loop's watch the channel could never
    // be read: it fails before anything is switched.
    m_event.Bind("HDLC::OnEvent", &HDLC::on_event, this);
    if (!m_event.Schedule(device, POLLIN | POLLOUT)) return refuse("watch", errno, device);
    device.close();

    controllerChannel_ = channel;
    notify->hdlc_holds(channel);
    ready_ = false;  // the first writable event says when
    if (traces.hdlc) std::clog << ext::header(this) << "activated" << std::endl;
    return true;
}

bool HDLC::Claims(int tx, int rx) const {
    const HwMux& mux = HwMux::instance();
    return mux.claimed(rx) == tx && mux.Owns(*this, rx);
}

bool HDLC::MakePath(int tx, int rx, bool own) {
    HwMux& mux = HwMux::instance();
    if (!(own ? mux.Connect(tx, rx, *this) : mux.Claim(tx, rx, *this))) return false;
    std::clog << "mux: " << *this << " [" << tx << "] -> [" << rx << "]" << std::endl;
    return true;
}

// A claim another owner has taken over since is made again. What the
// channel feeds goes only once the new path stands, so that a make of its
// own refused leaves both paths as they were.
bool HDLC::Follow(int from, int into, bool own) {
    if (!is_open()) return from < 0 && into < 0;
    const int channel = controllerChannel_;
    bool made = true;
    if (from < 0)
        HwMux::instance().Leave(*this, channel);
    else if (!Claims(from, channel))
        made = MakePath(from, channel, own);
    if (!made && own) return false;
    if (into >= 0 && !Claims(channel, into))
        made = notify->hdlc_admits(into) && MakePath(channel, into, own) && made;
    if (!made && own) return false;
    if (into != into_) LeaveInto();
    if (into >= 0 && Claims(channel, into)) into_ = into;
    return made;
}

int HDLC::heard() const {
    const HwMux& mux = HwMux::instance();
    return is_open() && mux.Owns(*this, controllerChannel_) ? mux.claimed(controllerChannel_) : -1;
}

void HDLC::LeaveInto() {
    if (into_ < 0) return;
    if (HwMux::instance().Leave(*this, into_) == HwMux::Released::broken)
        std::clog << "mux: disconnect " << *this << " [" << into_ << "]" << std::endl;
    into_ = -1;
}

// Closing the descriptor frees the controller channel in the driver, which
// may give it to the next channel or slot at once: what this channel
// switched goes first, where no other owner has switched since.
void HDLC::BreakPaths() {
    if (controllerChannel_ < 0) return;
    LeaveInto();
    HwMux::instance().HandBack(controllerChannel_);
    notify->hdlc_gives_back(controllerChannel_);
    controllerChannel_ = -1;
}

void HDLC::deactivate() {
    BreakPaths();
    m_event.Release();
    ready_ = false;
    if (traces.hdlc) std::clog << ext::header(this) << "deactivated" << std::endl;
}

bool HDLC::hdlc_transmit(Packet& frame) {
    if (frame.length() == 0) return true;
    if (!is_open()) {
        ++txDiscard;
        return false;
    }
    if (traces.hdlc) std::clog << "HDLC[" << link << "]: tx " << frame.text() << std::endl;
    switch (write_frame(m_event.fd(), frame)) {
    case FrameWrite::written:
        ++txSU;
        return true;
    case FrameWrite::busy:
        // Flow control: the frame stays the caller's; POLLOUT says when.
        ready_ = false;
        m_event.Schedule(POLLIN | POLLOUT);
        return false;
    case FrameWrite::failed:
        break;
    }
    ++txError;
    return false;
}

void HDLC::on_event(int, short revents) {
    if (CallsForRead(revents)) do_read(revents);
    // A callback of the read may have closed the channel.
    if ((revents & POLLOUT) && !ready_ && is_open()) {
        ready_ = true;
        m_event.Schedule(POLLIN);
        notify->on_hdlc_ready();
    }
}

void HDLC::do_read(short revents) {
    if (traces.hdlc) std::clog << ext::header(this) << "do_read" << std::endl;
    if (!is_open()) {
        std::clog << ext::header(this) << "do_read: !m_event.IsActive()" << std::endl;
        return;
    }
    Packet frame;
    if (const char* failure = read_frame(m_event.fd(), revents, frame))
        return read_failure(failure);
    if (!frame) {
        ++rxDropped;
        return;
    }
    if (frame.length() == 0) return;
    if (traces.hdlc) std::clog << "HDLC[" << link << "]: rx " << frame.text() << std::endl;
    ++rxSU;
    notify->on_hdlc_receive(frame);
}

void HDLC::read_failure(const char* reason) {
    std::cerr << ext::header(this) << "read error: " << reason << std::endl;
    deactivate();
    notify->on_hdlc_error(Notify::Cause::read_failure);
}
