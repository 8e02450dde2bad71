// MCC data-channel slots on the simulated multi-channel controller: what
// they allocate, the packets they send and receive through the switch, and
// what a refusing driver leaves behind.
#include <errno.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/slots/media_fixture.h"
#include "tests/support/throttled_lines.h"

namespace {

using Lines = std::vector<std::string>;
using board::sim::Op;
using LGCP::MccMode;
using LGCP::MccType;
namespace mcc = board::mcc;

constexpr auto npos = std::string::npos;

class MccSlots : public test::MediaSlotTest {
protected:
    LGCP::Command create_data() { return test::create_mcc(MccType::data, MccMode::standard); }
    static int timeslot(unsigned number) {
        return Slots::instance()->at(number)->IGetTransmitChannel();
    }
};

TEST_F(MccSlots, AllocateTheChannelTypeTheModeAsks) {
    struct Case {
        MccType::NamedNumber type;
        MccMode::NamedNumber mode;
        uint32_t allocated;
    };
    const Case cases[] = {
        {MccType::data, MccMode::standard, mcc::kData},
        {MccType::bri, MccMode::standard, mcc::kBri},
        {MccType::transparent, MccMode::standard, mcc::kTransparent},
        {MccType::data, MccMode::ss7, mcc::kSs7},
        {MccType::bri, MccMode::ss7, mcc::kSs7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.allocated);
        EXPECT_EQ(Lines{"50 success"}, heard(test::create_mcc(c.type, c.mode), 50));
        const auto allocations = mcc().allocations();
        ASSERT_EQ(1u, allocations.size());
        const mcc::mcc_allocation& record = allocations[0].record;
        EXPECT_EQ(c.allocated, record.type);
        EXPECT_EQ(512u, record.rx_packet_size);
        EXPECT_EQ(0u, record.reserved);
        EXPECT_EQ(1u, record.rx_threshold);
        EXPECT_EQ(1u, record.tx_threshold);
        EXPECT_EQ(allocations[0].timeslot, timeslot(50));

        heard(test::command(LGCP::Command::Alternative::destroy), 50);
        EXPECT_EQ(0u, mcc().opens());
    }
}

TEST_F(MccSlots, UserDataIsOnePacketOnTheTimeslotAndArrivesWhereItIsSwitched) {
    make(create_data(), 52);
    make(create_data(), 53);
    connect(52, 53);
    EXPECT_EQ((Lines{"52 success", "53 userData 0a 0b 0c"}),
              heard(test::user_data({10, 11, 12}), 52));
    ASSERT_EQ(1u, mcc().sent.size());
    EXPECT_EQ((std::vector<uint8_t>{10, 11, 12}), mcc().sent[0].bytes);
    EXPECT_EQ(timeslot(52), mcc().sent[0].timeslot);
}

TEST_F(MccSlots, EachPacketFromTheLineIsOneSignal) {
    make(test::create_trunk(0, 4), 54);
    make(create_data(), 55);
    connect(54, 55);
    for (const std::vector<uint8_t>& packet : {std::vector<uint8_t>{1}, {2, 2}, {3, 3, 3}})
        EXPECT_EQ(1, mcc().line_packet(4, packet));
    EXPECT_EQ((Lines{"55 userData 01", "55 userData 02 02", "55 userData 03 03 03"}), signals());

    // Within the allocated packet size only.
    EXPECT_EQ(0, mcc().line_packet(4, std::vector<uint8_t>(513, 0x55)));
    EXPECT_EQ(1, mcc().line_packet(4, std::vector<uint8_t>(512, 0x55)));
    EXPECT_EQ(1u, signals().size());
}

TEST_F(MccSlots, ARefusedWriteIsAnsweredUnsupported) {
    make(create_data(), 56);
    sim().fail_next(Op::Write, mcc::kDevice, EIO);
    EXPECT_EQ(Lines{"56 unsupported"}, heard(test::user_data({1}), 56));
    EXPECT_NE(npos, errors.str().find("mcc: 56:MCC write fail: Input/output error"));
    EXPECT_TRUE(mcc().sent.empty());
}

// A controller that sends faster than the line takes, or on after the
// channel ended, has its packets refused with one line a second, the next
// one saying how many were held back.
TEST_F(MccSlots, RefusedPacketsAreLoggedOnceASecond) {
    const std::pair<const char*, bool> cases[] = {
        {"mcc: 64:MCC write fail: Resource temporarily unavailable", false},
        {"mcc: 64:MCC channel ended, userData refused", true},
    };
    for (const auto& [logged, ended] : cases) {
        SCOPED_TRACE(logged);
        make(create_data(), 64);
        if (ended) {
            sim().channels(mcc::kDevice).at(0)->hang_up();
            server.pump();  // the slot sees the end before the flood: none is written
        } else {
            mcc().stall(timeslot(64), true);  // its line takes nothing more
        }
        errors.clear();
        for (int flood = 0; flood < 2; ++flood) {
            for (int k = 0; k < 100; ++k) controller.send(test::user_data({1}), k, 64);
            for (int k = 0; k < 100; ++k) ASSERT_TRUE(controller.receive_until(test::is_response));
            server.advance(1000);
        }
        EXPECT_TRUE(test::written_twice_with_a_count(errors.str(), logged, 99));
        ASSERT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), 64));
    }
}

