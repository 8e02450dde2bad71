// HDLC data slots against a scripted device on a trunk timeslot of the
// simulated board, driven by the controller, in virtual time.
#include <errno.h>
#include <gtest/gtest.h>

#include "board/drivers/mcc.h"
#include "tests/signalling/signalling_slot_fixture.h"
#include "tests/support/throttled_lines.h"

namespace {

using Lines = std::vector<std::string>;
using Frame = board::sim::TdmFabric::Frame;
using board::sim::Op;

constexpr int kDeviceChannel = 37;  // trunk 1, timeslot 5
constexpr uint8_t kMore = 0x80;

class HdlcSlots : public test::SignallingSlotTest {
protected:
    // Slot 40 (address 0x1234) wired to the device's timeslot.
    void connect_device() {
        make(test::create_trunk(1, 5), 12);
        wire(12, 40);
        run(1);
        signalled();
    }
    // A frame of the device: address, control (counter 5), body.
    static Frame reply(std::vector<uint8_t> body, uint16_t address = 0x1234) {
        body.insert(body.begin(), {uint8_t(address >> 8), uint8_t(address), 5 << 5});
        return body;
    }
    void device_sends(const Frame& frame) { device.send(frame); }
    // The control bytes of the frames the device has received.
    Lines controls() {
        Lines out;
        for (const Frame& frame : device.frames) {
            char text[8];
            std::snprintf(text, sizeof text, "%02x", frame.at(2));
            out.push_back(text);
        }
        device.frames.clear();
        return out;
    }

    void SetUp() override { make(test::create_hdlc(2, 0x1234), 40); }

    board::sim::TdmFabric::Endpoint& device = frames().endpoint(kDeviceChannel);
};

// The send counter in bits 7-5 wraps after 8 packages; bits 2-0 carry the
// counter the device sent last.
TEST_F(HdlcSlots, SendEachPackageAsOneAddressedFrame) {
    connect_device();
    device_sends(reply({0x61}));
    run(1);
    EXPECT_EQ(Lines{"40 hdlcPackages 61"}, signalled());
    EXPECT_EQ((Lines{"40 success"}),
              told(test::hdlc_packages({"a", "b", "c", "d", "e", "f", "g", "h", "i"}), 40));
    EXPECT_EQ((Lines{"05", "25", "45", "65", "85", "a5", "c5", "e5", "05"}), controls());
    EXPECT_EQ((Frame{0x12, 0x34, 0x05, 'a'}), Frame(mcc().sent.at(0).bytes));
}

TEST_F(HdlcSlots, CollectTheFramesOfOneResponse) {
    struct Step {
        Frame frame;
        unsigned afterMs;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        Lines heard;
    };
    const Case cases[] = {
        {"three frames in time",
         {{reply({1, kMore}), 0}, {reply({2, kMore}), 40}, {reply({3, 0}), 40}},
         {"40 hdlcPackages 0180 0280 0300"}},
        {"the last one late",
         {{reply({1, kMore}), 0}, {reply({2, kMore}), 40}, {reply({3, 0}), 110}},
         {"40 hdlcPackages 0180 0280", "40 hdlcPackages 0300"}},
        {"another address ends it",
         {{reply({1, kMore}), 0}, {reply({2, 0}, 0x4321), 10}},
         {"40 hdlcPackages 0180"}},
        {"nothing for this slot", {{reply({1, kMore}, 0x4321), 0}, {reply({2, 0}, 0x4321), 10}}, {}},
    };
    connect_device();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const Step& step : c.steps) {
            run(step.afterMs);
            device_sends(step.frame);
        }
        run(200);
        EXPECT_EQ(c.heard, signalled("hdlcPackages"));
    }
}

// What does not fit the queue of 120 is lost and the command refused; the
// counter counts every package.
TEST_F(HdlcSlots, AFullQueueDropsWhatDoesNotFitAndSaysSo) {
    std::vector<std::string> packages(125, "p");
    EXPECT_EQ(Lines{"40 unsupported"}, told(test::hdlc_packages(packages), 40));
    EXPECT_NE(std::string::npos,
              progress.str().find("HdlcSlot[1/*]: send queue full: 5 of 125 packages dropped"));
    connect_device();
    const Lines sent = controls();
    ASSERT_EQ(120u, sent.size());
    EXPECT_EQ("00", sent.front());
    EXPECT_EQ("e0", sent.back());  // the 120th: counter 119
    EXPECT_EQ(Lines{"40 success"}, told(test::hdlc_packages({"q"}), 40));
    EXPECT_EQ(Lines{"a0"}, controls());  // counter 125
}

