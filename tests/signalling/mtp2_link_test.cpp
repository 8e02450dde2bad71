// Two SS7 links back to back on the in-memory line, in virtual time.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <random>
#include <sstream>

#include "signalling/pool_reserve.h"
#include "tests/link/packet_pool_check.h"
#include "tests/support/mtp2_rig.h"
#include "tests/support/mtp2_units.h"
#include "tests/support/stream_capture.h"
#include "tests/support/throttled_lines.h"
#include "tests/support/virtual_loop.h"

namespace {

namespace mtp2 = test::mtp2;
using SS7::SLC;
using State = SLC::State;
using test::Mtp2Rig;
using Texts = std::vector<std::string>;

class Mtp2LinkTest : public PacketPoolCheck {
protected:
    void SetUp() override {
        rig.reset(new Mtp2Rig);
        rig->a->set_slc(1);
        rig->b->set_slc(2);
    }
    // Links and line go before the pool is checked.
    void TearDown() override {
        rig.reset();
        PacketPoolCheck::TearDown();
    }

    void align() {
        rig->align(loop);
        ASSERT_EQ(State::worked, a().state_id());
        ASSERT_EQ(State::worked, b().state_id());
    }
    // The same `count` MSUs each way, `batch` at a time, the line carrying
    // them between batches.
    void exchange(unsigned count, unsigned batch) {
        for (unsigned sent = 0; sent < count;) {
            for (unsigned i = 0; i < batch && sent < count; ++i, ++sent) {
                Mtp2Rig::send(a(), Mtp2Rig::msu(sent));
                Mtp2Rig::send(b(), Mtp2Rig::msu(sent));
            }
            loop.advance(1);
        }
        loop.advance(10);
    }
    // Every MSU `end` sends: its FSN, FIB and payload, in order.
    struct SentMsu {
        unsigned fsn;
        bool fib;
        std::string payload;
    };
    void record_msus(test::HdlcEnd& end, std::vector<SentMsu>& sent) {
        end.add_tap([&sent](const Packet& su, bool out) {
            if (out && mtp2::is_msu(su))
                sent.push_back({mtp2::fsn(su), mtp2::fib(su), mtp2::payload(su)});
        });
    }
    static void mute(test::HdlcEnd& end) {
        end.drop = test::every([](const Packet&) { return true; });
    }

    SLC& a() { return *rig->a; }
    SLC& b() { return *rig->b; }
    test::LinkOwner& aOwner() { return *rig->aOwner; }
    test::LinkOwner& bOwner() { return *rig->bOwner; }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<Mtp2Rig> rig;
};

// The state changes one side logged, from the log of both.
Texts states_of(const std::string& log, unsigned slc) {
    const std::string side = "slc=" + std::to_string(slc) + ",";
    Texts states;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const auto to = line.find("\" to \"");
        if (line.find(side) == std::string::npos || to == std::string::npos) continue;
        states.push_back(line.substr(to + 6, line.size() - to - 7));
    }
    return states;
}

struct Alignment {
    const char* what;
    bool emergency;
    unsigned t4;
    const char* status;  // the alignment LSSU
};

void PrintTo(const Alignment& c, std::ostream* os) { *os << c.what; }

class Mtp2AlignmentTest : public Mtp2LinkTest, public ::testing::WithParamInterface<Alignment> {};

// The activated side sends SIO; the idle side follows it into aligned and
// both prove for T4, then the first FISU takes each into service.
TEST_P(Mtp2AlignmentTest, ActivatingOneSideBringsBothIntoServiceAfterT4) {
    const Alignment& c = GetParam();
    for (SLC* link : {rig->a, rig->b}) {
        link->set_emergency(c.emergency);
        link->trace().state = true;
    }
    rig->trace_units();
    test::StreamCapture log(std::clog);
    a().activate();
    loop.advance(c.t4 - 1);
    EXPECT_EQ(State::proving, a().state_id());
    EXPECT_EQ(State::proving, b().state_id());
    loop.advance(1);
    EXPECT_EQ(State::worked, a().state_id());
    EXPECT_EQ(State::worked, b().state_id());
    EXPECT_EQ((Texts{"not aligned", "proving", "aligned ready", "worked"}),
              states_of(log.str(), 1));
    EXPECT_EQ((Texts{"aligned", "proving", "aligned ready", "worked"}), states_of(log.str(), 2));
    ASSERT_LE(4u, rig->trace.size());
    EXPECT_EQ((Texts{"a: SIO", std::string("b: ") + c.status, std::string("a: ") + c.status,
                     std::string("b: ") + c.status}),
              Texts(rig->trace.begin(), rig->trace.begin() + 4));
    EXPECT_EQ(1u, aOwner().activations);
    EXPECT_EQ(1u, bOwner().activations);
    EXPECT_TRUE(aOwner().deactivations.empty());
}

