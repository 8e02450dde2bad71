// Trunk and map slots on the server executable: created, wired, unwired and
// destroyed by a controller, and all gone with it.

#include "tests/support/slot_commands.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <iostream>
#include <optional>
#include <string>

#include "tests/e2e/server_binary.h"
#include "tests/support/loopback.h"
#include "tests/support/mixer_voice_commands.h"
#include "tests/support/remote_controller.h"

namespace {

using Alternative = LGCP::Command::Alternative;
using Cause = LGCP::ErrorCause::NamedNumber;
using test::BusChannel;

class SlotsOnTheServer : public test::RunningServer {
protected:
    void SetUp() override { start(); }
    void TearDown() override {
        if (server) stop();
    }

    std::optional<Cause> answer(test::RemoteController& controller, const LGCP::Command& command,
                                unsigned slot) {
        controller.send(command, ++seq, slot);
        auto reply = controller.receive_until(test::is_response);
        EXPECT_TRUE(reply) << server->output();
        return reply ? test::error_of(*reply) : Cause::internal;
    }

    int seq = 0;
};

TEST_F(SlotsOnTheServer, TrunkAndMapSlotsAreWiredAndGoWithTheController) {
    const LGCP::Command destroy = test::command(Alternative::destroy);
    {
        test::RemoteController controller;
        ASSERT_TRUE(controller.connect(port));
        EXPECT_EQ(std::nullopt, answer(controller, test::create_trunk(0, 1), 10));
        EXPECT_EQ(std::nullopt, answer(controller, test::create_map({}, BusChannel{1, 5}), 11));
        EXPECT_EQ(std::nullopt, answer(controller, test::connect_command(11), 10));
        EXPECT_TRUE(server->wait_for_output("mux: slot 10:trunk [1] -> 11:map [8325]"));
        EXPECT_EQ(std::nullopt, answer(controller, test::command(Alternative::disconnect), 11));
        EXPECT_EQ(std::nullopt, answer(controller, destroy, 11));
        EXPECT_TRUE(server->wait_for_output("map: disable map channel 133"));

        EXPECT_EQ(std::nullopt, answer(controller, test::create_map({}, BusChannel{2, 7}), 11));
        EXPECT_EQ(std::nullopt, answer(controller, test::connect_command(11), 10));
    }
    // The controller has gone: its slots are destroyed.
    ASSERT_TRUE(server->wait_for_output("map: disable map channel 263")) << server->output();

    test::RemoteController next;
    ASSERT_TRUE(next.connect(port));
    EXPECT_EQ(Cause::slotNotExists, answer(next, destroy, 10));
    EXPECT_EQ(Cause::slotNotExists, answer(next, destroy, 11));
    EXPECT_EQ(std::nullopt, answer(next, test::create_trunk(0, 1), 12));
    EXPECT_EQ(std::nullopt, answer(next, test::create_map({}, BusChannel{2, 7}), 13));
    EXPECT_EQ(std::string::npos, server->output().find("two slots require")) << server->output();
}

// A phrase under the board's voice folder, played once onto a trunk.
TEST_F(SlotsOnTheServer, AFilePlayerPlaysItsPhraseAndAborts) {
    board.write_file("/usr/local/voice/hello", std::string(5000, 'h'));
    test::RemoteController controller;
    ASSERT_TRUE(controller.connect(port));
    EXPECT_EQ(std::nullopt, answer(controller, test::create_trunk(0, 1), 10));
    EXPECT_EQ(std::nullopt, answer(controller, test::create_file_player({"hello"}, 1), 11));
    EXPECT_EQ(std::nullopt, answer(controller, test::connect_command(10), 11));
    auto abort = controller.receive_until([](const LGCP::Message& m) {
        return test::is_signal(m) && m.get_pdu().get_signal()->is_abort();
    });
    ASSERT_TRUE(abort) << server->output();
    EXPECT_EQ(11u, test::slot_of(*abort));
}

// An endless player on a trunk, recorded as well: the simulated line takes
// 8000 octets a second, so the player costs the loop what it would on the
// board and its memory stays flat; destroying it leaves no more than it
// found. A 3 s run, measured per second, stands for a longer one.
TEST_F(SlotsOnTheServer, AnEndlessPlayerPlaysAtTheLinesPaceInFlatMemory) {
    constexpr int kRunMs = 3000;
    constexpr double kSeconds = kRunMs / 1000.0;
    board.write_file("/usr/local/voice/phrase", std::string(3000, 'p'));
    unsigned short recorderPort = 0;
    Fd listener = test::listen_loopback(recorderPort);
    test::RemoteController controller;
    ASSERT_TRUE(controller.connect(port));
    EXPECT_EQ(std::nullopt, answer(controller, test::create_trunk(0, 1), 10));
    EXPECT_EQ(std::nullopt, answer(controller, test::create_file_player({"phrase"}, 0), 11));
    EXPECT_EQ(std::nullopt, answer(controller, test::create_recorder(recorderPort), 12));
    EXPECT_EQ(std::nullopt, answer(controller, test::connect_command(10), 11));
    EXPECT_EQ(std::nullopt, answer(controller, test::connect_command(12), 11));
    pollfd connecting{listener.get(), POLLIN, 0};
    ASSERT_EQ(1, ::poll(&connecting, 1, test::RemoteController::default_timeout_ms));
    Fd recording(::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK));
    ASSERT_TRUE(recording) << server->output();

    server->run_for(500);
    test::read_available(recording.get());
    const auto start = server->usage();
    server->run_for(kRunMs);
    const auto end = server->usage();
    const size_t played = test::read_available(recording.get()).size();
    EXPECT_EQ(std::nullopt, answer(controller, test::command(Alternative::destroy), 11));
    server->run_for(500);
    const auto destroyed = server->usage();

    const double cpuShare = (end.cpuMs - start.cpuMs) / double(kRunMs);
    std::cout << "endless player: " << played / kSeconds << " octets/s, "
              << (end.residentKib - start.residentKib) / kSeconds << " KiB/s resident, " << cpuShare
              << " of a core; " << start.residentKib << " KiB resident at its start, "
              << destroyed.residentKib << " KiB once destroyed" << std::endl;
    EXPECT_LE(played, 8000 * kSeconds + 16000);
    EXPECT_GE(played, 2 * 3000u) << "it plays";
    EXPECT_LE(cpuShare, 0.25);
    // The sanitizers' allocator alone grows it some 200 KiB a second.
    EXPECT_LE(end.residentKib, start.residentKib + 2048);
    EXPECT_LE(destroyed.residentKib, start.residentKib + 2048);
}

}  // namespace
