// The controller's values that the server must bound
// (tests/support/controller_inputs.h), each sent to the server in-process,
// with its whole set of services and slot factories on the simulated board:
// every row is answered as the table says, and under the sanitizers none
// brings the server down.

#include "tests/support/controller_inputs.h"

#include <gtest/gtest.h>

#include <iostream>

#include "board/drivers/dsp.h"
#include "board/drivers/dtmf.h"
#include "board/sim/sim_board.h"
#include "hardware/hw_mux.h"
#include "server/services.h"
#include "server/slot_factories.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

namespace {

using Cause = LGCP::ErrorCause::NamedNumber;
using board::sim::Board;

constexpr unsigned kSlot = 20;

class ControllerInputs : public ::testing::Test {
protected:
    ControllerInputs() {
        CreateSlotFactories();
        HwMux::instance().IsOpened();
        EXPECT_TRUE(controller.connect());
        // As a controller starts: the board's resources (the mixers among
        // them) become known.
        EXPECT_EQ(std::nullopt, answer_to(test::command(LGCP::Command::Alternative::query), {}));
    }

    std::optional<Cause> answer() {
        auto answer = controller.receive_until(test::is_response);
        EXPECT_TRUE(answer);
        return answer ? test::error_of(*answer) : Cause::internal;
    }

    std::optional<Cause> answer_to(const LGCP::Command& command, std::optional<unsigned> slot) {
        controller.send(command, ++seq, slot);
        return answer();
    }

    // The row's command; first, for user data and slot commands, the slot it
    // goes to.
    std::optional<Cause> send(const test::ControllerInput& row) {
        const test::CommandForm& form = test::form(row.form);
        if (row.user_data() || form.target) {
            const test::CommandForm& slot = row.user_data() ? form : test::form(form.target);
            EXPECT_EQ(std::nullopt, answer_to(slot.build(slot.usual()), kSlot));
        }
        if (row.user_data())
            return answer_to(test::user_data(std::vector<char>(row.value, 'u')), kSlot);
        const bool display = form.build(form.usual()).is_display();
        Board::instance().clear_journal();
        controller.send_frame(form.octets_with(row.field, row.value, ++seq,
                                               display ? std::nullopt : std::optional(kSlot)));
        return answer();
    }

    test::StreamCapture notices{std::cout};
    test::StreamCapture errors{std::cerr};
    test::StreamCapture progress{std::clog};
    test::HardwareReset hardware;
    test::ServerHarness server{ControllerServices()};
    test::TestController controller{server};
    int seq = 0;
};

TEST_F(ControllerInputs, AreAnsweredAsTheTableSays) {
    for (const test::ControllerInput& row : test::controller_inputs()) {
        SCOPED_TRACE(row.name());
        EXPECT_EQ(row.answer, send(row));
        for (const char* receivers : {board::dsp::kDevice, board::dtmf::kDevice}) {
            if (row.answer == Cause::invalidParams) {
                EXPECT_TRUE(Board::instance().journal(receivers).empty())
                    << "refused, yet sent to " << receivers;
            }
        }
        answer_to(test::command(LGCP::Command::Alternative::destroy), kSlot);
        EXPECT_TRUE(server.serving());
    }
}

}  // namespace