INSTANTIATE_TEST_SUITE_P(T4, Mtp2AlignmentTest,
                         ::testing::Values(Alignment{"Normal", false, 8200, "SIN"},
                                           Alignment{"Emergency", true, 500, "SIE"}),
                         [](const auto& info) { return std::string(info.param.what); });

struct Deactivation {
    const char* what;
    unsigned queueMs;  // a's channel full: a 64 kbit/s line behind a queue this long
    bool restart;      // activated again at once
    unsigned failures = 0;  // a's next units refused as failed writes, in a row
};

class Mtp2DeactivationTest : public Mtp2LinkTest,
                             public ::testing::WithParamInterface<Deactivation> {};

// The peer hears the SIOS, from a full channel once it takes frames again,
// from a failing one once its writes work again, and the SIO of a restart
// after it.
TEST_P(Mtp2DeactivationTest, TakesBothSidesOutOfServiceAndARestartBringsThemBack) {
    const Deactivation& c = GetParam();
    align();
    if (c.queueMs) {
        rig->line.a.set_line(c.queueMs);
        while (a().tb_count() == 0) Mtp2Rig::send(a(), std::string(100, 'a'));
    }
    rig->line.a.refuse = test::from_nth(1, c.failures);
    rig->line.a.refuse_as_failed = true;
    a().deactivate();
    if (c.restart) a().activate();
    loop.advance(1000);
    EXPECT_EQ(Texts{"impossible phasing"}, aOwner().deactivations);
    EXPECT_EQ(Texts{"impossible phasing"}, bOwner().deactivations);  // on a's SIOS
    if (!c.restart) {
        EXPECT_EQ(State::idle, a().state_id());
        EXPECT_EQ(State::idle, b().state_id());
        return;
    }
    loop.advance(8200);
    EXPECT_EQ(State::worked, a().state_id());
    EXPECT_EQ(State::worked, b().state_id());
    EXPECT_EQ(2u, aOwner().activations);
    EXPECT_EQ(2u, bOwner().activations);
}

INSTANTIATE_TEST_SUITE_P(Mtp2Link, Mtp2DeactivationTest,
                         ::testing::Values(Deactivation{"IdleChannel", 0, false},
                                           Deactivation{"FullChannel", 500, false},
                                           Deactivation{"RestartOnAnIdleChannel", 0, true},
                                           Deactivation{"RestartOnAFullChannel", 500, true},
                                           Deactivation{"FailedWrite", 0, false, 1},
                                           Deactivation{"FailedWritesInARow", 0, false, 5},
                                           Deactivation{"RestartAfterFailedWrites", 0, true, 5}),
                         [](const auto& info) { return std::string(info.param.what); });

// A failed write says nothing when the channel works again: an MSU it
// refused, sent for the first time or again after a loss, leaves on the
// link's retry, without waiting for the owner's next message or for T7,
// once or after failures in a row, and the link stays in service.
struct FailedMsu {
    const char* what;
    bool resent;        // the refused unit is sent again: its first copy was lost
    unsigned failures;  // sendings refused in a row
};

void PrintTo(const FailedMsu& c, std::ostream* os) { *os << c.what; }

class Mtp2FailedMsuTest : public Mtp2LinkTest, public ::testing::WithParamInterface<FailedMsu> {};

