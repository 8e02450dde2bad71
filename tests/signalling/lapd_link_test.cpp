// A user-side and a network-side link back to back, in virtual time.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "signalling/pool_reserve.h"
#include "tests/link/packet_pool_check.h"
#include "tests/support/lapd_frames.h"
#include "tests/support/lapd_rig.h"
#include "tests/support/stream_capture.h"
#include "tests/support/throttled_lines.h"
#include "tests/support/virtual_loop.h"

namespace {

using ISDN::LAPD;
using test::LapdRig;
namespace lapd = test::lapd;

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

class LapdLinkTest : public PacketPoolCheck {
protected:
    void SetUp() override { rig.reset(new LapdRig); }
    // Links and line go before the pool is checked.
    void TearDown() override {
        rig.reset();
        PacketPoolCheck::TearDown();
    }

    void establish() {
        r().establish();
        loop.advance(10);
        ASSERT_EQ(ISDN::multiple_frame_established, user().full_state().state);
        ASSERT_EQ(ISDN::multiple_frame_established, network().full_state().state);
    }
    // Sends `count` numbered messages each way, a few at a time, letting
    // the line carry them between batches.
    void exchange(unsigned count, unsigned batch = 20) {
        for (unsigned sent = 0; sent < count;) {
            for (unsigned i = 0; i < batch && sent < count; ++i, ++sent) {
                r().send(user(), LapdRig::numbered("u", sent));
                r().send(network(), LapdRig::numbered("n", sent));
            }
            loop.advance(1);
        }
        loop.advance(100);
    }
    static std::vector<std::string> numbered(const std::string& prefix, unsigned count) {
        return LapdRig::first(prefix, count);
    }