// A controller that sends faster than the line takes gets a line a second,
// the next one saying how many were held back.
TEST_F(HdlcSlots, AFullQueueIsSaidOnceASecond) {
    const std::vector<std::string> packages(125, "p");
    for (int second = 0; second < 2; ++second) {
        for (int k = 0; k < 3; ++k) told(test::hdlc_packages(packages), 40);
        run(1000);
    }
    EXPECT_TRUE(test::written_twice_with_a_count(progress.str(), "packages dropped", 2));
}

// A frame the open, ready channel failed is dropped and the rest go on; one
// the channel is busy for waits for it.
TEST_F(HdlcSlots, AFailedFrameIsDroppedAndABusyChannelKeepsIt) {
    connect_device();
    sim().fail_next(Op::Write, board::mcc::kDevice, EIO);
    EXPECT_EQ(Lines{"40 success"}, told(test::hdlc_packages({"a", "b", "c"}), 40));
    EXPECT_EQ((Lines{"20", "40"}), controls());

    sim().fail_next(Op::Write, board::mcc::kDevice, EAGAIN);
    EXPECT_EQ(Lines{"40 success"}, told(test::hdlc_packages({"d", "e"}), 40));
    run(1);
    EXPECT_EQ((Lines{"60", "80"}), controls());
    run(3000);
    EXPECT_EQ(Lines{"40 hdlcLinkInfo 4 0 1 0 0"}, signalled("hdlcLinkInfo"));
}

// Statistics every 3 seconds, connected or not; frames of any length from
// the device are taken without harm.
TEST_F(HdlcSlots, ReportAndTakeFramesOfAnyLength) {
    run(3000);
    EXPECT_EQ(Lines{"40 hdlcLinkInfo 0 0 0 0 0"}, signalled());
    connect_device();
    for (const Frame& frame : {Frame{}, Frame{0x12}, Frame{0x12, 0x34}, Frame{0x12, 0x34, 0xa0},
                               Frame{0x12, 0x34, 0xa0, 0x01}})
        device_sends(frame);
    run(1);
    EXPECT_EQ((Lines{"40 hdlcPackages ", "40 hdlcPackages ", "40 hdlcPackages 01"}),
              signalled("hdlcPackages"));
    EXPECT_EQ(Lines{"40 success"}, told(test::hdlc_packages({"x"}), 40));
    EXPECT_EQ(Lines{"05"}, controls());  // the device's counter 5 came back
}

// Moved to another timeslot and wired both ways there, the slot keeps its
// channel when the controller cleans up its old link (the old trunk slot,
// which it still feeds, is disconnected): its packages reach the new line.
TEST_F(HdlcSlots, KeepTheirChannelWhenTheLinkLeftFromAMoveGoes) {
    connect_device();
    make(test::create_trunk(2, 5), 13);
    wire(13, 40);
    auto& moved = frames().endpoint(kDeviceChannel + 32);
    succeed(test::command(Alternative::disconnect), 12);
    EXPECT_EQ(Lines{}, signalled("deactivated"));
    EXPECT_EQ(Lines{"40 success"}, told(test::hdlc_packages({"a"}), 40));
    run(1);
    EXPECT_EQ(1u, moved.frames.size());
    EXPECT_TRUE(device.frames.empty());
}

// Fed from a slot that has no channel to give (a PSTN slot), the slot goes
// on serving the trunk it transmits to; when that link goes too, the trunk
// carries nothing of it.
TEST_F(HdlcSlots, FollowTheGraphWhenFedFromASlotWithoutAChannel) {
    make(test::create_trunk(1, 5), 12);
    join(40, 12);
    make(test::create_pstn_cas(1), 22);
    join(22, 40);
    run(1);
    expect_sound();
    EXPECT_EQ(Lines{"40 success"}, told(test::hdlc_packages({"a"}), 40));
    run(1);
    EXPECT_EQ(1u, device.frames.size());
    succeed(test::command(Alternative::disconnect), 12);
    expect_sound();
    EXPECT_EQ(-1, fabric().origin(kDeviceChannel));
}

// A channel that does not open for a new link says so and stays closed
// until an activate: the same connect again is not a new link.
TEST_F(HdlcSlots, AChannelThatDidNotOpenForALinkWaitsForAnActivate) {
    make(test::create_trunk(1, 5), 12);
    sim().fail_next(board::sim::Op::Ioctl, board::mcc::kDevice, ENOSPC, board::mcc::MCC_ALLOCATE);
    join(12, 40);
    EXPECT_EQ(Lines{"40 deactivated"}, signalled("deactivated"));
    join(12, 40);
    EXPECT_EQ(Lines{"40 unsupported"}, told(test::hdlc_packages({"a"}), 40));
    succeed(test::activate(), 40);
    EXPECT_EQ(Lines{"40 success"}, told(test::hdlc_packages({"a"}), 40));
}

}  // namespace
