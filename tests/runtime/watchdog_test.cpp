// The loop keeps the hardware watchdog alive while it runs.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/devio.h"
#include "board/drivers/watchdog.h"
#include "board/sim/sim_board.h"
#include "board/sim/watchdog_model.h"
#include "runtime/multiplexer.h"
#include "tests/support/board_root.h"
#include "tests/support/stream_capture.h"
#include "tests/support/virtual_loop.h"

namespace {

using board::sim::Board;
using board::sim::Op;
using board::sim::WatchdogModel;
using board::watchdog::kDevice;
using Words = std::vector<std::string>;

class Watchdog : public ::testing::Test {
protected:
    WatchdogModel& model() { return *Board::instance().model_as<WatchdogModel>(kDevice); }

    test::BoardRoot root;
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
};

TEST_F(Watchdog, StartedPingedOnceASecondAndStopped) {
    test::StreamCapture clog(std::clog);
    multiplexer.start(true, true);
    EXPECT_EQ(Words{"START"}, model().words);
    loop.pump(5);
    EXPECT_EQ((Words{"START", "PING"}), model().words) << "the first ping follows the first poll";
    loop.advance(3500);
    EXPECT_EQ((Words{"START", "PING", "PING", "PING", "PING"}), model().words);
    multiplexer.finish();
    EXPECT_EQ("STOP", model().words.back());
    EXPECT_FALSE(model().armed);
    EXPECT_FALSE(multiplexer.watchdog_open());
}

TEST_F(Watchdog, DeviceIsOpenedWriteOnlyAndCloseOnExec) {
    multiplexer.start(true, true);
    auto channels = Board::instance().channels(kDevice);
    ASSERT_EQ(1u, channels.size());
    EXPECT_EQ(O_WRONLY, channels[0]->flags() & O_ACCMODE);
    EXPECT_TRUE(channels[0]->flags() & O_CLOEXEC);
}

TEST_F(Watchdog, WaitIsCappedAtOneSecondOnlyWhileItIsOpen) {
    test::StreamCapture clog(std::clog);
    loop.pump();
    EXPECT_EQ(-1, loop.clock().last_timeout());
    multiplexer.start(true, true);
    loop.pump();
    EXPECT_EQ(1000, loop.clock().last_timeout());
    Timer timer;
    struct Nothing {
        void Run() {}
    } nothing;
    timer.set(300, &Nothing::Run, &nothing);
    loop.pump();
    EXPECT_EQ(300, loop.clock().last_timeout()) << "a nearer timer still counts";
    multiplexer.finish();
    timer.set(5000, &Nothing::Run, &nothing);
    loop.pump();
    EXPECT_EQ(5000, loop.clock().last_timeout());
}

TEST_F(Watchdog, ClockGoingBackwardsPingsAtOnce) {
    multiplexer.start(true, true);
    loop.pump();
    loop.clock().advance(200);
    loop.pump();
    EXPECT_EQ(2u, model().words.size());
    loop.clock().set_us(loop.clock().now_us() - 300000);  // before the last ping
    loop.pump();
    EXPECT_EQ((Words{"START", "PING", "PING"}), model().words);
}

TEST_F(Watchdog, MissingDeviceIsReportedAndTheLoopRunsWithoutIt) {
    Board::instance().fail_next(Op::Open, kDevice, ENOENT);
    test::StreamCapture err(std::cerr);
    multiplexer.start(true, true);
    EXPECT_EQ("Mux: fail to open watchdog: No such file or directory\n", err.str());
    loop.pump();
    EXPECT_EQ(-1, loop.clock().last_timeout()) << "no cap without the watchdog";
}

TEST_F(Watchdog, FailedStartClosesTheDevice) {
    Board::instance().fail_next(Op::Write, kDevice, EIO);
    test::StreamCapture err(std::cerr);
    multiplexer.start(true, true);
    EXPECT_EQ("Mux: fail to activate watchdog: Input/output error\n", err.str());
    EXPECT_FALSE(multiplexer.watchdog_open());
    EXPECT_TRUE(Board::instance().channels(kDevice).empty());
}

TEST_F(Watchdog, FailedPingAndStopAreReported) {
    multiplexer.start(true, true);
    Board::instance().fail_next(Op::Write, kDevice, EIO);
    test::StreamCapture err(std::cerr);
    loop.pump();
    EXPECT_EQ("Mux: ping watchdog failed: Input/output error\n", err.str());
    EXPECT_TRUE(multiplexer.watchdog_open());
    err.clear();
    Board::instance().fail_next(Op::Write, kDevice, EIO);
    test::StreamCapture clog(std::clog);
    multiplexer.finish();
    EXPECT_EQ("Mux: stop watchdog failed: Input/output error\n", err.str());
    EXPECT_FALSE(multiplexer.watchdog_open());
}

TEST_F(Watchdog, TerminateStopsTheRunAndTheWatchdog) {
    struct Stopper {
        void Run() { multiplexer.terminate(); }
    } stopper;
    Timer timer;
    timer.set(10, &Stopper::Run, &stopper);
    loop.clock().advance(10);
    test::StreamCapture clog(std::clog);
    multiplexer.run(true, false);
    EXPECT_EQ((Words{"START", "PING", "STOP"}), model().words);
    EXPECT_EQ("Mux: terminating...\n", clog.str());
}

TEST(WatchdogModel, RefusesOtherWords) {
    test::BoardRoot root;
    int fd = board::open(kDevice, O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(-1, board::write(fd, "KICK", 4));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(5, board::write(fd, "START", 5));
    ::close(fd);
}

}  // namespace
