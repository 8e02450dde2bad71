#pragma once
// What every slot suite starts from: the server in-process with the
// heartbeat and the slot registry bound, a connected test controller, the
// scriptable slot factory, the switch on a fresh simulated board. When the
// test ends the controller's departure must leave nothing behind.

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"
#include "link/heartbeat.h"
#include "slots/slots.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"
#include "tests/support/test_slots.h"

namespace test {

class SlotTest : public ::testing::Test {
protected:
    using Cause = LGCP::ErrorCause::NamedNumber;
    using Alternative = LGCP::Command::Alternative;

    SlotTest() : SlotTest(std::vector<CtrlSrv::Service*>{}) {}
    // With `more` services bound after the heartbeat and the slot registry.
    explicit SlotTest(const std::vector<CtrlSrv::Service*>& more) : server(services(more)) {
        factory.reset();
        EXPECT_TRUE(controller.connect());
    }
    ~SlotTest() override {
        CtrlSrv::ctrlServer.reset_for_test();  // the controller goes: every slot goes
        EXPECT_EQ("", leftovers());
        Slots::instance()->reset_for_test();
        factory.reset();
    }

    static board::sim::Board& sim() { return board::sim::Board::instance(); }
    static board::sim::HalModel& fabric() {
        return *sim().model_as<board::sim::HalModel>(board::hal::kDevice);
    }

    // The answer to one command; nullopt when none came.
    std::optional<LGCP::Message> answer(const LGCP::Command& command, std::optional<int> seq,
                                        unsigned slot) {
        controller.send(command, seq, slot);
        return controller.receive_until(is_response);
    }
    // The cause of the answer (nullopt for success), checking that exactly
    // one answer came, with the command's slot.
    std::optional<Cause> outcome(const LGCP::Command& command, unsigned slot) {
        auto reply = answer(command, 1, slot);
        EXPECT_TRUE(reply);
        if (!reply) return Cause::internal;
        EXPECT_EQ(slot, slot_of(*reply));
        EXPECT_FALSE(controller.receive_until(is_response, 3)) << "a second answer";
        return error_of(*reply);
    }
    void create(unsigned number, int script = 0) {
        ASSERT_EQ(std::nullopt, outcome(create_command(script), number)) << "create " << number;
    }
    void connect(unsigned source, unsigned destination) {
        ASSERT_EQ(std::nullopt, outcome(connect_command(destination), source))
            << "connect " << source << " -> " << destination;
    }
    // How often the switch was told to switch the channel off.
    static unsigned disables_on_switch(int channel) {
        unsigned n = 0;
        for (const auto& call : sim().journal(board::hal::kDevice))
            n += call.request == board::hal::kMuxDisable && call.data.size() == 4 &&
                 std::memcmp(call.data.data(), &channel, 4) == 0;
        return n;
    }
    // The graph holds together and the switch carries what it shows.
    void expect_sound() {
        EXPECT_EQ("", graph_faults());
        EXPECT_EQ("", switch_faults(fabric()));
    }

    StreamCapture notices{std::cout};
    StreamCapture progress{std::clog};
    StreamCapture errors{std::cerr};
    static std::vector<CtrlSrv::Service*> services(std::vector<CtrlSrv::Service*> more) {
        more.insert(more.begin(), {&HeartBeatCtl::instance(), Slots::instance()});
        return more;
    }

    ServerHarness server;
    HardwareReset hardware;
    TestController controller{server};
    TestSlotFactory& factory = TestSlotFactory::instance();
};

}  // namespace test
