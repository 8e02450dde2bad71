// One link fed scripted peer frames: what it answers, reports and becomes.

#include <gtest/gtest.h>

#include "tests/support/case_name.h"
#include "tests/support/lapd_frames.h"
#include "tests/support/stream_capture.h"
#include "tests/signalling/user_link_fixture.h"

namespace {

namespace lapd = test::lapd;
using lapd::Kind;

// A user-side link; frames from the network side are fed to it.
class LapdFrameTest : public UserLinkTest {
protected:
    void establish() {
        feed(lapd::uframe(true, Kind::SABME, true, true));
        peer.frames.clear();
        owner->activations = 0;
    }
    // Sends `count` I frames that the peer does not acknowledge.
    void send_unacknowledged(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            Packet p;
            link->prepare_head(p);
            p.put(static_cast<unsigned char>('a' + i));
            link->message(p);
        }
        loop.advance(1);
        peer.frames.clear();
    }
};

// What happens to the link: a frame from the network, or else a request
// from above or the peer's silence.
enum class Event { frame, establish_request, release_request, silence };

struct FrameCase {
    const char* what;
    unsigned from;         // the state the link is brought to first
    unsigned outstanding;  // unacknowledged I frames before the frame
    std::function<Packet()> frame;
    std::vector<std::string> answers;
    std::vector<std::string> statuses;
    unsigned state;
    unsigned activations;
    std::vector<std::string> deactivations = {};
    Event event = Event::frame;
};

constexpr unsigned assigned = ISDN::tei_assigned;
constexpr unsigned establishing = ISDN::awaiting_establishment;
constexpr unsigned releasing = ISDN::awaiting_release;
constexpr unsigned established = ISDN::multiple_frame_established;
constexpr unsigned recovering = ISDN::timer_recovery;

Packet from_network_u(Kind k, bool command, bool pf) { return lapd::uframe(true, k, command, pf); }