TEST_P(Mtp2FailedMsuTest, LeavesOnTheRetryAndTheLinkStaysInService) {
    const FailedMsu& c = GetParam();
    align();
    if (c.resent) rig->line.a.drop = test::nth(1, mtp2::is_msu);
    rig->line.a.refuse = test::from_nth(c.resent ? 2 : 1, c.failures, mtp2::is_msu);
    rig->line.a.refuse_as_failed = true;
    Mtp2Rig::send(a(), Mtp2Rig::msu(7));
    loop.advance(c.resent ? 2000 : 1000);
    EXPECT_EQ(c.failures, rig->line.a.counters().failed);
    EXPECT_EQ(Mtp2Rig::msus(7, 1), bOwner().messages);
    EXPECT_EQ(0u, a().rtb_count());
    loop.advance(15000);
    EXPECT_EQ(State::worked, a().state_id());
    EXPECT_EQ(State::worked, b().state_id());
    EXPECT_TRUE(aOwner().deactivations.empty());
}

INSTANTIATE_TEST_SUITE_P(Mtp2Link, Mtp2FailedMsuTest,
                         ::testing::Values(FailedMsu{"FirstSending", false, 1},
                                           FailedMsu{"FirstSendingTenTimes", false, 10},
                                           FailedMsu{"Resending", true, 1},
                                           FailedMsu{"ResendingTenTimes", true, 10}),
                         [](const auto& info) { return std::string(info.param.what); });

