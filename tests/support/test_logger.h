#pragma once
// A system logger for tests: a Unix socket at the board's "/dev/log" that
// hands back what the syslog client (ours, or a server started as a
// process) sent, split into its records. A stream logger accepts each
// connection as it comes, unless it was told to accept nothing.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/fd.h"
#include "runtime/mux_time.h"
#include "tests/support/board_root.h"
#include "tests/support/deadline.h"

namespace test {

class TestLogger {
public:
    // Listens with a datagram socket, or with a stream socket whose accept
    // queue holds `backlog` connections (a backlog of 0 holds one).
    explicit TestLogger(const BoardRoot& board, int type = SOCK_DGRAM, int backlog = 4)
        : path_(board.dir() + "/dev/log"), type_(type) {
        std::strncpy(address_.sun_path, path_.c_str(), sizeof address_.sun_path - 1);
        restart(backlog);
    }
    ~TestLogger() { ::unlink(path_.c_str()); }

    bool ok() const { return ok_; }

    // Ends, and its clients' connections with it, then listens again at the
    // same path; what it received stays.
    void restart(int backlog = 4) {
        connections_.clear();
        others_.clear();
        accepting_ = true;
        ::unlink(path_.c_str());
        socket_.reset(::socket(AF_UNIX, type_ | SOCK_CLOEXEC, 0));
        ok_ = ::bind(socket_.get(), address(), sizeof address_) == 0;
        if (type_ == SOCK_STREAM) ok_ = ok_ && ::listen(socket_.get(), backlog) == 0;
    }

    // Stream logger: accepts nothing from now on, and other programs'
    // connections fill its accept queue, so that a connect to it waits (or,
    // not blocking, is refused with EAGAIN) until it accepts again.
    void accept_nothing() {
        accepting_ = false;
        for (;;) {
            Fd other(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            if (::connect(other.get(), address(), sizeof address_) != 0) return;
            others_.push_back(std::move(other));
        }
    }
    // Stream logger: accepts again, the other programs' connections first.
    void accept_again() {
        accepting_ = true;
        accept_waiting();
        others_.clear();
    }

    // The records of the next datagram; empty when none comes within
    // `timeoutMs` (a bound for delivery by another process, not a delay).
    std::vector<std::string> next_batch(int timeoutMs = 0) {
        std::string bytes = receive(socket_.get(), timeoutMs);
        return split(bytes);
    }

    // The raw bytes of the next datagram.
    std::string next_datagram(int timeoutMs = 0) { return receive(socket_.get(), timeoutMs); }

    // Collects datagrams, or a stream logger's bytes, until they hold
    // `text`; false when none did within `timeoutMs` (a bound for delivery
    // by another process).
    bool wait_for(const std::string& text, int timeoutMs) {
        Deadline deadline(timeoutMs);
        while (received_.find(text) == std::string::npos) {
            if (deadline.passed()) return false;
            received_ += receive_any(deadline.remaining_ms());
        }
        return true;
    }
    // Collects what arrives within `timeoutMs`: a process that logs to a
    // logger nobody reads blocks once the socket's queue is full.
    void collect(int timeoutMs) { received_ += receive_any(timeoutMs); }

    // The raw bytes wait_for has collected, for failure messages.
    const std::string& received() const { return received_; }

    // Stream logger: the records that have arrived on its connections.
    std::vector<std::string> stream_records() { return split(stream_bytes()); }
    // Stream logger: the bytes that have arrived, which may end inside a
    // record; the connections waiting are accepted first, and read in the
    // order they came.
    std::string stream_bytes() {
        accept_waiting();
        std::string bytes;
        for (auto connection = connections_.begin(); connection != connections_.end();)
            connection =
                drain(connection->get(), bytes) ? connection + 1 : connections_.erase(connection);
        return bytes;
    }

    // Records are NUL-terminated texts.
    static std::vector<std::string> split(const std::string& bytes) {
        std::vector<std::string> records;
        std::string::size_type start = 0, nul;
        while ((nul = bytes.find('\0', start)) != std::string::npos) {
            records.push_back(bytes.substr(start, nul - start));
            start = nul + 1;
        }
        if (start < bytes.size()) records.push_back(bytes.substr(start) + "<no NUL>");
        return records;
    }

    // The time part of a record stamped now by the loop clock.
    static std::string time_text() {
        time_t seconds = Mux::seconds();
        struct tm local;
        localtime_r(&seconds, &local);
        char text[32];
        std::strftime(text, sizeof text, "%h %e %T ", &local);
        return text;
    }

private:
    sockaddr* address() { return reinterpret_cast<sockaddr*>(&address_); }

    void accept_waiting() {
        pollfd waiting{socket_.get(), POLLIN, 0};
        while (accepting_ && ::poll(&waiting, 1, 0) == 1)
            connections_.emplace_back(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    }

    // A datagram, or what a stream logger's connections bring.
    std::string receive_any(int timeoutMs) {
        if (type_ != SOCK_STREAM) return receive(socket_.get(), timeoutMs);
        Deadline deadline(timeoutMs);
        for (;;) {
            std::string bytes = stream_bytes();
            if (!bytes.empty() || deadline.passed()) return bytes;
            std::vector<pollfd> watched;
            if (accepting_) watched.push_back({socket_.get(), POLLIN, 0});
            for (const Fd& connection : connections_)
                watched.push_back({connection.get(), POLLIN, 0});
            ::poll(watched.data(), watched.size(), deadline.remaining_ms());
        }
    }

    // Appends what the connection holds; false once its client has gone.
    static bool drain(int fd, std::string& bytes) {
        std::vector<char> buffer(65536);
        for (;;) {
            ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n <= 0) return n < 0 && (errno == EAGAIN || errno == EINTR);
            bytes.append(buffer.data(), size_t(n));
        }
    }

    static std::string receive(int fd, int timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) return "";
        std::vector<char> buffer(65536);
        ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        return n > 0 ? std::string(buffer.data(), size_t(n)) : "";
    }

    std::string path_;
    int type_;
    sockaddr_un address_{AF_UNIX, {}};
    Fd socket_;
    bool accepting_ = true;
    std::vector<Fd> connections_;
    std::vector<Fd> others_;  // other programs' connections, never accepted
    bool ok_ = false;
    std::string received_;
};

}  // namespace test
