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

struct FrameCase {
    const char* what;
    bool established;     // fed to an established link, else to one in TEI assigned
    unsigned outstanding; // unacknowledged I frames before the frame
    std::function<Packet()> frame;
    std::vector<std::string> answers;
    std::vector<std::string> statuses;
    unsigned state;
    unsigned activations;
};

Packet from_network_u(Kind k, bool command, bool pf) { return lapd::uframe(true, k, command, pf); }

const FrameCase frame_cases[] = {
    {"SABME P1 in TEI assigned", false, 0, [] { return from_network_u(Kind::SABME, true, true); },
     {"UA F resp"}, {}, ISDN::multiple_frame_established, 1},
    {"SABME P0 in TEI assigned", false, 0, [] { return from_network_u(Kind::SABME, true, false); },
     {"UA resp"}, {}, ISDN::multiple_frame_established, 1},
    {"UA F1 in TEI assigned", false, 0, [] { return from_network_u(Kind::UA, false, true); },
     {}, {"UA (F = 1)"}, ISDN::tei_assigned, 0},
    {"UA F0 in TEI assigned", false, 0, [] { return from_network_u(Kind::UA, false, false); },
     {}, {"UA (F = 0)"}, ISDN::tei_assigned, 0},
    {"DM F0 in TEI assigned establishes", false, 0, [] { return from_network_u(Kind::DM, false, false); },
     {"SABME P cmd"}, {}, ISDN::awaiting_establishment, 0},
    {"DISC in TEI assigned", false, 0, [] { return from_network_u(Kind::DISC, true, true); },
     {"DM F resp"}, {}, ISDN::tei_assigned, 0},
    {"SABME on an established link", true, 0, [] { return from_network_u(Kind::SABME, true, true); },
     {"UA F resp"}, {"Peer initiated re-establishment - SABME"}, ISDN::multiple_frame_established, 1},
    {"DM F1 on an established link", true, 0, [] { return from_network_u(Kind::DM, false, true); },
     {}, {"DM (F = 1)"}, ISDN::multiple_frame_established, 0},
    {"DM F0 on an established link", true, 0, [] { return from_network_u(Kind::DM, false, false); },
     {"SABME P cmd"}, {"Receipt of DM response (F = 0)"}, ISDN::awaiting_establishment, 0},
    {"FRMR on an established link", true, 0, [] { return from_network_u(Kind::FRMR, false, false); },
     {"SABME P cmd"}, {"Other - Receipt of FRMR response"}, ISDN::awaiting_establishment, 0},
    {"XID is ignored", true, 0, [] { return lapd::bytes({0x02, 0x01, 0xAF}); },
     {}, {}, ISDN::multiple_frame_established, 0},
    {"UI is ignored off BRI", true, 0, [] { return lapd::bytes({0x02, 0x01, 0x03, 0x08}); },
     {}, {}, ISDN::multiple_frame_established, 0},
    {"RR command P1 is answered", true, 0, [] { return lapd::sframe(true, Kind::RR, true, 0, true); },
     {"RR 0 F resp"}, {}, ISDN::multiple_frame_established, 0},
    {"RR beyond VS is an N(R) error", true, 2, [] { return lapd::sframe(true, Kind::RR, false, 5, false); },
     {"SABME P cmd"}, {"Other - N(R) error"}, ISDN::awaiting_establishment, 0},
    {"REJ F1 response", true, 0, [] { return lapd::sframe(true, Kind::REJ, false, 0, true); },
     {}, {"Supervisory (F = 1)"}, ISDN::multiple_frame_established, 0},
    {"REJ resends from N(R) renumbered", true, 3, [] { return lapd::sframe(true, Kind::REJ, false, 1, false); },
     {"I 1/0 cmd", "I 2/0 cmd"}, {}, ISDN::multiple_frame_established, 0},
    {"I frame out of sequence is rejected", true, 0, [] { return lapd::iframe(true, 3, 0, false, "x"); },
     {"REJ 0 resp"}, {}, ISDN::multiple_frame_established, 0},
    {"I frame P1 in sequence", true, 0, [] { return lapd::iframe(true, 0, 0, true, "x"); },
     {"RR 1 F resp"}, {}, ISDN::multiple_frame_established, 0},
    {"frame with EA set in octet 1", true, 0, [] { return lapd::bytes({0x03, 0x01, 0x00, 0x00, 0x41}); },
     {}, {}, ISDN::multiple_frame_established, 0},
    {"frame with EA clear in octet 2", true, 0, [] { return lapd::bytes({0x02, 0x00, 0x00, 0x00, 0x41}); },
     {}, {}, ISDN::multiple_frame_established, 0},
};

class LapdFrameCaseTest : public LapdFrameTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(LapdFrameCaseTest, AnswersReportsAndMoves) {
    const FrameCase& c = GetParam();
    if (c.established) establish();
    send_unacknowledged(c.outstanding);
    EXPECT_EQ(c.answers, feed(c.frame()));
    EXPECT_EQ(c.statuses, owner->statuses);
    EXPECT_EQ(c.state, state());
    EXPECT_EQ(c.activations, owner->activations);
}

INSTANTIATE_TEST_SUITE_P(Frames, LapdFrameCaseTest, ::testing::ValuesIn(frame_cases), test::CaseName());

TEST_F(LapdFrameTest, PeerBusyHoldsIFramesUntilRR) {
    establish();
    feed(lapd::sframe(true, Kind::RNR, false, 0, false));
    Packet p = lapd::bytes("m");
    link->message(p);
    loop.advance(1);
    EXPECT_TRUE(peer.frames.empty());
    EXPECT_EQ(std::vector<std::string>{"I 0/0 cmd"}, feed(lapd::sframe(true, Kind::RR, false, 0, false)));
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
