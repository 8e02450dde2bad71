#pragma once
// Drives the event loop in virtual time: a manual clock that tests advance
// and that never blocks in poll(), and a driver that pumps loop passes.
//
//   test::VirtualLoop loop;        // fresh loop on a manual clock
//   timer.set(3000, &Foo::OnTimeout, &foo);
//   loop.advance(3000);            // fires it at its due time
//
// The e2e tests pump single passes while a test controller talks to the
// server through non-blocking sockets.

#include <poll.h>

#include <cstdint>
#include <functional>

#include "runtime/multiplexer.h"
#include "runtime/mux_time.h"

namespace test {

// Virtual time in microseconds. poll() never waits: it reports what is ready
// now and remembers the time-out the loop asked for. Time that passes moves
// the monotonic reading and the date alike; the date may also be stepped
// alone, as an operator or a time daemon does.
class ManualClock : public Mux::Clock {
public:
    // Starts at a fixed, realistic date.
    ManualClock();

    int gettimeofday(Mux::timeval& tv) override;
    int getmonotonic(Mux::timeval& tv) override;
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override;

    void advance(uint64_t ms) { now_ += ms * 1000; }
    void advance_us(uint64_t us) { now_ += us; }
    // Moves the clock (also backwards) so that the date reads `us` since the
    // epoch; the monotonic reading moves by as much.
    void set_us(uint64_t us) { now_ = us - static_cast<uint64_t>(dateOffset_); }
    // Steps the date alone by `ms` (negative: back).
    void step_date(int64_t ms) { dateOffset_ += ms * 1000; }
    // The monotonic reading.
    uint64_t now_us() const { return now_; }
    // Sets the time so that Mux::milliseconds() reads `ms` (to test the
    // 32-bit wrap); the date stays realistic.
    void set_milliseconds(uint32_t ms);

    // The time-out of the last poll() (-1: no limit), and how many polls ran.
    int last_timeout() const { return lastTimeout_; }
    int last_result() const { return lastResult_; }
    unsigned polls() const { return polls_; }

private:
    uint64_t now_;
    int64_t dateOffset_ = 0;  // the date minus the monotonic reading
    int lastTimeout_ = -2;
    int lastResult_ = 0;
    unsigned polls_ = 0;
};

// A fresh loop on a manual clock for one test; the loop is reset again when
// it goes, so no state leaks into the next test.
class VirtualLoop {
public:
    VirtualLoop();
    ~VirtualLoop();
    VirtualLoop(const VirtualLoop&) = delete;
    VirtualLoop& operator=(const VirtualLoop&) = delete;

    ManualClock& clock() { return clock_; }

    // Runs `count` loop passes without moving the clock.
    void pump(unsigned count = 1);
    // As pump(): how many of the passes found a descriptor ready. A
    // descriptor that ended and is still watched makes it every one.
    unsigned ready_passes(unsigned count);
    // Moves the clock `ms` ahead, stopping at every timer due on the way (and
    // every watchdog period) so that each fires at its own time.
    void advance(uint64_t ms);
    // As advance(), but before each step of the clock the loop runs until
    // no descriptor is ready (100 passes at most): what one descriptor sends
    // another reads before the clock moves, as on the board.
    void advance_settled(uint64_t ms);

private:
    ManualClock clock_;
};

// A deferred call that runs `f` on every loop pass (twice) from its
// construction until it is deactivated or goes.
struct Deferred {
    explicit Deferred(std::function<void()> f) : f(std::move(f)) {
        dpc.Bind(this, &Deferred::Run);
        dpc.Activate();
    }
    void Run() { f(); }

    std::function<void()> f;
    Dpc dpc;
};

// A descriptor that never gets ready, attached to the loop: without one, a
// pass with no timer left would stop the test as a hang.
class IdleDescriptor {
public:
    IdleDescriptor();

private:
    Fd fd_;
    Fd peer_;
    Event event_;
};

}  // namespace test