// A channel whose writes fail for good: the MSU is tried ten times a second,
// not in a loop, and T7 takes the link out of service as for an MSU the line
// never carries, also while the peer sends a FISU every 10 ms (each answered,
// refused too); its SIOS reaches the peer once the writes work again.
class Mtp2FailingWritesTest : public Mtp2LinkTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Mtp2FailingWritesTest, TakeTheLinkOutOfServiceAfterT7) {
    align();
    rig->line.a.refuse = test::every([](const Packet&) { return true; });
    rig->line.a.refuse_as_failed = true;
    Mtp2Rig::send(a(), Mtp2Rig::msu(7));
    unsigned fisus = 0;
    for (unsigned ms = 0; ms < 11999; ms += 10, fisus += GetParam()) {
        Packet fisu = mtp2::unit(127, true, 127, true);
        if (GetParam()) a().on_hdlc_receive(fisu);
        loop.advance(std::min(10u, 11999 - ms));
    }
    EXPECT_EQ(State::worked, a().state_id());
    loop.advance(1);
    EXPECT_EQ(State::idle, a().state_id());
    EXPECT_EQ(Texts{"impossible phasing"}, aOwner().deactivations);
    // The MSU, then the SIOS too.
    EXPECT_LE(rig->line.a.counters().failed, 2u + 120u + fisus);
    loop.advance(10000);
    EXPECT_EQ(State::worked, b().state_id());
    EXPECT_LE(rig->line.a.counters().failed, 2u + 220u + fisus);
    rig->line.a.refuse = nullptr;
    loop.advance(100);
    EXPECT_EQ(State::idle, b().state_id());
    EXPECT_TRUE(bOwner().messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Mtp2Link, Mtp2FailingWritesTest, ::testing::Bool(), [](const auto& info) {
    return info.param ? "PeerSendsFisus" : "QuietPeer";
});

// A deactivates just as its SIN leaves: B receives SIN and then SIOS while
// A, now idle, receives B's SIN. Both end up proving and come into service,
// rather than swap states for ever.
TEST_F(Mtp2LinkTest, DeactivationCrossingTheSinEndsInService) {
    rig->line.b.hold();
    a().activate();
    loop.advance(1);  // B aligned, its SIN held
    rig->line.a.hold();
    rig->line.b.release();
    loop.advance(1);  // A proving, its SIN held
    a().deactivate();
    rig->line.a.release();
    loop.advance(8200 + 10);
    EXPECT_EQ(State::worked, a().state_id());
    EXPECT_EQ(State::worked, b().state_id());
    EXPECT_EQ(1u, aOwner().deactivations.size());
    EXPECT_EQ(1u, bOwner().deactivations.size());
}

// 400 MSUs of 3 to 280 octets each way: both FSN and BSN wrap three times;
// batches larger than the RTB leave the rest to follow acknowledgements.
TEST_F(Mtp2LinkTest, FourHundredMsusEachWayArriveOnceInOrderByteForByte) {
    align();
    unsigned largestRtb = 0;
    rig->line.a.add_tap(
        [&](const Packet&, bool) { largestRtb = std::max(largestRtb, a().rtb_count()); });
    exchange(400, 150);
    EXPECT_EQ(Mtp2Rig::msus(0, 400), bOwner().messages);
    EXPECT_EQ(Mtp2Rig::msus(0, 400), aOwner().messages);
    EXPECT_EQ(SLC::rtb_limit, largestRtb);
    EXPECT_EQ(399u % 128, b().BSNT());
    EXPECT_EQ(399u % 128, a().BSNT());
    for (SLC* link : {rig->a, rig->b}) {
        EXPECT_EQ(0u, link->rtb_count());
        EXPECT_EQ(0u, link->tb_count());
        EXPECT_EQ(0u, link->statistics().repeatCntr + link->statistics().badSeqCntr);
    }
}

TEST_F(Mtp2LinkTest, WithThePeerMutedNoMoreThan127MsusLeave) {
    align();
    std::vector<SentMsu> sent;
    record_msus(rig->line.a, sent);
    mute(rig->line.b);
    for (unsigned i = 0; i < 130; ++i) Mtp2Rig::send(a(), Mtp2Rig::msu(i));
    loop.advance(100);
    EXPECT_EQ(127u, sent.size());
    EXPECT_EQ(127u, a().rtb_count());
    EXPECT_EQ(3u, a().tb_count());
    EXPECT_EQ(126u, sent.back().fsn);
}

TEST_F(Mtp2LinkTest, TbTakes200MsusAndRefusesTheNext) {
    align();
    rig->line.a.set_busy(true);
    for (unsigned i = 0; i < 199; ++i) Mtp2Rig::send(a(), Mtp2Rig::msu(i));
    Mtp2Rig::send(a(), Mtp2Rig::msu(199));
    EXPECT_EQ(200u, a().tb_count());
    EXPECT_EQ(0u, a().statistics().overflowCntr);
    test::StreamCapture errors(std::cerr);
    Mtp2Rig::send(a(), Mtp2Rig::msu(200));
    EXPECT_EQ(200u, a().tb_count());
    EXPECT_EQ(1u, a().statistics().overflowCntr);
    EXPECT_NE(std::string::npos,
              errors.str().find("no space in TB buffer, TB=200 RTB=0 ignoring msu: 03 00 C8"));
    rig->line.a.set_busy(false);
    loop.advance(100);
    EXPECT_EQ(Mtp2Rig::msus(0, 200), bOwner().messages);
}

// An owner that sends faster than the line takes gets one line a second of
// each kind, the next one saying how many were held back.
TEST_F(Mtp2LinkTest, LinesOfAnOwnerFasterThanTheLineAreWrittenOnceASecond) {
    struct Row {
        const char* line;
        bool poolLow;
        bool paced;  // a 64 kbit/s line behind a 500 ms queue; else a busy channel
        unsigned held;
    };
    for (const Row& row : {Row{"no space in TB buffer", false, false, 9},
                           Row{"packet pool low, ignoring msu", true, false, 209},
                           Row{"hdlc ready", false, true, 52}}) {
        SetUp();
        align();
        if (row.paced)
            rig->line.a.set_line(500);
        else
            rig->line.a.set_busy(true);
        test::StreamCapture errors(std::cerr), progress(std::clog);
        for (int second = 0; second < 2; ++second, loop.advance(1000)) {
            std::optional<PoolHold> low;
            if (row.poolLow) low.emplace(pool_reserve - 1);
            for (unsigned i = 0; i < 210; ++i) Mtp2Rig::send(a(), Mtp2Rig::msu(i));
        }
        EXPECT_TRUE(
            test::written_twice_with_a_count(errors.str() + progress.str(), row.line, row.held));
    }
}

// A unit that comes with the pool down to its last block is dropped,
// counted, as one lost on the line (taken, it and its answer would need
// two): the retransmission brings it later. With the reserve free it is
// taken at once.
TEST_F(Mtp2LinkTest, AUnitArrivingWhileThePoolIsLowIsDroppedAndComesAgain) {
    struct Row {
        unsigned free;
        bool taken;
    };
    test::StreamCapture errors(std::cerr);
    for (const Row row : {Row{1, false}, Row{frame_reserve, true}}) {
        SCOPED_TRACE(std::to_string(row.free) + " blocks free");
        SetUp();
        align();
        Mtp2Rig::send(a(), Mtp2Rig::msu(0));  // on its way
        {
            PoolHold low(row.free);
            loop.advance(1);
        }
        EXPECT_EQ(row.taken ? 0u : 1u, b().statistics().dropped);
        EXPECT_EQ(row.taken, !bOwner().messages.empty());
        loop.advance(3000);
        EXPECT_EQ(Mtp2Rig::msus(0, 1), bOwner().messages);
        EXPECT_EQ(State::worked, b().state_id());
    }
}

// Four links with busy channels would hold 800 MSUs, most of the pool: the
// TB takes none while the pool is down to its reserve.
TEST_F(Mtp2LinkTest, TheTbLeavesThePoolItsReserve) {
    std::vector<std::unique_ptr<Mtp2Rig>> rigs;
    for (int i = 0; i < 4; ++i) {
        rigs.emplace_back(new Mtp2Rig);
        rigs.back()->align(loop);
        rigs.back()->line.a.set_busy(true);
    }
    test::StreamCapture errors(std::cerr);
    unsigned refused = 0;
    for (auto& r : rigs) {
        for (unsigned i = 0; i < 200; ++i) Mtp2Rig::send(*r->a, Mtp2Rig::msu(i));
        refused += r->a->statistics().poolOverflows;
        EXPECT_EQ(0u, r->a->statistics().overflowCntr);
    }
    EXPECT_GE(Packet_pool::free_count(), pool_reserve - 1);
    EXPECT_EQ(800u - (Packet_pool::capacity() - pool_reserve), refused);
    EXPECT_NE(std::string::npos, errors.str().find("packet pool low, ignoring msu: 03"));
    // One line at a time: the in-memory line holds what is in flight in
    // pool blocks, where a board channel holds it in the driver.
    for (auto& r : rigs) {
        r->line.a.set_busy(false);
        loop.advance(100);
    }
    EXPECT_EQ(Mtp2Rig::msus(0, 200), rigs.front()->bOwner->messages);
}

// 140 MSUs at once: 127 leave and 13 wait; the fifth is lost. The peer asks
// once; everything unacknowledged goes again with its old FSN and the other
// FIB, ahead of the 13.
TEST_F(Mtp2LinkTest, LostMsuIsAskedForOnceAndResentAheadOfTheWaitingOnes) {
    align();
    std::vector<SentMsu> sent;
    record_msus(rig->line.a, sent);
    rig->line.a.drop = test::nth(5, mtp2::is_msu);
    for (unsigned i = 0; i < 140; ++i) Mtp2Rig::send(a(), Mtp2Rig::msu(i));
    loop.advance(100);

    EXPECT_EQ(Mtp2Rig::msus(0, 140), bOwner().messages);
    EXPECT_EQ(1u, b().statistics().badSeqCntr);
    EXPECT_EQ(1u, a().statistics().repeatCntr);
    const auto repeat =
        std::find_if(sent.begin(), sent.end(), [](const SentMsu& m) { return !m.fib; });
    ASSERT_NE(sent.end(), repeat);
    std::vector<std::string> resent;
    for (auto m = repeat; m != sent.end(); ++m) {
        EXPECT_FALSE(m->fib);
        resent.push_back(m->payload);
        // An MSU sent before keeps its FSN.
        for (auto first = sent.begin(); first != repeat; ++first) {
            if (first->payload == m->payload) {
                EXPECT_EQ(first->fsn, m->fsn);
            }
        }
    }
    // The four acknowledged before the loss made room for four of the 13.
    EXPECT_EQ(131u, repeat - sent.begin());
    EXPECT_EQ(Mtp2Rig::msus(4, 136), resent);
    EXPECT_EQ(0u, a().rtb_count());
}

TEST_F(Mtp2LinkTest, DuplicatedUnitsDeliverNothingTwice) {
    align();
    auto all = test::every([](const Packet&) { return true; });
    rig->line.a.duplicate = all;
    rig->line.b.duplicate = all;
    exchange(50, 10);
    EXPECT_EQ(Mtp2Rig::msus(0, 50), bOwner().messages);
    EXPECT_EQ(Mtp2Rig::msus(0, 50), aOwner().messages);
    EXPECT_EQ(State::worked, a().state_id());
}

// A peer that acknowledges nothing more, or that takes no unit longer than
// 64 octets: the link leaves service when T7 runs out, 12 s after the last
// acknowledgement that released units (or after the first MSU, when none
// did), however often the peer asks for the lost MSU again, and also when
// a busy channel refuses what is sent again; then nothing more is sent
// again.
constexpr unsigned line_latency = 10;  // each way

struct UndeliveredMsu {
    const char* what;
    bool mute;                          // the peer sends nothing; else it drops long units
    std::vector<std::string> payloads;  // sent at once
    unsigned lastReleased;              // ms after them: the last acknowledgement releasing units
    int left;                           // MSUs in the RTB when T7 runs out (-1: any)
    // A busy 64 kbit/s channel each way, behind a driver queue of this much
    // line time: 100-octet MSUs every 20 ms from the link, 20-octet ones
    // every 10 ms back. A retransmission then often finds the channel full,
    // and the peer's next unit comes before it takes the first MSU again.
    // 0: the channels take every unit at once.
    unsigned queueMs = 0;
};

void PrintTo(const UndeliveredMsu& c, std::ostream* os) { *os << c.what; }

class Mtp2UndeliveredMsuTest : public Mtp2LinkTest,
                               public ::testing::WithParamInterface<UndeliveredMsu> {};

TEST_P(Mtp2UndeliveredMsuTest, TakesTheLinkOutOfServiceAfterT7) {
    const UndeliveredMsu& c = GetParam();
    align();
    rig->line.a.set_latency(line_latency);
    rig->line.b.set_latency(line_latency);
    if (c.mute)
        mute(rig->line.b);
    else
        rig->line.a.drop = test::every([](const Packet& su) { return su.length() > 64; });
    if (c.queueMs) {
        rig->line.a.set_line(c.queueMs);
        rig->line.b.set_line(c.queueMs);
    }
    for (const std::string& payload : c.payloads) Mtp2Rig::send(a(), payload);
    unsigned elapsed = 0;
    auto run = [&](unsigned ms) {
        if (!c.queueMs) return loop.advance(ms);
        for (const unsigned end = elapsed + ms; elapsed < end;) {
            if (elapsed % 20 == 0) Mtp2Rig::send(a(), std::string(100, 'a'));
            if (elapsed % 10 == 0) Mtp2Rig::send(b(), std::string(20, 'b'));
            const unsigned step = std::min(10 - elapsed % 10, end - elapsed);
            loop.advance(step);
            elapsed += step;
        }
    };
    run(c.lastReleased + 11999);
    EXPECT_EQ(State::worked, a().state_id());
    a().trace().timers = true;
    test::StreamCapture log(std::clog);
    run(1);
    EXPECT_EQ(State::idle, a().state_id());
    EXPECT_EQ(Texts{"impossible phasing"}, aOwner().deactivations);
    const std::string left = c.left < 0 ? "" : std::to_string(c.left) + " packets in RTB.";
    EXPECT_NE(std::string::npos, log.str().find("T7 expired: " + left));

    const unsigned repeats = a().statistics().repeatCntr;
    // The peer that drops long units asks for them again and again.
    EXPECT_EQ(c.mute, repeats < 10) << repeats;
    std::vector<SentMsu> sent;
    record_msus(rig->line.a, sent);
    run(60000);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(repeats, a().statistics().repeatCntr);
}

const std::string shortMsu = "\x03\x01\x02", longMsu(262, 'L');

INSTANTIATE_TEST_SUITE_P(
    T7, Mtp2UndeliveredMsuTest,
    ::testing::Values(UndeliveredMsu{"PeerThatStopsAcknowledging", true, {shortMsu}, 0, 1},
                      UndeliveredMsu{"PeerThatTakesNoLongUnit", false, {longMsu, shortMsu}, 0, 2},
                      UndeliveredMsu{"PeerThatTakesNoLongUnitAfterAShortOne",
                                     false,
                                     {shortMsu, longMsu, shortMsu},
                                     2 * line_latency,
                                     2},
                      UndeliveredMsu{"BusyChannelWithA500msQueue", false, {longMsu}, 0, -1, 500},
                      UndeliveredMsu{"BusyChannelWithA100msQueue", false, {longMsu}, 0, -1, 100}),
    [](const auto& info) { return std::string(info.param.what); });

// A quiet link, one in ten units lost each way: each MSU is followed by a
// silence longer than T7, so only the FISUs sent while it waits for its
// acknowledgement, and the peer's answers, can show a loss.
class Mtp2QuietLossTest : public Mtp2LinkTest, public ::testing::WithParamInterface<unsigned> {
protected:
    test::FramePredicate lose_one_in_ten(unsigned seed) {
        auto random = std::make_shared<std::mt19937>(seed);
        return [random](const Packet&, unsigned) { return (*random)() % 10 == 0; };
    }
};

TEST_P(Mtp2QuietLossTest, EveryMsuArrivesOnceInOrderAndTheLinkStaysInService) {
    align();
    rig->line.a.drop = lose_one_in_ten(GetParam());
    rig->line.b.drop = lose_one_in_ten(GetParam() + 1000);
    for (unsigned i = 0; i < 40; ++i) {
        Mtp2Rig::send(i % 2 ? b() : a(), Mtp2Rig::msu(i / 2));
        loop.advance(13000);
    }
    EXPECT_EQ(Mtp2Rig::msus(0, 20), bOwner().messages);
    EXPECT_EQ(Mtp2Rig::msus(0, 20), aOwner().messages);
    EXPECT_EQ(State::worked, a().state_id());
    EXPECT_EQ(State::worked, b().state_id());
    EXPECT_TRUE(aOwner().deactivations.empty());
    EXPECT_TRUE(bOwner().deactivations.empty());
    EXPECT_LT(0u, a().statistics().repeatCntr + b().statistics().repeatCntr);
    // With everything acknowledged the link falls silent.
    const unsigned sent = rig->line.a.counters().sent + rig->line.b.counters().sent;
    loop.advance(60000);
    EXPECT_EQ(sent, rig->line.a.counters().sent + rig->line.b.counters().sent);
}

INSTANTIATE_TEST_SUITE_P(Seeds, Mtp2QuietLossTest, ::testing::Range(1u, 6u));

// A channel that closed on a read failure sends and receives nothing more:
// the link leaves service at once rather than pile up MSUs.
TEST_F(Mtp2LinkTest, FailedChannelTakesTheLinkOutOfService) {
    align();
    test::StreamCapture log(std::clog);
    rig->line.a.fail();
    loop.advance(1);
    EXPECT_EQ(State::idle, a().state_id());
    EXPECT_EQ(Texts{"impossible phasing"}, aOwner().deactivations);
    EXPECT_NE(std::string::npos, log.str().find("(worked): hdlc error [cause=0]"));
}

// The owner may destroy the link from what it reports: nothing of the link
// is touched afterwards.
TEST_F(Mtp2LinkTest, OwnerMayDestroyTheLinkWhileItReports) {
    align();
    Mtp2Rig::send(a(), Mtp2Rig::msu(0));
    Mtp2Rig::send(a(), Mtp2Rig::msu(1));
    bOwner().on_data = [&](Packet&) {
        rig->line.b.bind(nullptr);
        delete rig->b;
        rig->b = nullptr;
    };
    loop.advance(10);
    EXPECT_EQ(Mtp2Rig::msus(0, 1), bOwner().messages);
    EXPECT_EQ(0u, bOwner().members());
}

}  // namespace
