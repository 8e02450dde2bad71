#pragma once
// An SNMP agent process as the server sees one: it listens on 127.0.0.1,
// takes the server's connection, cuts the stream into TPKT frames, decodes
// each as a MON::Message with the project's PER coder and records it,
// strictly: a character outside its string's set (an IA5 octet above 127)
// fails the whole message, as it does in a strict agent's decoder. It
// answers pings unless told to stay silent, and can close the connection.
// It never blocks: in-process it polls between loop passes, against the
// server binary it waits in real time with a bound.
//
//   test::FakeSnmpPeer peer;
//   config << peer.section("zemb");              // [snmpagent] host, name
//   ASSERT_TRUE(test::pump_until(loop, {&peer}, [&] { return peer.messages().size() >= 2; }));
//   EXPECT_EQ(rows, test::set_rows(peer.messages()[0]));

#include <functional>
#include <string>
#include <vector>

#include "messages/mon.h"
#include "runtime/fd.h"
#include "tests/support/tpkt.h"
#include "tests/support/virtual_loop.h"

namespace test {

class FakeSnmpPeer {
public:
    static constexpr int default_timeout_ms = 20000;

    // Listening at once, or away: its port refuses connections until it
    // comes back.
    enum class Start { listening, away };

    explicit FakeSnmpPeer(Start start = Start::listening);
    FakeSnmpPeer(const FakeSnmpPeer&) = delete;
    FakeSnmpPeer& operator=(const FakeSnmpPeer&) = delete;

    unsigned short port() const { return port_; }
    // "127.0.0.1:port".
    std::string host() const;
    // A configuration section naming this peer as an agent of kind `name`.
    std::string section(const std::string& name = "zemb") const;

    // An agent away starts listening.
    void come_back();
    // Whether a ping gets its answer (the default) or nothing.
    void answer_pings(bool answer) { answerPings_ = answer; }
    // Closes the server's connection; the next one is taken when it comes.
    void close();
    // Writes bytes as they are (a frame of test::tpkt_frame, or junk).
    bool send_raw(const std::string& bytes);

    // Takes a waiting connection and whatever has arrived; never blocks.
    void poll();
    // Polls in real time until `done` holds or the time runs out.
    bool wait_until(const std::function<bool()>& done, int timeoutMs = default_timeout_ms);

    bool connected() const { return bool(connection_); }
    // Connections taken so far.
    unsigned connections() const { return connections_; }
    // Every message received, in order; and the frames that did not decode.
    const std::vector<MON::Message>& messages() const { return messages_; }
    unsigned undecodable() const { return undecodable_; }
    void clear() { messages_.clear(); }

private:
    void accept();
    void receive();
    void answer(const MON::Message& message);

    unsigned short port_ = 0;  // before the listener, which sets it
    Fd listener_;
    Fd connection_;
    TpktReader reader_;
    bool answerPings_ = true;
    unsigned connections_ = 0;
    std::vector<MON::Message> messages_;
    unsigned undecodable_ = 0;
};

// In-process: pumps loop passes, every peer polling before each, until
// `done` holds or `passes` have run.
bool pump_until(VirtualLoop& loop, const std::vector<FakeSnmpPeer*>& peers,
                const std::function<bool()>& done, unsigned passes = 20);

// Readers of what the server sends an agent.
const MON::Command* command_of(const MON::Message& message);
bool is_ping(const MON::Message& message);
// The set-commands of a command or message, each as "name[index]=value" (or
// "oid:text=value"); none when it carries no snmp-set.
std::vector<std::string> set_rows(const MON::Command& command);
std::vector<std::string> set_rows(const MON::Message& message);
std::vector<int> set_uniqs(const MON::Message& message);
// The hosts of a trap-sink message; none for other messages.
std::vector<std::string> trapsink_hosts(const MON::Message& message);
// The messages that are not pings.
std::vector<MON::Message> without_pings(const std::vector<MON::Message>& messages);

}  // namespace test
