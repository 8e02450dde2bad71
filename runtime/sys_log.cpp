#include "runtime/sys_log.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "board/paths.h"
#include "runtime/fd.h"
#include "runtime/mux_time.h"

SysLogManager syslogManager;

namespace {

const char* const kDefaultIdent = "syslog-ox";
const char* const kLoggerPath = "/dev/log";

// Appends to a record while keeping it within `limit` bytes with its NUL.
class RecordWriter {
public:
    RecordWriter(char* buffer, int limit) : buffer_(buffer), limit_(limit) { buffer_[0] = '\0'; }

    void printf(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        vprintf(format, args);
        va_end(args);
    }
    void vprintf(const char* format, va_list args) {
        int n = std::vsnprintf(buffer_ + length_, size_t(limit_ - length_), format, args);
        if (n > 0) length_ = std::min(length_ + n, limit_ - 1);
    }
    void time(time_t seconds) {
        struct tm local;
        localtime_r(&seconds, &local);
        size_t n = std::strftime(buffer_ + length_, size_t(limit_ - length_), "%h %e %T ", &local);
        length_ += int(n);
        buffer_[length_] = '\0';
    }
    int length() const { return length_; }

private:
    char* buffer_;
    int limit_;
    int length_ = 0;
};

}  // namespace

// --- SysLogManager

SysLogManager::SysLogManager() : ident_(kDefaultIdent) {
    std::memset(&address_, 0, sizeof address_);
    clear_batch();
}

void SysLogManager::openlog(const char* ident, int options, int facility) {
    if (ident) ident_ = ident;
    options_ = options;
    if (facility != 0 && (facility & ~LOG_FACMASK) == 0) facility_ = facility;
    connect_logger();
}

void SysLogManager::closelog() {
    disconnect();
    dropped_ = 0;
    roomPeriodStarted_ = false;
    ident_ = kDefaultIdent;
    type_ = SOCK_DGRAM;
    clear_batch();
}

// At most two attempts: a logger that answers EPROTOTYPE gets the other
// socket type.
void SysLogManager::connect_logger() {
    for (int attempt = 0; attempt < 2 && !connected_; ++attempt) {
        if (fd_ < 0) {
            std::string path = board::path(kLoggerPath);
            if (path.size() >= sizeof address_.sun_path) return;
            address_.sun_family = AF_UNIX;
            std::strcpy(address_.sun_path, path.c_str());
            if (!(options_ & LOG_NDELAY)) return;
            fd_ = ::socket(AF_UNIX, type_ | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd_ < 0) return;
        }
        if (connect_socket()) {
            connected_ = true;
            if (onConnect_) onConnect_(fd_);
            return;
        }
        int error = errno;
        disconnect();
        if (error != EPROTOTYPE) return;
        type_ = type_ == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
    }
}

// The connect does not block: a stream logger whose accept queue is full
// (restarted and not yet accepting, or hung while other programs'
// connections fill its backlog) would otherwise hold it for as long as it
// accepts nothing. Linux answers such a connect to a Unix socket with
// EAGAIN at once and leaves the socket unconnected, to be connected again;
// it never answers EINPROGRESS there, so a connect that succeeded is
// complete. Connected, the socket blocks again: the server writes to it
// directly as its descriptors 1 and 2.
bool SysLogManager::connect_socket() {
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address_), sizeof address_) != 0 &&
        !(errno == EAGAIN && wait_to_connect()))
        return false;
    return BlockMode(fd_);
}

void SysLogManager::disconnect() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    connected_ = false;
    dropped_ += unsigned(std::count(unsent_.begin(), unsent_.end(), '\0'));
    unsent_.clear();
}

