#include "board/sim/descriptor_table.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <stdarg.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace board::sim {

namespace {

// Zero before any code runs, so the hooks work from the first close on
// (also those of the runtime libraries). Any thread may close: each number
// is one atomic word.
std::atomic<Channel*> opens[kDescriptorTableSize];

void forget_number(unsigned fd) {
    if (fd < static_cast<unsigned>(kDescriptorTableSize))
        opens[fd].store(nullptr, std::memory_order_relaxed);
}

}  // namespace

Channel* known_open(int fd) {
    if (fd < 0 || fd >= kDescriptorTableSize) return nullptr;
    return opens[fd].load(std::memory_order_relaxed);
}

void note_open(int fd, Channel* channel) {
    if (fd >= 0 && fd < kDescriptorTableSize) opens[fd].store(channel, std::memory_order_relaxed);
}

void forget_open(const Channel* channel) {
    for (auto& open : opens)
        if (open.load(std::memory_order_relaxed) == channel)
            open.store(nullptr, std::memory_order_relaxed);
}

void forget_all_opens() {
    for (auto& open : opens) open.store(nullptr, std::memory_order_relaxed);
}

}  // namespace board::sim

// The hooks: each forgets the numbers it frees before the kernel may hand
// them out again, then makes the system call itself.

extern "C" int close(int fd) {
    board::sim::forget_number(static_cast<unsigned>(fd));
    return static_cast<int>(::syscall(SYS_close, fd));
}

extern "C" int dup3(int fd, int fd2, int flags) noexcept {
    board::sim::forget_number(static_cast<unsigned>(fd2));
    return static_cast<int>(::syscall(SYS_dup3, fd, fd2, flags));
}

extern "C" int dup2(int fd, int fd2) noexcept {
    // The same number stays what it is (dup3 would refuse it).
    if (fd == fd2) return ::fcntl(fd, F_GETFD) < 0 ? -1 : fd2;
    return dup3(fd, fd2, 0);
}

extern "C" int close_range(unsigned first, unsigned last, int flags) noexcept {
    if (!(flags & CLOSE_RANGE_CLOEXEC))
        for (unsigned fd = first; fd <= last && fd < unsigned(board::sim::kDescriptorTableSize); ++fd)
            board::sim::forget_number(fd);
    return static_cast<int>(::syscall(SYS_close_range, first, last, flags));
}

extern "C" void closefrom(int first) noexcept {
    const unsigned from = static_cast<unsigned>(std::max(first, 0));
    if (close_range(from, ~0u, 0) == 0) return;
    // A kernel without close_range: one by one, as far as the limit goes.
    for (long fd = from, end = ::sysconf(_SC_OPEN_MAX); fd < end; ++fd)
        ::close(static_cast<int>(fd));
}

// The descriptors of other kinds: each takes its number from the table.

namespace {

int taken(long fd) {
    if (fd >= 0) board::sim::forget_number(static_cast<unsigned>(fd));
    return static_cast<int>(fd);
}

int both_taken(long result, const int fds[2]) {
    if (result == 0) taken(fds[0]), taken(fds[1]);
    return static_cast<int>(result);
}

// The mode argument of an open that creates a file.
mode_t mode_of(int flags, va_list args) {
    const bool creates = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
    return creates ? va_arg(args, mode_t) : 0;
}

}  // namespace

extern "C" int socket(int domain, int type, int protocol) noexcept {
    return taken(::syscall(SYS_socket, domain, type, protocol));
}

extern "C" int socketpair(int domain, int type, int protocol, int ends[2]) noexcept {
    return both_taken(::syscall(SYS_socketpair, domain, type, protocol, ends), ends);
}

extern "C" int accept4(int fd, sockaddr* address, socklen_t* length, int flags) {
    return taken(::syscall(SYS_accept4, fd, address, length, flags));
}

extern "C" int accept(int fd, sockaddr* address, socklen_t* length) {
    return accept4(fd, address, length, 0);
}

extern "C" int pipe2(int ends[2], int flags) noexcept {
    return both_taken(::syscall(SYS_pipe2, ends, flags), ends);
}

extern "C" int pipe(int ends[2]) noexcept {
    return pipe2(ends, 0);
}

extern "C" int dup(int fd) noexcept {
    return taken(::syscall(SYS_dup, fd));
}

// Only the duplicates take a number; every other command passes through as
// the C library passes it (its one argument read as a pointer).
extern "C" int fcntl(int fd, int command, ...) {
    va_list args;
    va_start(args, command);
    void* const arg = va_arg(args, void*);
    va_end(args);
#ifdef SYS_fcntl64
    const long result = ::syscall(SYS_fcntl64, fd, command, arg);
#else
    const long result = ::syscall(SYS_fcntl, fd, command, arg);
#endif
    if (command == F_DUPFD || command == F_DUPFD_CLOEXEC) return taken(result);
    return static_cast<int>(result);
}

extern "C" int openat(int directory, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_of(flags, args);
    va_end(args);
    return taken(::syscall(SYS_openat, directory, path, flags, mode));
}

extern "C" int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_of(flags, args);
    va_end(args);
    return taken(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}