TEST_F(MccSlots, QueryReportsTheFreeChannels) {
    struct Case {
        const char* name;
        std::function<void()> setUp;
        std::vector<int> counts;  // data, BRI, transparent
    };
    const Case cases[] = {
        {"answered", [] {}, {4, 2, 7}},
        // A refusal says nothing about the channels: the counts known stay.
        {"request refused",
         [] { sim().fail_next(Op::Ioctl, mcc::kDevice, EIO, mcc::MCC_RESOURCES); },
         {4, 2, 7}},
        {"device absent", [] { mcc().absent = true; }, {0, 0, 0}},
    };
    mcc().pool_size = {5, 2, 7, 1};
    make(create_data(), 57);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.setUp();
        controller.send(test::command(LGCP::Command::Alternative::query), 1);
        auto query = controller.receive_until([](const LGCP::Message& m) {
            return test::is_signal(m) && m.get_pdu().get_signal()->is_query();
        });
        ASSERT_TRUE(query);
        const LGCP::Resources& resources = *query->get_pdu().get_signal()->get_query();
        EXPECT_EQ(c.counts, (std::vector<int>{resources.get_mcc_data().getValue(),
                                              resources.get_mcc_bri().getValue(),
                                              resources.get_mcc_trans().getValue()}));
        mcc().absent = false;
    }
}

TEST_F(MccSlots, AChannelThatCannotBeSetUpIsDeclinedAndClosed) {
    struct Case {
        const char* name;
        std::function<void()> setUp;
        const char* logged;
    };
    const Case cases[] = {
        {"open", [] { sim().fail_next(Op::Open, mcc::kDevice, ENODEV); },
         "mcc: fail to open MCC device: No such device"},
        {"allocation", [] { sim().fail_next(Op::Ioctl, mcc::kDevice, EIO, mcc::MCC_ALLOCATE); },
         "mcc: MCC_ALLOCATE fail: Input/output error"},
        {"no channel left", [] { mcc().pool_size[mcc::kData] = 0; },
         "mcc: MCC_ALLOCATE fail: No space left on device"},
        {"timeslot", [] { sim().fail_next(Op::Ioctl, mcc::kDevice, EIO, mcc::MCC_TIMESLOT); },
         "mcc: MCC_TIMESLOT fail: Input/output error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        c.setUp();
        EXPECT_EQ(Lines{"58 insufficientResources"}, heard(create_data(), 58));
        EXPECT_NE(npos, errors.str().find(c.logged)) << errors.str();
        EXPECT_EQ(0u, mcc().opens());
        mcc().reset();
    }
}

// A channel that hangs up or fails is closed after one read and one line;
// the controller hears of it when it next sends data. The driver frees the
// channel for the next slot at once, so the slot lets go of it: the next
// slot on that timeslot takes the trunk's packets, also after the old slot
// was wired or destroyed.
TEST_F(MccSlots, AChannelThatEndsIsClosedOnceAndLeftToTheNextSlot) {
    struct Case {
        const char* name;
        std::function<void()> end;
        const char* logged;
    };
    const Case cases[] = {
        {"hang-up", [] { sim().channels(mcc::kDevice).at(0)->hang_up(); },
         "mcc: 59:MCC read fail: hung up\n"},
        {"EIO",
         [] {
             sim().fail_next(Op::Read, mcc::kDevice, EIO);
             sim().channels(mcc::kDevice).at(0)->deliver("x", 1);
         },
         "mcc: 59:MCC read fail: Input/output error\n"},
    };
    make(test::create_trunk(0, 4), 61);
    make(test::create_trunk(0, 5), 63);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make(create_data(), 59);
        const int channel = timeslot(59);
        connect(61, 59);
        connect(59, 61);
        errors.clear();
        c.end();
        EXPECT_EQ(1u, server.loop().ready_passes(50));
        EXPECT_EQ(c.logged, errors.str());
        EXPECT_TRUE(mcc().allocations().empty());
        EXPECT_EQ(-1, timeslot(59));
        EXPECT_EQ(Lines{"59 unsupported"}, heard(test::user_data({1}), 59));

        make(create_data(), 62);
        ASSERT_EQ(channel, timeslot(62));
        connect(61, 62);
        connect(62, 61);
        EXPECT_EQ(Cause::connectFail, outcome(test::connect_command(59), 63));
        ASSERT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), 59));
        EXPECT_EQ(1, mcc().line_packet(4, {7}));
        EXPECT_EQ(Lines{"62 userData 07"}, signals());
        expect_sound();
        EXPECT_EQ(std::string::npos, errors.str().find("holds: refused")) << errors.str();
        ASSERT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), 62));
    }
}

// A read of 0 is a driver with nothing more (a packet of no bytes, or a
// drained queue answered with 0): it ends the burst, not the channel, and
// the packet after it comes in the next pass.
TEST_F(MccSlots, AReadOf0EndsTheBurstNotTheChannel) {
    make(create_data(), 59);
    mcc().drained_reads_zero = true;
    board::sim::Channel* channel = sim().channels(mcc::kDevice).at(0);
    for (const char* packet : {"a", "", "b"}) channel->deliver(packet, std::strlen(packet));
    errors.clear();
    EXPECT_EQ(2u, server.loop().ready_passes(50));
    EXPECT_EQ((Lines{"59 userData 61", "59 userData 62"}), signals());
    EXPECT_EQ("", errors.str());
    EXPECT_EQ(1u, mcc().opens());
}

}  // namespace
