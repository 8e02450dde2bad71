// The server executable connects to the SNMP agents of its configuration
// file and brings each up to date as it connects.

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/server_binary.h"
#include "tests/support/descriptors.h"
#include "tests/support/fake_snmp_peer.h"

namespace {

using Rows = std::vector<std::string>;

class SnmpAgents : public test::RunningServer {};

TEST_F(SnmpAgents, GetTheFullStateWhenTheyConnect) {
    test::FakeSnmpPeer agent;
    board.write_file("/usr/local/etc/server.conf", agent.section("zemb"));
    board.write_file("/proc/voice/version", "voice drv 2.1 b7\n");
    start();
    ASSERT_TRUE(agent.wait_until([&] { return test::without_pings(agent.messages()).size() >= 2; }))
        << server->output();
    EXPECT_TRUE(server->wait_for_output("snmpagent.zemb " + agent.host() + ": connected.\n"));

    const std::vector<MON::Message> got = test::without_pings(agent.messages());
    const Rows batch2 = test::set_rows(got[0]), batch4 = test::set_rows(got[1]);
    ASSERT_GE(batch2.size(), 3u);
    EXPECT_EQ((Rows{"driverBuild[0]=drv [2.1 b7]", "softwareBuild[0]=T240215-1841"}),
              Rows(batch2.begin(), batch2.begin() + 2));
    EXPECT_EQ(0u, std::count_if(batch2.begin(), batch2.end(),
                                [](const std::string& row) { return row.rfind("sg", 0) == 0; }));
    for (const char* row : {"sgBuildVersion[0]=", "sgFPGAVersion[0]=", "sgBootVersion[0]=",
                            "sgBoardVersion[0]="})
        EXPECT_EQ(1, std::count(batch4.begin(), batch4.end(), row)) << row;
    EXPECT_EQ(0u, agent.undecodable());
    stop();
}

size_t count_of(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The agent is away and the server runs out of descriptors as its link
// tries again: the link keeps trying, and connects once descriptors are
// free and the agent is back. The shortage is kept to the link's attempt
// at 3 s, away from the monitoring checks' first runs (at 1, 2 and 5 s):
// the sanitizer's first look at a type needs descriptors
// (tests/support/descriptor_shortage.h).
TEST_F(SnmpAgents, ConnectAgainAfterADescriptorShortage) {
    test::FakeSnmpPeer agent(test::FakeSnmpPeer::Start::away);
    board.write_file("/usr/local/etc/server.conf", agent.section("zemb"));
    start();
    const auto attempts = [&] { return count_of(server->err(), "connect to " + agent.host()); };
    ASSERT_TRUE(server->wait_until([&] { return attempts() >= 3; })) << server->output();
    server->run_for(800);

    rlimit before{};
    ASSERT_EQ(0, ::prlimit(server->pid(), RLIMIT_NOFILE, nullptr, &before));
    rlimit none = before;
    none.rlim_cur = static_cast<rlim_t>(test::lowest_free_descriptor(server->pid()));
    ASSERT_EQ(0, ::prlimit(server->pid(), RLIMIT_NOFILE, &none, nullptr));
    const bool short_of_descriptors =
        server->wait_for_output("can't create socket:Too many open files\n", 1500);
    ASSERT_EQ(0, ::prlimit(server->pid(), RLIMIT_NOFILE, &before, nullptr));
    ASSERT_TRUE(short_of_descriptors) << server->output();

    agent.come_back();
    EXPECT_TRUE(agent.wait_until([&] { return agent.connected(); }, 5000)) << server->output();
    stop();
}

}  // namespace
