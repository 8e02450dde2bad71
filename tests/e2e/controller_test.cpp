// A controller talking to the server executable: the services are bound in
// their order (heartbeat, slot registry, bus tests, bus clock, E1 control,
// BRI line control, monitoring) and one controller is served at a time.

#include <signal.h>

#include <gtest/gtest.h>

#include <set>

#include "board/sim/mixer_model.h"
#include "board/sim/rtp_model.h"
#include "tests/e2e/server_binary.h"
#include "tests/support/remote_controller.h"
#include "tests/support/test_controller.h"

namespace {

using Alternative = LGCP::Command::Alternative;

bool is_power_signal(const LGCP::Message& m) {
    return test::is_signal(m) && m.get_pdu().get_signal()->is_power();
}

bool is_query_signal(const LGCP::Message& m) {
    return test::is_signal(m) && m.get_pdu().get_signal()->is_query();
}

bool is_trunk_status(const LGCP::Message& m) {
    return test::is_signal(m) && m.get_pdu().get_signal()->is_trunkStatus();
}

// The first of the trunk states that the server sends every second.
bool is_first_trunk_status(const LGCP::Message& m) {
    if (!is_trunk_status(m)) return false;
    const ACP::TrunkStatus& state = *m.get_pdu().get_signal()->get_trunkStatus();
    return state.get_type().getValue() == ACP::TrunkType::e1 && state.get_trunk().getValue() == 0;
}

class ServerWithController : public test::RunningServer {
protected:
    void SetUp() override {
        start();
        ASSERT_TRUE(controller.connect(port)) << server->output();
    }
    void TearDown() override {
        if (server) stop();
    }

    std::optional<LGCP::Message> answer() { return controller.receive_until(test::is_response); }

    // The free resources as the server reports them after a query or SIGHUP.
    void expect_resources(const std::optional<LGCP::Message>& signal) {
        ASSERT_TRUE(signal) << server->output();
        const LGCP::Resources& resources = *signal->get_pdu().get_signal()->get_query();
        EXPECT_TRUE(resources.get_mux().getValue());
        // Every channel of the simulated RTP engine is free.
        EXPECT_EQ(board::sim::RtpModel::kDefaultPool, resources.get_rtp_g711().getValue());
        // The simulated board's two mixer units.
        ASSERT_EQ(2u, resources.get_mixer().size());
        for (int unit : {0, 1}) {
            EXPECT_EQ(unit, resources.get_mixer()[unit].get_unit().getValue());
            EXPECT_EQ(board::sim::MixerModel::kDefaultChannels,
                      resources.get_mixer()[unit].get_tdm_inputs().getValue());
        }
        EXPECT_FALSE(signal->has_slot());
    }

    test::RemoteController controller;
};

TEST_F(ServerWithController, HearsThePowerStateOnConnect) {
    auto signal = controller.receive_until(is_power_signal);
    ASSERT_TRUE(signal) << server->output();
    EXPECT_EQ(LGCP::POWERStatus::main, signal->get_pdu().get_signal()->get_power()->getValue());
    EXPECT_TRUE(server->wait_for_output("controller connect.")) << server->output();
}

TEST_F(ServerWithController, GetsAPingAnswered) {
    controller.send(test::ping(), 7);
    auto reply = answer();
    ASSERT_TRUE(reply) << server->output();
    EXPECT_TRUE(test::is_success(*reply));
    EXPECT_EQ(7, test::seq_of(*reply));
    EXPECT_FALSE(test::slot_of(*reply));
}

TEST_F(ServerWithController, GetsAQueryAnsweredWithTheFreeResources) {
    controller.send(test::command(Alternative::query), 3);
    auto reply = answer();
    ASSERT_TRUE(reply) << server->output();
    EXPECT_TRUE(test::is_success(*reply));
    expect_resources(controller.receive_until(is_query_signal));
}

TEST_F(ServerWithController, HearsTheFreeResourcesAgainAfterSighup) {
    controller.receive_until(is_power_signal);
    server->signal(SIGHUP);
    expect_resources(controller.receive_until(is_query_signal));
}

TEST_F(ServerWithController, GetsASlotCommandOnAnEmptyNumberRefused) {
    controller.send(test::command(Alternative::destroy), 4, 12);
    auto reply = answer();
    ASSERT_TRUE(reply) << server->output();
    EXPECT_EQ(LGCP::ErrorCause::slotNotExists, test::error_of(*reply));
    EXPECT_EQ(12u, test::slot_of(*reply));
}

TEST_F(ServerWithController, GetsACreationNoFactoryTakesRefused) {
    LGCP::Command create;
    create.select_create().select_spi_tdm();  // no factory of the server takes it
    controller.send(create, 5, 13);
    auto reply = answer();
    ASSERT_TRUE(reply) << server->output();
    EXPECT_EQ(LGCP::ErrorCause::insufficientResources, test::error_of(*reply));
    EXPECT_EQ(13u, test::slot_of(*reply));
}

TEST_F(ServerWithController, GetsADisplayAnswered) {
    LGCP::Command display;
    display.select_display().select_snmpTrapReceivers();
    controller.send(display, 5);
    auto reply = answer();
    ASSERT_TRUE(reply) << server->output();
    EXPECT_TRUE(test::is_success(*reply));
}

TEST_F(ServerWithController, GetsACommandNoServiceTakesRefused) {
    controller.send(test::command(Alternative::protoVark), 6);
    auto reply = answer();
    ASSERT_TRUE(reply) << server->output();
    EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, test::error_of(*reply));
}

