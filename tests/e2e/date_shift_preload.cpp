// Preloaded into the server executable by black-box tests (DateShift in
// tests/e2e/server_binary.h): the date that gettimeofday, time and
// clock_gettime(CLOCK_REALTIME) tell is moved by the seconds written in the
// file that DATE_SHIFT_FILE names, read on every call, so that a test steps
// the date of a running server as an operator or a time daemon does. Other
// clocks pass unchanged. System calls only: it may run before the sanitizers'
// run-time is ready.
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

namespace {

long shift_seconds() {
    const char* path = std::getenv("DATE_SHIFT_FILE");
    if (path == nullptr) return 0;
    const long fd = ::syscall(SYS_openat, AT_FDCWD, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[32];
    const long n = ::syscall(SYS_read, fd, text, sizeof text - 1);
    ::syscall(SYS_close, fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    return std::strtol(text, nullptr, 10);
}

int real_clock_gettime(clockid_t id, timespec* now) {
    return static_cast<int>(::syscall(SYS_clock_gettime, id, now));
}

}  // namespace

extern "C" {

int clock_gettime(clockid_t id, timespec* now) noexcept {
    const int r = real_clock_gettime(id, now);
    if (r == 0 && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE)) now->tv_sec += shift_seconds();
    return r;
}

int gettimeofday(timeval* now, void*) noexcept {
    timespec date;
    const int r = clock_gettime(CLOCK_REALTIME, &date);
    if (r == 0) {
        now->tv_sec = date.tv_sec;
        now->tv_usec = date.tv_nsec / 1000;
    }
    return r;
}

time_t time(time_t* now) noexcept {
    timespec date;
    const time_t seconds = clock_gettime(CLOCK_REALTIME, &date) == 0 ? date.tv_sec : -1;
    if (now != nullptr) *now = seconds;
    return seconds;
}

}  // extern "C"
