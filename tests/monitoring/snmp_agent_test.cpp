// The SNMP agent links: read from the "snmpagent" sections, connected to an
// agent that the test plays on loopback.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "asn1/per_encoder.h"
#include "monitoring/snmp_agent.h"
#include "tests/support/board_root.h"
#include "tests/support/fake_snmp_peer.h"
#include "tests/support/stream_capture.h"
#include "tests/support/throttled_lines.h"
#include "tests/support/tpkt.h"
#include "tests/support/virtual_loop.h"

namespace {

std::string lines_starting_with(const std::string& text, const std::string& prefix) {
    std::istringstream in(text);
    std::string line, kept;
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0) kept += line + "\n";
    return kept;
}

class Listener : public ISnmpAgentNotify {
public:
    void OnSnmpAgentConnect(const std::string& name) override { connected.push_back(name); }
    std::vector<std::string> connected;
};

class SnmpAgents : public ::testing::Test {
protected:
    void configure(const std::string& text) {
        std::istringstream in(text);
        in >> file;
        feed.CreateInstances(file["snmpagent"]);
        feed.Bind(&listener);
    }

    const SnmpAgentInstance& agent(size_t index) const {
        auto it = feed.instances().begin();
        std::advance(it, index);
        return **it;
    }

    test::BoardRoot board;
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    test::StreamCapture notices{std::cout};
    test::StreamCapture errors{std::cerr};
    test::StreamCapture progress{std::clog};
    IniFile::File file;
    Listener listener;
    SnmpAgentCtrl feed;
};

TEST_F(SnmpAgents, AreReadOnePerSection) {
    configure(
        "[snmpagent]\nhost = 127.0.0.5:7001\nname = zemb\n"
        "[snmpagent]\nhost = 127.0.0.6\nname = varkgw\n"
        "[snmpagent]\nhost = 127.0.0.7:7001\nname = anything\n"
        "[snmpagent]\nhost = 127.0.0.8:7002\nname = 6\n"
        "[snmpagent]\nname = varkgw.ox\n");
    ASSERT_EQ(5u, feed.instances().size());

    ASSERT_TRUE(agent(0).link());
    EXPECT_EQ("snmpagent.zemb 127.0.0.5:7001", agent(0).link()->service_name());
    EXPECT_EQ(SnmpAgentInstance::zemb, agent(0).addressType());

    EXPECT_FALSE(agent(1).link());  // no port: no link, and no complaint
    EXPECT_EQ(SnmpAgentInstance::varkgw, agent(1).addressType());

    EXPECT_FALSE(agent(2).link());
    ASSERT_TRUE(agent(3).link());
    EXPECT_EQ(6, agent(3).addressType());
    EXPECT_FALSE(agent(4).link());

    // Whether a connection attempt has failed yet is not the reader's business.
    EXPECT_EQ("snmpagent: required key \"name\" has invalid value=\"anything\", line 9\n"
              "snmpagent: required key \"host\" not present, line 13\n",
              lines_starting_with(errors.str(), "snmpagent: "));
}

// Every port given but out of range is reported, however the build reads
// numbers; the ends of the range get their links.
TEST_F(SnmpAgents, WithABadAddressOrPortGetNoLink) {
    const std::vector<std::string> refused = {"gateway:7001", "10.0.0.5:0", "10.0.0.5:70000",
                                              "10.0.0.5:-7001", "10.0.0.5:4294967295",
                                              "10.0.0.5:4294967297"};
    std::string config, expected;
    for (size_t i = 0; i < refused.size(); ++i) {
        config += "[snmpagent]\nhost = " + refused[i] + "\nname = zemb\n";
        expected += "snmpagent: key \"host\" has invalid value=\"" + refused[i] + "\", line " +
                    std::to_string(3 * i + 2) + "\n";
    }
    configure(config + "[snmpagent]\nhost = 127.0.0.5:65535\nname = zemb\n"
                       "[snmpagent]\nhost = 127.0.0.5:1\nname = zemb\n");
    for (size_t i = 0; i < refused.size(); ++i) EXPECT_FALSE(agent(i).link()) << refused[i];
    for (size_t i = refused.size(); i < refused.size() + 2; ++i) EXPECT_TRUE(agent(i).link()) << i;
    EXPECT_EQ(expected, lines_starting_with(errors.str(), "snmpagent: "));
}

