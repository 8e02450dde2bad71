#pragma once
// The server's own syslog client and the stream buffers that turn each
// completed line of std::cout, std::cerr and std::clog into one syslog record
// (daemon mode). The records of one flush travel to the logger in one send.

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>

#include <cstdint>
#include <string>

#include "runtime/put_area_stream_buf.h"

// Talks to the system logger over its Unix socket "/dev/log" (a board path),
// with the BSD record format "<pri>Mmm dd hh:mm:ss ident[pid]: message".
// It does not wait on a logger that reads or accepts nothing, nor long on a
// slow one: what the logger does not take, and what is logged while there
// is no logger to take it, is dropped and counted, and said once it takes
// records again.
class SysLogManager {
public:
    static constexpr int kRecordSize = 1024;  // a record keeps 1022 characters
    static constexpr int kBatchSize = 16384;
    static constexpr int kBatchRecords = 256;
    static constexpr int kSendAt = 12289;  // bytes that make a batch go at once
    // The most the logger is waited on in all, in each period: for room in
    // its full queue and for a connection its full accept queue refuses.
    static constexpr int kRoomWaitMs = 500;
    static constexpr uint32_t kRoomPeriodMs = 10000;
    // How often, during that wait, a refused connect is tried again.
    static constexpr int kConnectRetryMs = 10;

    SysLogManager();
    ~SysLogManager() = default;
    SysLogManager(const SysLogManager&) = delete;
    SysLogManager& operator=(const SysLogManager&) = delete;

    // A null `ident` keeps the identity; a `facility` of 0 (or not a facility)
    // keeps the default one. Connects at once with LOG_NDELAY.
    void openlog(const char* ident, int options, int facility);
    // Disconnects and goes back to the identity "syslog-ox" and datagrams;
    // a pending batch is dropped, and the count of those dropped before and
    // the time waited in this period.
    void closelog();
    // Formats one record and adds it to the batch.
    void syslog(int priority, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Sends the batch in one call and empties it; the send's result, or 0
    // when nothing was sent. A failed send drops the connection; a batch the
    // logger does not take now is dropped and counted.
    int sendmsg();

    // Called with the socket each time the client connects to the logger
    // (at openlog, or when a record or a send finds it gone and reconnects).
    using ConnectHook = void (*)(int socket);
    void on_connect(ConnectHook hook) { onConnect_ = hook; }

    int socket() const { return fd_; }
    bool connected() const { return connected_; }
    int socket_type() const { return type_; }
    const std::string& ident() const { return ident_; }

private:
    void connect_logger();
    bool connect_socket();
    bool wait_to_connect();
    // Connects again with the current identity, as for LOG_NDELAY.
    void reconnect();
    void disconnect();
    bool add_to_batch(const char* record, int length);
    int send_to_logger();
    int send_without_waiting();
    bool wait_for_room();
    template <class Wait>
    bool wait_for_logger(int stepMs, Wait wait);
    void say_dropped();
    void clear_batch();
    void write_to_console(const char* text);
    void write_to_stderr(const char* text, int length);

    int type_ = SOCK_DGRAM;
    int fd_ = -1;
    bool connected_ = false;
    int options_ = 0;
    std::string ident_;
    int facility_ = LOG_USER;
    int mask_ = 255;
    sockaddr_un address_;
    char record_[kRecordSize];
    char data_[kBatchSize];
    int used_ = 0;
    msghdr message_;
    iovec entries_[kBatchRecords];
    int count_ = 0;
    // What a stream logger took only in part goes before the next batch.
    std::string unsent_;
    unsigned dropped_ = 0;  // records not taken since the logger took some
    // What is left of the wait on the logger in this period, from its first
    // wait on.
    bool roomPeriodStarted_ = false;
    uint32_t roomPeriodStart_ = 0;
    int roomLeftMs_ = 0;
    ConnectHook onConnect_ = nullptr;
};

extern SysLogManager syslogManager;

// A stream buffer that logs each completed line as one record with a fixed
// priority (facility | severity), through the C library's syslog.
class SysLogStreamBuf : public PutAreaStreamBuf {
public:
    SysLogStreamBuf(int facility, int severity) : SysLogStreamBuf(facility, severity, 1024) {}
    ~SysLogStreamBuf() override = default;

protected:
    // An area of `areaSize` bytes; its last byte is kept for the NUL.
    SysLogStreamBuf(int facility, int severity, int areaSize)
        : PutAreaStreamBuf(areaSize, 1), priority_(facility | severity) {}

    int sync() override;
    // Logs one line.
    virtual void record(const char* line);
    // Called once after the lines of one flush were logged.
    virtual void flushed() {}

    int priority_;
};

// The buffer daemon mode gives the standard streams: its records go through
// syslogManager, one send per flush, and it holds up to 16383 characters.
class ManagedSysLogStreamBuf : public SysLogStreamBuf {
public:
    ManagedSysLogStreamBuf(int facility, int severity)
        : SysLogStreamBuf(facility, severity, SysLogManager::kBatchSize) {}

protected:
    void record(const char* line) override;
    void flushed() override;
};
