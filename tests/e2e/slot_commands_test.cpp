// Trunk and map slots on the server executable: created, wired, unwired and
// destroyed by a controller, and all gone with it.

#include "tests/support/slot_commands.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/e2e/server_binary.h"
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

}  // namespace
