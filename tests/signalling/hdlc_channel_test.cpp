// The HDLC channel on the simulated multi-channel controller and switch:
// what it allocates and switches, how it writes and reads frames, and how
// it fails.
#include "signalling/hdlc.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "board/drivers/hal.h"
#include "board/sim/hal_model.h"
#include "board/sim/mcc_model.h"
#include "hardware/hw_mux.h"
#include "link/packet.h"
#include "tests/link/packet_pool_check.h"
#include "tests/support/board_root.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/stream_capture.h"
#include "tests/support/virtual_loop.h"

namespace {

using board::sim::Board;
using board::sim::Op;
namespace mcc = board::mcc;
namespace hal = board::hal;
using Bytes = std::vector<uint8_t>;

constexpr int kTrunk1Ts16 = 48;
constexpr int kBriLine = 6;

// Tells what the channel reported, in order.
struct Reports : HDLC::Notify {
    void on_hdlc_receive(Packet& frame) override {
        frames.emplace_back(frame.data(), frame.data() + frame.length());
        log.push_back("receive");
    }
    void on_hdlc_error(Cause::Type cause) override {
        log.push_back("error " + std::to_string(cause));
    }
    void on_hdlc_ready() override { log.push_back("ready"); }

    std::vector<Bytes> frames;
    std::vector<std::string> log;
};

// A way the board fails, and the line the channel logs for it.
struct FailureCase {
    const char* name;
    std::function<void()> fail;
    const char* logged;
};

class HdlcChannelTest : public PacketPoolCheck {
protected:
    HdlcChannelTest() {
        channel.notify = &reports;
        channel.mode = HDLC::pri;
        channel.link = 3;
        channel.timeslot = 16;
    }

    static board::sim::MccModel& mcc() {
        return *Board::instance().model_as<board::sim::MccModel>(mcc::kDevice);
    }
    static board::sim::HalModel& fabric() {
        return *Board::instance().model_as<board::sim::HalModel>(hal::kDevice);
    }
    // The channel's TDM number, from the model.
    static int allocated() { return mcc().allocations().at(0).timeslot; }
    // The switch requests made, as "source->destination".
    static std::vector<std::string> connects() {
        std::vector<std::string> out;
        for (const auto& call : Board::instance().journal(hal::kDevice)) {
            if (call.request != hal::kMuxConnect) continue;
            hal::mux_connect record;
            std::memcpy(&record, call.data.data(), sizeof record);
            out.push_back(std::to_string(record.source) + "->" +
                          std::to_string(record.destination));
        }
        return out;
    }
    static unsigned reads() {
        unsigned n = 0;
        for (const auto& call : Board::instance().journal(mcc::kDevice)) n += call.op == Op::Read;
        return n;
    }
    bool send(const Bytes& bytes) {
        Packet frame;
        frame.reserve_head(0);
        frame.put(bytes.data(), static_cast<unsigned>(bytes.size()));
        return channel.hdlc_transmit(frame);
    }
    // Opened on `line` both ways and writable: the first "ready" has come.
    void open(int line = kTrunk1Ts16) {
        ASSERT_TRUE(channel.activate()) << errors.str();
        ASSERT_TRUE(channel.Follow(line, line, true));
        loop.pump();
        ASSERT_EQ(std::vector<std::string>{"ready"}, reports.log);
        reports.log.clear();
    }
    std::string counters() const {
        return std::to_string(channel.txSU) + " " + std::to_string(channel.txDiscard) + " " +
               std::to_string(channel.txError) + " " + std::to_string(channel.txOverflow) + " " +
               std::to_string(channel.rxSU);
    }

