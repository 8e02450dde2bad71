// Trunk, map, voice and mixer slots on the server executable: created,
// wired, unwired and destroyed by a controller, and all gone with it.

#include "tests/support/slot_commands.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "board/sim/mixer_model.h"
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

// A two-party conference on mixer unit 0. Party p (1 and 2) is on trunk
// timeslot p and mixer channel p: its trunk feeds the channel's input, which
// joins the other party's sum, and the channel's output, which hears the
// other party, goes back to its trunk. Outputs made first, then inputs made
// first: every connect is answered success, the switch is told both paths of
// each party and nothing that undoes them, and the guard refuses nothing.
TEST_F(SlotsOnTheServer, ATwoPartyConferenceIsWiredBothWaysInEitherCreationOrder) {
    test::RemoteController controller;
    ASSERT_TRUE(controller.connect(port));
    controller.send(test::command(Alternative::query), ++seq);  // makes the mixers known
    ASSERT_TRUE(controller.receive_until(test::is_response)) << server->output();
    for (bool outputsFirst : {true, false}) {
        SCOPED_TRACE(outputsFirst ? "outputs first" : "inputs first");
        const unsigned base = outputsFirst ? 100 : 200;  // inputs base+p, outputs +10, trunks +20
        const size_t outSeen = server->out().size(), errSeen = server->err().size();
        for (bool outputs : {outputsFirst, !outputsFirst}) {
            for (int p : {1, 2}) {
                const test::MixChannel other{3 - p};
                const int unity = board::mixer::kUnityGain;
                const LGCP::Command create = outputs ? test::create_mixer_out(0, {p}, {{other, unity}})
                                                     : test::create_mixer_in(0, {p}, other);
                EXPECT_EQ(std::nullopt, answer(controller, create, base + p + (outputs ? 10 : 0)));
            }
        }
        std::vector<std::string> paths;
        for (unsigned p : {1u, 2u}) {
            const unsigned input = base + p, output = input + 10, trunk = input + 20;
            const std::string ts = std::to_string(board::sim::MixerModel::kTimeslotBase + p);
            EXPECT_EQ(std::nullopt, answer(controller, test::create_trunk(0, p), trunk));
            EXPECT_EQ(std::nullopt, answer(controller, test::connect_command(input), trunk));
            EXPECT_EQ(std::nullopt, answer(controller, test::connect_command(trunk), output));
            paths.push_back("mux: slot " + std::to_string(trunk) + ":trunk [" + std::to_string(p) +
                            "] -> " + std::to_string(input) + ":mixer tdm input [" + ts + "]");
            paths.push_back("mux: slot " + std::to_string(output) + ":mixer tdm output [" + ts +
                            "] -> " + std::to_string(trunk) + ":trunk [" + std::to_string(p) + "]");
        }
        ASSERT_TRUE(server->wait_for_output(paths.back())) << server->output();
        const std::string since = server->out().substr(outSeen) + server->err().substr(errSeen);
        for (const std::string& path : paths)
            EXPECT_NE(std::string::npos, since.find(path)) << since;
        EXPECT_EQ(std::string::npos, since.find("refused")) << since;
        const std::string undone = "mux: disconnect slot " + std::to_string(base / 100);
        EXPECT_EQ(std::string::npos, since.find(undone)) << since;
        for (unsigned p : {1u, 2u})
            for (unsigned slot : {base + p, base + p + 10, base + p + 20})
                EXPECT_EQ(std::nullopt, answer(controller, test::command(Alternative::destroy), slot));
    }
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
