#pragma once
// End-to-end testing of the controller link. `ServerHarness` runs the server
// in-process: a fresh simulated board, the loop on a virtual clock, and the
// controller server listening on a free loopback port with the given
// services bound. `TestController` is a controller with TPKT framing of its
// own and the project's PER coder, on a non-blocking socket: while it waits
// it pumps single loop passes, so nothing ever blocks.
//
//   test::ServerHarness server;                  // binds the heartbeat
//   test::TestController c(server);
//   ASSERT_TRUE(c.connect());
//   c.send(test::ping(), 7);                     // seq 7, no slot
//   auto answer = c.receive();
//   EXPECT_TRUE(test::is_success(*answer));
//   server.advance(120000);                      // virtual time
//   EXPECT_TRUE(c.closed_by_server());

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/ctrl_server.h"
#include "messages/lgcp.h"
#include "runtime/fd.h"
#include "tests/support/board_root.h"
#include "tests/support/tpkt.h"
#include "tests/support/virtual_loop.h"

namespace test {

// What both test controllers do with the server's bytes: cut them into TPKT
// frames, decode each as an LGCP::Message and queue it until it is taken.
class ControllerInbox {
public:
    void feed(const std::string& bytes);
    // The first queued message that satisfies `wanted`; those before it are
    // dropped.
    std::optional<LGCP::Message> take(const std::function<bool(const LGCP::Message&)>& wanted);
    // Frames that did not decode as an LGCP::Message.
    unsigned undecodable() const { return undecodable_; }

private:
    TpktReader reader_;
    std::deque<LGCP::Message> received_;
    unsigned undecodable_ = 0;
};

class ServerHarness {
public:
    // The heartbeat alone unless told otherwise; they are bound in order.
    ServerHarness();
    explicit ServerHarness(const std::vector<CtrlSrv::Service*>& services);
    ~ServerHarness();
    ServerHarness(const ServerHarness&) = delete;
    ServerHarness& operator=(const ServerHarness&) = delete;

    // Makes a service on this server's board and loop and binds it after
    // the others; it lives as long as the server.
    template <class S, class... Args>
    S& add(Args&&... args) {
        auto service = std::make_unique<S>(std::forward<Args>(args)...);
        S& bound = *service;
        CtrlSrv::ctrlServer.Bind(&bound);
        added_.push_back(std::move(service));
        return bound;
    }

    unsigned short port() const { return port_; }
    const BoardRoot& board() const { return board_; }
    VirtualLoop& loop() { return loop_; }
    void pump(unsigned passes = 1) { loop_.pump(passes); }
    // Moves virtual time on, firing every timer at its due time.
    void advance(uint64_t ms) { loop_.advance(ms); }
    // The server's link is serving a controller.
    bool serving() const;

private:
    BoardRoot board_;
    VirtualLoop loop_;
    unsigned short port_;
    std::vector<std::unique_ptr<CtrlSrv::Service>> added_;
};

class TestController {
public:
    // How many loop passes a wait pumps before it gives up.
    static constexpr unsigned default_passes = 20;

    explicit TestController(ServerHarness& server) : server_(server) {}

    // Connects and pumps until the server serves this controller: false when
    // it was refused.
    bool connect();
    // One message with the command; a slot above 1023 is sent as the wire
    // allows it (the encoder itself refuses it).
    void send(const LGCP::Command& command, std::optional<int> seq = {},
              std::optional<unsigned> slot = {});
    void send(const LGCP::Message& message);
    void send_frame(const std::string& payload);
    // Bytes as they are, without framing.
    void send_raw(const std::string& bytes);

    // The next message from the server, pumping up to `passes` passes.
    std::optional<LGCP::Message> receive(unsigned passes = default_passes);
    // The first message that satisfies `wanted`; those before it are dropped.
    std::optional<LGCP::Message> receive_until(const std::function<bool(const LGCP::Message&)>& wanted,
                                               unsigned passes = default_passes);
    // Pumps until the server has closed the connection.
    bool closed_by_server(unsigned passes = default_passes);
    void close() { socket_.close(); }

    // "127.0.0.1:port" of this end, as the server names its peer.
    std::string address() const;
    // Frames that did not decode as an LGCP::Message.
    unsigned undecodable() const { return inbox_.undecodable(); }

private:
    // Reads what has arrived into the inbox; false once the server closed.
    bool collect();

    ServerHarness& server_;
    Fd socket_;
    ControllerInbox inbox_;
};

// Builders and readers for tests.
LGCP::Command ping();
LGCP::Command command(LGCP::Command::Alternative alternative);
// The aligned-PER octets of a message, and a message that has a slot above
// the range written into them.
std::string encode(const LGCP::Message& message);
std::string encode_with_slot(LGCP::Message message, unsigned slot);
// The octets of a message with a field the encoder refuses at `lowest +
// offset`: `atLowest` and `atHighest`, the message with the field at its
// range's ends, differ only in the field's two aligned octets (a range of
// 257 to 65536 values), which take the offset as the wire allows it.
std::string encode_beyond(const LGCP::Message& atLowest, const LGCP::Message& atHighest,
                          unsigned offset);
// The TPKT frame of a message with the command; a slot above 1023 is written
// as the wire allows it (the encoder itself refuses it).
std::string command_frame(const LGCP::Command& command, std::optional<int> seq = {},
                          std::optional<unsigned> slot = {});
// Fills `message` from aligned-PER octets; false when they do not decode.
bool decode(const std::string& octets, LGCP::Message& message);

std::optional<int> seq_of(const LGCP::Message& message);
std::optional<unsigned> slot_of(const LGCP::Message& message);
bool is_response(const LGCP::Message& message);
bool is_signal(const LGCP::Message& message);
bool is_success(const LGCP::Message& message);
std::optional<LGCP::ErrorCause::NamedNumber> error_of(const LGCP::Message& message);

}  // namespace test