    test::BoardRoot root;
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    test::HardwareReset hardware;
    test::StreamCapture errors{std::cerr};
    test::StreamCapture progress{std::clog};
    Reports reports;
    HDLC channel;
};

// Each mode allocates its type; the channel then hears and feeds what its
// owner says.
TEST_F(HdlcChannelTest, EachModeAllocatesItsTypeAndSwitchesWhatItIsTold) {
    struct Case {
        int mode;
        uint32_t type;
        const char* transmitsTo;  // "line": the channel it hears; "bri": another
    };
    const Case cases[] = {
        {HDLC::ss7, mcc::kSs7, "line"},
        {HDLC::pri, mcc::kData, "line"},
        {HDLC::bri, mcc::kBri, "bri"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Board::instance().clear_journal();
        channel.mode = c.mode;
        ASSERT_TRUE(channel.activate());
        EXPECT_TRUE(connects().empty());
        const mcc::mcc_allocation record = mcc().allocations().at(0).record;
        EXPECT_EQ(c.type, record.type);
        EXPECT_EQ((std::vector<uint32_t>{512, 0, 1, 4}),
                  (std::vector<uint32_t>{record.rx_packet_size, record.reserved,
                                         record.rx_threshold, record.tx_threshold}));
        const int C = allocated();
        const int out = std::string(c.transmitsTo) == "bri" ? kBriLine : kTrunk1Ts16;
        EXPECT_TRUE(channel.Follow(kTrunk1Ts16, out, true));
        EXPECT_EQ((std::vector<std::string>{std::to_string(kTrunk1Ts16) + "->" + std::to_string(C),
                                            std::to_string(C) + "->" + std::to_string(out)}),
                  connects());
        EXPECT_EQ(kTrunk1Ts16, fabric().origin(C));
        EXPECT_EQ(C, fabric().origin(out));
        channel.deactivate();
        EXPECT_EQ(0u, mcc().opens());
    }
}

TEST_F(HdlcChannelTest, WritesEachFrameWholeAndCountsWhatItCouldNot) {
    EXPECT_TRUE(send({}));  // closed, yet an empty frame is taken
    EXPECT_FALSE(send({1}));
    EXPECT_EQ("0 1 0 0 0", counters());

    open();  // counters start again
    EXPECT_EQ("0 0 0 0 0", counters());
    EXPECT_TRUE(send({}));
    EXPECT_TRUE(send({0x00, 0x01, 0x7f}));
    ASSERT_EQ(1u, mcc().sent.size());
    EXPECT_EQ((Bytes{0x00, 0x01, 0x7f}), mcc().sent[0].bytes);
    EXPECT_EQ(allocated(), mcc().sent[0].timeslot);

    Board::instance().fail_next(Op::Write, mcc::kDevice, EIO);
    EXPECT_FALSE(send({2}));
    EXPECT_EQ("1 0 1 0 0", counters());
    EXPECT_TRUE(channel.is_ready());
}

// A write the driver interrupts is made again, up to kFrameWriteTries
// writes in all: a driver that keeps answering EINTR, for one frame or for
// good, has refused it as a failed write, and the loop goes on.
TEST_F(HdlcChannelTest, AnInterruptedWriteIsMadeAgainAFewTimesOnly) {
    constexpr unsigned tries = kFrameWriteTries;
    const struct {
        const char* name;
        int interruptions;  // -1: every write the test makes
        unsigned frames;
        bool taken;
        unsigned writes;
    } rows[] = {
        {"once", 1, 1, true, 2},
        {"all tries but the last", tries - 1, 1, true, tries},
        {"every try", tries, 1, false, tries},
        {"for good", -1, 3, false, 3 * tries},
    };
    open();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Board::instance().clear_journal();
        const unsigned errorsBefore = channel.txError;
        if (row.interruptions > 0)
            Board::instance().fail_next(Op::Write, mcc::kDevice, EINTR, 0, row.interruptions);
        else  // bounded all the same, so that a loop without end shows as a failure
            Board::instance().refuse = [left = 100000](Op op, const std::string&, uint32_t,
                                                       const void*) mutable {
                return op == Op::Write && left-- > 0 ? EINTR : 0;
            };
        for (unsigned f = 0; f < row.frames; ++f) EXPECT_EQ(row.taken, send({1}));
        Board::instance().refuse = nullptr;
        unsigned writes = 0;
        for (const auto& call : Board::instance().journal(mcc::kDevice)) writes += call.op == Op::Write;
        EXPECT_EQ(row.writes, writes);
        EXPECT_EQ(row.taken ? 0u : row.frames, channel.txError - errorsBefore);
        EXPECT_TRUE(channel.is_ready());
    }
    EXPECT_TRUE(send({2}));
}

TEST_F(HdlcChannelTest, ABusyDriverMakesItWaitForTheNextWritableEvent) {
    open();
    Board::instance().fail_next(Op::Write, mcc::kDevice, EAGAIN);
    EXPECT_FALSE(send({1}));
    EXPECT_FALSE(channel.is_ready());
    EXPECT_EQ("0 0 0 0 0", counters());
    loop.pump(3);
    EXPECT_EQ(std::vector<std::string>{"ready"}, reports.log);
    EXPECT_TRUE(channel.is_ready());
    EXPECT_TRUE(send({1}));
}

TEST_F(HdlcChannelTest, ReadsOneFramePerReadableEvent) {
    open();
    for (uint8_t i = 1; i <= 3; ++i) ASSERT_EQ(1, mcc().line_packet(kTrunk1Ts16, Bytes(i, i)));
    loop.pump();
    EXPECT_EQ(1u, reports.frames.size());
    loop.pump(2);
    EXPECT_EQ((std::vector<Bytes>{{1}, {2, 2}, {3, 3, 3}}), reports.frames);
    EXPECT_EQ(3u, channel.rxSU);
}

// With no packet block free a frame is read all the same (or the channel
// would stay readable) and dropped, counted; the next one goes up.
TEST_F(HdlcChannelTest, AFrameReadWhileThePoolIsEmptyIsDroppedAndCounted) {
    open();
    {
        PoolHold empty(0);
        ASSERT_EQ(1, mcc().line_packet(kTrunk1Ts16, {1}));
        loop.pump();
        EXPECT_EQ(1u, channel.rxDropped);
    }
    ASSERT_EQ(1, mcc().line_packet(kTrunk1Ts16, {2}));
    loop.pump();
    EXPECT_EQ(std::vector<Bytes>{{2}}, reports.frames);
    EXPECT_EQ(1u, channel.rxSU);
}

// EAGAIN is no failure; any other error and a hang-up close the channel
// after one read, with one report. The driver frees the controller channel
// for the next user: the switch paths go with it.
TEST_F(HdlcChannelTest, AFailingReadClosesTheChannelOnce) {
    const FailureCase cases[] = {
        {"EIO",
         [] {
             Board::instance().fail_next(Op::Read, mcc::kDevice, EIO);
             mcc().line_packet(kTrunk1Ts16, {1});
         },
         "hdlc [3/16]: read error: Input/output error"},
        {"hang-up", [] { Board::instance().channels(mcc::kDevice).at(0)->hang_up(); },
         "hdlc [3/16]: read error: hung up"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        open();
        Board::instance().fail_next(Op::Read, mcc::kDevice, EAGAIN);
        mcc().line_packet(kTrunk1Ts16, {9});
        loop.pump();
        EXPECT_TRUE(channel.is_open());
        loop.pump();  // the frame is still there
        ASSERT_EQ(std::vector<std::string>{"receive"}, reports.log);
        reports.log.clear();
        Board::instance().clear_journal();
        errors.clear();
        const int controllerChannel = allocated();

        c.fail();
        loop.pump(5);
        EXPECT_FALSE(channel.is_open());
        EXPECT_EQ(std::vector<std::string>{"error 0"}, reports.log);
        EXPECT_EQ(1u, reads());
        EXPECT_EQ(std::string(c.logged) + "\n", errors.str());
        EXPECT_EQ(0u, mcc().opens());
        EXPECT_EQ(board::sim::HalModel::Output::Driven, fabric().channel(kTrunk1Ts16).output);
        EXPECT_EQ(board::sim::HalModel::Output::Off, fabric().channel(controllerChannel).output);
        reports.log.clear();
    }
}

// A read of 0 is no failure either: it ends the burst, not the channel, and
// the frame after it comes in the next pass.
TEST_F(HdlcChannelTest, AReadOf0EndsTheBurstNotTheChannel) {
    open();
    mcc().drained_reads_zero = true;
    Board::instance().channels(mcc::kDevice).at(0)->deliver("", 0);
    mcc().line_packet(kTrunk1Ts16, {1});
    errors.clear();
    EXPECT_EQ(2u, loop.ready_passes(50));
    EXPECT_TRUE(channel.is_open());
    EXPECT_EQ((std::vector<Bytes>{{1}}), reports.frames);
    EXPECT_EQ("", errors.str());
}

TEST_F(HdlcChannelTest, ARefusedOpenAllocationOrTimeslotLeavesItClosed) {
    const FailureCase cases[] = {
        {"open", [] { Board::instance().fail_next(Op::Open, mcc::kDevice, ENODEV); },
         "hdlc [3/16]: fail to open MCC device: No such device\n"},
        {"allocation", [] { mcc().pool_size[mcc::kData] = 0; },
         "hdlc [3/16]: MCC_ALLOCATE fail: No space left on device\n"},
        {"timeslot",
         [] { Board::instance().fail_next(Op::Ioctl, mcc::kDevice, EIO, mcc::MCC_TIMESLOT); },
         "hdlc [3/16]: MCC_TIMESLOT fail: Input/output error\n"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        c.fail();
        EXPECT_FALSE(channel.activate());
        EXPECT_EQ(c.logged, errors.str());
        EXPECT_FALSE(channel.is_open());
        EXPECT_EQ(0u, mcc().opens());
        mcc().reset();
    }
    loop.pump(2);
    EXPECT_TRUE(reports.log.empty());
}

// Deactivation frees the controller channel, and its switch paths go with
// it; a new activation allocates and switches again, and one on another
// timeslot leaves the old one.
TEST_F(HdlcChannelTest, ActivatingAgainReconnects) {
    open();
    const int first = allocated();
    channel.deactivate();
    EXPECT_EQ(-1, fabric().origin(kTrunk1Ts16));
    EXPECT_EQ(board::sim::HalModel::Output::Off, fabric().channel(first).output);
    EXPECT_EQ(0u, mcc().opens());
    Board::instance().clear_journal();
    open();
    EXPECT_EQ(2u, connects().size());
    EXPECT_TRUE(send({5}));
    EXPECT_EQ(1, mcc().line_packet(kTrunk1Ts16, {6}));
    loop.pump();
    EXPECT_EQ(std::vector<Bytes>{{6}}, reports.frames);

    constexpr int kTrunk2Ts16 = 80;
    reports.log.clear();
    open(kTrunk2Ts16);
    EXPECT_EQ(-1, fabric().origin(kTrunk1Ts16));
    EXPECT_EQ(allocated(), fabric().origin(kTrunk2Ts16));
    EXPECT_EQ(kTrunk2Ts16, fabric().origin(allocated()));
}

// A path the driver refuses: for its owner's own link, no claim stays, no
// other path is asked for, and the answer says so; otherwise the claim
// stands, owed, and the refresh makes it once the driver takes it. A move
// leaves what it heard and fed.
TEST_F(HdlcChannelTest, FollowsOrOwesWhatTheDriverRefuses) {
    for (bool own : {true, false}) {
        SCOPED_TRACE(own ? "own" : "owed");
        ASSERT_TRUE(channel.activate());
        const int C = allocated();
        Board::instance().fail_next(Op::Ioctl, hal::kDevice, EIO, hal::kMuxConnect, own ? 1 : 2);
        EXPECT_FALSE(channel.Follow(kTrunk1Ts16, kTrunk1Ts16, own));
        EXPECT_EQ(-1, fabric().origin(C));
        EXPECT_EQ(own ? -1 : kTrunk1Ts16, channel.heard());
        EXPECT_EQ(own ? -1 : kTrunk1Ts16, channel.feeds());
        HwMux::instance().OnDPC();
        EXPECT_EQ(own ? -1 : kTrunk1Ts16, fabric().origin(C));
        EXPECT_EQ(own ? -1 : C, fabric().origin(kTrunk1Ts16));
        EXPECT_TRUE(channel.Follow(kTrunk1Ts16, kTrunk1Ts16, own));
        EXPECT_TRUE(channel.Follow(kBriLine, kBriLine, own));
        EXPECT_EQ(kBriLine, fabric().origin(C));
        EXPECT_EQ(C, fabric().origin(kBriLine));
        EXPECT_EQ(-1, fabric().origin(kTrunk1Ts16));
        channel.deactivate();
    }
}

}  // namespace
