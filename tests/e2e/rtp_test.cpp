// RTP slots of the server executable: each says who it is when it starts and
// BYE however it ends.
#include <gtest/gtest.h>
#include <signal.h>

#include <optional>
#include <string>

#include "tests/e2e/server_binary.h"
#include "tests/support/remote_controller.h"
#include "tests/support/rtp_commands.h"
#include "tests/support/udp_peer.h"

namespace {

constexpr int kWaitMs = 10000;
constexpr unsigned kSlot = 5;

enum class End { Destroy, ControllerLeaves, Sigterm };

class RtpSession : public test::RunningServer, public ::testing::WithParamInterface<End> {};

TEST_P(RtpSession, StartsWithTheSourceDescriptionAndEndsWithBye) {
    start();
    std::optional<test::RemoteController> controller(std::in_place);
    ASSERT_TRUE(controller->connect(port)) << server->output();
    test::UdpPeer peer;
    controller->send(test::rtp_create_command(peer.rtp_port(), test::free_udp_pair(), 0xCAFE), 1,
                     kSlot);
    auto reply = controller->receive_until(test::is_response);
    ASSERT_TRUE(reply && test::is_success(*reply)) << server->output();
    auto sdes = peer.rtcp(kWaitMs);
    ASSERT_EQ(1u, sdes.size()) << server->output();
    EXPECT_EQ(202, test::parse_rtcp(sdes[0]).pt);

    switch (GetParam()) {
        case End::Destroy:
            controller->send(test::command(LGCP::Command::Alternative::destroy), 2, kSlot);
            reply = controller->receive_until(test::is_response);
            ASSERT_TRUE(reply && test::is_success(*reply)) << server->output();
            break;
        case End::ControllerLeaves:
            controller.reset();
            break;
        case End::Sigterm:
            server->signal(SIGTERM);
            break;
    }
    auto bye = peer.rtcp(kWaitMs);
    ASSERT_EQ(1u, bye.size()) << server->output();
    const test::Rtcp parsed = test::parse_rtcp(bye[0]);
    EXPECT_EQ(203, parsed.pt);
    EXPECT_EQ(0xCAFEu, parsed.ssrc);
    EXPECT_EQ("session end", parsed.reason);
    if (GetParam() == End::Sigterm)
        EXPECT_EQ(0, server->wait_exit()) << server->output();
    else
        stop();
}

std::string EndName(const ::testing::TestParamInfo<End>& info) {
    static const char* const names[] = {"Destroy", "ControllerLeaves", "Sigterm"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Server, RtpSession,
                         ::testing::Values(End::Destroy, End::ControllerLeaves, End::Sigterm),
                         EndName);

}  // namespace