TEST_F(ServerWithController, HearsTheStateOfEveryTrunkAndLine) {
    std::set<int> e1, bri;
    auto trunk_state = [&](const LGCP::Message& m) {
        if (!test::is_signal(m) || !m.get_pdu().get_signal()->is_trunkStatus()) return false;
        const ACP::TrunkStatus& state = *m.get_pdu().get_signal()->get_trunkStatus();
        auto& seen = state.get_type().getValue() == ACP::TrunkType::e1 ? e1 : bri;
        seen.insert(state.get_trunk().getValue());
        return e1.size() == 4 && bri.size() == 8;
    };
    EXPECT_TRUE(controller.receive_until(trunk_state)) << server->output();
    EXPECT_EQ((std::set<int>{0, 1, 2, 3}), e1);
    EXPECT_EQ((std::set<int>{0, 1, 2, 3, 4, 5, 6, 7}), bri);
}

TEST_F(ServerWithController, GetsAClockConfigurationAnswered) {
    controller.send(test::command(Alternative::clockCfg), 9);
    auto reply = answer();
    ASSERT_TRUE(reply) << server->output();
    EXPECT_TRUE(test::is_success(*reply));
    EXPECT_TRUE(server->wait_for_output("clkctl: clock source = f0\n")) << server->output();
}

TEST_F(ServerWithController, RefusesASecondControllerAndKeepsServingTheFirst) {
    test::RemoteController second;
    ASSERT_TRUE(second.connect(port));
    EXPECT_TRUE(second.closed_by_server()) << server->output();
    EXPECT_TRUE(server->wait_for_output("refuse connection from ")) << server->output();

    controller.send(test::ping(), 8);
    auto reply = answer();
    ASSERT_TRUE(reply) << server->output();
    EXPECT_TRUE(test::is_success(*reply));
}

// The date of the server stepped while it serves a controller, as an
// operator or a time daemon steps it: its timers run on.
class ServerAcrossADateStep : public ServerWithController {
protected:
    test::DateShift date{board};
};

TEST_F(ServerAcrossADateStep, KeepsAControllerThatPingsAcrossAStepForward) {
    controller.send(test::ping(), 1);
    ASSERT_TRUE(answer()) << server->output();
    date.step(5 * 60);  // more than the heartbeat has left
    server->run_for(1500);
    controller.send(test::ping(), 2);
    auto reply = answer();
    ASSERT_TRUE(reply) << server->output();
    EXPECT_EQ(2, test::seq_of(*reply));
    EXPECT_EQ(std::string::npos, server->output().find("heartbeat timeout")) << server->output();
}

// Each step back comes as a second's trunk states begin to arrive, while the
// server may still be sending them.
TEST_F(ServerAcrossADateStep, SendsTrunkStatesAcrossStepsBackAndSpinsNothing) {
    for (int step = 0; step < 3; ++step) {
        ASSERT_TRUE(controller.receive_until(is_first_trunk_status, 5000)) << step << server->output();
        date.step(-60);
    }
    const long cpuBefore = server->usage().cpuMs;
    int states = 0;
    controller.receive_until([&](const LGCP::Message& m) { return (states += is_trunk_status(m)) < 0; },
                             2000);
    EXPECT_LT(server->usage().cpuMs - cpuBefore, 1000) << "a loop that spins takes it all";
    EXPECT_GE(states, 12);
    EXPECT_LE(states, 48) << "four or five seconds' worth at the most";
    controller.send(test::ping(), 3);
    EXPECT_TRUE(controller.receive_until(test::is_response, 5000)) << server->output();
}

class ServerWithoutClockControl : public ServerWithController {
protected:
    void SetUp() override {
        start({"--disable-clock"});
        ASSERT_TRUE(controller.connect(port)) << server->output();
    }
};

TEST_F(ServerWithoutClockControl, RefusesEveryClockConfiguration) {
    EXPECT_TRUE(server->wait_for_output("clock control disabled.\n")) << server->output();
    controller.send(test::command(Alternative::clockCfg), 10);
    auto reply = answer();
    ASSERT_TRUE(reply) << server->output();
    EXPECT_EQ(LGCP::ErrorCause::unsupported, test::error_of(*reply));
}

}  // namespace
