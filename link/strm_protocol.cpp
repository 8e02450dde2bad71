#include "link/strm_protocol.h"

#include <errno.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "runtime/ext_output.h"
#include "runtime/mux_time.h"

int strm_protocol_debug = 0;

namespace {

// The whole packet must be written within this time, or the connection goes.
constexpr int kWriteTimeoutMs = 1000;

std::string error_text(const char* what, int error) { return what + std::string(std::strerror(error)); }

// Monotonic milliseconds of the loop clock read now, not the loop's cached
// pass time: a write waits inside one pass.
uint32_t clock_now_ms() {
    Mux::timeval tv;
    Mux::clock().getmonotonic(tv);
    return static_cast<uint32_t>(tv.tv_sec) * 1000u + static_cast<uint32_t>(tv.tv_usec) / 1000u;
}

}  // namespace

StrmProtocol::StrmProtocol() { init(); }

StrmProtocol::StrmProtocol(const Fd& fd) {
    init();
    attach(fd);
}

StrmProtocol::~StrmProtocol() {
    if (strm_protocol_debug)
        std::clog << "Enter StrmProtocol::~StrmProtocol()" << " this=" << std::hex
                  << reinterpret_cast<uintptr_t>(this) << std::dec << std::endl;
    release();
}

void StrmProtocol::init() {
    debug_ = false;
    overflowCounter_ = 0;
    event_.Bind("StrmProtocol::on_event", &StrmProtocol::on_event, this);
}

void StrmProtocol::attach(const Fd& fd) {
    release();
    if (&fd != &socket_) socket_.reset(fd.dup());
    // On a socket that has sent nothing, a non-zero answer means that this
    // kernel reports the free space rather than the queued bytes.
    outqReportsFreeSpace_ = outq_space() > 0;
}

void StrmProtocol::release() {
    if (!socket_) return;
    event_.Release();
    socket_.close();
}

void StrmProtocol::PutHeader(std::ostream& os) const { os << "SockStream[" << displayName_ << "]: "; }

int StrmProtocol::socket_option(int name) const {
    int value = 0;
    socklen_t length = sizeof value;
    ::getsockopt(socket_.get(), SOL_SOCKET, name, &value, &length);
    return value;
}

int StrmProtocol::queue_bytes(unsigned long request) const {
    int value = 0;
    ::ioctl(socket_.get(), request, &value);
    return value;
}

int StrmProtocol::sendbuf_space() const { return socket_option(SO_SNDBUF); }

int StrmProtocol::recvbuf_space() const { return socket_option(SO_RCVBUF); }

int StrmProtocol::inq_space() const { return queue_bytes(FIONREAD); }

int StrmProtocol::outq_space() const { return queue_bytes(TIOCOUTQ); }

int StrmProtocol::free_space() const {
    return outqReportsFreeSpace_ ? outq_space() : sendbuf_space() - outq_space();
}

std::ostream& StrmProtocol::report(std::ostream& os, const char* what) const {
    return os << ext::header(this) << what << ", sendbuf=" << sendbuf_space()
              << ", recvbuf=" << recvbuf_space() << ", free=" << free_space()
              << ", inq=" << inq_space() << ", outq=" << outq_space();
}

void StrmProtocol::local_prepare_head(Packet& p) { p.reserve_head(0); }

void StrmProtocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void StrmProtocol::local_activate() {
    if (!socket_) {
        on_deactivate(new Protocol_status_error(this, "fd not attached"));
        return;
    }
    // Out of descriptors the socket could not be watched: it goes.
    if (!event_.Schedule(socket_, POLLIN)) {
        on_error(error_text("cannot watch the socket: ", errno));
        return;
    }
    on_activate();
}

void StrmProtocol::local_deactivate() {
    release();
    on_deactivate(new Protocol_status_success(this, "success"));
}

void StrmProtocol::on_event(int, short revents) {
    if (revents & POLLERR)
        on_error(error_text("pollerr: ", errno));
    else if (revents & POLLHUP)
        on_error(error_text("pollhup: ", errno));
    else if (revents & POLLIN)
        do_read();
}

void StrmProtocol::on_error(const std::string& text) {
    release();
    on_deactivate(new Protocol_status_error(this, text));
}

void StrmProtocol::do_read() {
    Packet p;
    p.reserve_head(0);
    readTiming_.begin();
    ssize_t n = ::recv(socket_.get(), p->tail, p._tailroom(), MSG_DONTWAIT | MSG_NOSIGNAL);
    int error = errno;
    readTiming_.end();
    if (n < 0) {
        if (error != EAGAIN) on_error(error_text("read error: ", error));
        return;
    }
    if (n == 0) {
        on_error(error_text("read error: ", error));
        return;
    }
    if (debug_) report(std::clog, "receive success") << std::endl;
    p.extend(static_cast<unsigned>(n));
    on_message(p);
}

bool StrmProtocol::wait_writable(int timeLeftMs) {
    multiplexer.resetWD();
    pollfd entry{socket_.get(), POLLOUT, 0};
    int result = Mux::clock().poll(&entry, 1, timeLeftMs);
    bool interrupted = result < 0 && errno == EINTR;
    multiplexer.resetWD();
    return result == 1 || interrupted;
}

void StrmProtocol::message(Packet& p) {
    p.passert(static_cast<bool>(p), "null packet");
    writeTiming_.begin();
    const uint32_t start = clock_now_ms();
    const unsigned char* next = p.data();
    size_t left = p.length();
    while (left > 0) {
        // MSG_NOSIGNAL: a peer that has gone is an error here, not a signal.
        ssize_t n = ::send(socket_.get(), next, left, MSG_NOSIGNAL);
        if (n >= 0) {
            next += n;
            left -= static_cast<size_t>(n);
            continue;
        }
        int error = errno;
        if (error == EINTR) continue;
        if (error == EAGAIN) {
            int timeLeft = kWriteTimeoutMs - static_cast<int32_t>(clock_now_ms() - start);
            if (timeLeft > 0 && wait_writable(timeLeft)) continue;
            writeTiming_.end();
            report(std::cerr, "write timeout") << std::endl;
            ++overflowCounter_;
            on_error("write timeout");
            return;
        }
        writeTiming_.end();
        report(std::cerr, "write error") << ", error=" << std::strerror(error) << std::endl;
        ++overflowCounter_;
        on_error(error_text("write error: ", error));
        return;
    }
    if (debug_) report(std::clog, "write success") << std::endl;
    writeTiming_.end();
}
