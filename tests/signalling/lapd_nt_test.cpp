// The network side of a BRI line fed scripted terminal frames: what it
// answers, assigns, routes and gives up, in virtual time.

#include <gtest/gtest.h>

#include <optional>

#include "signalling/pool_reserve.h"
#include "signalling/refusal_retry.h"
#include "tests/link/packet_pool_check.h"
#include "tests/support/bri_rig.h"
#include "tests/support/case_name.h"
#include "tests/support/frame_recorder.h"
#include "tests/support/lapd_frames.h"
#include "tests/support/stream_capture.h"
#include "tests/support/throttled_lines.h"
#include "tests/support/virtual_loop.h"

namespace {

using ISDN::LAPD_NT_user;
using test::BriRig;
namespace lapd = test::lapd;
using lapd::Kind;
using Frames = std::vector<std::string>;

class LapdNtTest : public PacketPoolCheck {
protected:
    void SetUp() override { bus->terminal(0).bind(&terminals); }
    void TearDown() override {
        network.reset();
        bus.reset();
        PacketPoolCheck::TearDown();
    }

    // A frame from a terminal, then what the network answers.
    Frames feed(Packet frame) {
        bus->terminal(0).hdlc_transmit(frame);
        loop.advance(1);
        return terminals.take();
    }
    Frames request(unsigned ri, unsigned ai = 127) {
        return feed(lapd::identity(false, ISDN::identity_request, ri, ai));
    }
    // The terminal of `ri` gets a TEI and answers the SABME, and its first
    // I frame sets the call reference (its N(S) 0).
    unsigned assign(unsigned ri, int cr = -1) {
        request(ri);
        const unsigned tei = nt().link(count()).tei();
        ++assigned_;
        feed(lapd::uframe(false, Kind::UA, false, true, tei));
        if (cr >= 0) feed(lapd::iframe(false, 0, 0, false, BriRig::q931(unsigned(cr), 0x05), tei));
        return tei;
    }
    // A message from above, then what the network sends.
    Frames send(const std::string& octets) {
        network->send(octets);
        loop.advance(1);
        return terminals.take();
    }
    ISDN::LAPD_NT& nt() { return network->nt(); }
    const LAPD_NT_user& link(unsigned i) { return nt().link(i); }
    unsigned count() const { return assigned_; }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<test::BriBus> bus{new test::BriBus(1)};
    std::unique_ptr<test::NtOnPort> network{new test::NtOnPort(bus->network)};
    // The terminals' side of the bus.
    test::FrameRecorder terminals{true, true};
    unsigned assigned_ = 0;
};

TEST_F(LapdNtTest, AutomaticTeisAreGivenFromSixtyFourAndEachLinkStartsWithSabme) {
    EXPECT_EQ((Frames{"127: ID assigned ri=0101 ai=64", "64: SABME P cmd"}), request(0x101));
    EXPECT_EQ((Frames{"127: ID assigned ri=0202 ai=65", "65: SABME P cmd"}), request(0x202));
    EXPECT_EQ(LAPD_NT_user::assigned, link(1).state());
}

struct RequestCase {
    const char* what;
    unsigned assignedBefore;
    unsigned ai;
    Frames answer;
};

const RequestCase request_cases[] = {
    {"a chosen automatic TEI is denied", 0, 70, {"127: ID denied ri=0777 ai=70"}},
    {"a non-automatic TEI is ignored", 0, 0, {}},
    {"the last non-automatic TEI is ignored", 0, 63, {}},
    {"a ninth terminal is denied", 8, 127, {"127: ID denied ri=0777 ai=127"}},
};

class IdentityRequestTest : public LapdNtTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(IdentityRequestTest, IsAnswered) {
    const RequestCase& c = GetParam();
    for (unsigned i = 0; i < c.assignedBefore; ++i) assign(i + 1);
    EXPECT_EQ(c.answer, request(0x777, c.ai));
}

INSTANTIATE_TEST_SUITE_P(Requests, IdentityRequestTest, ::testing::ValuesIn(request_cases),
                         test::CaseName());

TEST_F(LapdNtTest, FrameForAnUnknownTeiGetsAFreeLinkOrIsRemovedTwice) {
    EXPECT_EQ((Frames{"5: SABME P cmd", "5: RR 0 F resp"}),
              feed(lapd::sframe(false, Kind::RR, true, 0, true, 5)));
    EXPECT_EQ(5u, link(0).tei());
    ++assigned_;
    for (unsigned i = 1; i < 8; ++i) assign(i);
    EXPECT_EQ((Frames{"127: ID remove ri=0000 ai=90", "127: ID remove ri=0000 ai=90"}),
              feed(lapd::sframe(false, Kind::RR, true, 0, true, 90)));
}

const Frames removed_64 = {"127: ID remove ri=0000 ai=64", "127: ID remove ri=0000 ai=64"};

// Idle for 10 s, a poll; then a poll a second until four went unanswered.
// The terminal may yet hold the TEI that the next one to ask is given.
TEST_F(LapdNtTest, IdleTerminalIsPolledAndLosesItsTeiAfterFourUnansweredPolls) {
    assign(1);
    loop.advance(9990);
    EXPECT_TRUE(terminals.take().empty());
    loop.advance(3020);
    EXPECT_EQ(Frames(4, "64: RR 0 P cmd"), terminals.take());
    EXPECT_EQ(LAPD_NT_user::wait_answer, link(0).state());
    loop.advance(1000);
    EXPECT_EQ(LAPD_NT_user::unassigned, link(0).state());
    EXPECT_EQ(removed_64, terminals.take());
}

// An assignment that no terminal answers (it went to a request that its
// terminal has since replaced with another) holds the link for 4 s, not
// for the 14 s of an idle terminal's polls; its TEI is not the next given.
TEST_F(LapdNtTest, AssignmentNoTerminalAnswersIsGivenUpAfterFourSabmes) {
    request(0x101);
    loop.advance(3000);
    EXPECT_EQ(Frames(3, "64: SABME P cmd"), terminals.take());
    EXPECT_TRUE(link(0).establishing());
    loop.advance(1000);
    EXPECT_EQ(removed_64, terminals.take());
    EXPECT_EQ(LAPD_NT_user::unassigned, link(0).state());
    EXPECT_EQ((Frames{"127: ID assigned ri=0102 ai=65", "65: SABME P cmd"}), request(0x102));
}

// A lost answer to a poll costs one more poll, not the link.
TEST_F(LapdNtTest, AnsweredPollBringsTheLinkBackToIdle) {
    assign(1);
    loop.advance(11005);
    EXPECT_EQ((Frames{"64: RR 0 P cmd", "64: RR 0 P cmd"}), terminals.take());
    feed(lapd::sframe(false, Kind::RR, false, 0, true, 64));
    EXPECT_EQ(LAPD_NT_user::assigned, link(0).state());
    EXPECT_EQ(0, link(0).rc());
}

TEST_F(LapdNtTest, SetupGoesToEveryTerminalAndOtherMessagesFollowTheirCallReference) {
    assign(1, 5);
    EXPECT_EQ(1u, network->messages.size());
    EXPECT_EQ(5, link(0).call_reference());
    // A SETUP for the link's call reference goes to everybody all the same.
    EXPECT_EQ(Frames{"127: UI cmd"}, send(BriRig::q931(0x85, 0x05, "x")));
    EXPECT_EQ(Frames{"64: I 0/1 P cmd"}, send(BriRig::q931(0x85, 0x02)));
    EXPECT_EQ(Frames{}, send(BriRig::q931(0x86, 0x02)));
    EXPECT_EQ(Frames{}, send(std::string("\x08\x01\x85", 3)));
}

TEST_F(LapdNtTest, SetupFrameCarriesTheMessageAfterTheBroadcastHeader) {
    Packet frame;
    const int tap = bus->network.add_tap([&](const Packet& f, bool) { frame = f; });
    send(BriRig::q931(0x01, 0x05, "abc"));
    bus->network.remove_tap(tap);
    EXPECT_EQ("02 FF 03 08 01 01 05 61 62 63", frame.text());
}

// A silent terminal is asked again after 2 s; silent again, it loses its
// TEI, and is told so.
TEST_F(LapdNtTest, TeiCheckAtActivationAsksASilentTerminalTwiceThenTakesItsTeiBack) {
    assign(1);
    assign(2);
    network->activate();
    EXPECT_EQ(1u, network->activations);
    loop.advance(1);
    EXPECT_EQ(Frames{"127: ID check ri=0000 ai=127"}, terminals.take());
    feed(lapd::identity(false, ISDN::identity_check_response, 0x0202, 65));
    EXPECT_TRUE(link(0).is_checking());
    EXPECT_FALSE(link(1).is_checking());
    loop.advance(2000);
    EXPECT_EQ(Frames{"127: ID check ri=0000 ai=64"}, terminals.take());
    EXPECT_EQ(LAPD_NT_user::assigned, link(0).state());
    loop.advance(2000);
    EXPECT_EQ(LAPD_NT_user::unassigned, link(0).state());
    EXPECT_EQ(LAPD_NT_user::assigned, link(1).state());
    EXPECT_EQ(removed_64, terminals.take());
    loop.advance(60000 - 4002 + 1);
    EXPECT_EQ("127: ID check ri=0000 ai=127", terminals.take().back());
}

TEST_F(LapdNtTest, TwoTerminalsAnsweringForOneTeiLoseIt) {
    assign(1);
    network->activate();
    loop.advance(1);
    terminals.take();
    feed(lapd::identity(false, ISDN::identity_check_response, 0x0101, 64));
    EXPECT_EQ(LAPD_NT_user::assigned, link(0).state());
    // The same terminal again changes nothing; another one loses the TEI.
    EXPECT_EQ(Frames{}, feed(lapd::identity(false, ISDN::identity_check_response, 0x0101, 64)));
    EXPECT_EQ((Frames{"127: ID remove ri=0000 ai=64", "127: ID remove ri=0000 ai=64"}),
              feed(lapd::identity(false, ISDN::identity_check_response, 0x0999, 64)));
    EXPECT_EQ(LAPD_NT_user::unassigned, link(0).state());
}

TEST_F(LapdNtTest, BusyTerminalGetsItsMessagesInOrderWhenItIsReadyAgain) {
    const unsigned tei = assign(1, 5);
    feed(lapd::sframe(false, Kind::RNR, false, 0, false, tei));
    for (char c : std::string("abc"))
        EXPECT_EQ(Frames{}, send(BriRig::q931(0x85, 0x02, std::string(1, c))));
    EXPECT_EQ(3u, link(0).held());
    EXPECT_EQ((Frames{"64: I 0/1 P cmd", "64: I 1/1 P cmd", "64: I 2/1 P cmd"}),
              feed(lapd::sframe(false, Kind::RR, false, 0, false, tei)));
    EXPECT_EQ(0u, link(0).held());
}

// Seven frames wait for their N(R); the next messages wait for room.
TEST_F(LapdNtTest, WindowOfSevenHoldsFurtherMessages) {
    const unsigned tei = assign(1, 5);
    for (unsigned i = 0; i < 9; ++i) send(BriRig::q931(0x85, 0x02));
    EXPECT_EQ(7u, link(0).unacknowledged());
    EXPECT_EQ(2u, link(0).held());
    EXPECT_EQ((Frames{"64: I 7/1 P cmd", "64: I 8/1 P cmd"}),
              feed(lapd::sframe(false, Kind::RR, false, 7, false, tei)));
}

// N(R) checks: VA <= N(R) <= VS, whatever the frame.
struct AckCase {
    const char* what;
    Kind kind;  // an S frame, or an I frame in sequence
    unsigned nr;
    Frames answer;
    LAPD_NT_user::State state;
    unsigned unacknowledged;
};

const AckCase ack_cases[] = {
    // The first frame lost: everything again, from N(R) 0.
    {"REJ 0 resends all", Kind::REJ, 0, {"64: I 0/1 P cmd", "64: I 1/1 P cmd", "64: I 2/1 P cmd"},
     LAPD_NT_user::wait_answer, 3},
    {"REJ 2 resends the last", Kind::REJ, 2, {"64: I 2/1 P cmd"}, LAPD_NT_user::wait_answer, 1},
    {"RR 3 acknowledges all", Kind::RR, 3, {}, LAPD_NT_user::assigned, 0},
    {"RR 1 leaves two to resend", Kind::RR, 1, {}, LAPD_NT_user::wait_answer, 2},
    {"RNR 2 acknowledges two", Kind::RNR, 2, {}, LAPD_NT_user::wait_answer, 1},
    {"RR beyond VS takes the TEI back", Kind::RR, 4, removed_64, LAPD_NT_user::unassigned, 0},
    {"REJ beyond VS takes the TEI back", Kind::REJ, 5, removed_64, LAPD_NT_user::unassigned, 0},
    {"I frame beyond VS takes the TEI back", Kind::I, 4, removed_64, LAPD_NT_user::unassigned, 0},
};

class AckTest : public LapdNtTest, public ::testing::WithParamInterface<AckCase> {};

TEST_P(AckTest, ChecksNrAndKeepsWhatIsUnacknowledged) {
    const AckCase& c = GetParam();
    const unsigned tei = assign(1, 5);
    for (unsigned i = 0; i < 3; ++i) send(BriRig::q931(0x85, 0x02));
    EXPECT_EQ(c.answer, feed(c.kind == Kind::I ? lapd::iframe(false, 1, c.nr, false, "", tei)
                                               : lapd::sframe(false, c.kind, false, c.nr, false, tei)));
    EXPECT_EQ(c.state, link(0).state());
    EXPECT_EQ(c.unacknowledged, link(0).unacknowledged());
}

INSTANTIATE_TEST_SUITE_P(Acknowledgements, AckTest, ::testing::ValuesIn(ack_cases),
                         test::CaseName());

// Q.921's answers to the terminal's I frames: each one taken in sequence is
// acknowledged, by an I frame going out anyway or else by an RR; a
// sequence error gets one REJ, and the frames still on their way behind
// the lost one nothing (but an answer to a poll) until it comes.
TEST_F(LapdNtTest, IFramesAreAcknowledgedAndOneRejAsksForALostOne) {
    const unsigned tei = assign(1, 5);  // its N(S) 0 taken
    terminals.take();
    for (unsigned i = 0; i < 8; ++i) send(BriRig::q931(0x85, 0x02));  // a window out, one held
    const auto i_frame = [tei](unsigned ns, unsigned nr, bool p) {
        return lapd::iframe(false, ns, nr, p, BriRig::q931(5, 0x7B), tei);
    };
    const struct {
        Packet frame;
        Frames answer;
    } steps[] = {
        {i_frame(1, 0, false), {"64: RR 2 resp"}},    // in sequence: acknowledged
        {i_frame(2, 0, true), {"64: RR 3 F resp"}},   // a poll answered
        {i_frame(3, 7, false), {"64: I 7/4 P cmd"}},  // the held message carries N(R)
        {i_frame(5, 7, false), {"64: REJ 4 resp"}},   // 4 lost
        {i_frame(6, 7, false), {}},                   // on its way behind it
        {i_frame(7, 7, true), {"64: RR 4 F resp"}},   // a poll among them
        {i_frame(4, 7, false), {"64: RR 5 resp"}},    // the one asked for
        {i_frame(6, 7, false), {"64: REJ 5 resp"}},   // another error, another REJ
    };
    for (const auto& step : steps) EXPECT_EQ(step.answer, feed(step.frame)) << step.frame.text();
}

// The REJ of a sequence error, the RR with F=1 that answers a poll and the
// acknowledgement of an I frame, the channel refusing them (busy, or a
// failed write that no "ready" follows; once or in a row), go once it takes
// frames again, and the REJ counts as sent only then: the terminal needs no
// T200 for them.
enum class Answer { reject, poll, ack };

struct RefusedAnswerCase {
    const char* what;
    Answer answer;
    bool failed;  // a failed write, else a busy channel
    unsigned refusals;
    const char* frame;
};

void PrintTo(const RefusedAnswerCase& c, std::ostream* os) { *os << c.what; }

const RefusedAnswerCase refused_answer_cases[] = {
    {"REJ of a busy channel", Answer::reject, false, 1, "64: REJ 1 resp"},
    {"REJ of a busy channel five times", Answer::reject, false, 5, "64: REJ 1 resp"},
    {"REJ of a failed write", Answer::reject, true, 1, "64: REJ 1 resp"},
    {"REJ of five failed writes", Answer::reject, true, 5, "64: REJ 1 resp"},
    {"answer of a busy channel", Answer::poll, false, 1, "64: RR 1 F resp"},
    {"answer of a failed write", Answer::poll, true, 1, "64: RR 1 F resp"},
    {"answer of five failed writes", Answer::poll, true, 5, "64: RR 1 F resp"},
    {"acknowledgement of a failed write", Answer::ack, true, 1, "64: RR 2 resp"},
};

class RefusedAnswerTest : public LapdNtTest,
                          public ::testing::WithParamInterface<RefusedAnswerCase> {};

TEST_P(RefusedAnswerTest, GoesOnceTheChannelTakesFramesAgain) {
    const RefusedAnswerCase& c = GetParam();
    const unsigned tei = assign(1, 5);  // its N(S) 0 taken
    terminals.take();
    const Answer answer = c.answer;
    bus->network.refuse = test::from_nth(1, c.refusals, [answer](const Packet& f) {
        if (answer == Answer::reject) return lapd::is_rej(f);
        return lapd::is_rr(f) && lapd::pf(f) == (answer == Answer::poll);
    });
    bus->network.refuse_as_failed = c.failed;
    const auto i_frame = [tei](unsigned ns) {
        return lapd::iframe(false, ns, 0, false, BriRig::q931(5, 0x7B), tei);
    };
    Frames heard = feed(answer == Answer::reject ? i_frame(2)
                        : answer == Answer::ack  ? i_frame(1)
                                                 : lapd::sframe(false, Kind::RR, true, 0, true, tei));
    loop.advance(c.failed ? c.refusals * RefusalRetry::interval_ms : 10);
    for (std::string& frame : terminals.take()) heard.push_back(frame);
    EXPECT_EQ(Frames{c.frame}, heard);
    EXPECT_EQ(c.failed ? c.refusals : 0u, bus->network.counters().failed);
    // One REJ for the sequence error, as for one sent at once.
    if (answer == Answer::reject) {
        EXPECT_EQ(Frames{}, feed(i_frame(3)));
    }
}

INSTANTIATE_TEST_SUITE_P(Channel, RefusedAnswerTest, ::testing::ValuesIn(refused_answer_cases),
                         test::CaseName());

// A frame that comes with the pool down to its last block is dropped,
// counted, as one lost on the line (taken, it and its answer would need
// two). With the reserve free it is taken and answered.
TEST_F(LapdNtTest, FrameArrivingWhileThePoolIsLowIsDroppedAndCounted) {
    const unsigned tei = assign(1, 5);
    Packet frame = lapd::iframe(false, 1, 0, false, BriRig::q931(5, 0x7B), tei);
    {
        PoolHold low(1);
        EXPECT_EQ(Frames{}, feed(frame));
    }
    EXPECT_EQ(1u, nt().frames_dropped());
    EXPECT_EQ(1u, network->messages.size());  // the first only
    {
        PoolHold low(frame_reserve);
        EXPECT_EQ(Frames{"64: RR 2 resp"}, feed(frame));
    }
    EXPECT_EQ(1u, nt().frames_dropped());
    EXPECT_EQ(2u, network->messages.size());
}

// Messages from above that no terminal takes come as fast as the controller
// sends them: one line a second of each kind, the next one saying how many
// were held back.
TEST_F(LapdNtTest, LinesOfMessagesNoTerminalTakesAreWrittenOnceASecond) {
    const unsigned tei = assign(1, 5);
    feed(lapd::sframe(false, Kind::RNR, false, 0, false, tei));  // busy: its messages wait
    struct Row {
        std::string message;
        bool poolLow;
        const char* line;
        unsigned held;  // of the messages of one second
    };
    const Row rows[] = {
        {BriRig::q931(0x85, 0x02), false, "discard oldest held message: buffer overflow", 9},
        {BriRig::q931(0x85, 0x02), true, "message dropped: packet pool low", 137},
        {"\x08\x01\x05", false, "octets dropped: no call reference", 137},
        {BriRig::q931(0x86, 0x02), false, "no terminal holds call reference 6", 137},
    };
    test::StreamCapture progress{std::clog};
    for (const Row& row : rows) {
        for (int second = 0; second < 2; ++second, loop.advance(1000)) {
            std::optional<PoolHold> low;
            if (row.poolLow) low.emplace(pool_reserve - 1);
            for (unsigned k = 0; k < ISDN::LAPD_NT::held_capacity + 10; ++k)
                network->send(row.message);
        }
        EXPECT_TRUE(test::written_twice_with_a_count(progress.str(), row.line, row.held));
    }
}

// What a partial acknowledgement leaves goes again after a second, with
// the N(R) of now.
TEST_F(LapdNtTest, UnacknowledgedFramesAreResentWithTheCurrentNr) {
    const unsigned tei = assign(1, 5);
    for (unsigned i = 0; i < 3; ++i) send(BriRig::q931(0x85, 0x02));
    feed(lapd::iframe(false, 1, 1, false, BriRig::q931(5, 0x7B), tei));
    loop.advance(1000);
    EXPECT_EQ((Frames{"64: I 1/2 P cmd", "64: I 2/2 P cmd"}), terminals.take());
    EXPECT_EQ(1, link(0).rc());
}

// Eight busy terminals hold 128 messages together, not 128 each.
TEST_F(LapdNtTest, LinksHoldNoMoreThanOneLinkWouldTogether) {
    for (unsigned i = 0; i < 8; ++i) {
        const unsigned tei = assign(i + 1, int(i + 1));
        feed(lapd::sframe(false, Kind::RNR, false, 0, false, tei));
    }
    for (unsigned n = 0; n < 20; ++n)
        for (unsigned i = 0; i < 8; ++i)
            network->send(BriRig::q931((i + 1) | 0x80, 0x02, std::to_string(n)));
    EXPECT_EQ(ISDN::LAPD_NT::held_capacity, nt().held());
    for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(16u, link(i).held());
    // Each kept its newest.
    std::vector<std::string> sent;
    bus->network.add_tap([&](const Packet& f, bool out) {
        if (out && lapd::is_i(f)) sent.push_back(std::string(f.data() + 8, f.data() + f.length()));
    });
    feed(lapd::sframe(false, Kind::RR, false, 0, false, link(0).tei()));
    EXPECT_EQ((std::vector<std::string>{"4", "5", "6", "7", "8", "9", "10"}), sent);
    EXPECT_EQ(9u, link(0).held());
}

TEST_F(LapdNtTest, FreshLinkTakesNoMessageBeforeItsTerminalNamesACall) {
    assign(1);
    EXPECT_EQ(LAPD_NT_user::none, link(0).call_reference());
    EXPECT_EQ(Frames{}, send(BriRig::q931(0x80, 0x02)));
}

TEST_F(LapdNtTest, TerminalDiscOrDmUnassignsItsLink) {
    for (Kind kind : {Kind::DISC, Kind::DM, Kind::FRMR}) {
        const unsigned tei = assign(kind == Kind::DISC ? 1 : kind == Kind::DM ? 2 : 3);
        const bool command = kind == Kind::DISC;
        feed(lapd::uframe(false, kind, command, true, tei));
        EXPECT_EQ(LAPD_NT_user::unassigned, link(0).state()) << int(kind);
        assigned_ = 0;
    }
}

TEST_F(LapdNtTest, DeactivationUnassignsEveryLinkAndStopsTheChecks) {
    assign(1);
    assign(2);
    network->activate();
    network->deactivate();
    for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(LAPD_NT_user::unassigned, link(i).state());
    loop.advance(1);
    terminals.take();
    loop.advance(120000);
    EXPECT_EQ(Frames{}, terminals.take());
}

}  // namespace
