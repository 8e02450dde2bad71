#pragma once
// Owned file descriptors and their mode switches.

// Owns one descriptor: a copy holds a close-on-exec duplicate, destruction
// closes it.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd& other) : fd_(other.dup()) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(const Fd& other);
    Fd& operator=(Fd&& other) noexcept;
    ~Fd();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // A close-on-exec duplicate, or -1.
    int dup() const;
    // Closes a valid descriptor; EBADF and -1 for an invalid one.
    int close();
    bool NonBlock() const;
    // Gives up ownership without closing.
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the held descriptor and takes `fd`.
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// Opens /dev/null on each of 0, 1 and 2 that is closed, so that no
// descriptor opened later takes one of their numbers (and loses it when a
// daemon() puts /dev/null over them). The first thing main does.
void OccupyStandardDescriptors();

// An open or socket refused for want of a descriptor (EMFILE, ENFILE): a
// passing shortage that says nothing about what was to be opened.
bool NoDescriptorFree(int error);

bool NonBlockMode(int fd);
bool BlockMode(int fd);
void SetCloexec(int fd, bool on = true);