const FrameCase frame_cases[] = {
    {"SABME P1 in TEI assigned", assigned, 0, [] { return from_network_u(Kind::SABME, true, true); },
     {"UA F resp"}, {}, ISDN::multiple_frame_established, 1},
    {"SABME P0 in TEI assigned", assigned, 0, [] { return from_network_u(Kind::SABME, true, false); },
     {"UA resp"}, {}, ISDN::multiple_frame_established, 1},
    {"UA F1 in TEI assigned", assigned, 0, [] { return from_network_u(Kind::UA, false, true); },
     {}, {"UA (F = 1)"}, ISDN::tei_assigned, 0},
    {"UA F0 in TEI assigned", assigned, 0, [] { return from_network_u(Kind::UA, false, false); },
     {}, {"UA (F = 0)"}, ISDN::tei_assigned, 0},
    {"DM F0 in TEI assigned establishes", assigned, 0, [] { return from_network_u(Kind::DM, false, false); },
     {"SABME P cmd"}, {}, ISDN::awaiting_establishment, 0},
    {"DISC in TEI assigned", assigned, 0, [] { return from_network_u(Kind::DISC, true, true); },
     {"DM F resp"}, {}, ISDN::tei_assigned, 0},
    {"SABME on an established link", established, 0, [] { return from_network_u(Kind::SABME, true, true); },
     {"UA F resp"}, {"Peer initiated re-establishment - SABME"}, ISDN::multiple_frame_established, 1},
    {"DM F1 on an established link", established, 0, [] { return from_network_u(Kind::DM, false, true); },
     {}, {"DM (F = 1)"}, ISDN::multiple_frame_established, 0},
    {"DM F0 on an established link", established, 0, [] { return from_network_u(Kind::DM, false, false); },
     {"SABME P cmd"}, {"Receipt of DM response (F = 0)"}, ISDN::awaiting_establishment, 0},
    {"FRMR on an established link", established, 0, [] { return from_network_u(Kind::FRMR, false, false); },
     {"SABME P cmd"}, {"Other - Receipt of FRMR response"}, ISDN::awaiting_establishment, 0},
    {"XID is ignored", established, 0, [] { return lapd::bytes({0x02, 0x01, 0xAF}); },
     {}, {}, ISDN::multiple_frame_established, 0},
    {"UI is ignored off BRI", established, 0, [] { return lapd::bytes({0x02, 0x01, 0x03, 0x08}); },
     {}, {}, ISDN::multiple_frame_established, 0},
    {"RR command P1 is answered", established, 0, [] { return lapd::sframe(true, Kind::RR, true, 0, true); },
     {"RR 0 F resp"}, {}, ISDN::multiple_frame_established, 0},
    {"RR beyond VS is an N(R) error", established, 2, [] { return lapd::sframe(true, Kind::RR, false, 5, false); },
     {"SABME P cmd"}, {"Other - N(R) error"}, ISDN::awaiting_establishment, 0},
    {"REJ F1 response", established, 0, [] { return lapd::sframe(true, Kind::REJ, false, 0, true); },
     {}, {"Supervisory (F = 1)"}, ISDN::multiple_frame_established, 0},
    {"REJ resends from N(R) renumbered", established, 3, [] { return lapd::sframe(true, Kind::REJ, false, 1, false); },
     {"I 1/0 cmd", "I 2/0 cmd"}, {}, ISDN::multiple_frame_established, 0},
    {"I frame out of sequence is rejected", established, 0, [] { return lapd::iframe(true, 3, 0, false, "x"); },
     {"REJ 0 resp"}, {}, ISDN::multiple_frame_established, 0},
    {"I frame P1 in sequence", established, 0, [] { return lapd::iframe(true, 0, 0, true, "x"); },
     {"RR 1 F resp"}, {}, ISDN::multiple_frame_established, 0},
    {"frame with EA set in octet 1", established, 0, [] { return lapd::bytes({0x03, 0x01, 0x00, 0x00, 0x41}); },
     {}, {}, ISDN::multiple_frame_established, 0},
    {"frame with EA clear in octet 2", established, 0, [] { return lapd::bytes({0x02, 0x00, 0x00, 0x00, 0x41}); },
     {}, {}, ISDN::multiple_frame_established, 0},
    {"T200 runs out in Awaiting release", releasing, 0, nullptr,
     {"DISC P cmd", "DISC P cmd", "DISC P cmd"}, {"Unsuccessful retransmission (N200 times) - DISC"},
     ISDN::tei_assigned, 0, {"link error (T200 expired N200 times)"}, Event::silence},
    {"DM F1 in Awaiting release", releasing, 0, [] { return from_network_u(Kind::DM, false, true); },
     {}, {}, ISDN::tei_assigned, 0, {"error (DM received)"}},
    {"UA F1 in Awaiting release", releasing, 0, [] { return from_network_u(Kind::UA, false, true); },
     {}, {}, ISDN::tei_assigned, 0, {"success (UA received)"}},
    {"SABME in Awaiting release is answered by DM", releasing, 0,
     [] { return from_network_u(Kind::SABME, true, true); }, {"DM F resp"}, {}, releasing, 0},
    {"DISC in Awaiting release is answered by UA", releasing, 0,
     [] { return from_network_u(Kind::DISC, true, true); }, {"UA F resp"}, {}, releasing, 0},
    {"DL-RELEASE in Awaiting establishment", establishing, 0, nullptr, {"DISC P cmd"}, {},
     ISDN::tei_assigned, 0, {"success (deactivated locally)"}, Event::release_request},
    {"DL-RELEASE in Timer recovery", recovering, 1, nullptr, {"DISC P cmd"}, {}, releasing, 0, {},
     Event::release_request},
    {"DL-ESTABLISH on an established link", established, 2, nullptr, {"SABME P cmd"}, {},
     establishing, 0, {}, Event::establish_request},
    {"RNR F1 in Timer recovery waits for the peer", recovering, 1,
     [] { return lapd::sframe(true, Kind::RNR, false, 0, true); }, {}, {}, established, 0},
    {"REJ F1 in Timer recovery resends", recovering, 1,
     [] { return lapd::sframe(true, Kind::REJ, false, 0, true); }, {"I 0/0 cmd"}, {}, established, 0},
};

