// One SS7 link fed scripted peer units: what it answers, reports, delivers
// and becomes.

#include <gtest/gtest.h>

#include "signalling/mtp2.h"
#include "tests/link/packet_pool_check.h"
#include "tests/support/case_name.h"
#include "tests/support/hdlc_pair.h"
#include "tests/support/link_owner.h"
#include "tests/support/mtp2_units.h"
#include "tests/support/stream_capture.h"
#include "tests/support/throttled_lines.h"
#include "tests/support/virtual_loop.h"

namespace {

namespace mtp2 = test::mtp2;
using SS7::SLC;
using State = SLC::State;
using Units = std::vector<std::string>;

// The far end of the line: keeps what the link sends.
class UnitRecorder : public HDLC::Notify {
public:
    void on_hdlc_receive(Packet& su) override {
        units.push_back(mtp2::describe(su));
        raw.push_back(su);
    }
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override {}
    void clear() {
        units.clear();
        raw.clear();
    }
    Units units;
    std::vector<Packet> raw;
};

class Mtp2UnitTest : public PacketPoolCheck {
protected:
    void SetUp() override {
        link = new SLC;
        owner.reset(new test::LinkOwner(link));
        link->set_hdlc(&line->a);
        link->set_dpc(12);
        link->set_slc(3);
        link->set_trunk(1);
        line->a.bind(link);
        line->b.bind(&peer);
    }
    void TearDown() override {
        owner.reset();
        line.reset();
        peer.clear();
        PacketPoolCheck::TearDown();
    }

