// The simulated backend of the device seam.
#include "board/devio.h"
#include "board/sim/sim_board.h"

namespace board {

int open(const char* path, int flags) { return sim::Board::instance().open(path, flags); }

int ioctl(int fd, uint32_t request, void* arg) {
    return sim::Board::instance().ioctl(fd, request, arg);
}

int ioctl_value(int fd, uint32_t request, unsigned long value) {
    return sim::Board::instance().ioctl_value(fd, request, value);
}

ssize_t read(int fd, void* buf, size_t count) {
    return sim::Board::instance().read(fd, buf, count);
}

ssize_t write(int fd, const void* buf, size_t count) {
    return sim::Board::instance().write(fd, buf, count);
}

}  // namespace board