class LapdFrameCaseTest : public LapdFrameTest, public ::testing::WithParamInterface<FrameCase> {
protected:
    // With `outstanding` I frames sent first; what the link sent and
    // reported on the way is forgotten.
    void bring_to(unsigned from, unsigned outstanding) {
        if (from != assigned && from != establishing) establish();
        send_unacknowledged(outstanding);
        if (from == establishing) link->activate();
        if (from == releasing) link->deactivate();
        if (from == recovering) loop.advance(outstanding ? ISDN::LAPD::T200_ms : ISDN::LAPD::T203_ms);
        loop.advance(1);
        ASSERT_EQ(from, state());
        peer.frames.clear();
        owner->activations = 0;
        owner->statuses.clear();
        owner->deactivations.clear();
    }
    // The case's event, then what the link sends.
    std::vector<std::string> happen(const FrameCase& c) {
        switch (c.event) {
        case Event::frame: return feed(c.frame());
        case Event::establish_request: link->activate(); break;
        case Event::release_request: link->deactivate(); break;
        case Event::silence: loop.advance((ISDN::LAPD::N200 + 1) * ISDN::LAPD::T200_ms); break;
        }
        loop.advance(1);
        return peer.take();
    }
};

TEST_P(LapdFrameCaseTest, AnswersReportsAndMoves) {
    const FrameCase& c = GetParam();
    bring_to(c.from, c.outstanding);
    EXPECT_EQ(c.answers, happen(c));
    EXPECT_EQ(c.statuses, owner->statuses);
    EXPECT_EQ(c.state, state());
    EXPECT_EQ(c.activations, owner->activations);
    EXPECT_EQ(c.deactivations, owner->deactivations);
}

INSTANTIATE_TEST_SUITE_P(Frames, LapdFrameCaseTest, ::testing::ValuesIn(frame_cases), test::CaseName());

// Set back to VS 0 by a REJ while its channel is busy, the link has I
// frames 0 to 2 to send again. The peer may hold them from their first
// sending (its REJ left before they came): an N(R) up to 3 is valid, and
// only the frames after it go again. Beyond 3 it is an N(R) error still
// (whose SABME the busy channel refused).
struct NrAfterRej {
    const char* what;
    unsigned nr;
    std::vector<std::string> answers;  // once the channel takes frames
    std::vector<std::string> statuses;
    unsigned state;
};

void PrintTo(const NrAfterRej& c, std::ostream* os) { *os << c.what; }

class LapdNrAfterRejTest : public LapdFrameTest,
                           public ::testing::WithParamInterface<NrAfterRej> {};

