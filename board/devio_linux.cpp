// The board's backend of the device seam: the plain system calls.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "board/devio.h"

namespace board {

int open(const char* path, int flags) { return ::open(path, flags); }

int ioctl(int fd, uint32_t request, void* arg) { return ::ioctl(fd, request, arg); }

int ioctl_value(int fd, uint32_t request, unsigned long value) {
    return ::ioctl(fd, request, value);
}

ssize_t read(int fd, void* buf, size_t count) { return ::read(fd, buf, count); }

ssize_t write(int fd, const void* buf, size_t count) { return ::write(fd, buf, count); }

}  // namespace board
