// The framer status parser and the interface sampler, against the texts a
// framer driver writes and the simulated board's interfaces.
#include <errno.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <climits>
#include <iostream>

#include "board/sim/sim_board.h"
#include "monitoring/data_sources.h"
#include "runtime/trace_ctl.h"
#include "tests/support/board_root.h"
#include "tests/support/stream_capture.h"

namespace {

std::vector<unsigned char> bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

bool parse(FramerDataHolder& framer, const std::string& text) {
    std::vector<unsigned char> data = bytes(text);
    return framer.setFramerStatus(data);
}

TEST(FramerStatus, StartsAbsentWithBothLosses) {
    FramerDataHolder framer(1, "/proc/driver/hdlc/peb22554/0");
    EXPECT_FALSE(framer.connected);
    EXPECT_EQ("absent", framer.statusText);
    EXPECT_TRUE(framer.signalLoss);
    EXPECT_TRUE(framer.frameAlignLoss);
    EXPECT_FALSE(parse(framer, "nothing of interest\n")) << "no marker changes nothing";
    EXPECT_FALSE(parse(framer, "")) << "an empty read changes nothing";
}

TEST(FramerStatus, ReadsEachMarkerExactly) {
    struct Case {
        std::string text;
        bool connected;
        std::string statusText;
        bool signalLoss;
        bool frameAlignLoss;
        int negSlips;
        int posSlips;
    };
    const Case cases[] = {
        {"Current state           : No Carrier\n", false, "No Carrier", true, true, 0, 0},
        {"Current state           : Connected", true, "Connected", true, true, 0, 0},
        {"Current state           : No Carrier \n", true, "No Carrier ", true, true, 0, 0},
        {"Loss of Signal          : no\n", false, "absent", false, true, 0, 0},
        {"Loss of Signal          : YES\n", false, "absent", false, true, 0, 0},
        {"Loss of Signal          : yes\r\n", false, "absent", false, true, 0, 0},
        {"x Loss of Frame Alignment : no", false, "absent", true, false, 0, 0},
        {"Receive Slip Negative   : 12 frames\n", false, "absent", true, true, 12, 0},
        {"Receive Slip Positive   :   -7\n", false, "absent", true, true, 0, -7},
        {"Receive Slip Positive   : none\n", false, "absent", true, true, 0, 0},
        {"Receive Slip Negative   : 99999999999\n", false, "absent", true, true, INT_MAX, 0},
        {"Receive Slip Positive   : -99999999999\n", false, "absent", true, true, 0, INT_MIN},
        {std::string("Loss of Signal          : no") + '\0' + "\nLoss of Frame Alignment : no\n",
         false, "absent", false, true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FramerDataHolder framer(1, "f");
        parse(framer, c.text);
        EXPECT_EQ(c.connected, framer.connected);
        EXPECT_EQ(c.statusText, framer.statusText);
        EXPECT_EQ(c.signalLoss, framer.signalLoss);
        EXPECT_EQ(c.frameAlignLoss, framer.frameAlignLoss);
        EXPECT_EQ(c.negSlips, framer.negSlips);
        EXPECT_EQ(c.posSlips, framer.posSlips);
    }
}

TEST(FramerStatus, ReportsOnlyChanges) {
    FramerDataHolder framer(2, "f");
    const std::string text =
        "Current state           : No Carrier\n"
        "Loss of Signal          : yes\n"
        "Receive Slip Negative   : 3\n";
    EXPECT_TRUE(parse(framer, text));
    EXPECT_FALSE(parse(framer, text)) << "the same state again";
    EXPECT_FALSE(parse(framer, "Current state           : No Carrier")) << "nor without newline";
    EXPECT_TRUE(parse(framer, "Receive Slip Negative   : 4\n"));
}

TEST(FramerStatus, TakesAWholeReadWithoutZeroByte) {
    FramerDataHolder framer(1, "f");
    std::string text = "Receive Slip Positive   : 5";
    text += std::string(1024 - text.size() - 1, '0') + "1";  // the digits run to the end
    ASSERT_EQ(1024u, text.size());
    EXPECT_TRUE(parse(framer, text));
    EXPECT_EQ(INT_MAX, framer.posSlips);
}

TEST(NetIfSmoothing, IsUpWhileTwoOfTheLastThreeSamplesRun) {
    NetIfDataHolder netIf(2, "eth0");
    struct Step {
        int running;
        bool changed;
        int up;
    };
    const Step steps[] = {{1, true, 0}, {1, true, 1}, {1, false, 1}, {0, false, 1},
                          {0, true, 0}, {1, false, 0}, {1, true, 1}};
    for (const Step& step : steps) {
        EXPECT_EQ(step.changed, netIf.setNetIfStatus(step.running));
        EXPECT_EQ(step.up, netIf.up);
        EXPECT_EQ(step.up == 1 ? 1 : 2, netIf.operStatus);
        EXPECT_EQ(netIf.operStatus, netIf.adminStatus);
        EXPECT_LE(netIf.samples.size(), 3u);
    }
}

class NetIfSampling : public ::testing::Test {
protected:
    void SetUp() override { traces.monitoring = true; }
    void TearDown() override { traces.reset(); }

    board::sim::NetIfModel& model() { return board::sim::Board::instance().netifs(); }

    test::BoardRoot board;
    test::StreamCapture progress{std::clog};
};

TEST_F(NetIfSampling, ReadsTheRunningFlagOfItsIndex) {
    NetIfDataHolder netIf(2, "eth0");
    EXPECT_TRUE(netIf.updateNetIf());
    EXPECT_TRUE(netIf.updateNetIf());
    EXPECT_EQ(1, netIf.up);
    model().set_running("eth0", false);
    EXPECT_FALSE(netIf.updateNetIf());
    EXPECT_TRUE(netIf.updateNetIf());
    EXPECT_EQ(0, netIf.up);
    EXPECT_EQ(4u, model().sockets_opened()) << "one socket per sample";
}

TEST_F(NetIfSampling, KeepsItsStateWhenNoSampleCanBeTaken) {
    NetIfDataHolder netIf(2, "eth0");
    model().fail_next_socket(EMFILE);
    EXPECT_FALSE(netIf.updateNetIf());
    model().fail_next(SIOCGIFFLAGS, EPERM);
    EXPECT_FALSE(netIf.updateNetIf());
    NetIfDataHolder gone(9, "eth9");
    EXPECT_FALSE(gone.updateNetIf());
    EXPECT_EQ(-1, netIf.up);
    EXPECT_TRUE(netIf.samples.empty());
    EXPECT_EQ("Error open socket:  errno=\"Too many open files\"\n"
              "Error ioctl socket:  errno=\"Operation not permitted\"\n"
              "Error ioctl socket:  errno=\"No such device\"\n",
              progress.str());
}

}  // namespace
