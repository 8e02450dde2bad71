#include "board/sim/descriptor_table.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/syscall.h>
#include <unistd.h>

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
