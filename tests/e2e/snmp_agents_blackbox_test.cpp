// The server executable connects to the SNMP agents of its configuration
// file and brings each up to date as it connects.

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/server_binary.h"
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

}  // namespace
