#include "runtime/fd.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

Fd& Fd::operator=(const Fd& other) {
    if (this != &other) reset(other.dup());
    return *this;
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

int Fd::dup() const {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    int fd = ::dup(fd_);
    if (fd >= 0) SetCloexec(fd, true);
    return fd;
}

int Fd::close() {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    int fd = fd_;
    fd_ = -1;
    return ::close(fd);
}

bool Fd::NonBlock() const { return fd_ >= 0 && NonBlockMode(fd_); }

void Fd::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

void OccupyStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest free number is `fd` itself.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) ::close(null);
    }
}

static bool SetStatusFlag(int fd, int flag, bool on) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    flags = on ? (flags | flag) : (flags & ~flag);
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

bool NoDescriptorFree(int error) {
    return error == EMFILE || error == ENFILE;
}

bool NonBlockMode(int fd) { return SetStatusFlag(fd, O_NONBLOCK, true); }

bool BlockMode(int fd) { return SetStatusFlag(fd, O_NONBLOCK, false); }

void SetCloexec(int fd, bool on) {
    int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0) return;
    flags = on ? (flags | FD_CLOEXEC) : (flags & ~FD_CLOEXEC);
    ::fcntl(fd, F_SETFD, flags);
}
