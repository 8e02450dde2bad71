// What the controller displays reaches the SNMP agents: the server runs
// in-process with its monitoring service, a test controller sends display
// commands and a fake agent on loopback records what the server feeds it.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "monitoring/monitoring_ctl.h"
#include "tests/monitoring/monitoring_values.h"
#include "tests/support/fake_snmp_peer.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

namespace {

using Rows = std::vector<std::string>;

TEST(SnmpAgentsInProcess, ReceiveWhatTheControllerDisplays) {
    test::StreamCapture notices{std::cout}, errors{std::cerr}, progress{std::clog};
    test::ServerHarness server;
    test::FakeSnmpPeer agent;
    MonitoringCtl& monitoring = server.add<MonitoringCtl>();
    IniFile::File file;
    std::istringstream(agent.section()) >> file;
    monitoring.Configure(file);
    test::TestController controller(server);
    ASSERT_TRUE(controller.connect());
    test::pump_until(server.loop(), {&agent}, [] { return false; }, 5);
    agent.clear();  // the re-send of its connection, the power state the controller learnt
    LGCP::DisplayParams board, phone, counter, sets;
    board.set_board(test::board_status(2, LGCP::ExtBoardStatus::waitBoard, "4.1",
                                       LGCP::ExtBoardType::isdn));
    phone.set_emPhone(test::phone_status(3, "p", "c", "f"));
    counter.set_termCounter(test::counter(LGCP::TermCounterOwner::server, {}, 12));
    sets.set_snmp_set(test::set_commands({test::set_by_oid(40, "1.3.6.1.2.1.1.5.0", "gw")}));
    for (const auto* p : {&board, &phone, &counter, &sets}) {
        LGCP::Command command;
        command.set_display(*p);
        controller.send(command, 1);
        auto answer = controller.receive_until(test::is_response);
        ASSERT_TRUE(answer && test::is_success(*answer));
    }
    test::pump_until(server.loop(), {&agent}, [] { return false; }, 5);

    const std::vector<MON::Message> got = test::without_pings(agent.messages());
    ASSERT_EQ(5u, got.size());
    EXPECT_EQ((Rows{"extBoardStatus[2]=2", "extBoardSoftVer[2]=4.1", "extBoardType[2]=1"}),
              test::set_rows(got[0]));
    EXPECT_EQ((Rows{"emPhonePanelSoftVer[4]=p", "emPhoneCtrlSoftVer[4]=c", "emPhoneFpgaSoftVer[4]=f",
                    "emPhoneStatus[4]=2", "emPhonePowerStatus[4]=2", "emPhoneMode[4]=1",
                    "emPhoneHookStatus[4]=1", "emPhoneBaseStatus[4]=2"}),
              test::set_rows(got[1]));
    EXPECT_EQ(Rows{"serverTermCnt[0]=12"}, test::set_rows(got[2]));
    EXPECT_EQ(Rows{"serverTermCnt[0]=12"}, test::set_rows(got[3]));
    EXPECT_EQ(Rows{"oid:1.3.6.1.2.1.1.5.0=gw"}, test::set_rows(got[4]));
    EXPECT_EQ(std::vector<int>{40}, test::set_uniqs(got[4]));
}

}  // namespace