TEST_P(LapdNrAfterRejTest, CountsTheFramesToSendAgain) {
    const NrAfterRej& c = GetParam();
    establish();
    send_unacknowledged(3);
    line->a.set_busy(true);
    feed(lapd::sframe(true, Kind::REJ, false, 0, false));
    feed(lapd::sframe(true, Kind::RR, false, c.nr, false));
    line->a.set_busy(false);
    loop.advance(1);
    EXPECT_EQ(c.answers, peer.take());
    EXPECT_EQ(c.statuses, owner->statuses);
    EXPECT_EQ(c.state, state());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, LapdNrAfterRejTest,
    ::testing::Values(
        NrAfterRej{"NoneHeld", 0, {"I 0/0 cmd", "I 1/0 cmd", "I 2/0 cmd"}, {}, established},
        NrAfterRej{"TwoHeld", 2, {"I 2/0 cmd"}, {}, established},
        NrAfterRej{"AllHeld", 3, {}, {}, established},
        NrAfterRej{"BeyondWhatWasSent", 4, {}, {"Other - N(R) error"}, establishing}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(LapdFrameTest, PeerBusyHoldsIFramesUntilRR) {
    establish();
    feed(lapd::sframe(true, Kind::RNR, false, 0, false));
    Packet p = lapd::bytes("m");
    link->message(p);
    loop.advance(1);
    EXPECT_TRUE(peer.frames.empty());
    EXPECT_EQ(std::vector<std::string>{"I 0/0 cmd"}, feed(lapd::sframe(true, Kind::RR, false, 0, false)));
}

// Released while establishing, the link still times its DISC when the
// peer's SABME comes: established, its first unanswered I frame is asked
// about when T200 runs out, not T203.
TEST_F(LapdFrameTest, SabmeRightAfterAReleaseLeavesT200ToTheIFrames) {
    link->activate();
    link->deactivate();
    feed(from_network_u(Kind::SABME, true, true));
    ASSERT_EQ(ISDN::multiple_frame_established, state());
    send_unacknowledged(1);
    loop.advance(ISDN::LAPD::T200_ms);
    EXPECT_EQ(std::vector<std::string>{"RR 0 P cmd"}, peer.take());
}

TEST_F(LapdFrameTest, MdlRemoveUnassignsAndAMessageThenAwaitsATei) {
    establish();
    link->mdl_remove();
    EXPECT_EQ(std::vector<std::string>{"error (MDL-REMOVE received)"}, owner->deactivations);
    EXPECT_EQ(ISDN::tei_unassigned, state());
    Packet p = lapd::bytes("m");
    link->message(p);
    EXPECT_EQ(ISDN::assign_awaiting_tei, state());
    link->activate();
    EXPECT_EQ(ISDN::establish_awaiting_tei, state());
    link->mdl_assign(64);
    EXPECT_EQ(ISDN::awaiting_establishment, state());
    loop.advance(1);
    EXPECT_EQ(64, link->full_state().selfTEI);
    EXPECT_EQ(std::vector<std::string>{"SABME P cmd"}, peer.frames);
}

TEST_F(LapdFrameTest, BriUserLinkIgnoresFramesForAnotherTei) {
    link->change_to_bri();
    link->mdl_assign(70);
    feed(lapd::bytes({0x02, 0x01 | 71 << 1, 0x7F}));
    EXPECT_EQ(ISDN::tei_assigned, state());
    feed(lapd::bytes({0x02, 0x01 | 70 << 1, 0x7F}));
    EXPECT_EQ(ISDN::multiple_frame_established, state());
}

TEST_F(LapdFrameTest, StatusesCarryTheStateDump) {
    Smart_pointer<Internal_protocol_status> status = link->status();
    std::ostringstream text;
    status->out(text);
    EXPECT_EQ(
        "current status\n   - state: TEI assigned\n   - self: TEI=0, SAPI=0, busy=0"
        "\n   - peer: TEI=0, SAPI=0, busy=0\n   - counters: VS=0, VA=0, VR=0, RC=0"
        "\n   - internal signals: AckRQ=0, RetrRQ=0, QueuedUp=0"
        "\n   - flags: L3Initiated=0, Establishable=1, RejectException=0"
        "\n   - timers: T200 stopped, T202 stopped, T203 stopped",
        text.str());
}

TEST_F(LapdFrameTest, LogLevelFourNamesEveryFrameAndStateChange) {
    link->set_log_level(4);
    test::StreamCapture log(std::clog);
    feed(lapd::uframe(true, Kind::SABME, true, true));
    feed(lapd::sframe(true, Kind::RR, true, 0, true));
    const std::string text = log.str();
    EXPECT_NE(std::string::npos, text.find("LAPD[3] (TEI assigned): SABME command"));
    EXPECT_NE(std::string::npos,
              text.find("LAPD[3] : change state \"TEI assigned\" -> \"Multiple frame established\""));
    EXPECT_NE(std::string::npos, text.find("LAPD[3] (Multiple frame established): RR command pf=1"));
    EXPECT_NE(std::string::npos, text.find("LAPD[3] (Multiple frame established): tx_enquiry_response"));
    EXPECT_NE(std::string::npos, text.find("LAPD[3] (Multiple frame established): rx:"));
}

TEST_F(LapdFrameTest, WithoutAChannelFramesAreDropped) {
    link->set_hdlc(nullptr);
    link->activate();
    loop.advance(1);
    EXPECT_TRUE(peer.frames.empty());
    EXPECT_EQ(ISDN::awaiting_establishment, state());
}

}  // namespace
