// The controller's bus test through the TDM switch, answered to a test
// controller: the channels a range covers, the seed's byte sequence, and the
// first channel that does not carry it.

#include "hardware/hw_tests.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "board/sim/hal_model.h"
#include "hardware/hw_mux.h"
#include "link/heartbeat.h"
#include "tests/hardware/hardware_test.h"
#include "tests/support/hardware_commands.h"
#include "tests/support/test_controller.h"
#include "tests/support/throttled_lines.h"

namespace {

namespace hal = board::hal;
using board::sim::HalModel;
using board::sim::Op;
using Mode = LGCP::BpcTestMode::Alternative;

using test::bus_sequence;
using test::bus_test;

class BusTest : public test::HardwareTest {
protected:
    BusTest() {
        EXPECT_TRUE(HwMux::instance().IsOpened());
        EXPECT_TRUE(controller.connect());
        sim().clear_journal();
    }

    std::optional<LGCP::ErrorCause::NamedNumber> run(const LGCP::Command& command) {
        controller.send(command, 1);
        auto answer = controller.receive_until(test::is_response);
        EXPECT_TRUE(answer);
        return answer ? test::error_of(*answer) : LGCP::ErrorCause::internal;
    }
    std::vector<hal::mux_byte> writes() {
        return requests<hal::mux_byte>(hal::kDevice, hal::kMuxWriteByte);
    }

