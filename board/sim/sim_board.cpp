#include "board/sim/sim_board.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "board/ioc.h"
#include "board/sim/descriptor_table.h"

namespace board::sim {

const char* to_string(Op op) {
    switch (op) {
        case Op::Open: return "open";
        case Op::Ioctl: return "ioctl";
        case Op::Read: return "read";
        case Op::Write: return "write";
    }
    return "?";
}

namespace {

// {0, 0} when the descriptor is not open.
FileId file_id(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return FileId{};
    return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// The size of an ioctl record as the request number gives it.
size_t record_size(uint32_t request, const void* arg) {
    return arg == nullptr ? 0 : ppc_ioc_size(request);
}

}  // namespace

Channel::Channel(Model& model, std::string path, int flags, int peerFd, FileId id)
    : model_(model), path_(std::move(path)), flags_(flags), peerFd_(peerFd), id_(id) {}

Channel::~Channel() { ::close(peerFd_); }

bool Channel::deliver(const void* record, size_t length) {
    ssize_t n = ::send(peerFd_, record, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    return n == static_cast<ssize_t>(length);
}

namespace {

// Whether a descriptor of this process refers to the socket `inode` (the
// callers of the simulated board are in this process).
bool held_by_process(uint64_t inode) {
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    DIR* fds = ::opendir("/proc/self/fd");
    if (fds == nullptr) return true;
    bool held = false;
    while (dirent* entry = ::readdir(fds)) {
        char target[64];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && wanted.compare(0, std::string::npos, target, static_cast<size_t>(n)) == 0) {
            held = true;
            break;
        }
    }
    ::closedir(fds);
    return held;
}

}  // namespace

bool Channel::closed() const {
    // Our end of a hung-up pair polls POLLHUP for good: ask the process.
    if (hungUp_) return !held_by_process(id_.inode);
    pollfd p{peerFd_, POLLOUT, 0};
    if (::poll(&p, 1, 0) < 0) return false;
    return (p.revents & (POLLHUP | POLLERR)) != 0;
}

void Channel::raise_input() {
    lowering_ = false;
    if (inputRaised_) return;
    const uint8_t token = 0;
    inputRaised_ = deliver(&token, sizeof token);
}

void Channel::settle_input(int callerFd) {
    if (!lowering_) return;
    lowering_ = false;
    if (!inputRaised_) return;
    const int saved = errno;
    uint8_t token;
    ::recv(callerFd, &token, sizeof token, MSG_DONTWAIT);
    errno = saved;
    inputRaised_ = false;
}

// The caller's end polls POLLOUT while what it has sent and its peer has
// not read stays under a quarter of its send buffer: filling the buffer
// takes POLLOUT away, and reading it empty at our end gives it back.
void Channel::settle_output(int callerFd) {
    if (!loweringOutput_) return;
    loweringOutput_ = false;
    if (outputLowered_) return;
    const int saved = errno;
    static const uint8_t filler[4096] = {};
    while (::send(callerFd, filler, sizeof filler, MSG_DONTWAIT | MSG_NOSIGNAL) > 0) {
    }
    errno = saved;
    outputLowered_ = true;
}

void Channel::raise_output() {
    if (!outputLowered_) return;
    const int saved = errno;
    uint8_t filler[4096];
    while (::recv(peerFd_, filler, sizeof filler, MSG_DONTWAIT) > 0) {
    }
    errno = saved;
    outputLowered_ = false;
}

int Model::open(Channel&) { return 0; }

int Model::ioctl(Channel&, uint32_t, void*) {
    errno = ENOTTY;
    return -1;
}

int Model::ioctl_value(Channel&, uint32_t, unsigned long) {
    errno = ENOTTY;
    return -1;
}

void Channel::hang_up() {
    hungUp_ = true;
    ::shutdown(peerFd_, SHUT_RDWR);
}

ssize_t Model::write(Channel&, const void*, size_t length) { return static_cast<ssize_t>(length); }

ssize_t Model::read(Channel&, void*, size_t) { return -2; }

Board& Board::instance() {
    static Board board;
    return board;
}

Board::Board() {
    journal_.reserve(kJournalLimit);  // entries stay where they are while calls nest
    install_models(*this);
    set_journaled(journalsByDefault);
}

void Board::install(const std::string& path, std::unique_ptr<Model> model) {
    models_[path] = std::move(model);
}

Model* Board::model(const std::string& path) const {
    auto it = models_.find(path);
    return it == models_.end() ? nullptr : it->second.get();
}

void Board::drop_closed() {
    for (auto it = channels_.begin(); it != channels_.end();) {
        if ((*it)->closed()) {
            (*it)->model().close(**it);
            forget_open(it->get());
            it = channels_.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<Channel*> Board::channels(const std::string& path) {
    drop_closed();
    std::vector<Channel*> out;
    for (auto& c : channels_)
        if (c->path() == path) out.push_back(c.get());
    return out;
}

int Board::deliver(const std::string& path, const void* record, size_t length) {
    int n = 0;
    for (Channel* c : channels(path))
        if (c->deliver(record, length)) ++n;
    return n;
}

template <class Visit>
void Board::for_each_call(Visit visit) const {
    for (size_t k = 0; k < journalCount_; ++k) visit(journal_[(journalOldest_ + k) % journalCount_]);
}

std::vector<Call> Board::journal() const {
    std::vector<Call> calls;
    calls.reserve(journalCount_);
    for_each_call([&](const Call& c) { calls.push_back(c); });
    return calls;
}

std::vector<Call> Board::journal(const std::string& path) const {
    std::vector<Call> out;
    for_each_call([&](const Call& c) {
        if (c.path == path) out.push_back(c);
    });
    return out;
}

void Board::clear_journal() {
    journalCount_ = 0;
    journalOldest_ = 0;
}

Call& Board::journal_entry() {
    if (journalCount_ < kJournalLimit) {
        if (journal_.size() == journalCount_) journal_.emplace_back(Op::Open, std::string());
        return journal_[journalCount_++];
    }
    Call& oldest = journal_[journalOldest_];
    journalOldest_ = (journalOldest_ + 1) % kJournalLimit;
    return oldest;
}

bool Board::journalsByDefault = true;

void Board::set_journaled(const std::string& path, bool on) {
    if (Model* m = model(path)) m->journaled = on;
}

void Board::set_journaled(bool on) {
    journalsOpens_ = on;
    for (auto& m : models_) m.second->journaled = on;
}

void Board::fail_next(Op op, const std::string& path, int error, uint32_t request, int count) {
    failures_.push_back(Failure{op, path, request, error, count});
}

bool Board::take_failure(Op op, const std::string& path, uint32_t request, const void* arg) {
    if (take_listed_failure(op, path, request)) return true;
    if (!refuse) return false;
    const int error = refuse(op, path, request, arg);
    if (error != 0) errno = error;
    return error != 0;
}

bool Board::take_listed_failure(Op op, const std::string& path, uint32_t request) {
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->op != op || it->path != path) continue;
        if (it->request != 0 && it->request != request) continue;
        errno = it->error;
        if (--it->count <= 0) failures_.erase(it);
        return true;
    }
    return false;
}

int Board::pace() {
    if (!clock) return -1;
    const uint64_t now = clock();
    uint64_t next = Model::kNoWait;
    for (auto& m : models_) next = std::min(next, m.second->pace(now));
    if (next == Model::kNoWait) return -1;
    return static_cast<int>(std::min<uint64_t>((next + 999) / 1000, INT_MAX));
}

void Board::reset() {
    clock = nullptr;
    refuse = nullptr;
    forget_all_opens();
    channels_.clear();
    clear_journal();
    failures_.clear();
    for (auto& m : models_) {
        m.second->reset();
        m.second->drained_reads_zero = false;
    }
    set_journaled(journalsByDefault);
    netifs_.reset();
}

Channel* Board::channel(int fd) {
    if (Channel* known = known_open(fd)) return known;
    const FileId id = file_id(fd);
    if (id.inode == 0) return nullptr;
    for (auto& c : channels_) {
        if (c->id() == id) {
            note_open(fd, c.get());
            return c.get();
        }
    }
    return nullptr;
}

int Board::open(const char* path, int flags) {
    Call call{Op::Open, path ? path : ""};
    Model* m = path ? model(path) : nullptr;
    // Journaled as the device's calls are; an open of what names no device,
    // while the whole board journals.
    const bool journaled = m ? m->journaled : journalsOpens_;
    auto fail = [&](int error) {
        call.result = -1;
        call.error = error;
        if (journaled) record(call);
        errno = error;
        return -1;
    };
    if (m == nullptr) return fail(ENOENT);
    if (take_failure(Op::Open, call.path, 0)) return fail(errno);

    drop_closed();
    int sv[2];
    int type = SOCK_SEQPACKET;
    if (flags & O_NONBLOCK) type |= SOCK_NONBLOCK;
    if (flags & O_CLOEXEC) type |= SOCK_CLOEXEC;
    if (::socketpair(AF_UNIX, type, 0, sv) != 0) return fail(errno);
    ::fcntl(sv[1], F_SETFD, FD_CLOEXEC);
    auto channel = std::make_unique<Channel>(*m, call.path, flags, sv[1], file_id(sv[0]));
    if (m->open(*channel) != 0) {
        int error = errno;
        ::close(sv[0]);
        return fail(error);
    }
    note_open(sv[0], channel.get());
    channels_.push_back(std::move(channel));
    call.result = sv[0];
    if (journaled) record(call);
    return sv[0];
}

// Runs one call on a channel: an injected failure or the model's answer,
// with errno kept for the caller. Unless the device's journal is off, the
// call is journaled with the `size` bytes `passed` in; the model's answer
// gets the entry (else null) to add to it.
template <class ModelCall>
long Board::journaled(Channel& c, Op op, uint32_t request, const void* passed, size_t size,
                      ModelCall model_call) {
    Call* call = nullptr;
    if (c.model().journaled) {
        call = &journal_entry();
        call->op = op;
        call->path = c.path();
        call->request = request;
        const uint8_t* bytes = static_cast<const uint8_t*>(passed);
        call->data.assign(bytes, bytes + size);
        call->value = 0;
    }
    long r;
    if (take_failure(op, c.path(), request, passed))
        r = -1;
    else
        r = model_call(call);
    int saved = errno;
    if (call) {
        call->result = r;
        call->error = r < 0 ? saved : 0;
    }
    errno = saved;
    return r;
}

int Board::ioctl(int fd, uint32_t request, void* arg) {
    Channel* c = channel(fd);
    if (c == nullptr) {
        errno = EBADF;
        return -1;
    }
    return static_cast<int>(journaled(*c, Op::Ioctl, request, arg, record_size(request, arg),
                                      [&](Call*) { return c->model().ioctl(*c, request, arg); }));
}

int Board::ioctl_value(int fd, uint32_t request, unsigned long value) {
    Channel* c = channel(fd);
    if (c == nullptr) {
        errno = EBADF;
        return -1;
    }
    return static_cast<int>(journaled(*c, Op::Ioctl, request, nullptr, 0, [&](Call* call) {
        if (call) call->value = value;
        return c->model().ioctl_value(*c, request, value);
    }));
}

ssize_t Board::read(int fd, void* buf, size_t count) {
    Channel* c = channel(fd);
    if (c == nullptr) return ::read(fd, buf, count);
    return journaled(*c, Op::Read, 0, nullptr, 0, [&](Call* call) -> long {
        ssize_t r = c->model().read(*c, buf, count);
        // The records come from this same thread: a read that waited for
        // one would never end.
        if (r == -2)
            r = ::recv(fd, buf, count, MSG_DONTWAIT);
        else
            c->settle_input(fd);
        if (r < 0 && errno == EAGAIN && c->model().drained_reads_zero) r = 0;
        if (r > 0 && call)
            call->data.assign(static_cast<uint8_t*>(buf), static_cast<uint8_t*>(buf) + r);
        return r;
    });
}

ssize_t Board::write(int fd, const void* buf, size_t count) {
    Channel* c = channel(fd);
    if (c == nullptr) return ::write(fd, buf, count);
    return journaled(*c, Op::Write, 0, buf, count, [&](Call*) -> long {
        if (c->hung_up()) {
            errno = EPIPE;
            return -1;
        }
        const ssize_t r = c->model().write(*c, buf, count);
        c->settle_output(fd);
        return r;
    });
}

}  // namespace board::sim