    void feed(Packet su) {
        link->receive(su);
        loop.advance(1);
    }
    void message(const std::string& payload) {
        Packet p;
        link->prepare_head(p);
        p.put(payload.data(), unsigned(payload.size()));
        link->message(p);
    }
    void send(const std::string& payload) {
        message(payload);
        loop.advance(1);
    }
    // Takes the link to `state` the way a peer would, then forgets what it
    // sent and reported on the way; the state was entered 1 ms before.
    void bring_to(State::type state) {
        switch (state) {
        case State::idle: break;
        case State::not_aligned:
            link->activate();
            loop.advance(1);
            break;
        case State::aligned: feed(mtp2::lssu(SLC::SIO)); break;
        case State::proving:
        case State::aligned_ready:
        case State::worked:
            link->activate();
            feed(mtp2::lssu(SLC::SIN));
            if (state == State::aligned_ready) loop.advance(8200);
            if (state == State::worked) feed(mtp2::unit(127, true, 127, true));
            break;
        }
        ASSERT_EQ(state, link->state_id());
        peer.clear();
        owner->activations = 0;
        owner->deactivations.clear();
    }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<test::HdlcPair> line{new test::HdlcPair};
    UnitRecorder peer;
    SLC* link = nullptr;
    std::unique_ptr<test::LinkOwner> owner;
};

// What each state does with each kind of unit: LSSUs by status, then a
// FISU and an MSU that would be in sequence in service.
enum Event { SIO, SIN, SIE, SIOS, FISU, MSU, events };
const char* const event_names[] = {"SIO", "SIN", "SIE", "SIOS", "FISU", "MSU"};

const State::type next_state[6][events] = {
    {State::aligned, State::proving, State::proving, State::idle, State::idle, State::idle},
    {State::aligned, State::proving, State::proving, State::not_aligned, State::not_aligned,
     State::not_aligned},
    {State::aligned, State::proving, State::proving, State::aligned, State::aligned,
     State::aligned},
    {State::aligned, State::proving, State::proving, State::idle, State::worked, State::worked},
    {State::aligned, State::aligned_ready, State::aligned_ready, State::idle, State::worked,
     State::worked},
    {State::aligned, State::idle, State::idle, State::idle, State::worked, State::worked},
};

Packet event_unit(Event e) {
    if (e == FISU) return mtp2::unit(127, true, 127, true);
    if (e == MSU) return mtp2::unit(127, true, 0, true, "msu");
    return mtp2::lssu(e);
}

class Mtp2StateTableTest : public Mtp2UnitTest,
                           public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(Mtp2StateTableTest, UnitMovesTheLinkAsTheTableSays) {
    const auto state = State::type(std::get<0>(GetParam()));
    const auto event = Event(std::get<1>(GetParam()));
    bring_to(state);
    const State::type next = next_state[state][event];
    test::StreamCapture log(std::clog);
    feed(event_unit(event));
    EXPECT_EQ(next, link->state_id());
    // Proving ends on the unit without processing it: only a link already
    // in service takes the MSU.
    EXPECT_EQ(state == State::worked && event == MSU ? 1u : 0u, owner->messages.size());
    EXPECT_EQ(next == State::worked && state != State::worked ? 1u : 0u, owner->activations);
    // The peer's SIO, which it sends once, takes the link out of service and
    // is answered from there.
    const bool realigns = event == SIO && state >= State::proving;
    const bool out = (next == State::idle && state != State::idle) || realigns;
    EXPECT_EQ(out ? Units{"impossible phasing"} : Units{}, owner->deactivations);
    // The peer's SIOS is not answered with one.
    if (out) {
        const Units answer =
            event == SIOS ? Units{} : realigns ? Units{"SIOS", "SIN"} : Units{"SIOS"};
        EXPECT_EQ(answer, peer.units);
    }
    // Aligned, the link says again what the peer's SIO shows it missed.
    if (state == State::aligned && event == SIO) {
        EXPECT_EQ(Units{"SIN"}, peer.units);
    }
    if (state == State::worked && event < FISU) {
        EXPECT_NE(std::string::npos, log.str().find("receive lssu: "));
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, Mtp2StateTableTest, ::testing::Combine(::testing::Range(0, 6), ::testing::Range(0, 6)),
    [](const auto& info) {
        std::string name = SLC::state_name(std::get<0>(info.param));
        for (char& c : name)
            if (c == ' ') c = '_';
        return name + "_" + event_names[std::get<1>(info.param)];
    });

TEST_F(Mtp2UnitTest, EachStateSendsItsLssuOrFisuOnEntry) {
    link->activate();
    loop.advance(1);
    EXPECT_EQ(Units{"SIO"}, peer.units);
    feed(mtp2::lssu(SLC::SIN));
    EXPECT_EQ((Units{"SIO", "SIN"}), peer.units);
    loop.advance(8200);
    EXPECT_EQ((Units{"SIO", "SIN", "FISU 127/1 127/1"}), peer.units);
    feed(mtp2::unit(127, true, 127, true));
    EXPECT_EQ((Units{"SIO", "SIN", "FISU 127/1 127/1", "FISU 127/1 127/1", "FISU 127/1 127/1"}),
              peer.units);
    link->deactivate();
    loop.advance(1);
    EXPECT_EQ("SIOS", peer.units.back());
}

// A busy channel refuses the LSSUs of the states the link goes through:
// once it takes frames again the peer hears a SIOS it has not heard first
// (a deactivation and a restart on a full line: mtp2_link_test.cpp), then
// the latest status, and nothing a FISU has said since.
enum Owner { DEACTIVATE = events, ACTIVATE };

struct OwedLssuCase {
    const char* what;
    State::type from;
    std::vector<int> steps;  // units from the peer (Event) and owner commands
    Units heard;
};

const OwedLssuCase owed_lssu_cases[] = {
    {"restarted then proving", State::worked, {DEACTIVATE, ACTIVATE, SIN}, {"SIOS", "SIN"}},
    {"in service again", State::worked, {DEACTIVATE, SIN, FISU}, {"FISU 127/1 127/1"}},
    {"proving then in service", State::aligned, {SIN, FISU}, {"FISU 127/1 127/1"}},
};

void PrintTo(const OwedLssuCase& c, std::ostream* os) { *os << c.what; }

class Mtp2OwedLssuTest : public Mtp2UnitTest, public ::testing::WithParamInterface<OwedLssuCase> {};

TEST_P(Mtp2OwedLssuTest, GoesOnceTheChannelTakesFramesAgain) {
    const OwedLssuCase& c = GetParam();
    bring_to(c.from);
    line->a.set_busy(true);
    for (int step : c.steps) {
        if (step == DEACTIVATE) link->deactivate();
        if (step == ACTIVATE) link->activate();
        if (step < events) feed(event_unit(Event(step)));
    }
    loop.advance(10);
    EXPECT_EQ(Units{}, peer.units);
    line->a.set_busy(false);
    loop.advance(10);
    EXPECT_EQ(c.heard, peer.units);
}

INSTANTIATE_TEST_SUITE_P(Busy, Mtp2OwedLssuTest, ::testing::ValuesIn(owed_lssu_cases),
                         test::CaseName());

struct TimerCase {
    const char* what;
    bool emergency;
    State::type from;
    unsigned ms;
    State::type to;
    const char* line;
};

const TimerCase timer_cases[] = {
    {"T2 peer silent while not aligned", false, State::not_aligned, 7000, State::idle,
     "T2 expired"},
    {"T3 peer silent after its SIO", false, State::aligned, 1500, State::idle, "T3 expired"},
    {"T4 normal", false, State::proving, 8200, State::aligned_ready, "T4 expired."},
    {"T4 emergency", true, State::proving, 500, State::aligned_ready, "T4 expired."},
    {"T1 peer silent in aligned ready", false, State::aligned_ready, 45000, State::idle,
     "T1 expired"},
};

void PrintTo(const TimerCase& c, std::ostream* os) { *os << c.what; }

class Mtp2TimerTest : public Mtp2UnitTest, public ::testing::WithParamInterface<TimerCase> {};

TEST_P(Mtp2TimerTest, ExpiresAtItsTime) {
    const TimerCase& c = GetParam();
    link->set_emergency(c.emergency);
    link->trace().timers = true;
    bring_to(c.from);
    test::StreamCapture log(std::clog);
    loop.advance(c.ms - 2);
    EXPECT_EQ(c.from, link->state_id());
    loop.advance(1);
    EXPECT_EQ(c.to, link->state_id());
    EXPECT_NE(std::string::npos, log.str().find(c.line)) << log.str();
    EXPECT_EQ(c.to == State::idle ? Units{"impossible phasing"} : Units{}, owner->deactivations);
}

INSTANTIATE_TEST_SUITE_P(Timers, Mtp2TimerTest, ::testing::ValuesIn(timer_cases), test::CaseName());

// Units received in service; the peer has sent nothing before.
struct ReceiveCase {
    const char* what;
    std::vector<std::function<Packet()>> units;
    Units answers;
    Units messages;
    State::type state;
    const char* log;  // a line written on the way, or ""
};

std::function<Packet()> msu(unsigned fsn, const std::string& payload, int li = -1) {
    return [=] { return mtp2::unit(127, true, fsn, true, payload, li); };
}
std::function<Packet()> fisu(unsigned bsn, bool bib, unsigned fsn, bool fib) {
    return [=] { return mtp2::unit(bsn, bib, fsn, fib); };
}
std::function<Packet()> octets(const std::string& s) {
    return [=] { return mtp2::bytes(s); };
}

const std::string octets62(62, 'x');
const std::string octets70(70, 'y');

// clang-format off
const ReceiveCase receive_cases[] = {
    {"empty frame is ignored", {octets("")}, {}, {}, State::worked,
     "ignore packet, length too small"},
    {"two octets are ignored", {octets("\x80\x80")}, {}, {}, State::worked,
     "ignore packet, length too small 80 80"},
    {"MSU in sequence is acknowledged and delivered", {msu(0, "abc")}, {"FISU 0/1 127/1"},
     {"abc"}, State::worked, "ack!"},
    {"repeated MSU is discarded", {msu(0, "abc"), msu(0, "abc")}, {"FISU 0/1 127/1"}, {"abc"},
     State::worked, "discard msu due to 5.2.2/i Q.702 fsnr=0 fsnx=0"},
    {"MSU out of sequence is negatively acknowledged", {msu(1, "abc")}, {"FISU 127/0 127/1"}, {},
     State::worked, "discard msu due to 5.2.2/ii Q.702 fsnr=1 fsnx=127"},
    {"FISU naming an MSU never received is negatively acknowledged", {fisu(127, true, 2, true)},
     {"FISU 127/0 127/1"}, {}, State::worked, "nack!"},
    {"smaller LI cuts the payload", {msu(0, "abcde", 3)}, {"FISU 0/1 127/1"}, {"abc"},
     State::worked, "truncate 2 octet(s) : 61 62 63"},
    {"larger LI is logged and the unit kept", {msu(0, "abcde", 10)}, {"FISU 0/1 127/1"},
     {"abcde"}, State::worked, "invalid packet length, expected = 10, received = 5"},
    {"LI bit 6 fails the length check", {msu(0, "abcde", 0x45)}, {"FISU 0/1 127/1"}, {"abcde"},
     State::worked, "invalid packet length, expected = 69, received = 5"},
    {"LI bit 7 fails the length check", {msu(0, "abcde", 0x85)}, {"FISU 0/1 127/1"}, {"abcde"},
     State::worked, "invalid packet length, expected = 133, received = 5"},
    {"long unit with a small LI is not cut", {msu(0, octets70, 20)}, {"FISU 0/1 127/1"},
     {octets70}, State::worked, "can't truncate signalling unit."},
    {"62 octets carry LI 62", {msu(0, octets62, 62)}, {"FISU 0/1 127/1"}, {octets62},
     State::worked, ""},
    {"LI cut to an LSSU takes the link out of service", {msu(0, "\x01yz", 1)}, {"SIOS"}, {},
     State::idle, "receive lssu: normal alignment  BSN=127 BIB=1 FSN=0 FIB=1"},
    {"abnormal BSN is tolerated once", {fisu(5, true, 127, true)}, {}, {}, State::worked, ""},
    {"abnormal BSN twice in a row goes to idle",
     {fisu(5, true, 127, true), fisu(5, true, 127, true)}, {"SIOS"}, {}, State::idle,
     "bad su acknowledgement received:  BSN=5 BIB=1 FSN=127 FIB=1"},
    {"abnormal BSNs apart are each tolerated",
     {fisu(5, true, 127, true), fisu(127, true, 127, true), fisu(5, true, 127, true)}, {}, {},
     State::worked, ""},
    {"abnormal FIB is tolerated once", {fisu(127, true, 127, false)}, {}, {}, State::worked, ""},
    {"abnormal FIB twice in a row goes to idle",
     {fisu(127, true, 127, false), fisu(127, true, 127, false)}, {"SIOS"}, {}, State::idle,
     "bad start of a retransmission:  BSN=127 BIB=1 FSN=127 FIB=0"},
};
// clang-format on

void PrintTo(const ReceiveCase& c, std::ostream* os) { *os << c.what; }

class Mtp2ReceiveTest : public Mtp2UnitTest, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(Mtp2ReceiveTest, AnswersDeliversAndMoves) {
    const ReceiveCase& c = GetParam();
    link->trace().msu_processing = true;
    bring_to(State::worked);
    test::StreamCapture errors(std::cerr), progress(std::clog);
    for (const auto& su : c.units) feed(su());
    EXPECT_EQ(c.answers, peer.units);
    EXPECT_EQ(c.messages, owner->messages);
    EXPECT_EQ(c.state, link->state_id());
    const std::string log = errors.str() + progress.str();
    if (*c.log) {
        EXPECT_NE(std::string::npos, log.find(c.log)) << log;
    } else {
        EXPECT_EQ(std::string::npos, log.find("invalid packet length")) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Units, Mtp2ReceiveTest, ::testing::ValuesIn(receive_cases),
                         test::CaseName());

TEST_F(Mtp2UnitTest, LengthIndicatorSentIsThePayloadLengthUpToSixtyThree) {
    bring_to(State::worked);
    const unsigned lengths[] = {3, 61, 62, 63, 64, 273};
    for (unsigned length : lengths) send(std::string(length, 'm'));
    ASSERT_EQ(6u, peer.raw.size());
    for (unsigned i = 0; i < 6; ++i) {
        EXPECT_EQ(std::min(lengths[i], 63u), mtp2::li(peer.raw[i])) << lengths[i];
        EXPECT_EQ(std::string(lengths[i], 'm'), mtp2::payload(peer.raw[i]));
        EXPECT_EQ(i, mtp2::fsn(peer.raw[i]));
    }
}

// A shorter payload would leave as a FISU or an LSSU, and an LSSU would take
// the peer out of service.
TEST_F(Mtp2UnitTest, PayloadsShorterThanThreeOctetsAreDroppedWithALogLine) {
    bring_to(State::worked);
    test::StreamCapture errors(std::cerr);
    for (const char* payload : {"", "a", "ab"}) send(payload);
    EXPECT_TRUE(peer.units.empty());
    EXPECT_EQ(0u, link->tb_count());
    EXPECT_NE(std::string::npos, errors.str().find("msu too short, dropped: 61 62"));
    send("abc");
    EXPECT_EQ(Units{"MSU 127/1 0/1"}, peer.units);
}

// A peer's malformed units come as fast as it sends them: a line a second
// of each kind, the next one saying how many were held back.
TEST_F(Mtp2UnitTest, LinesAboutMalformedUnitsAreWrittenOnceASecond) {
    bring_to(State::worked);
    test::StreamCapture errors(std::cerr);
    for (int second = 0; second < 2; ++second) {
        for (int k = 0; k < 10; ++k) {
            feed(mtp2::bytes("\x80\x80"));
            feed(mtp2::unit(127, true, 127, true, "abcde", 10));
        }
        loop.advance(1000);
    }
    for (const char* line : {"ignore packet, length too small", "invalid packet length"})
        EXPECT_TRUE(test::written_twice_with_a_count(errors.str(), line, 9));
}

TEST_F(Mtp2UnitTest, MessageOutsideServiceIsDropped) {
    bring_to(State::proving);
    send("abc");
    EXPECT_TRUE(peer.units.empty());
    EXPECT_EQ(0u, link->tb_count());
}

// After a refusal FSNT still names the last MSU that left: a FISU sent
// before the MSU goes again must not claim it.
TEST_F(Mtp2UnitTest, FisuAfterARefusedMsuCarriesTheLastFsnSent) {
    bring_to(State::worked);
    send("one");
    line->a.refuse = test::nth(1, mtp2::is_msu);
    line->a.refuse_only_that = true;
    message("two");
    Packet su = mtp2::unit(127, true, 0, true, "abc");
    link->receive(su);
    loop.advance(1);
    EXPECT_EQ((Units{"MSU 127/1 0/1", "FISU 0/1 0/1", "MSU 0/1 1/1"}), peer.units);
}

TEST_F(Mtp2UnitTest, WithoutAChannelNothingIsSentOrCounted) {
    link->set_hdlc(nullptr);
    test::StreamCapture errors(std::cerr);
    bring_to(State::worked);
    EXPECT_NE(std::string::npos, errors.str().find("no HDLC interface attached!!!"));
    EXPECT_EQ(0u, link->statistics().msuTxCount);
}

TEST_F(Mtp2UnitTest, StatisticsCountAsDefined) {
    bring_to(State::worked);                       // SIN and FISU in, two FISUs out
    feed(mtp2::bytes("\x01"));                     // too short: only its octet counts
    feed(mtp2::unit(127, true, 0, true, "abcd"));  // accepted: a FISU answers
    feed(mtp2::unit(127, true, 2, true, "abcd"));  // out of sequence: nack
    send("12345");                                 // an MSU of 8 octets
    feed(mtp2::unit(127, false, 127, true));       // BIB inverted: it goes again
    const SLC::Statistics& s = link->statistics();
    const unsigned counted[] = {s.msuTxCount, s.msuRxCount, s.octetsTx,   s.octetsRx,
                                s.overflowCntr, s.rtbSize,  s.repeatCntr, s.badSeqCntr};
    const unsigned expected[] = {6, 5, 6 + 3 + 3 + 8 + 8, 4 + 3 + 1 + 7 + 7 + 3, 0, 1, 1, 1};
    EXPECT_TRUE(std::equal(std::begin(counted), std::end(counted), std::begin(expected)))
        << ::testing::PrintToString(std::vector<unsigned>(std::begin(counted), std::end(counted)));
    EXPECT_EQ("MSU 0/0 0/0", peer.units.back());
}

TEST_F(Mtp2UnitTest, StateChangesAndTracesReadAsLogLines) {
    link->trace() = SLC::Trace{true, true, true, true, true, true, true, true};
    test::StreamCapture log(std::clog);
    bring_to(State::worked);
    send("abc");
    const std::string text = log.str();
    for (const char* line : {
             "SS7/L2 [dpc=12, slc=3, trunk=1]: change state from \"idle\" to \"not aligned\"",
             "SS7/L2 [dpc=12, slc=3, trunk=1] (idle): local_activate: executing...",
             "SS7/L2 [dpc=12, slc=3, trunk=1] (not aligned):  rx raw 0xFF 0xFF 0x01 0x01",
             "(worked):  tx raw 0xFF 0xFF 0x00",
             "(worked):  mtp tx 0x61 0x62 0x63",
             "(worked):  tx raw 0xFF 0x80 0x03 0x61 0x62 0x63",
             "(proving): set T4",
         })
        EXPECT_NE(std::string::npos, text.find(line)) << line << "\n" << text;
}

TEST_F(Mtp2UnitTest, LocalActivateInServiceReportsInServiceAgain) {
    bring_to(State::worked);
    link->activate();
    EXPECT_EQ(1u, owner->activations);
    EXPECT_EQ(State::worked, link->state_id());
}

TEST_F(Mtp2UnitTest, TrunkDownTakesTheLinkOutOfService) {
    bring_to(State::worked);
    link->OnTrunkHardStatus(true);
    EXPECT_EQ(State::worked, link->state_id());
    test::StreamCapture log(std::clog);
    link->OnTrunkHardStatus(false);
    EXPECT_EQ(State::idle, link->state_id());
    EXPECT_EQ(Units{"impossible phasing"}, owner->deactivations);
    EXPECT_NE(std::string::npos,
              log.str().find("(worked):  transport OFF by low level terminated"));
    link->OnTrunkHardStatus(false);
    EXPECT_EQ(1u, owner->deactivations.size());
}

}  // namespace