    LapdRig& r() { return *rig; }
    LAPD& user() { return *rig->user; }
    LAPD& network() { return *rig->network; }
    test::LinkOwner& userOwner() { return *rig->userOwner; }
    test::LinkOwner& networkOwner() { return *rig->networkOwner; }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<LapdRig> rig;
};

TEST_F(LapdLinkTest, EstablishesAndReleasesWithTheStatusesOfEachSide) {
    r().trace_frames();
    establish();
    EXPECT_EQ(1u, userOwner().activations);
    EXPECT_EQ(1u, networkOwner().activations);

    user().deactivate();
    loop.advance(10);
    EXPECT_EQ(ISDN::tei_assigned, user().full_state().state);
    EXPECT_EQ(ISDN::tei_assigned, network().full_state().state);
    EXPECT_EQ(std::vector<std::string>{"success (UA received)"}, userOwner().deactivations);
    EXPECT_EQ(std::vector<std::string>{"remote error (DISC received)"}, networkOwner().deactivations);
    EXPECT_EQ((std::vector<std::string>{"u: SABME P cmd", "n: UA F resp", "u: DISC P cmd",
                                        "n: UA F resp"}),
              r().trace);
    EXPECT_TRUE(userOwner().statuses.empty());
    EXPECT_TRUE(networkOwner().statuses.empty());

    // Asked for while the release is under way, an establishment follows it.
    establish();
    r().trace.clear();
    user().deactivate();
    user().activate();
    loop.advance(10);
    EXPECT_EQ((std::vector<std::string>{"u: DISC P cmd", "n: UA F resp", "u: SABME P cmd",
                                        "n: UA F resp"}),
              r().trace);
    EXPECT_EQ(ISDN::multiple_frame_established, user().full_state().state);
}

TEST_F(LapdLinkTest, SabmeCollisionEstablishesBothOnce) {
    user().activate();
    network().activate();
    loop.advance(10);
    EXPECT_EQ(ISDN::multiple_frame_established, user().full_state().state);
    EXPECT_EQ(ISDN::multiple_frame_established, network().full_state().state);
    EXPECT_EQ(1u, userOwner().activations);
    EXPECT_EQ(1u, networkOwner().activations);
}

TEST_F(LapdLinkTest, SilentPeerGetsFourSabmesOneSecondApartThenTheLinkFails) {
    r().trace_frames();
    r().line.a.drop = test::every([](const Packet&) { return true; });
    const uint32_t start = Mux::milliseconds();
    r().establish();
    loop.advance(6000);
    ASSERT_EQ(4u, r().trace.size());
    for (unsigned i = 0; i < 4; ++i) {
        EXPECT_EQ("u: SABME P cmd", r().trace[i]);
        EXPECT_EQ(start + 1000 * i, r().traceTimes[i]);
    }
    EXPECT_EQ(std::vector<std::string>{"Unsuccessful retransmission (N200 times) - SABME"},
              userOwner().statuses);
    EXPECT_EQ(std::vector<std::string>{"link error (T200 expired N200 times)"},
              userOwner().deactivations);
    EXPECT_EQ(ISDN::tei_assigned, user().full_state().state);
}

TEST_F(LapdLinkTest, ThreeHundredMessagesEachWayArriveOnceInOrderAcrossTheWrap) {
    establish();
    unsigned largestWindow = 0;
    r().line.a.add_tap([&](const Packet&, bool) {
        largestWindow = std::max(largestWindow, user().queued_ack());
    });
    exchange(300);
    EXPECT_EQ(numbered("u", 300), networkOwner().messages);
    EXPECT_EQ(numbered("n", 300), userOwner().messages);
    EXPECT_EQ(7u, largestWindow);
    EXPECT_EQ(300u % 128, unsigned(user().full_state().VS));
    EXPECT_EQ(300u % 128, unsigned(user().full_state().VR));
    EXPECT_EQ(0u, user().stats().retrains + network().stats().retrains);
    EXPECT_EQ(0u, user().queued_out() + user().queued_ack());
}

TEST_F(LapdLinkTest, WindowStallsAtSevenUntilAcknowledged) {
    establish();
    const unsigned sentBefore = r().line.a.counters().sent;
    r().line.a.hold();
    for (unsigned i = 0; i < 10; ++i) r().send(user(), LapdRig::numbered("u", i));
    loop.advance(10);
    EXPECT_EQ(7u, user().queued_ack());
    EXPECT_EQ(3u, user().queued_out());
    EXPECT_EQ(sentBefore + 7, r().line.a.counters().sent);
    r().line.a.release();
    loop.advance(10);
    EXPECT_EQ(numbered("u", 10), networkOwner().messages);
}

TEST_F(LapdLinkTest, LostIFrameIsRejectedAndResentRenumbered) {
    r().trace_frames();
    establish();
    r().line.a.drop = test::nth(5, lapd::is_i);
    for (unsigned i = 0; i < 7; ++i) r().send(user(), LapdRig::numbered("u", i));
    loop.advance(100);
    EXPECT_EQ(numbered("u", 7), networkOwner().messages);
    EXPECT_TRUE(contains(r().trace, "n: REJ 4 resp"));
    EXPECT_EQ(2u, network().stats().rejected);  // I frames 5 and 6
    // Frames 4 to 6 went again, numbered from N(R) 4.
    EXPECT_EQ(3u, user().stats().retrains);
    EXPECT_EQ(2, std::count(r().trace.begin(), r().trace.end(), "u: I 4/0 cmd"));
    EXPECT_EQ(0u, user().queued_ack());
}

TEST_F(LapdLinkTest, LostAcknowledgementIsRecoveredThroughTimerRecovery) {
    r().trace_frames();
    establish();
    r().line.b.drop = test::nth(1, lapd::is_rr);
    r().send(user(), "x");
    loop.advance(500);
    EXPECT_EQ(1u, user().queued_ack());
    loop.advance(600);  // T200
    EXPECT_EQ(1u, user().stats().T200);
    EXPECT_EQ(ISDN::multiple_frame_established, user().full_state().state);
    EXPECT_EQ(0u, user().queued_ack());
    EXPECT_TRUE(contains(r().trace, "u: RR 0 P cmd"));
    EXPECT_TRUE(contains(r().trace, "n: RR 1 F resp"));
    EXPECT_EQ(std::vector<std::string>{"x"}, networkOwner().messages);
}

// The REJ of a sequence error and the RR with F=1 that answers a poll are
// what the peer waits for under T200: refused by the channel (busy, or a
// failed write that no "ready" follows; once or in a row), each goes once
// the channel takes frames again, with the N(R) of then, and the REJ is
// marked sent only then. The peer needs no T200 for them, so it never
// re-establishes for them.
struct RefusedAnswer {
    const char* what;
    bool reject;  // else the answer to the user's poll on an idle link
    bool failed;  // a failed write, else a busy channel
    unsigned refusals;
};

void PrintTo(const RefusedAnswer& c, std::ostream* os) { *os << c.what; }

class LapdRefusedAnswerTest : public LapdLinkTest,
                              public ::testing::WithParamInterface<RefusedAnswer> {};

TEST_P(LapdRefusedAnswerTest, GoesOnceTheChannelTakesFramesAgain) {
    const RefusedAnswer& c = GetParam();
    r().trace_frames();
    establish();
    const auto answer = c.reject ? test::FramePredicate(test::from_nth(1, c.refusals, lapd::is_rej))
                                 : test::from_nth(1, c.refusals, [](const Packet& f) {
                                       return lapd::is_rr(f) && lapd::pf(f) &&
                                              !lapd::command(f, true);
                                   });
    r().line.b.refuse = answer;
    r().line.b.refuse_as_failed = c.failed;
    if (c.reject) {
        r().line.a.drop = test::nth(2, lapd::is_i);
        for (unsigned i = 0; i < 3; ++i) r().send(user(), LapdRig::numbered("u", i));
        loop.advance(900);
        EXPECT_EQ(numbered("u", 3), networkOwner().messages);
        EXPECT_TRUE(contains(r().trace, "n: REJ 1 resp"));
    } else {
        loop.advance(LAPD::T203_ms + 900);
        EXPECT_TRUE(contains(r().trace, "n: RR 0 F resp"));
        EXPECT_EQ(ISDN::multiple_frame_established, user().full_state().state);
    }
    EXPECT_EQ(c.failed ? c.refusals : 0u, r().line.b.counters().failed);
    loop.advance(3 * LAPD::T200_ms);
    EXPECT_EQ(0u, user().stats().T200);
    EXPECT_EQ(1u, userOwner().activations);
    EXPECT_TRUE(userOwner().statuses.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lapd, LapdRefusedAnswerTest,
    ::testing::Values(RefusedAnswer{"RejOfABusyChannel", true, false, 1},
                      RefusedAnswer{"RejOfABusyChannelFiveTimes", true, false, 5},
                      RefusedAnswer{"RejOfAFailedWrite", true, true, 1},
                      RefusedAnswer{"RejOfFiveFailedWrites", true, true, 5},
                      RefusedAnswer{"FinalOfABusyChannel", false, false, 1},
                      RefusedAnswer{"FinalOfAFailedWrite", false, true, 1},
                      RefusedAnswer{"FinalOfFiveFailedWrites", false, true, 5}),
    [](const auto& info) { return std::string(info.param.what); });

// A peer may answer every frame out of sequence with a REJ (here the line
// repeats the network's one REJ). The second REJ sets VS back once more,
// below frames the peer already has, and the link's busy channel keeps it
// there: the peer's N(R) for those frames is taken, not as an N(R) error
// that re-establishes, and they are not sent a third time.
TEST_F(LapdLinkTest, RepeatedRejThenAcknowledgementOfTheFramesSentAgain) {
    establish();
    std::vector<std::string> seen;  // what the user link says (>) and hears (<)
    r().line.a.add_tap([&seen](const Packet& f, bool sent) {
        seen.push_back((sent ? "> " : "< ") + lapd::describe(f, !sent));
    });
    r().line.a.drop = test::nth(2, lapd::is_i);
    r().line.b.duplicate = test::nth(1, lapd::is_rej);
    // Busy for a third sending of I frame 1, and when it is tried again.
    r().line.a.refuse = test::from_nth(3, 2, [](const Packet& f) {
        return lapd::is_i(f) && lapd::ns(f) == 1;
    });
    for (unsigned i = 0; i < 3; ++i) r().send(user(), LapdRig::numbered("u", i));
    loop.advance(100);
    EXPECT_EQ((std::vector<std::string>{"> I 0/0 cmd", "> I 1/0 cmd", "> I 2/0 cmd",
                                        "< RR 1 resp", "< REJ 1 resp", "> I 1/0 cmd",
                                        "> I 2/0 cmd", "< REJ 1 resp", "< RR 2 resp",
                                        "< RR 3 resp"}),
              seen);
    EXPECT_LT(0u, r().line.a.counters().refused);
    EXPECT_EQ(numbered("u", 3), networkOwner().messages);
    EXPECT_TRUE(userOwner().statuses.empty());
    EXPECT_EQ(ISDN::multiple_frame_established, user().full_state().state);
    EXPECT_EQ(0u, user().queued_out() + user().queued_ack());
}

TEST_F(LapdLinkTest, IdleLinkPollsEveryTenSeconds) {
    r().trace_frames();
    establish();
    r().trace.clear();
    loop.advance(30005);
    EXPECT_EQ(3u, user().stats().T203);
    EXPECT_EQ(3, std::count(r().trace.begin(), r().trace.end(), "u: RR 0 P cmd"));
    EXPECT_EQ(ISDN::multiple_frame_established, user().full_state().state);
    EXPECT_TRUE(userOwner().statuses.empty());
}

TEST_F(LapdLinkTest, SilentPeerOfAnIdleLinkEndsInReestablishment) {
    establish();
    r().line.b.drop = test::every([](const Packet&) { return true; });
    r().trace_frames();
    loop.advance(14005);  // T203, then four enquiries under T200
    EXPECT_EQ(4, std::count(r().trace.begin(), r().trace.end(), "u: RR 0 P cmd"));
    EXPECT_TRUE(contains(userOwner().statuses,
                         "Unsuccessful retransmission (N200 times) - Status enquiry"));
    EXPECT_EQ(ISDN::awaiting_establishment, user().full_state().state);
    auto lastOfUser = std::find_if(r().trace.rbegin(), r().trace.rend(),
                                   [](const std::string& t) { return t.rfind("u:", 0) == 0; });
    EXPECT_EQ("u: SABME P cmd", *lastOfUser);
}

class FlowRecorder : public LAPD::Notify {
public:
    void OnLAPD_FlowStatusChange(LAPD* link) override {
        changes.push_back(link->flow_status());
        queued.push_back(link->queued_out());
    }
    std::vector<int> changes;
    std::vector<unsigned> queued;  // messages waiting at each change
};

TEST_F(LapdLinkTest, BusyChannelKeepsMessagesAndTheFlowStatusFollowsTheQueue) {
    establish();
    FlowRecorder flow;
    user().set_notify(&flow);
    r().line.a.set_busy(true);
    for (unsigned i = 0; i < 88; ++i) r().send(user(), LapdRig::numbered("u", i));
    EXPECT_TRUE(flow.changes.empty());
    r().send(user(), LapdRig::numbered("u", 88));
    EXPECT_EQ(std::vector<int>{LAPD::FlowStatus::congested}, flow.changes);
    for (unsigned i = 89; i < 130; ++i) r().send(user(), LapdRig::numbered("u", i));
    loop.advance(100);
    EXPECT_EQ(128u, user().queued_out());
    EXPECT_EQ(2u, user().stats().outOverflows);
    EXPECT_TRUE(networkOwner().messages.empty());

    // The channel takes one frame at a time: the queue shrinks by one
    // between the link's looks at it.
    r().line.a.refuse = [](const Packet&, unsigned index) { return index % 2 == 0; };
    r().line.a.refuse_only_that = true;
    r().line.a.set_busy(false);
    loop.advance(1000);
    EXPECT_EQ(numbered("u", 128), networkOwner().messages);
    EXPECT_EQ((std::vector<int>{LAPD::FlowStatus::congested, LAPD::FlowStatus::normal}), flow.changes);
    EXPECT_EQ((std::vector<unsigned>{89, 64}), flow.queued);  // more than 88; below 65
}

// An owner that sends faster than the channel takes gets one line a second
// of each kind, the next one saying how many were held back.
TEST_F(LapdLinkTest, LinesOfAnOwnerFasterThanTheChannelAreWrittenOnceASecond) {
    struct Row {
        bool poolLow;  // else the channel is busy
        std::vector<std::pair<const char*, unsigned>> lines;  // and how many each second holds
    };
    for (const Row& row :
         {Row{false, {{"tx full", 137}, {"discard outgoing message: buffer overflow", 9}}},
          Row{true, {{"discard outgoing message: packet pool low", 137}}}}) {
        rig.reset(new LapdRig);
        establish();
        r().line.a.set_busy(!row.poolLow);
        test::StreamCapture progress{std::clog};
        for (int second = 0; second < 2; ++second, loop.advance(1000)) {
            std::optional<PoolHold> low;
            if (row.poolLow) low.emplace(pool_reserve - 1);
            for (unsigned i = 0; i < LAPD::refuse_at + 10; ++i) r().send(user(), "u");
        }
        for (const auto& [line, held] : row.lines)
            EXPECT_TRUE(test::written_twice_with_a_count(progress.str(), line, held));
    }
}

// Eight links with busy channels would hold every block of the pool: the
// links take no message from above while it is down to its reserve.
TEST_F(LapdLinkTest, BusyLinksLeaveThePoolItsReserve) {
    std::vector<std::unique_ptr<LapdRig>> rigs;
    for (int i = 0; i < 8; ++i) {
        rigs.emplace_back(new LapdRig);
        rigs.back()->establish();
    }
    loop.advance(10);
    for (auto& r : rigs) r->line.a.set_busy(true);
    unsigned accepted = 0, refused = 0;
    for (auto& r : rigs) {
        for (unsigned i = 0; i < LAPD::refuse_at; ++i) r->send(*r->user, LapdRig::numbered("u", i));
        accepted += r->user->queued_out();
        refused += r->user->stats().poolOverflows;
        EXPECT_EQ(0u, r->user->stats().outOverflows);
    }
    EXPECT_GE(Packet_pool::free_count(), pool_reserve - 1);
    EXPECT_EQ(LAPD::refuse_at * 8, accepted + refused);
    EXPECT_GT(refused, 0u);

    for (auto& r : rigs) r->line.a.set_busy(false);
    loop.advance(1000);
    unsigned delivered = 0;
    for (auto& r : rigs) delivered += static_cast<unsigned>(r->networkOwner->messages.size());
    EXPECT_EQ(accepted, delivered);
    EXPECT_EQ(numbered("u", LAPD::refuse_at), rigs.front()->networkOwner->messages);
}

// A frame that comes with the pool down to its last block is dropped,
// counted, as one lost on the line (taken, it and its answer would need
// two): recovery brings it once there is room. With the reserve free it is
// taken at once.
TEST_F(LapdLinkTest, FrameArrivingWhileThePoolIsLowIsDroppedAndComesAgain) {
    struct Row {
        unsigned free;
        bool taken;
    };
    for (const Row row : {Row{1, false}, Row{frame_reserve, true}}) {
        SCOPED_TRACE(std::to_string(row.free) + " blocks free");
        rig.reset(new LapdRig);
        establish();
        r().send(network(), "n0");  // on its way
        {
            PoolHold low(row.free);
            loop.advance(1);
        }
        EXPECT_EQ(row.taken ? 0u : 1u, user().stats().dropped);
        EXPECT_EQ(row.taken, contains(userOwner().messages, "n0"));
        loop.advance(2000);
        EXPECT_EQ(std::vector<std::string>{"n0"}, userOwner().messages);
    }
}

TEST_F(LapdLinkTest, DuplicatedFramesDeliverNothingTwiceAndLoseNothing) {
    r().line.b.duplicate = test::nth(1, [](const Packet& f) { return lapd::kind(f) == lapd::Kind::UA; });
    establish();  // the second UA reaches an established link
    EXPECT_EQ(std::vector<std::string>{"UA (F = 1)"}, userOwner().statuses);
    auto twice = test::every([](const Packet&) { return true; });
    r().line.a.duplicate = twice;
    r().line.b.duplicate = twice;
    exchange(40, 5);
    EXPECT_EQ(numbered("u", 40), networkOwner().messages);
    EXPECT_EQ(numbered("n", 40), userOwner().messages);
}

// A UA on an established link is only an error: frames waiting for their
// acknowledgement stay and still arrive.
TEST_F(LapdLinkTest, StrayUaKeepsUnacknowledgedFrames) {
    establish();
    r().line.a.hold();
    for (unsigned i = 0; i < 3; ++i) r().send(user(), LapdRig::numbered("u", i));
    Packet ua = lapd::uframe(true, lapd::Kind::UA, false, false);
    user().receive(ua);
    EXPECT_EQ(std::vector<std::string>{"UA (F = 0)"}, userOwner().statuses);
    EXPECT_EQ(3u, unsigned(user().full_state().VS));
    EXPECT_EQ(3u, user().queued_ack());
    r().line.a.release();
    loop.advance(10);
    EXPECT_EQ(numbered("u", 3), networkOwner().messages);
    EXPECT_EQ(0u, user().queued_ack());
}

TEST_F(LapdLinkTest, MessageGivenBeforeActivationLeavesAtEstablishment) {
    r().send(user(), "early");
    EXPECT_EQ(1u, user().queued_out());
    establish();
    EXPECT_EQ(std::vector<std::string>{"early"}, networkOwner().messages);
}

// Frames too short for their kind are dropped before anything looks at them.
TEST_F(LapdLinkTest, ShortFramesChangeNothing) {
    establish();
    r().send(user(), "x");  // acknowledged: N(R) 0 would now be an error
    loop.advance(10);
    ACP::IsdnLinkInfo info;
    user().GetInfo(info);
    const unsigned sentBefore = r().line.a.counters().sent;
    for (auto octets : {std::string("\x02\x01", 2), std::string("\x02\x01\x00", 3),
                        std::string("\x02\x01\x01", 3), std::string("\x02\x01\x09", 3)}) {
        Packet frame = lapd::bytes(octets);
        user().receive(frame);
        loop.advance(1);
    }
    EXPECT_FALSE(user().GetInfo(info));
    EXPECT_EQ(sentBefore, r().line.a.counters().sent);
    EXPECT_TRUE(userOwner().messages.empty());
    EXPECT_TRUE(userOwner().statuses.empty());
}

TEST_F(LapdLinkTest, GetInfoTellsOnlyChanges) {
    ACP::IsdnLinkInfo info;
    info.set_side(ACP::IsdnSide::user);
    EXPECT_TRUE(user().GetInfo(info));
    EXPECT_FALSE(user().GetInfo(info));
    establish();
    EXPECT_TRUE(user().GetInfo(info));
    EXPECT_EQ(ACP::LAPDState::multiple_frame_established, info.get_lapdState().getValue());
    EXPECT_EQ(ACP::IsdnSide::user, info.get_side().getValue());
}

// The layer above may destroy the link from a report: nothing of the link
// is touched afterwards.
TEST_F(LapdLinkTest, OwnerMayDestroyTheLinkWhileItReports) {
    establish();
    r().send(network(), "bye");
    r().send(network(), "more");
    userOwner().on_data = [&](Packet&) {
        r().line.a.bind(nullptr);
        delete r().user;
        r().user = nullptr;
    };
    loop.advance(10);
    EXPECT_EQ(std::vector<std::string>{"bye"}, userOwner().messages);
    EXPECT_EQ(0u, userOwner().members());
}

}  // namespace
