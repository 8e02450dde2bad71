#include "tests/support/descriptor_shortage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "runtime/listen_watch.h"

namespace test {

namespace {

int highest_open_descriptor() {
    int highest = -1;
    DIR* fds = ::opendir("/proc/self/fd");
    if (fds == nullptr) return 1024;
    while (dirent* entry = ::readdir(fds)) highest = std::max(highest, std::atoi(entry->d_name));
    ::closedir(fds);
    return highest;
}

void set_soft_limit(unsigned long limit) {
    rlimit r{};
    ::getrlimit(RLIMIT_NOFILE, &r);
    r.rlim_cur = limit;
    ::setrlimit(RLIMIT_NOFILE, &r);
}

}  // namespace

// A limit just above the descriptors in use keeps the numbers to take few.
DescriptorShortage::DescriptorShortage(unsigned spare) {
    rlimit r{};
    ::getrlimit(RLIMIT_NOFILE, &r);
    limit_ = r.rlim_cur;
    set_soft_limit(static_cast<unsigned long>(highest_open_descriptor()) + 8);
    take_freed();
    for (; spare > 0 && !taken_.empty(); --spare) {
        ::close(taken_.back());
        taken_.pop_back();
    }
}

void DescriptorShortage::take_freed() {
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
}

void DescriptorShortage::end() {
    for (int fd : taken_) ::close(fd);
    taken_.clear();
    if (limit_ != 0) set_soft_limit(limit_);
    limit_ = 0;
}

// A datagram socket stands in for the listener: it accepts nothing.
void rehearse_listen_rest(const std::function<void(uint64_t ms)>& advance) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) return;
    ListenWatch watch;
    watch.Watch(Fd(ends[0]));
    watch.Rest();
    advance(kListenRestMs);
    ::close(ends[1]);
}

void rest_out_of_descriptors(const std::function<void()>& pump,
                             const std::function<void(uint64_t ms)>& advance) {
    DescriptorShortage shortage;
    pump();
    shortage.take_freed();
    advance(kListenRestMs);
    shortage.end();
    advance(kListenRestMs);
}

}  // namespace test