// An agent on loopback that the feed connects to.
class LiveAgent : public SnmpAgents {
protected:
    void SetUp() override {
        configure(peer.section());
        ASSERT_TRUE(test::pump_until(loop, {&peer}, [&] { return !listener.connected.empty(); }));
        header = "snmpagent.zemb " + peer.host();
    }

    SnmpAgentInstance& instance() { return *feed.instances().front(); }

    // The messages the agent has received since the last call.
    std::vector<MON::Message> received() {
        peer.poll();
        std::vector<MON::Message> messages = peer.messages();
        peer.clear();
        return messages;
    }

    void agent_sends(const std::string& payload) {
        ASSERT_TRUE(peer.send_raw(test::tpkt_frame(payload)));
        loop.pump(2);
    }

    test::FakeSnmpPeer peer;
    std::string header;
};

TEST_F(LiveAgent, ConnectsAndTellsItsListener) {
    EXPECT_NE(std::string::npos, progress.str().find(header + ": connected.\n")) << progress.str();
    EXPECT_EQ(std::vector<std::string>{"zemb"}, listener.connected);
}

TEST_F(LiveAgent, SendsCommandsAndPingsFiveSecondsAfterTheLast) {
    MON::Command trapsinks;
    trapsinks.select_snmp_trapsink_set();
    instance().Command(trapsinks);
    loop.pump();
    auto messages = received();
    ASSERT_EQ(1u, messages.size());
    EXPECT_TRUE(test::command_of(messages[0])->is_snmp_trapsink_set());

    loop.advance(4999);
    EXPECT_TRUE(received().empty());
    loop.advance(1);
    messages = received();
    ASSERT_EQ(1u, messages.size());
    EXPECT_TRUE(test::is_ping(messages[0]));
}

TEST_F(LiveAgent, DropsAnAgentSilentForMoreThanThirtySeconds) {
    peer.answer_pings(false);
    MON::Command ping;
    ping.select_ping();
    instance().Command(ping);
    loop.advance(29000);
    agent_sends(std::string("\x20", 1));  // anything keeps the link alive
    loop.advance(30000);  // pings every 5 s, the last 30 s after the agent spoke
    EXPECT_EQ(std::string::npos, progress.str().find("ping timeout")) << progress.str();

    loop.advance(5000);  // the first ping more than 30 s after the agent spoke
    EXPECT_NE(std::string::npos, progress.str().find(header + ": ping timeout !!! now="))
        << progress.str();
    loop.pump(2);
    EXPECT_NE(std::string::npos,
              progress.str().find(header + ": connection lost, reset snmpagent instance\n"));
}

TEST_F(LiveAgent, ReportsFramesThatDoNotDecode) {
    agent_sends(std::string("\xff\xff\xff", 3));
    EXPECT_EQ(header + ": receive : decode error!\n", errors.str());

    MON::Message command;
    command.get_pdu().select_command().select_ping();
    std::vector<char> octets;
    ASN1::PEREncoder encoder(octets);
    ASSERT_TRUE(command.accept(encoder));
    errors.clear();
    agent_sends(std::string(octets.begin(), octets.end()));
    EXPECT_EQ(header + ": receive unknown message type\n", errors.str());

    // An agent that sends on gets a line a second of each kind, the next
    // one saying how many were held back.
    errors.clear();
    for (int second = 0; second < 2; ++second) {
        loop.advance(1000);
        for (int k = 0; k < 3; ++k) {
            agent_sends(std::string("\xff\xff\xff", 3));
            agent_sends(std::string(octets.begin(), octets.end()));
        }
    }
    for (const char* line : {": receive : decode error!", ": receive unknown message type"})
        EXPECT_TRUE(test::written_twice_with_a_count(errors.str(), line, 2));
}

}  // namespace
