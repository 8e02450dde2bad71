#include "runtime/mux_time.h"

#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <cstdio>

namespace Mux {

namespace {

SystemClock systemClock;
Clock* current = &systemClock;
// Both readings of one moment, while `cachedSet`.
bool cachedSet = false;
timeval cachedDate;
timeval cachedMonotonic;

int64_t total_usec(const timeval& tv) {
    return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

int do_select(int nfds, fd_set* rd, fd_set* wr, fd_set* ex, timeval* timeout) {
    ::timeval tv;
    if (timeout) {
        tv.tv_sec = timeout->tv_sec;
        tv.tv_usec = timeout->tv_usec;
    }
    return ::select(nfds, rd, wr, ex, timeout ? &tv : nullptr);
}

}  // namespace

int SystemClock::gettimeofday(timeval& tv) {
    ::timeval now;
    int r = ::gettimeofday(&now, nullptr);
    tv.tv_sec = static_cast<int32_t>(now.tv_sec);
    tv.tv_usec = static_cast<int32_t>(now.tv_usec);
    return r;
}

int SystemClock::getmonotonic(timeval& tv) {
    timespec now;
    int r = ::clock_gettime(CLOCK_MONOTONIC, &now);
    tv.tv_sec = static_cast<int32_t>(now.tv_sec);
    tv.tv_usec = static_cast<int32_t>(now.tv_nsec / 1000);
    return r;
}

int SystemClock::poll(pollfd* fds, nfds_t count, int timeoutMs) {
    return ::poll(fds, count, timeoutMs);
}

Clock& clock() { return *current; }

void set_clock(Clock* c) {
    current = c ? c : &systemClock;
    mux_cleartimeofday();
}

int mux_settimeofday() {
    current->getmonotonic(cachedMonotonic);
    int r = current->gettimeofday(cachedDate);
    cachedSet = true;
    return r;
}

void mux_cleartimeofday() { cachedSet = false; }

int mux_gettimeofday(timeval& tv) {
    if (!cachedSet) return current->gettimeofday(tv);
    tv = cachedDate;
    return 0;
}

int mux_getmonotonic(timeval& tv) {
    if (!cachedSet) return current->getmonotonic(tv);
    tv = cachedMonotonic;
    return 0;
}

uint32_t milliseconds() {
    timeval tv;
    mux_getmonotonic(tv);
    return static_cast<uint32_t>(total_usec(tv) / 1000);
}

uint32_t live_milliseconds() {
    timeval tv;
    current->getmonotonic(tv);
    return static_cast<uint32_t>(total_usec(tv) / 1000);
}

uint32_t microseconds() {
    timeval tv;
    mux_getmonotonic(tv);
    return static_cast<uint32_t>(total_usec(tv));
}

int32_t seconds() {
    timeval tv;
    mux_gettimeofday(tv);
    return tv.tv_sec;
}

int gettimeval(timeval& tv) {
    mux_gettimeofday(tv);
    return 0;
}

std::string timevaltostring(const timeval& tv) {
    time_t t = tv.tv_sec;
    struct tm local;
    char date[32] = "";
    if (localtime_r(&t, &local)) strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    char text[64];
    std::snprintf(text, sizeof text, "%s.%06ld", date, static_cast<long>(tv.tv_usec));
    return text;
}

void make_from_usec(timeval& tv, unsigned int us) {
    tv.tv_sec = static_cast<int32_t>(us / 1000000);
    tv.tv_usec = static_cast<int32_t>(us % 1000000);
}

void make_from_msec(timeval& tv, unsigned int ms) {
    tv.tv_sec = static_cast<int32_t>(ms / 1000);
    tv.tv_usec = static_cast<int32_t>((ms % 1000) * 1000);
}

int timevaladd(timeval& a, const timeval& b) {
    a.tv_sec += b.tv_sec;
    a.tv_usec += b.tv_usec;
    if (a.tv_usec >= 1000000) {
        a.tv_sec += a.tv_usec / 1000000;
        a.tv_usec %= 1000000;
    }
    return 0;
}

int timevalsub(timeval& a, const timeval& b) {
    a.tv_sec -= b.tv_sec;
    if (a.tv_usec < b.tv_usec) {
        a.tv_sec -= 1;
        a.tv_usec += 1000000;
    }
    a.tv_usec -= b.tv_usec;
    return 0;
}

int timevaladd2(const timeval& a, const timeval& b, timeval& out) {
    out = a;
    return timevaladd(out, b);
}

int timevalsub2(const timeval& a, const timeval& b, timeval& out) {
    out = a;
    return timevalsub(out, b);
}

void timevalset(timeval& tv, int64_t ms) {
    tv.tv_sec = static_cast<int32_t>(ms / 1000);
    tv.tv_usec = static_cast<int32_t>((ms % 1000) * 1000);
}

int64_t timevaldiff(const timeval& a, const timeval& b) {
    if (timevalcompare(b, a) < 0) return 0;
    return static_cast<int64_t>(b.tv_sec - a.tv_sec) * 1000 + (b.tv_usec - a.tv_usec) / 1000;
}

int timevalcompare(const timeval& a, const timeval& b) {
    if (a.tv_sec != b.tv_sec) return a.tv_sec < b.tv_sec ? -1 : 1;
    if (a.tv_usec != b.tv_usec) return a.tv_usec < b.tv_usec ? -1 : 1;
    return 0;
}

void timeval_timer_init(timeval_timer& timer, const timeval& start, int period) {
    timer.start = start;
    timer.period = period;
}

void timeval_timer_init_now(timeval_timer& timer, const timeval& now) { timer.start = now; }

bool timeval_timer_is_expired(const timeval_timer& timer, const timeval& now) {
    if (timer.period < 1) return false;
    return timevaldiff(timer.start, now) > timer.period;
}

void timeval_timer_inc(timeval_timer& timer) {
    timeval period;
    make_from_msec(period, static_cast<unsigned int>(timer.period));
    timevaladd(timer.start, period);
}

void Set::clear() {
    FD_ZERO(&set_);
    max_ = -1;
}

void Set::add(int fd) {
    if (fd < 0 || fd >= FD_SETSIZE) return;
    FD_SET(fd, &set_);
    max_ = std::max(max_, fd);
}

int max_fd(const Set& a, const Set& b) { return std::max(a.max_fd(), b.max_fd()); }

int max_fd(const Set& a, const Set& b, const Set& c) { return std::max(max_fd(a, b), c.max_fd()); }

int select(Set& rd, timeval* timeout) {
    return do_select(rd.max_fd() + 1, rd.get(), nullptr, nullptr, timeout);
}

int select(Set& rd, Set& wr, timeval* timeout) {
    return do_select(max_fd(rd, wr) + 1, rd.get(), wr.get(), nullptr, timeout);
}

int select(Set& rd, Set& wr, Set& ex, timeval* timeout) {
    return do_select(max_fd(rd, wr, ex) + 1, rd.get(), wr.get(), ex.get(), timeout);
}

int select_rd(int fd, timeval* timeout) {
    Set rd;
    rd.add(fd);
    return select(rd, timeout);
}

int select_wr(int fd, timeval* timeout) {
    Set wr;
    wr.add(fd);
    return do_select(wr.max_fd() + 1, nullptr, wr.get(), nullptr, timeout);
}

}  // namespace Mux
