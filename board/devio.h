#pragma once
// The one seam between the server and the board's device drivers (/dev/...
// and the watchdog). On the board these are the plain system calls; in the
// simulated build every device is a model answering from its own state.
// close(), dup() and poll() stay native: every descriptor returned here is a
// real kernel descriptor.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace board {

// Opens a board device. Returns a descriptor, or -1 with errno set.
int open(const char* path, int flags);

// An ioctl whose argument is a pointer to the request's record.
int ioctl(int fd, uint32_t request, void* arg);

// An ioctl whose argument is passed by value.
int ioctl_value(int fd, uint32_t request, unsigned long value);

ssize_t read(int fd, void* buf, size_t count);
ssize_t write(int fd, const void* buf, size_t count);

}  // namespace board