void SysLogManager::syslog(int priority, const char* format, ...) {
    if (!(mask_ & LOG_MASK(LOG_PRI(priority)))) return;
    if ((priority & LOG_FACMASK) == 0) priority |= facility_;

    RecordWriter record(record_, kRecordSize - 1);
    record.printf("<%d>", priority);
    record.time(Mux::seconds());
    int messageStart = record.length();
    if (!ident_.empty()) record.printf("%s", ident_.c_str());
    if (options_ & LOG_PID) record.printf("[%d]", int(::getpid()));
    if (!ident_.empty()) record.printf(": ");
    va_list args;
    va_start(args, format);
    record.vprintf(format, args);
    va_end(args);

    if (options_ & LOG_PERROR)
        write_to_stderr(record_ + messageStart, record.length() - messageStart);
    if (!connected_) reconnect();
    // A record the batch took is counted with it when the batch cannot be
    // sent, even after a reconnection. One that finds no logger to take it
    // is counted here, so that the next note says every record lost.
    if (!connected_)
        ++dropped_;
    else if (add_to_batch(record_, record.length() + 1))
        return;
    disconnect();
    if (options_ & LOG_CONS) write_to_console(record_ + messageStart);
}

// The socket is connected, so the batch names no address: a stream socket
// refuses a named destination (EISCONN).
bool SysLogManager::add_to_batch(const char* record, int length) {
    std::memcpy(data_ + used_, record, size_t(length));
    entries_[count_].iov_base = data_ + used_;
    entries_[count_].iov_len = size_t(length);
    used_ += length;
    ++count_;
    message_.msg_iovlen = size_t(count_);
    if (count_ < kBatchRecords && used_ < kSendAt) return true;
    sendmsg();
    return connected_;  // a batch the logger was too busy for is counted
}

// A logger that restarted refuses the old connection: reconnect once and
// send again before the batch is given up. A batch that a logger alive but
// reading nothing does not take is counted, and the count said after the
// first batch it takes again.
int SysLogManager::sendmsg() {
    int result = 0;
    if (count_ > 0 && fd_ >= 0) {
        result = send_to_logger();
        if (result < 0 && errno != EAGAIN) {
            reconnect();
            result = connected_ ? send_to_logger() : -1;
            if (result < 0 && (!connected_ || errno != EAGAIN)) disconnect();
        }
        if (result < 0) dropped_ += unsigned(count_);
    }
    clear_batch();
    if (result > 0 && dropped_ > 0) say_dropped();
    return result;
}

// A burst of lines may fill the logger's queue: a logger that has taken
// every record so far gets a moment to make room. One that has not is not
// waited for again until it takes records.
int SysLogManager::send_to_logger() {
    const int sent = send_without_waiting();
    if (sent >= 0 || errno != EAGAIN || dropped_ > 0) return sent;
    if (wait_for_room()) return send_without_waiting();
    errno = EAGAIN;
    return -1;
}

// The waits of one period, for room and for a connection, add up to
// kRoomWaitMs at most: a logger that reads slowly but steadily makes room
// within each, and would otherwise hold the loop at every flush. `wait`
// waits at most the time-out it is given, in steps of `stepMs` at most, and
// answers as poll() does: ready, timed out, or failed with errno. A signal
// says nothing of the logger: the wait goes on for what is left.
template <class Wait>
bool SysLogManager::wait_for_logger(int stepMs, Wait wait) {
    uint32_t now = Mux::live_milliseconds();
    if (!roomPeriodStarted_ || now - roomPeriodStart_ >= kRoomPeriodMs) {
        roomPeriodStarted_ = true;
        roomPeriodStart_ = now;
        roomLeftMs_ = kRoomWaitMs;
    }
    while (roomLeftMs_ > 0) {
        const int timeoutMs = std::min(roomLeftMs_, stepMs);
        const int ready = wait(timeoutMs);
        const uint32_t later = Mux::live_milliseconds();
        // A wait that timed out used up its time-out, whatever the clock says.
        const int spent = ready == 0 ? std::max(timeoutMs, int(later - now)) : int(later - now);
        roomLeftMs_ = std::max(0, roomLeftMs_ - spent);
        now = later;
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
    errno = EAGAIN;
    return false;
}

bool SysLogManager::wait_for_room() {
    pollfd room{fd_, POLLOUT, 0};
    return wait_for_logger(
        kRoomWaitMs, [&room](int timeoutMs) { return Mux::clock().poll(&room, 1, timeoutMs); });
}

// No descriptor tells when a full accept queue has room: the connect is
// tried again at short steps. A logger that has not taken every record is
// not waited for again until it takes records, as for room.
bool SysLogManager::wait_to_connect() {
    if (dropped_ > 0) return false;
    return wait_for_logger(kConnectRetryMs, [this](int timeoutMs) {
        const int slept = Mux::clock().poll(nullptr, 0, timeoutMs);
        if (slept != 0) return slept;
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address_), sizeof address_) == 0) return 1;
        return errno == EAGAIN ? 0 : -1;
    });
}

