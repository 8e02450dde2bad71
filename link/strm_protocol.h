#pragma once
// The bottom layer of a message link: a protocol layer over one connected
// stream socket. It hands whatever the socket has upwards, unframed, and
// writes each packet it is given completely (waiting at most one second in
// all) or gives the connection up. Every socket failure becomes a
// deactivation with an error status that climbs to the link.

#include <cstdint>
#include <iosfwd>
#include <string>

#include "link/protocol.h"
#include "runtime/fd.h"
#include "runtime/measure.h"
#include "runtime/multiplexer.h"

// When non-zero the destructor logs its entry.
extern int strm_protocol_debug;

class StrmProtocol : public Protocol {
public:
    StrmProtocol();
    explicit StrmProtocol(const Fd& fd);
    ~StrmProtocol() override;

    // Keeps a duplicate of `fd` (closing the old socket).
    void attach(const Fd& fd);
    // Stops reading and closes the socket.
    void release();
    bool attached() const { return static_cast<bool>(socket_); }
    // The connection's socket, -1 when none is attached.
    int descriptor() const { return socket_.get(); }

    void PutHeader(std::ostream& os) const;
    void set_display_name(const std::string& name) { displayName_ = name; }
    const std::string& display_name() const { return displayName_; }
    void set_debug(bool on) { debug_ = on; }

    // Socket figures for the log lines.
    int sendbuf_space() const;
    int recvbuf_space() const;
    int inq_space() const;
    int outq_space() const;
    int free_space() const;

    const Measure& read_measure() const { return readTiming_; }
    const Measure& write_measure() const { return writeTiming_; }
    uint32_t overflow_counter() const { return overflowCounter_; }

    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;
    void local_activate() override;
    void local_deactivate() override;
    void message(Packet& p) override;

private:
    void init();
    void on_event(int fd, short revents);
    void on_error(const std::string& text);
    void do_read();
    // Waits for room in the socket; false when `timeLeftMs` ran out.
    bool wait_writable(int timeLeftMs);
    int socket_option(int name) const;           // at SOL_SOCKET
    int queue_bytes(unsigned long request) const;  // FIONREAD or TIOCOUTQ
    // Starts a log line: the header, `what` and the socket figures.
    std::ostream& report(std::ostream& os, const char* what) const;

    Protocol_name_str fixedName_{"StrmProtocol"};
    Fd socket_;
    bool outqReportsFreeSpace_ = false;
    bool debug_ = false;
    std::string displayName_;
    Event event_;
    Measure readTiming_;
    Measure writeTiming_;
    uint32_t overflowCounter_ = 0;
};
