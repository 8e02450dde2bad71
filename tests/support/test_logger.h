#pragma once
// A system logger for tests: a Unix socket at the board's "/dev/log" that
// hands back what the syslog client (ours, or a server started as a
// process) sent, split into its records.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

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
    // Listens with a datagram socket, or with a stream socket.
    explicit TestLogger(const BoardRoot& board, int type = SOCK_DGRAM)
        : path_(board.dir() + "/dev/log") {
        ::unlink(path_.c_str());
        socket_.reset(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        ok_ = ::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (type == SOCK_STREAM) ok_ = ok_ && ::listen(socket_.get(), 4) == 0;
    }
    ~TestLogger() { ::unlink(path_.c_str()); }

    bool ok() const { return ok_; }

    // The records of the next datagram; empty when none comes within
    // `timeoutMs` (a bound for delivery by another process, not a delay).
    std::vector<std::string> next_batch(int timeoutMs = 0) {
        std::string bytes = receive(socket_.get(), timeoutMs);
        return split(bytes);
    }

    // The raw bytes of the next datagram.
    std::string next_datagram(int timeoutMs = 0) { return receive(socket_.get(), timeoutMs); }

    // Collects datagrams until they hold `text`; false when none did within
    // `timeoutMs` (a bound for delivery by another process).
    bool wait_for(const std::string& text, int timeoutMs) {
        Deadline deadline(timeoutMs);
        while (received_.find(text) == std::string::npos) {
            if (deadline.passed()) return false;
            received_ += receive(socket_.get(), deadline.remaining_ms());
        }
        return true;
    }
    // Collects what arrives within `timeoutMs`: a process that logs to a
    // logger nobody reads blocks once the socket's queue is full.
    void collect(int timeoutMs) { received_ += receive(socket_.get(), timeoutMs); }

    // The raw bytes wait_for has collected, for failure messages.
    const std::string& received() const { return received_; }

    // Stream logger: the records that have arrived on the accepted connection.
    std::vector<std::string> stream_records() { return split(stream_bytes()); }
    // Stream logger: the bytes that have arrived, which may end inside a record.
    std::string stream_bytes() {
        if (!connection_)
            connection_.reset(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        std::string bytes;
        for (std::string piece; !(piece = receive(connection_.get(), 0)).empty();) bytes += piece;
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
    static std::string receive(int fd, int timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) return "";
        std::vector<char> buffer(65536);
        ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        return n > 0 ? std::string(buffer.data(), size_t(n)) : "";
    }

    std::string path_;
    Fd socket_;
    Fd connection_;
    bool ok_ = false;
    std::string received_;
};

}  // namespace test