    HalModel& fabric = model<HalModel>(hal::kDevice);
    test::ServerHarness server{{&HeartBeatCtl::instance(), &HwTests::instance()}};
    test::TestController controller{server};
};

TEST_F(BusTest, WriteDrivesTheSeedsSequenceOnTheRangeAndReadsItBack) {
    EXPECT_EQ(std::nullopt, run(bus_test(2, 10, 3, 77, Mode::write)));
    auto expected = bus_sequence(77, 3);
    auto written = writes();
    ASSERT_EQ(3u, written.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(8458 + i, written[i].channel);
        EXPECT_EQ(expected[i], written[i].value);
        EXPECT_EQ(expected[i], fabric.byte_on(8458 + i));
    }
    EXPECT_EQ(3u, requests<hal::mux_byte>(hal::kDevice, hal::kMuxReadByte).size());
}

TEST_F(BusTest, TwoWritesWithOneSeedWriteTheSameBytes) {
    run(bus_test(0, 0, 20, 5, Mode::write));
    auto first = writes();
    sim().clear_journal();
    run(bus_test(0, 0, 20, 5, Mode::write));
    auto second = writes();
    ASSERT_EQ(20u, second.size());
    for (int i = 0; i < 20; ++i) EXPECT_EQ(first[i].value, second[i].value);
}

TEST_F(BusTest, AnEmptyRangePassesInEveryMode) {
    for (Mode mode : {Mode::read, Mode::write, Mode::disconnect})
        EXPECT_EQ(std::nullopt, run(bus_test(3, 50, 0, 1, mode)));
    EXPECT_TRUE(writes().empty());
    EXPECT_TRUE(requests<hal::mux_byte>(hal::kDevice, hal::kMuxReadByte).empty());
}

TEST_F(BusTest, AStuckChannelFailsTheWriteAtIt) {
    auto expected = bus_sequence(9, 3);
    fabric.stuck[8192 + 128 + 41] = static_cast<uint8_t>(expected[1] ^ 0xFF);
    EXPECT_EQ(LGCP::ErrorCause::busError, run(bus_test(1, 40, 3, 9, Mode::write)));
    char line[80];
    std::snprintf(line, sizeof line,
                  "bus 1: write failed on channel 41 write %02X  written %02X \n", expected[1],
                  expected[1] ^ 0xFF);
    EXPECT_EQ(line, errors.str());
}

TEST_F(BusTest, ReadPassesWhenAnotherCardDrivesTheSequence) {
    auto expected = bus_sequence(1234, 6);
    for (int i = 0; i < 6; ++i) fabric.foreign[8192 + 5 * 128 + 100 + i] = expected[i];
    EXPECT_EQ(std::nullopt, run(bus_test(5, 100, 6, 1234, Mode::read)));
    EXPECT_TRUE(writes().empty());

    fabric.foreign.erase(8192 + 5 * 128 + 104);  // nobody drives it: 0xFF
    EXPECT_EQ(LGCP::ErrorCause::busError, run(bus_test(5, 100, 6, 1234, Mode::read)));
    EXPECT_NE(std::string::npos, errors.str().find("bus 5: test failed on channel 104 expected "));
}

// A read the switch refuses, or of a switch that cannot be opened, is no
// byte: the test fails there, also where 0xFF was expected (seed 295).
TEST_F(BusTest, AReadTheSwitchCannotDoIsABusError) {
    ASSERT_EQ(0xFF, bus_sequence(295, 1)[0]);
    fabric.foreign[8192 + 7] = 0xFF;
    EXPECT_EQ(std::nullopt, run(bus_test(0, 7, 1, 295, Mode::read)));
    sim().fail_next(Op::Ioctl, hal::kDevice, EIO, hal::kMuxReadByte);
    EXPECT_EQ(LGCP::ErrorCause::busError, run(bus_test(0, 7, 1, 295, Mode::read)));
    EXPECT_EQ("bus 0: test failed on channel 7 expected FF  read nothing (the read failed)\n",
              errors.str());
    HwMux::instance().reset_for_test();
    fabric.absent = true;
    EXPECT_EQ(LGCP::ErrorCause::busError, run(bus_test(0, 7, 1, 295, Mode::read)));
}

TEST_F(BusTest, ARangePastTimeslot127GoesOnToTheNextBus) {
    fabric.stuck[8192 + 128 + 1] = 0;  // bus 1, timeslot 1
    EXPECT_EQ(LGCP::ErrorCause::busError, run(bus_test(0, 126, 4, 3, Mode::write)));
    auto written = writes();
    ASSERT_EQ(4u, written.size());
    EXPECT_EQ(8318, written[0].channel);
    EXPECT_EQ(8321, written[3].channel);
    EXPECT_EQ(0u, errors.str().find("bus 0: write failed on channel 1 write "));
}

TEST_F(BusTest, ARangeBeyondTheLastBusLeavesTheMapAlone) {
    // Bus 15, timeslots 127 on: every channel but the first is past the buses.
    EXPECT_EQ(LGCP::ErrorCause::busError, run(bus_test(15, 127, 127, 8, Mode::write)));
    EXPECT_EQ(127u, writes().size());
    EXPECT_EQ(10365, writes().back().channel);
    EXPECT_EQ(HwMux::kDriven, HwMux::instance().entry(10239));
}

// A switch that refuses every channel of a range, or cannot be opened, is
// said once a second, with the count of the refusals held back.
TEST_F(BusTest, RefusalsOfTheSwitchAreWrittenOnceASecond) {
    const struct {
        Mode mode;
        uint32_t request;
        const char* line;
        unsigned held;  // of the 8 channels of the first test
    } cases[] = {{Mode::disconnect, hal::kMuxDisable, "hwMux: disable failed", 7},
                 {Mode::write, hal::kMuxWriteByte, "hwMux: write failed", 7},
                 // and the test's own look at the switch
                 {Mode::write, 0, "hwMux: can't open device", 8}};
    for (const auto& c : cases) {
        if (c.request == 0) {
            HwMux::instance().reset_for_test();
            fabric.absent = true;
        } else {
            // From now on (the switch's sweep of the channels it keeps off too).
            sim().fail_next(Op::Ioctl, hal::kDevice, EIO, c.request, 1 << 20);
        }
        for (int second = 0; second < 2; ++second) {
            run(bus_test(0, 0, 8, 1, c.mode));
            server.advance(1000);
        }
        EXPECT_TRUE(test::written_twice_with_a_count(progress.str(), c.line, c.held));
    }
}

}  // namespace
