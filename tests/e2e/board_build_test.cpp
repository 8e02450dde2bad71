// The board's own build of the server (32-bit big-endian PowerPC, on the
// simulated board) run under user-mode emulation and driven as a controller
// drives it: what it puts on the wire and in its status files must be, byte
// for byte, what this host's build puts there. scripts/test_ppc.sh builds
// that server and names it in PPC_SERVER, with the emulator in PPC_EMULATOR
// and the target's libraries in PPC_SYSROOT.

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/server_binary.h"
#include "tests/monitoring/monitoring_values.h"
#include "tests/support/remote_controller.h"
#include "tests/support/rtp_commands.h"
#include "tests/support/slot_commands.h"
#include "tests/support/udp_peer.h"

namespace {

using Alternative = LGCP::Command::Alternative;

// Emulated start-up and first answers take seconds, not milliseconds.
constexpr int kWaitMs = 60000;
constexpr unsigned kTrunkSlot = 10;
constexpr unsigned kRtpSlot = 11;
constexpr uint32_t kSsrc = 0xCAFE;

std::string env_or(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// What a far end and the board's other programs saw of the day.
struct Seen {
    test::Bytes sdes;
    test::Bytes bye;
    std::string boardFile;
};

class BoardBuild : public ::testing::Test {
protected:
    // Starts `program` with `args` and a free port, plays the controller's
    // working day on it and stops it.
    Seen working_day(const std::string& program, std::vector<std::string> args) {
        Seen seen;
        test::BoardRoot board;
        test::FileWatch monitoring(board.dir() + "/var/monitoring");
        const unsigned short port = test::free_port();
        args.insert(args.end(), {"--port", std::to_string(port)});
        test::ServerProcess server(program, args);
        EXPECT_TRUE(server.wait_for_output(test::kStarting + std::to_string(port) + "\n", kWaitMs))
            << server.output();
        test::RemoteController controller;
        if (!controller.connect(port, kWaitMs)) {
            ADD_FAILURE() << "no controller link\n" << server.output();
            return seen;
        }
        test::UdpPeer peer;
        auto answered = [&](const LGCP::Command& command, unsigned slot) {
            controller.send(command, ++seq_, slot);
            auto reply = controller.receive_until(test::is_response, kWaitMs);
            return reply && test::is_success(*reply);
        };

        controller.send(test::ping(), ++seq_);
        auto pong = controller.receive_until(test::is_response, kWaitMs);
        EXPECT_TRUE(pong && test::is_success(*pong)) << server.output();
        controller.send(test::command(Alternative::query), ++seq_);
        auto resources = controller.receive_until(
            [](const LGCP::Message& m) {
                return test::is_signal(m) && m.get_pdu().get_signal()->is_query();
            },
            kWaitMs);
        EXPECT_TRUE(resources && resources->get_pdu().get_signal()->get_query()->get_mux().getValue())
            << server.output();

        EXPECT_TRUE(answered(test::create_trunk(0, 1), kTrunkSlot)) << server.output();
        EXPECT_TRUE(answered(test::rtp_create_command(peer.rtp_port(), test::free_udp_pair(), kSsrc),
                             kRtpSlot))
            << server.output();
        seen.sdes = first(peer.rtcp(kWaitMs));
        EXPECT_TRUE(answered(test::connect_command(kRtpSlot), kTrunkSlot)) << server.output();
        EXPECT_TRUE(answered(test::connect_command(kTrunkSlot), kRtpSlot)) << server.output();

        LGCP::Command display;
        display.select_display().set_board(
            test::board_status(2, LGCP::ExtBoardStatus::waitBoard, "4.1", LGCP::ExtBoardType::isdn));
        EXPECT_TRUE(answered(display, 0)) << server.output();
        EXPECT_TRUE(monitoring.wait_written("board2", kWaitMs)) << server.output();
        seen.boardFile = board.read_file("/var/monitoring/board2");

        EXPECT_TRUE(answered(test::command(Alternative::destroy), kRtpSlot)) << server.output();
        seen.bye = first(peer.rtcp(kWaitMs));
        EXPECT_TRUE(answered(test::command(Alternative::destroy), kTrunkSlot)) << server.output();

        server.signal(SIGTERM);
        EXPECT_EQ(0, server.wait_exit(kWaitMs)) << server.output();
        return seen;
    }

private:
    static test::Bytes first(const std::vector<test::Bytes>& packets) {
        return packets.empty() ? test::Bytes{} : packets.front();
    }

    int seq_ = 0;
};

TEST_F(BoardBuild, AnswersTheControllersDayAsTheHostBuildDoes) {
    const std::string server = env_or("PPC_SERVER", "");
    if (server.empty()) GTEST_SKIP() << "no PowerPC server named in PPC_SERVER (scripts/test_ppc.sh builds one)";
    const std::string emulator = env_or("PPC_EMULATOR", test::find_program("qemu-ppc"));
    if (emulator.empty()) GTEST_SKIP() << "qemu-ppc is not installed";

    const Seen host = working_day(SERVER_EXECUTABLE, {});
    const Seen board =
        working_day(emulator, {"-L", env_or("PPC_SYSROOT", "/usr/powerpc-linux-gnu"), server});

    EXPECT_EQ(202, test::parse_rtcp(host.sdes).pt);
    EXPECT_EQ(203, test::parse_rtcp(host.bye).pt);
    EXPECT_EQ(kSsrc, test::parse_rtcp(host.bye).ssrc);
    EXPECT_FALSE(host.boardFile.empty());
    EXPECT_EQ(test::hex_text(host.sdes), test::hex_text(board.sdes)) << "RTCP SDES";
    EXPECT_EQ(test::hex_text(host.bye), test::hex_text(board.bye)) << "RTCP BYE";
    EXPECT_EQ(host.boardFile, board.boardFile) << "/var/monitoring/board2";
}

}  // namespace
