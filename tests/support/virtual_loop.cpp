#include "tests/support/virtual_loop.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace test {

namespace {

// 2023-11-14 22:13:20 UTC.
constexpr uint64_t kStartUs = 1700000000ull * 1000000;
// Passes with nothing left to wait for before advance() gives up: a timer
// that re-arms itself for "now" forever.
constexpr unsigned kMaxBusyPasses = 100000;

void split(uint64_t us, Mux::timeval& tv) {
    tv.tv_sec = static_cast<int32_t>(us / 1000000);
    tv.tv_usec = static_cast<int32_t>(us % 1000000);
}

}  // namespace

ManualClock::ManualClock() : now_(kStartUs) {}

int ManualClock::gettimeofday(Mux::timeval& tv) {
    split(now_ + static_cast<uint64_t>(dateOffset_), tv);
    return 0;
}

int ManualClock::getmonotonic(Mux::timeval& tv) {
    split(now_, tv);
    return 0;
}

int ManualClock::poll(pollfd* fds, nfds_t count, int timeoutMs) {
    ++polls_;
    lastTimeout_ = timeoutMs;
    lastResult_ = ::poll(fds, count, 0);
    return lastResult_;
}

void ManualClock::set_milliseconds(uint32_t ms) {
    uint64_t totalMs = now_ / 1000;
    uint64_t wraps = totalMs >> 32;
    now_ = ((wraps << 32) + ms) * 1000;
}

VirtualLoop::VirtualLoop() {
    multiplexer.reset_for_test();
    Mux::set_clock(&clock_);
}

VirtualLoop::~VirtualLoop() { multiplexer.reset_for_test(); }

void VirtualLoop::pump(unsigned count) {
    for (unsigned i = 0; i < count && !multiplexer.terminated(); ++i) multiplexer.pass();
}

unsigned VirtualLoop::ready_passes(unsigned count) {
    unsigned ready = 0;
    for (unsigned i = 0; i < count && !multiplexer.terminated(); ++i) {
        multiplexer.pass();
        if (clock_.last_result() > 0) ++ready;
    }
    return ready;
}

void VirtualLoop::advance(uint64_t ms) {
    const uint64_t target = clock_.now_us() + ms * 1000;
    unsigned busy = 0;
    for (;;) {
        pump();
        if (multiplexer.terminated()) break;
        // The nearest of: the first timer (armed perhaps in this very pass)
        // and the wait the loop itself asked for (the watchdog's period).
        uint64_t step = UINT64_MAX;
        uint32_t due;
        if (multiplexer.next_due(due)) {
            int32_t wait = static_cast<int32_t>(due - Mux::milliseconds());
            step = wait > 0 ? static_cast<uint64_t>(wait) * 1000 : 0;
        }
        if (clock_.last_timeout() >= 0)
            step = std::min<uint64_t>(step, static_cast<uint64_t>(clock_.last_timeout()) * 1000);
        if (step == 0) {
            if (++busy > kMaxBusyPasses) throw std::runtime_error("loop never idles");
            continue;
        }
        busy = 0;
        if (step == UINT64_MAX || clock_.now_us() + step > target) break;
        clock_.advance_us(step);
    }
    if (clock_.now_us() < target) {
        clock_.advance_us(target - clock_.now_us());
        pump();
    }
}

void VirtualLoop::advance_settled(uint64_t ms) {
    const uint64_t end = clock_.now_us() + ms * 1000;
    for (;;) {
        for (unsigned pass = 0; pass < 100; ++pass) {
            pump();
            if (clock_.last_result() == 0 || multiplexer.terminated()) break;
        }
        if (clock_.now_us() >= end || multiplexer.terminated()) return;
        uint64_t next = end;
        uint32_t due;
        if (multiplexer.next_due(due)) {
            const int32_t wait = static_cast<int32_t>(due - Mux::milliseconds());
            next = std::min(end, clock_.now_us() + uint64_t(std::max(wait, 0)) * 1000);
        }
        if (next > clock_.now_us()) clock_.advance_us(next - clock_.now_us());
        pump();
    }
}

IdleDescriptor::IdleDescriptor() {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        throw std::runtime_error("socketpair failed");
    // The peer stays open: a closed one would report a hang-up on every pass.
    fd_.reset(sv[0]);
    peer_.reset(sv[1]);
    event_.Schedule(fd_, POLLIN);
}

}  // namespace test
