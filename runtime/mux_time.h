#pragma once
// The loop clock and time arithmetic. The loop clock has two readings: time
// that only runs forward, which every timer and time-out of the server counts
// (milliseconds, microseconds), and the date, which an operator or a time
// daemon may step and which only what writes a date reads (seconds,
// gettimeval). Tests replace the clock (set_clock) with one they advance by
// hand.

#include <poll.h>
#include <sys/select.h>

#include <cstdint>
#include <string>

namespace Mux {

// Seconds and microseconds, 32 bits each as on the board.
struct timeval {
    int32_t tv_sec = 0;
    int32_t tv_usec = 0;
};

// Where the loop gets the time and waits for its descriptors. The system
// clock asks gettimeofday, CLOCK_MONOTONIC and poll; a test clock tells
// virtual time and never blocks.
class Clock {
public:
    virtual ~Clock() = default;
    // The date.
    virtual int gettimeofday(timeval& tv) = 0;
    // Time since an unspecified start that no date change moves.
    virtual int getmonotonic(timeval& tv) = 0;
    virtual int poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
};

class SystemClock : public Clock {
public:
    int gettimeofday(timeval& tv) override;
    int getmonotonic(timeval& tv) override;
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override;
};

// The clock in use (the system clock unless a test set another).
Clock& clock();
// Makes `c` the loop clock (null: the system clock again) and forgets the
// cached time.
void set_clock(Clock* c);

// Caches both readings of the clock; until the cache is cleared every
// reading returns them.
int mux_settimeofday();
void mux_cleartimeofday();
// The cached date when set, otherwise the clock's.
int mux_gettimeofday(timeval& tv);
// The cached monotonic time when set, otherwise the clock's.
int mux_getmonotonic(timeval& tv);

// Monotonic milliseconds, wrapping at 32 bits (about every 49.7 days).
uint32_t milliseconds();
// The same read from the clock even while a pass has it cached: what a wait
// within the pass measures.
uint32_t live_milliseconds();
// Monotonic microseconds, wrapping at 32 bits (every 4,294.97 s).
uint32_t microseconds();
// The date: seconds since the epoch, and with its microseconds.
int32_t seconds();
int gettimeval(timeval& tv);

// "%Y-%m-%d %H:%M:%S.uuuuuu" in local time.
std::string timevaltostring(const timeval& tv);

void make_from_usec(timeval& tv, unsigned int us);
void make_from_msec(timeval& tv, unsigned int ms);
int timevaladd(timeval& a, const timeval& b);
int timevalsub(timeval& a, const timeval& b);
int timevaladd2(const timeval& a, const timeval& b, timeval& out);
int timevalsub2(const timeval& a, const timeval& b, timeval& out);
void timevalset(timeval& tv, int64_t ms);
// Milliseconds from a to b; 0 when b is earlier.
int64_t timevaldiff(const timeval& a, const timeval& b);
int timevalcompare(const timeval& a, const timeval& b);

// A period counted from a start time.
struct timeval_timer {
    timeval start;
    int period = 0;  // milliseconds
};
void timeval_timer_init(timeval_timer& timer, const timeval& start, int period);
void timeval_timer_init_now(timeval_timer& timer, const timeval& now);
bool timeval_timer_is_expired(const timeval_timer& timer, const timeval& now);
void timeval_timer_inc(timeval_timer& timer);

// An fd_set that knows its highest descriptor (-1 when empty).
class Set {
public:
    Set() { clear(); }
    void clear();
    void add(int fd);
    bool has(int fd) const { return fd >= 0 && FD_ISSET(fd, &set_); }
    int max_fd() const { return max_; }
    fd_set* get() { return max_ < 0 ? nullptr : &set_; }

private:
    fd_set set_;
    int max_ = -1;
};

int max_fd(const Set& a, const Set& b);
int max_fd(const Set& a, const Set& b, const Set& c);
// select() over the sets with nfds = highest descriptor + 1; a null timeout
// waits without limit.
int select(Set& rd, timeval* timeout = nullptr);
int select(Set& rd, Set& wr, timeval* timeout = nullptr);
int select(Set& rd, Set& wr, Set& ex, timeval* timeout = nullptr);
int select_rd(int fd, timeval* timeout = nullptr);
int select_wr(int fd, timeval* timeout = nullptr);

}  // namespace Mux
