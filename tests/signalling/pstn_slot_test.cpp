// PSTN, ISDN and QSIG signalling slots driven by the controller alone, on
// cabled trunks of the simulated board, in virtual time.
#include <errno.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "board/drivers/maintenance.h"
#include "board/sim/maintenance_model.h"
#include "hardware/e1_ctl.h"
#include "signalling/hdlc_slot.h"
#include "signalling/pstn_slot.h"
#include "tests/signalling/signalling_slot_fixture.h"
#include "tests/support/case_name.h"
#include "tests/support/throttled_lines.h"

namespace {

using Lines = std::vector<std::string>;
using LGCP::IsdnType;
using test::Side;

constexpr int kTrunk1Ts16 = 48;
constexpr int kTrunk2Ts16 = 80;

class SignallingPairs : public test::SignallingSlotTest {
protected:
    using SignallingSlotTest::SignallingSlotTest;
    SignallingPairs() = default;

    // Trunk slots 10 and 11 on the two ends of a cable.
    void cabled_trunks() {
        make(test::create_trunk(1, 16), 10);
        make(test::create_trunk(2, 16), 11);
        frames().cable(kTrunk1Ts16, {kTrunk2Ts16});
    }
    static bool has(const Lines& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    static Lines filtered(const Lines& lines, const std::string& text) {
        Lines out;
        for (const std::string& l : lines)
            if (l.find(text) != std::string::npos) out.push_back(l);
        return out;
    }
    // Of the messages from slot 20, those its link carries in one frame
    // reach slot 21; a longer one is refused whole, with a line a second,
    // and the link carries what follows.
    void expect_longest_user_data(size_t longest) {
        const std::vector<char> message(longest, 'L');
        EXPECT_EQ((Lines{"20 success", "21 userData " + test::hex(message)}),
                  told(test::user_data(message), 20));
        errors.clear();
        for (size_t size : {longest + 1, size_t{600}}) {
            const std::vector<char> tooLong(size, 'X');
            EXPECT_EQ(Lines{"20 unsupported"}, told(test::user_data(tooLong), 20)) << size;
        }
        run(1000);
        signalled();
        EXPECT_EQ(Lines{"20 unsupported"}, told(test::user_data(std::vector<char>(600)), 20));
        EXPECT_TRUE(test::written_twice_with_a_count(errors.str(), "octets refused", 1));
        EXPECT_EQ((Lines{"20 success", "21 userData 05 06 07"}), told(test::user_data({5, 6, 7}), 20));
    }
    // The lines of one slot.
    static Lines of(unsigned slot, const Lines& lines) {
        Lines out;
        const std::string prefix = std::to_string(slot) + " ";
        for (const std::string& l : lines)
            if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
        return out;
    }
};

// Each pair on trunk slots 10 and 11: both come up; user data crosses both
// ways; deactivation is signalled.
TEST_F(SignallingPairs, ComeUpAndCarryUserDataBothWays) {
    struct Case {
        const char* name;
        LGCP::Command a, b;
        bool activate;  // ISDN and QSIG slots start their links on `activate` only
    };
    const Case cases[] = {
        {"PRI PSTN slots", test::create_pstn_isdn(IsdnType::pri, 2, Side::user),
         test::create_pstn_isdn(IsdnType::pri, 3, Side::network), false},
        {"ISDN slots", test::create_isdn(IsdnType::pri, 2, Side::user),
         test::create_isdn(IsdnType::pri, 3, Side::network), true},
        {"QSIG against ISDN", test::create_qsig(Side::user),
         test::create_isdn(IsdnType::pri, 3, Side::network), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cabled_trunks();
        make(c.a, 20);
        make(c.b, 21);
        wire(10, 20);
        wire(11, 21);
        if (c.activate) {
            succeed(test::activate(), 20);
            succeed(test::activate(), 21);
        }
        run(2500);
        // A PSTN slot's data channel and its trunk's timeslot carry each
        // other, beside the graph's paths.
        expect_sound();
        const Lines up = signalled();
        EXPECT_TRUE(has(up, "20 activated") && has(up, "21 activated")) << ::testing::PrintToString(up);
        // The link's statistics come with each establishment that changed
        // them, right before the slot's "activated".
        EXPECT_TRUE(has(up, "20 isdnLinkInfo multiple-frame-established") &&
                    has(up, "21 isdnLinkInfo multiple-frame-established"));
        for (size_t i = 0; i < up.size(); ++i) {
            if (up[i].find("isdnLinkInfo") == std::string::npos) continue;
            ASSERT_LT(i + 1, up.size());
            EXPECT_EQ(up[i].substr(0, 3) + "activated", up[i + 1]);
        }

        EXPECT_EQ((Lines{"20 success", "21 userData 01 02 03"}),
                  told(test::user_data({1, 2, 3}), 20));
        EXPECT_EQ((Lines{"21 success", "20 userData 04"}), told(test::user_data({4}), 21));
        expect_longest_user_data(260);

        const Lines down = told(test::deactivate(), 20);
        EXPECT_EQ("20 success", down.at(0));
        EXPECT_TRUE(has(down, "20 deactivated")) << ::testing::PrintToString(down);
        EXPECT_EQ(Lines{"20 isdnLinkInfo tei-assigned"}, filtered(of(20, down), "isdnLinkInfo"));
        run(3000);  // nothing changed since
        EXPECT_EQ(Lines{}, filtered(of(20, signalled()), "isdnLinkInfo"));
        for (unsigned slot : {20, 21, 10, 11}) destroy(slot);
        frames().cut(kTrunk1Ts16);
    }
}

// With the E1 service polling the trunks' state.
class Ss7Slots : public SignallingPairs {
protected:
    Ss7Slots() : SignallingPairs(std::vector<CtrlSrv::Service*>{&E1Ctl::instance()}) {}
    static board::sim::MaintenanceModel& trunks() {
        return *sim().model_as<board::sim::MaintenanceModel>(board::maintenance::kDevice);
    }
    // Slots 20 and 21 on the two ends of the cable, proving.
    void linked_pair() {
        cabled_trunks();
        make(test::create_pstn_ss7(2, 1), 20);  // E1 trunk 1
        make(test::create_pstn_ss7(3, 2), 21);  // E1 trunk 2
        wire(10, 20);
        wire(11, 21);
    }
};

TEST_F(Ss7Slots, ProveCarryMsusAndLeaveServiceWhenTheirTrunkGoesDown) {
    linked_pair();
    run(2000);
    const Lines up = signalled();
    EXPECT_TRUE(has(up, "20 activated") && has(up, "21 activated")) << ::testing::PrintToString(up);
    // Slot 20 traces what it carries while its switches are on.
    const std::string sent = "mtp tx 0x01 0x02 0x03", received = "mtp rx 0x04 0x05 0x06 0x07";
    EXPECT_EQ((Lines{"20 success"}), told(test::ss7_log(true), 20));
    progress.clear();
    EXPECT_EQ((Lines{"20 success", "21 userData 01 02 03"}), told(test::user_data({1, 2, 3}), 20));
    EXPECT_EQ((Lines{"21 success", "20 userData 04 05 06 07"}),
              told(test::user_data({4, 5, 6, 7}), 21));
    EXPECT_NE(std::string::npos, progress.str().find(sent)) << progress.str();
    EXPECT_NE(std::string::npos, progress.str().find(received));
    EXPECT_EQ((Lines{"20 ss7BSN 0", "20 success"}), told(test::ss7_bsn_request(), 20));
    EXPECT_EQ((Lines{"20 success"}), told(test::ss7_log(false), 20));
    progress.clear();
    told(test::user_data({1, 2, 3}), 20);
    told(test::user_data({4, 5, 6, 7}), 21);
    EXPECT_EQ("", progress.str());
    signalled();

    trunks().trunks[1].state = ACP::TrunkState::lossCarrier;
    run(1000);  // one poll of the trunks
    Lines down = of(20, signalled());
    // From the first report of the idle link on (the statistics of the
    // running link may come before).
    down.erase(down.begin(), std::find(down.begin(), down.end(), "20 ss7LinkInfo idle speeds 0/0"));
    ASSERT_EQ(4u, down.size()) << ::testing::PrintToString(down);
    EXPECT_EQ("20 ss7LinkInfo idle speeds 0/0", down[0]);
    EXPECT_EQ(0u, down[1].find("20 hdlcLinkInfo "));
    EXPECT_EQ("20 ss7LinkInfo idle speeds 0/0", down[2]);
    EXPECT_EQ("20 deactivated", down[3]);
    run(1500);  // the same state polled again: nothing more
    EXPECT_EQ(Lines{}, of(20, signalled()));
}

TEST_F(Ss7Slots, CarryMsusOfUpTo273Octets) {
    linked_pair();
    run(2000);
    signalled();
    expect_longest_user_data(273);
}

// A failed write says nothing when the channel works again: an MSU the
// driver refused with EIO reaches the peer all the same, as the success the
// command was answered said, once or after failures in a row.
TEST_F(Ss7Slots, AnMsuTheDriverFailedToWriteArrivesAllTheSame) {
    linked_pair();
    run(2000);
    signalled();
    for (int failures : {1, 5}) {
        SCOPED_TRACE(failures);
        sim().fail_next(board::sim::Op::Write, board::mcc::kDevice, EIO, 0, failures);
        const Lines answer = told(test::user_data({1, 2, 3}), 20);
        EXPECT_EQ("20 success", answer.at(0));
        run(1000);
        Lines lines = signalled();
        lines.insert(lines.begin(), answer.begin() + 1, answer.end());
        EXPECT_EQ(Lines{"21 userData 01 02 03"}, filtered(lines, "userData"));
        EXPECT_EQ(Lines{}, filtered(lines, "deactivated"));
    }
}

// User data too short for an MSU, and any on a CAS slot, are refused; the
// SS7 requests are for SS7 slots only.
TEST_F(SignallingPairs, RefuseWhatTheirLinkCannotCarry) {
    make(test::create_pstn_ss7(2, 1), 20);
    make(test::create_pstn_cas(2), 21);
    make(test::create_pstn_isdn(IsdnType::pri, 2, Side::user), 22);
    make(test::create_isdn(IsdnType::pri, 2, Side::user), 23);
    EXPECT_EQ(Lines{"20 unsupported"}, told(test::user_data({1, 2}), 20));
    EXPECT_EQ(Lines{"21 unsupported"}, told(test::user_data({1, 2, 3}), 21));
    for (unsigned slot : {21, 22, 23}) {
        SCOPED_TRACE(slot);
        const std::string refused = std::to_string(slot) + " unsupported";
        EXPECT_EQ(Lines{refused}, told(test::ss7_bsn_request(), slot));
        EXPECT_EQ(Lines{refused}, told(test::ss7_log(true), slot));
    }
    run(3000);
    EXPECT_EQ((Lines{"20 hdlcLinkInfo 0 0 0 0 0", "20 ss7LinkInfo idle speeds 0/0"}),
              of(20, signalled()));
}

// From creation, connected or not, every 3 seconds; ISDN statistics only
// when they changed, and from ISDN slots only at (de)activation.
TEST_F(SignallingPairs, ReportTheirLinksEveryThreeSeconds) {
    make(test::create_pstn_isdn(IsdnType::pri, 2, Side::user), 20);
    make(test::create_isdn(IsdnType::pri, 2, Side::user), 21);
    make(test::create_qsig(Side::user), 22);
    run(3000);
    EXPECT_EQ((Lines{"20 hdlcLinkInfo 0 0 0 0 0", "20 isdnLinkInfo tei-assigned"}), signalled());
    run(3000);
    EXPECT_EQ((Lines{"20 hdlcLinkInfo 0 0 0 0 0"}), signalled());
}

// Messages wait while the cable is cut: above 88 waiting the link is
// congested, below 65 normal again; each change is told once.
TEST_F(SignallingPairs, TellWhenTheirLinkIsCongested) {
    cabled_trunks();
    make(test::create_pstn_isdn(IsdnType::pri, 2, Side::user), 20);
    make(test::create_pstn_isdn(IsdnType::pri, 3, Side::network), 21);
    wire(10, 20);
    wire(11, 21);
    run(2000);
    signalled();

    frames().cut(kTrunk1Ts16);
    Lines status;
    const unsigned messages = 7 + 89;  // a window's worth sent, 89 waiting
    for (unsigned i = 0; i < messages; ++i) {
        for (const std::string& l : told(test::user_data({char(i), 0, 0}), 20))
            if (l.find("isdnLinkStatus") != std::string::npos) status.push_back(std::to_string(i) + " " + l);
    }
    EXPECT_EQ(Lines{"95 20 isdnLinkStatus congested"}, status);

    frames().cable(kTrunk1Ts16, {kTrunk2Ts16});
    run(3000);
    const Lines after = signalled();
    EXPECT_EQ(Lines{"20 isdnLinkStatus normal"}, of(20, filtered(after, "isdnLinkStatus")));
    EXPECT_EQ(messages, filtered(after, "21 userData").size());
    // Normal as soon as 64 wait, with a window of 7 on their way: 25 arrived before.
    const auto normal = std::find(after.begin(), after.end(), "20 isdnLinkStatus normal");
    EXPECT_EQ(messages - 64 - 7, filtered(Lines(after.begin(), normal), "21 userData").size());
}

// An SS7 or PRI link lives on an E1 timeslot (trunks 0 to 3): anything else
// fails the connection and opens nothing.
TEST_F(SignallingPairs, ConnectOnlyToAnE1Timeslot) {
    make(test::create_pstn_isdn(IsdnType::pri, 2, Side::user), 20);
    make(test::create_pstn_ss7(2, 1), 21);
    make(test::create_trunk_bri(5, 2), 13);
    make(test::create_map(test::BusChannel{1, 5}, std::nullopt), 14);
    for (unsigned pstn : {20, 21}) {
        for (unsigned source : {13, 14}) {
            SCOPED_TRACE(std::to_string(source) + " -> " + std::to_string(pstn));
            const Lines lines = told(test::connect_command(pstn), source);
            EXPECT_EQ(std::to_string(source) + " connectFail", lines.back());
            EXPECT_EQ(0u, mcc().opens());
        }
    }
    EXPECT_NE(std::string::npos, errors.str().find("pstn-slot: invalid trunk number: 5"));
    EXPECT_NE(std::string::npos, errors.str().find("pstn-slot: invalid trunk number: -1"));
    run(10);
    EXPECT_EQ(Lines{}, filtered(signalled(), "activated"));
}

// The BRI sides start only once both directions are wired, in either order;
// the network side routes the terminal's calls by their call reference.
TEST_F(SignallingPairs, BriUserAndNetworkStartOnceWiredBothWays) {
    make(test::create_trunk_bri(1, 2), 12);  // channel 6
    make(test::create_trunk_bri(2, 2), 13);  // channel 10
    frames().cable(6, {10});
    make(test::create_pstn_isdn(IsdnType::bri, 1, Side::user), 20);
    make(test::create_pstn_isdn(IsdnType::bri, 2, Side::network), 21);
    join(12, 20);  // the user side receives first
    join(21, 13);  // the network side transmits first
    run(10);
    EXPECT_EQ(0u, mcc().opens());
    EXPECT_EQ(Lines{}, filtered(signalled(), "activated"));

    join(20, 12);
    join(13, 21);
    run(3000);
    const Lines up = signalled();
    EXPECT_TRUE(has(up, "20 activated") && has(up, "21 activated")) << ::testing::PrintToString(up);
    EXPECT_EQ((Lines{"20 success", "21 userData 08 01 05 05"}),
              told(test::user_data({8, 1, 5, 5}), 20));  // SETUP, call reference 5
    EXPECT_EQ((Lines{"21 success", "20 userData 08 01 85 02"}),
              told(test::user_data({8, 1, char(0x85), 2}), 21));  // CALL PROCEEDING
}

// A link up with its far end (slot 20 on line 10, 21 on 11) goes on through
// a connect into its slot that fails, from a map slot (no trunk) or refused
// by the driver: nothing says it went down, and it carries data at once.
// Moved both ways to line 12, it comes up with the far end there (22 on 13,
// which gave up asking while alone).
TEST_F(SignallingPairs, ALinkGoesOnThroughAFailedConnectAndComesUpWhereItMoves) {
    enum How { moved, fromMap, refused };
    const auto pri = [](Side side) { return test::create_pstn_isdn(IsdnType::pri, 2, side); };
    const auto bri = [](Side side) { return test::create_pstn_isdn(IsdnType::bri, 1, side); };
    const struct {
        const char* what;
        LGCP::Command near, far;
        bool bri;
        How how;
    } cases[] = {
        {"pri moved", pri(Side::user), pri(Side::network), false, moved},
        {"bri moved", bri(Side::user), bri(Side::network), true, moved},
        {"pri from a map", pri(Side::user), pri(Side::network), false, fromMap},
        {"pri refused", pri(Side::user), pri(Side::network), false, refused},
        {"ss7 refused", test::create_pstn_ss7(2, 1), test::create_pstn_ss7(3, 2), false, refused},
        {"bri refused", bri(Side::user), bri(Side::network), true, refused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int lines[4];
        for (unsigned i = 0; i < 4; ++i) {
            make(c.bri ? test::create_trunk_bri(i + 1, 2) : test::create_trunk((i + 1) % 4, 16),
                 10 + i);
            lines[i] = Slots::instance()->at(10 + i)->IGetTransmitChannel();
        }
        frames().cable(lines[0], {lines[1]});
        frames().cable(lines[2], {lines[3]});
        make(c.near, 20);
        for (unsigned far : {21, 22}) make(c.far, far);
        wire(10, 20);
        wire(11, 21);
        wire(13, 22);
        run(5000);
        signalled();
        if (c.how == moved) {
            wire(12, 20);
            run(3000);
        } else {
            make(test::create_map(test::BusChannel{1, 5}, std::nullopt), 14);
            if (c.how == refused)
                sim().fail_next(board::sim::Op::Ioctl, board::hal::kDevice, EIO,
                                board::hal::kMuxConnect);
            const unsigned from = c.how == refused ? 12 : 14;
            EXPECT_EQ(std::to_string(from) + " connectFail",
                      told(test::connect_command(20), from).back());
            EXPECT_EQ(Lines{}, signalled("deactivated"));
        }
        signalled();
        const std::string far = c.how == moved ? "22" : "21";
        EXPECT_EQ((Lines{"20 success", far + " userData 08 01 05 05"}),
                  told(test::user_data({8, 1, 5, 5}), 20));
        for (unsigned slot = 10; slot < 30; ++slot)
            if (Slots::instance()->at(slot)) destroy(slot);
        for (int line : lines) frames().cut(line);
        signalled();
    }
}

// A BRI slot transmits into the D channel it was wired to last: a peer
// without a channel (slot 30) changes nothing, a connect to the next D
// channel (slot 14), first or repeated, moves the path there, and the old D
// channel hears nothing once unwired. Its channel hears its source's line
// only: a source without a channel in its place closes it.
TEST_F(SignallingPairs, ABriSlotTransmitsIntoTheDChannelWiredLast) {
    factory.scripts[6].transmit = factory.scripts[6].receive = -1;
    make(test::create_trunk_bri(1, 2), 12);  // channel 6
    make(test::create_trunk_bri(2, 2), 14);  // channel 10
    make(test::create_command(6), 30);
    make(test::create_pstn_isdn(IsdnType::bri, 1, Side::user), 20);
    wire(12, 20);
    run(10);
    const int C = mcc().allocations().at(0).timeslot;
    sim().clear_journal();
    join(20, 30);
    for (const board::sim::Call& call : sim().journal(board::mcc::kDevice))
        EXPECT_NE(board::sim::Op::Open, call.op) << "the channel opened again";
    EXPECT_EQ(C, fabric().origin(6));
    for (int repeat = 0; repeat < 2; ++repeat) {
        join(20, 14);
        expect_sound();
    }
    succeed(test::command(Alternative::disconnect), 12);
    expect_sound();
    EXPECT_EQ(-1, fabric().origin(6));
    EXPECT_EQ(C, fabric().origin(10));
    EXPECT_EQ(6, fabric().origin(C));

    join(30, 20);  // in place of 12
    expect_sound();
    EXPECT_TRUE(mcc().allocations().empty());
    EXPECT_EQ(-1, fabric().origin(10));
}

// A call that missed that the driver gave its channel on (slot 30, on the
// channel of the data call 31 that went) to the HDLC channel of a D-channel
// slot: the HDLC channel takes it from the paths that call had, which the
// old call's trunk no longer hears, and keeps its own when that call goes.
TEST_F(SignallingPairs, AChannelGivenOnToAnHdlcChannelIsItsAlone) {
    for (bool hdlc : {false, true}) {
        SCOPED_TRACE(hdlc ? "hdlc slot" : "pstn slot");
        make(test::create_mcc(LGCP::MccType::data, LGCP::MccMode::standard), 31);
        const int C = Slots::instance()->at(31)->IGetTransmitChannel();
        destroy(31);
        factory.scripts[5].transmit = factory.scripts[5].receive = C;
        factory.scripts[5].holds = true;
        make(test::create_trunk(1, 16), 10);
        make(test::create_trunk(2, 16), 11);
        make(test::create_command(5), 30);
        wire(11, 30);
        make(hdlc ? test::create_hdlc(2, 0x1234) : test::create_pstn_isdn(IsdnType::pri, 2, Side::user),
             20);
        wire(10, 20);
        ASSERT_EQ(C, mcc().allocations().at(0).timeslot);
        EXPECT_NE(C, fabric().origin(kTrunk2Ts16));
        destroy(30);
        EXPECT_EQ(C, fabric().origin(kTrunk1Ts16));
        EXPECT_EQ(kTrunk1Ts16, fabric().origin(C));
        expect_sound();
        for (unsigned slot : {20, 10, 11}) destroy(slot);
    }
}

// A slot on a channel of its own whose channel ends says `deactivated`, as
// when the channel does not open, and refuses user data while the channel
// is closed, with a line a second; an activation opens it again.
struct ChannelEndCase {
    const char* what;
    LGCP::Command trunk;
    LGCP::Command create;
    LGCP::Command data;
    const char* refused;
};

const ChannelEndCase kChannelEnds[] = {
    {"bri network side", test::create_trunk_bri(1, 2),
     test::create_pstn_isdn(IsdnType::bri, 1, Side::network), test::user_data({8, 1, 5, 5}),
     "channel closed, userData refused"},
    {"hdlc slot", test::create_trunk(1, 5), test::create_hdlc(2, 0x1234),
     test::hdlc_packages({"a"}), "channel closed, packages refused"},
};

class ChannelEnds : public test::SignallingSlotTest,
                    public ::testing::WithParamInterface<ChannelEndCase> {};

TEST_P(ChannelEnds, AreSaidAndRefuseUserDataUntilTheChannelOpensAgain) {
    const ChannelEndCase& c = GetParam();
    make(c.trunk, 12);
    make(c.create, 20);
    wire(12, 20);
    run(10);
    ASSERT_EQ(1u, mcc().opens());
    signalled();
    sim().channels(board::mcc::kDevice).at(0)->hang_up();
    run(1);
    EXPECT_EQ(Lines{"20 deactivated"}, signalled("deactivated"));
    EXPECT_EQ(Lines{"20 unsupported"}, told(c.data, 20));
    told(c.data, 20);
    run(1000);
    told(c.data, 20);
    EXPECT_TRUE(test::written_twice_with_a_count(errors.str() + progress.str(), c.refused, 1));
    succeed(test::activate(), 20);
    EXPECT_EQ("20 success", told(c.data, 20).at(0));
}

INSTANTIATE_TEST_SUITE_P(Slots, ChannelEnds, ::testing::ValuesIn(kChannelEnds), test::CaseName());

// The data channel that a D-channel slot (a BRI slot, an HDLC slot) is
// wired with ends, or the controller unwires and destroys it: the paths of
// the slot's channel with it go, the slot forgets it, and the driver gives
// it to the next data call (slot 31). An activate is then refused: nothing
// of the slot reaches that call, and the slot hears nothing of it. A call
// that keeps its channel has the D channel again (a BRI link asks for its
// establishment at once); one that missed that the
// driver gave its channel (8400) to another call does not: the switch's
// guard keeps the D channel out, and it does not open.
TEST_F(SignallingPairs, AChannelThatEndsTakesThePathsOfItsPeerWithIt) {
    enum How { ends, unwired, stays, givenOn };
    struct Case {
        const char* what;
        bool hdlc;
        How how;
        Lines heard;  // for the activate
    };
    const Lines refused{"20 unsupported"}, failed{"20 deactivated", "20 success"};
    const Case cases[] = {
        {"bri slot, the channel ends", false, ends, refused},
        {"bri slot, the channel unwired and destroyed", false, unwired, refused},
        {"bri slot, the call keeps its channel", false, stays,
         {"20 success", "30 userData 00 01 7f"}},  // a SABME at once
        {"bri slot, the channel given on unnoticed", false, givenOn, failed},
        {"hdlc slot, the channel ends", true, ends, refused},
        {"hdlc slot, the channel unwired and destroyed", true, unwired, refused},
        {"hdlc slot, the call keeps its channel", true, stays, {"20 success"}},
        {"hdlc slot, the channel given on unnoticed", true, givenOn, failed},
    };
    factory.scripts[5].transmit = factory.scripts[5].receive = 8400;
    factory.scripts[5].holds = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LGCP::Command peer =
            c.how == givenOn ? test::create_command(5)
                             : test::create_mcc(LGCP::MccType::data, LGCP::MccMode::standard);
        make(peer, 30);
        make(c.hdlc ? test::create_hdlc(2, 0x1234)
                    : test::create_pstn_isdn(IsdnType::bri, 1, Side::user),
             20);
        wire(30, 20);
        run(10);
        const int M = Slots::instance()->at(30)->IGetTransmitChannel();
        if (c.how == ends) sim().channels(board::mcc::kDevice).at(0)->hang_up();
        if (c.how == unwired)
            for (unsigned slot : {20, 30}) succeed(test::command(Alternative::disconnect), slot);
        if (c.how == unwired) destroy(30);
        if (c.how != stays) make(peer, 31);
        run(1);
        signalled();
        EXPECT_EQ(c.heard, told(test::activate(), 20));
        expect_sound();
        EXPECT_EQ(c.how == stays, fabric().origin(M) >= 0);
        for (const auto& allocation : mcc().allocations())
            EXPECT_EQ(c.how == stays && allocation.timeslot != M,
                      fabric().origin(allocation.timeslot) == M);
        if (c.how <= unwired) {
            told(c.hdlc ? test::hdlc_packages({"a"}) : test::user_data({8, 1, 5, 5}), 20);
            succeed(test::user_data({9}), 31);
            run(2000);
            EXPECT_EQ(Lines{}, signalled("userData"));
        }
        for (unsigned slot : {20, 30, 31})
            if (Slots::instance()->at(slot)) destroy(slot);
    }
}

// A slot's controller channel goes back to the driver when the slot is
// destroyed, its HDLC slot unwired (its input disconnected) or it moves to
// another timeslot: the switch paths between the channel and the old
// timeslot go with it, so that the slot given the channel next neither
// hears the old line nor sends on it, also where the driver refused a
// switch meanwhile. Where another owner (its heir) has switched into the
// old timeslot since, its path stays. An old slot that lent its timeslot
// has it back from a connect to its trunk.
//
// The steps of a controller: slots 10, 11 and 12 are trunks 1, 2 and 3
// (timeslot 16), 20 the old slot, 21 a PRI PSTN slot, 30 a data channel, 13
// a map slot (a source without a trunk); `misjoin`: a join answered
// `connectFail`, the graph as it was; `refuse`: the driver refuses the next
// switch request, which fails the join that follows (an activate owes it);
// `refuseOffs`: it refuses every switch-off of a channel off the buses
// until `accept`. The graph and the switch agree after every step but
// where the driver refused what is owed.
enum class Act { make, join, misjoin, unjoin, activate, destroy, refuse, refuseOffs, accept };
struct HandStep {
    Act act;
    unsigned a;
    unsigned b = 0;  // join: the destination
};

struct HandBackCase {
    const char* what;
    LGCP::Command create;
    std::vector<HandStep> steps;
    unsigned heir;  // the slot whose frames trunk 1 carries at the end (20: the old); 0 none
    bool leaves;    // one line says the old slot's channel left it to the heir
};

const LGCP::Command kPri = test::create_pstn_isdn(IsdnType::pri, 2, Side::user);
const LGCP::Command kHdlc = test::create_hdlc(2, 0x1234);
const LGCP::Command kSs7 = test::create_pstn_ss7(2, 1);
const LGCP::Command kCas = test::create_pstn_cas(2);
// The old slot is wired from trunk 1 first; kBack wires it back.
constexpr HandStep kBack{Act::join, 20, 10}, kMakeHeir{Act::make, 21};
constexpr HandStep kDestroyOld{Act::destroy, 20};
constexpr HandStep kToHeir{Act::join, 10, 21}, kFromHeir{Act::join, 21, 10};
constexpr HandStep kUnwireOld[] = {{Act::unjoin, 20}, {Act::unjoin, 10}};
constexpr HandStep kRefuseOffs{Act::refuseOffs, 0}, kAccept{Act::accept, 0};

const HandBackCase kHandBacks[] = {
    {"pstn slot destroyed", kPri, {kBack, kDestroyOld}, 0, false},
    {"hdlc slot destroyed", kHdlc, {kBack, kDestroyOld}, 0, false},
    {"hdlc slot unwired", kHdlc, {kBack, kUnwireOld[0], kUnwireOld[1]}, 0, false},
    {"hdlc slot unwired from the trunk, still wired to it", kHdlc, {kBack, kUnwireOld[0]}, 20,
     false},
    {"pstn slot moved", kPri, {kBack, {Act::join, 11, 20}}, 0, false},
    {"made before the old goes, wired to it first",
     kPri, {kBack, kMakeHeir, kToHeir, kFromHeir, kDestroyOld}, 21, true},
    {"made before the old goes, wired from it first",
     kPri, {kBack, kMakeHeir, kFromHeir, kToHeir, kDestroyOld}, 21, false},
    {"the old unwired, the heir wired, the old destroyed",
     kPri, {kBack, kUnwireOld[0], kUnwireOld[1], kMakeHeir, kToHeir, kFromHeir, kDestroyOld}, 21,
     false},
    {"the old moved to trunk 3, the heir wired on trunk 1",
     kPri, {kBack, {Act::make, 12}, {Act::join, 12, 20}, kMakeHeir, kToHeir, kFromHeir}, 21, false},
    {"two slots swap trunks",
     kPri,
     {kBack, kMakeHeir, {Act::join, 11, 21}, {Act::join, 21, 11}, kToHeir, kFromHeir,
      {Act::join, 11, 20}, {Act::join, 20, 11}},
     21, true},
    {"hdlc slot wired from the trunk only", kHdlc, {kMakeHeir, kToHeir, kFromHeir, kDestroyOld}, 21,
     true},
    {"a data call on the timeslot of an unwired slot",
     kPri,
     {kBack, kUnwireOld[0], kUnwireOld[1], {Act::make, 30}, {Act::join, 10, 30},
      {Act::join, 30, 10}, kDestroyOld},
     30, false},
    {"the heir's switch from the timeslot refused",
     kPri, {kBack, kMakeHeir, {Act::refuse, 0}, kToHeir, kDestroyOld}, 0, false},
    {"the heir's switch into the timeslot refused",
     kPri, {kBack, kMakeHeir, kToHeir, {Act::refuse, 0}, kFromHeir}, 20, false},
    {"a cut-over aborted, the old wired again",
     kPri, {kBack, kMakeHeir, kToHeir, {Act::destroy, 21}, kBack}, 20, false},
    {"the timeslot lent to a data call, the old wired again",
     kPri, {kBack, {Act::make, 30}, {Act::join, 30, 10}, {Act::join, 10, 30}, kBack}, 20, false},
    {"made before the old goes, the old's link from the trunk repeated",
     kPri, {kBack, kMakeHeir, kToHeir, kFromHeir, {Act::join, 10, 20}}, 21, true},
    {"the timeslot lent to a data call, the old's link from the trunk repeated",
     kPri, {kBack, {Act::make, 30}, {Act::join, 30, 10}, {Act::join, 10, 30}, {Act::join, 10, 20}},
     30, false},
    {"hdlc slot wired from the trunk only, its link repeated after the heir's",
     kHdlc, {kMakeHeir, kToHeir, kFromHeir, {Act::join, 10, 20}}, 21, true},
    {"an old slot activated after the heir took the trunk",
     kPri, {kBack, kMakeHeir, kToHeir, kFromHeir, {Act::activate, 20}}, 21, true},
    {"a connect into the old slot from a slot without a trunk after the heir took the trunk",
     kPri, {kBack, kMakeHeir, kToHeir, kFromHeir, {Act::make, 13}, {Act::misjoin, 13, 20}}, 21,
     true},
    {"another link of the old slot repeated after the heir took the trunk",
     kPri,
     {kBack, {Act::make, 30}, {Act::join, 20, 30}, kMakeHeir, kToHeir, kFromHeir,
      {Act::join, 20, 30}},
     21, true},
    {"pri slot wired from the trunk only, unwired", kPri, {kUnwireOld[0]}, 0, false},
    {"ss7 slot wired from the trunk only, the trunk destroyed", kSs7, {{Act::destroy, 10}}, 0,
     false},
    {"cas slot wired from the trunk only, unwired", kCas, {kUnwireOld[0]}, 0, false},
    {"a cut-over aborted, the old not wired again",
     kPri, {kBack, kMakeHeir, kToHeir, {Act::destroy, 21}}, 20, false},
    {"the timeslot lent to a data call that goes",
     kPri, {kBack, {Act::make, 30}, {Act::join, 30, 10}, {Act::destroy, 30}}, 20, false},
    {"the timeslot lent to a data call, the trunk unwired from it",
     kPri, {kBack, {Act::make, 30}, {Act::join, 30, 10}, {Act::unjoin, 10}}, 20, false},
    {"the old slot's activate whose switching the driver refuses",
     kPri, {kBack, {Act::refuse, 0}, {Act::activate, 20}, kAccept}, 20, false},
    {"pstn slot destroyed, the switch-off of its channel refused till the next call has it",
     kPri, {kBack, kRefuseOffs, kDestroyOld, {Act::make, 30}, kAccept}, 0, false},
    {"hdlc slot destroyed, the switch-off of its channel refused till the next call has it",
     kHdlc, {kBack, kRefuseOffs, kDestroyOld, {Act::make, 30}, kAccept}, 0, false},
};

class HandedBackChannels : public test::SignallingSlotTest,
                           public ::testing::WithParamInterface<HandBackCase> {
protected:
    void act(const HandStep& step) {
        switch (step.act) {
        case Act::make: return make(made(step.a), step.a);
        case Act::join:
            if (!std::exchange(refused_, false)) return join(step.a, step.b);
            [[fallthrough]];
        case Act::misjoin: {
            const Slot* before = Slots::instance()->at(step.b)->source();
            EXPECT_EQ(std::to_string(step.a) + " connectFail",
                      told(test::connect_command(step.b), step.a).back());
            EXPECT_EQ(before, Slots::instance()->at(step.b)->source());
            return;
        }
        case Act::activate:
            unsettled_ = std::exchange(refused_, false);
            return succeed(test::activate(), step.a);
        case Act::unjoin: return succeed(test::command(Alternative::disconnect), step.a);
        case Act::destroy: return destroy(step.a);
        case Act::refuse:
            refused_ = true;
            return sim().fail_next(board::sim::Op::Ioctl, board::hal::kDevice, EIO,
                                   board::hal::kMuxConnect);
        case Act::refuseOffs:
            unsettled_ = true;
            sim().refuse = [](board::sim::Op, const std::string&, uint32_t request,
                              const void* arg) {
                return request == board::hal::kMuxDisable &&
                               *static_cast<const int32_t*>(arg) < board::hal::kBusBase
                           ? EIO
                           : 0;
            };
            return;
        case Act::accept:
            unsettled_ = false;
            sim().refuse = nullptr;
            return run(1);  // what the driver refused is done
        }
    }
    static LGCP::Command made(unsigned slot) {
        if (slot == 12) return test::create_trunk(3, 16);
        if (slot == 13) return test::create_map(test::BusChannel{1, 5}, std::nullopt);
        if (slot == 30) return test::create_mcc(LGCP::MccType::data, LGCP::MccMode::standard);
        return kPri;
    }
    // The controller channel of the old slot's open D channel; -1 when it
    // is closed or gone.
    static int old_channel() {
        const Slot* old = Slots::instance()->at(20);
        const HDLC* channel = nullptr;
        if (const auto* pstn = dynamic_cast<const PstnSlot*>(old)) channel = &pstn->channel();
        if (const auto* hdlc = dynamic_cast<const HdlcSlot*>(old)) channel = &hdlc->channel();
        return channel && channel->is_open() ? channel->controller_channel() : -1;
    }

    bool refused_ = false;
    bool unsettled_ = false;
};

TEST_P(HandedBackChannels, LeaveTheOldTimeslot) {
    const HandBackCase& c = GetParam();
    make(test::create_trunk(1, 16), 10);
    make(test::create_trunk(2, 16), 11);
    make(c.create, 20);
    join(10, 20);
    run(10);
    const int C = mcc().allocations().at(0).timeslot;
    // SS7 and CAS channels come from a pool of their own, data calls' not.
    const bool dataPool = mcc().allocations().at(0).record.type == board::mcc::kData;
    ASSERT_EQ(C, fabric().origin(kTrunk1Ts16));
    ASSERT_EQ(kTrunk1Ts16, fabric().origin(C));

    for (const HandStep& step : c.steps) {
        act(step);
        if (!unsettled_) expect_sound();
    }
    expect_sound();
    const bool back = c.heir == 20;
    // An old slot still wired from the trunk reads it: that harms no call.
    const Slot* old = Slots::instance()->at(20);
    const bool listens = old && old->source() && old->source() == Slots::instance()->at(10);
    const int now = old_channel();
    EXPECT_EQ(back, now >= 0 && now == fabric().origin(kTrunk1Ts16));
    EXPECT_EQ(back || listens, now >= 0 && kTrunk1Ts16 == fabric().origin(now));

    auto& oldLine = frames().endpoint(kTrunk1Ts16);
    auto& newLine = frames().endpoint(kTrunk2Ts16);
    if (c.heir) {
        EXPECT_EQ(c.leaves, progress.str().find("leaves [48] to hdlc channel") != std::string::npos)
            << progress.str();
        oldLine.frames.clear();
        if (c.heir == 30) succeed(test::user_data({1}), 30);
        if (c.heir == 20 && dynamic_cast<const HdlcSlot*>(old))
            succeed(test::hdlc_packages({"a"}), 20);  // it sends when told
        run(3000);  // a PRI link asks every second
        EXPECT_FALSE(oldLine.frames.empty());
        return;
    }
    // The next holder of C on trunk 2: the moved slot itself (a move ends
    // the steps), or a data channel slot.
    if (c.steps.back().act != Act::join) {
        make(test::create_mcc(LGCP::MccType::data, LGCP::MccMode::standard), 30);
        if (dataPool) {
            ASSERT_EQ(C, Slots::instance()->at(30)->IGetTransmitChannel());
        }
        oldLine.send({7, 7});
        run(10);
        wire(11, 30);
        succeed(test::user_data({1}), 30);
    }
    run(3000);  // a PRI link asks again every second
    EXPECT_EQ(Lines{}, signalled("userData"));
    EXPECT_TRUE(oldLine.frames.empty()) << oldLine.frames.size();
    EXPECT_FALSE(newLine.frames.empty());
}

INSTANTIATE_TEST_SUITE_P(Slots, HandedBackChannels, ::testing::ValuesIn(kHandBacks),
                         test::CaseName());

}  // namespace

// A map slot on the shared bus (out 1/2, in 1/3) wired both ways with a peer
// of each kind (where the peer takes the link); nothing drives the map's
// transmit channel, which another board does, also while the peer is
// wired from the map alone. Both go, the map first, the peer first, or with
// the controller, also while the driver refuses every request on a bus
// channel until both went: once it takes them no bus channel is left
// driven, whoever switched into it last.
struct MapPeerCase {
    std::string what;
    LGCP::Command peer;
    enum Ending { mapFirst, peerFirst, cut } ending;
    bool refused;
};

std::vector<MapPeerCase> MapPeerCases() {
    const std::pair<const char*, LGCP::Command> peers[] = {
        {"hdlc slot", kHdlc},
        {"pri slot", kPri},
        {"data call", test::create_mcc(LGCP::MccType::data, LGCP::MccMode::standard)},
        {"trunk", test::create_trunk(1, 5)},
    };
    const std::pair<const char*, MapPeerCase::Ending> endings[] = {
        {"map destroyed first", MapPeerCase::mapFirst},
        {"peer destroyed first", MapPeerCase::peerFirst},
        {"controller cut", MapPeerCase::cut},
    };
    std::vector<MapPeerCase> cases;
    for (const auto& [peer, create] : peers)
        for (const auto& [ending, how] : endings)
            for (bool refused : {false, true})
                cases.push_back({std::string(peer) + ", " + ending + (refused ? ", refused" : ""),
                                 create, how, refused});
    return cases;
}

class MapPeers : public test::SignallingSlotTest,
                 public ::testing::WithParamInterface<MapPeerCase> {};

TEST_P(MapPeers, LeaveNoBusChannelDriven) {
    const MapPeerCase& c = GetParam();
    make(test::create_map(test::BusChannel{1, 2}, test::BusChannel{1, 3}), 13);
    make(c.peer, 20);
    told(test::connect_command(20), 13);
    EXPECT_EQ(board::sim::HalModel::Output::Off, fabric().channel(8322).output);
    told(test::connect_command(13), 20);
    EXPECT_EQ(board::sim::HalModel::Output::Off, fabric().channel(8322).output);
    run(10);
    if (c.refused)
        sim().refuse = [](board::sim::Op, const std::string&, uint32_t request, const void* record) {
            namespace hal = board::hal;
            const bool switching = request == hal::kMuxConnect || request == hal::kMuxDisable ||
                                   request == hal::kMuxWriteByte;
            return switching && *static_cast<const int32_t*>(record) >= hal::kBusBase ? EIO : 0;
        };
    if (c.ending == MapPeerCase::cut) {
        controller.close();
        for (int i = 0; i < 20 && !Slots::instance()->live().empty(); ++i) server.pump();
    } else {
        destroy(c.ending == MapPeerCase::mapFirst ? 13 : 20);
        destroy(c.ending == MapPeerCase::mapFirst ? 20 : 13);
    }
    run(1000);
    sim().refuse = nullptr;
    run(1000);  // the refresh has swept every bus channel
    std::string driven;
    for (int channel = board::hal::kBusBase; channel < board::hal::kChannels; ++channel)
        if (fabric().channel(channel).output != board::sim::HalModel::Output::Off)
            driven += "[" + std::to_string(channel) + "] ";
    EXPECT_EQ("", driven);
}

INSTANTIATE_TEST_SUITE_P(Slots, MapPeers, ::testing::ValuesIn(MapPeerCases()), test::CaseName());