// Not waiting is asked of each call: the socket itself stays blocking for
// what is written to it directly as descriptors 1 and 2. The rest of a
// batch a stream logger took only in part goes first, so that every record
// reaches it whole.
int SysLogManager::send_without_waiting() {
    const int flags = MSG_NOSIGNAL | MSG_DONTWAIT;
    if (!unsent_.empty()) {
        ssize_t n = ::send(fd_, unsent_.data(), unsent_.size(), flags);
        if (n < 0) return -1;
        unsent_.erase(0, size_t(n));
        if (!unsent_.empty()) {
            errno = EAGAIN;
            return -1;
        }
    }
    ssize_t n = ::sendmsg(fd_, &message_, flags);
    if (n >= 0 && n < used_) unsent_.assign(data_ + n, size_t(used_ - n));
    return int(n);
}

void SysLogManager::say_dropped() {
    const unsigned dropped = dropped_;
    dropped_ = 0;
    syslog(LOG_DAEMON | LOG_WARNING, "syslog: %u records dropped, the logger did not take them",
           dropped);
    sendmsg();
    if (dropped_ > 0) dropped_ += dropped;  // the note did not go either
}

void SysLogManager::reconnect() {
    disconnect();
    int options = options_;
    options_ |= LOG_NDELAY;
    connect_logger();
    options_ = options;
}

void SysLogManager::clear_batch() {
    std::memset(&message_, 0, sizeof message_);
    message_.msg_iov = entries_;
    used_ = 0;
    count_ = 0;
}

void SysLogManager::write_to_stderr(const char* text, int length) {
    iovec parts[2] = {{const_cast<char*>(text), size_t(length)}, {const_cast<char*>("\n"), 1}};
    bool endsLine = length > 0 && text[length - 1] == '\n';
    ssize_t ignored = ::writev(STDERR_FILENO, parts, endsLine ? 1 : 2);
    (void)ignored;
}

void SysLogManager::write_to_console(const char* text) {
    int fd = ::open(board::path("/dev/console").c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    dprintf(fd, "%s\r\n", text);
    ::close(fd);
}

// --- SysLogStreamBuf

// Each line is one record; text after the last line end goes as a record of
// its own. Text without a line end waits for more unless the area is full.
int SysLogStreamBuf::sync() {
    if (pbase() == nullptr) return 0;
    char* end = pptr();
    *end = '\0';
    char* line = pbase();
    char* lineEnd = find_line_end(line, end);
    if (lineEnd == nullptr && end < epptr()) return 0;
    while (lineEnd != nullptr) {
        *lineEnd = '\0';
        record(line);
        line = lineEnd + 1;
        lineEnd = find_line_end(line, end);
    }
    if (line < end) record(line);
    empty_area();
    flushed();
    return 0;
}

void SysLogStreamBuf::record(const char* line) {
    ::syslog(priority_, "%s", line);
}

void ManagedSysLogStreamBuf::record(const char* line) {
    syslogManager.syslog(priority_, "%s", line);
}

void ManagedSysLogStreamBuf::flushed() {
    syslogManager.sendmsg();
}
