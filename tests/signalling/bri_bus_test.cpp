// Eight BRI terminals and the network side on one bus, in virtual time.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "tests/link/packet_pool_check.h"
#include "tests/support/bri_rig.h"
#include "tests/support/lapd_capture.h"
#include "tests/support/lapd_frames.h"
#include "tests/support/lapd_rig.h"
#include "tests/support/stream_capture.h"
#include "tests/support/tshark.h"
#include "tests/support/virtual_loop.h"

namespace {

using test::BriRig;
namespace lapd = test::lapd;

class BriBusTest : public PacketPoolCheck {
protected:
    void TearDown() override {
        rig.reset();
        PacketPoolCheck::TearDown();
    }
    // The removal a network sends when it starts: every terminal asks for
    // a TEI.
    void remove_all() {
        Packet remove = lapd::identity(true, ISDN::identity_remove, 0, 127);
        rig->bus.network.hdlc_transmit(remove);
    }
    // A terminal off the bus neither hears nor is heard.
    void unplug(unsigned i) {
        rig->bus.terminal(i).bind(nullptr);
        rig->bus.terminal(i).drop = [](const Packet&, unsigned) { return true; };
    }
    void plug(unsigned i) {
        rig->bus.terminal(i).bind(&rig->terminal(i));
        rig->bus.terminal(i).drop = nullptr;
    }
    // Steps of 100 ms keeping the terminals up (step_keeping_terminals_up).
    void run(unsigned ms);
    // The Identity removes the network sends from now on: TEI, when.
    void record_removals() {
        removed.clear();
        rig->bus.network.add_tap([this](const Packet& frame, bool sent) {
            lapd::Identity message;
            if (sent && lapd::identity_of(frame, message) &&
                message.type == ISDN::identity_remove)
                removed[message.ai].insert(Mux::milliseconds());
        });
    }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<BriRig> rig{new BriRig};
    std::map<unsigned, std::set<uint32_t>> removed;
};

// Messages of one call reference, in the order they arrived.
std::vector<std::string> of_call(const std::vector<std::string>& messages, unsigned cr) {
    std::vector<std::string> mine;
    for (const auto& m : messages)
        if (m.size() > 3 && (static_cast<unsigned char>(m[2]) & 0x7F) == cr)
            mine.push_back(m.substr(4));
    return mine;
}

std::vector<std::string> numbered(const std::string& prefix, unsigned count) {
    std::vector<std::string> v;
    for (unsigned i = 0; i < count; ++i) v.push_back(prefix + std::to_string(i));
    return v;
}

// Every tenth frame each port sends is lost.
bool tenth(const Packet&, unsigned index) { return index % 10 == 0; }

TEST_F(BriBusTest, EightTerminalsGetTeisEstablishAndExchangeByCallReference) {
    remove_all();
    loop.advance(100);
    rig->network.activate();  // a TEI check: every terminal answers
    loop.advance(3000);
    for (unsigned i = 0; i < 8; ++i) {
        EXPECT_EQ(64 + int(i), rig->terminal(i).full_state().selfTEI) << i;
        EXPECT_EQ(ISDN::multiple_frame_established, rig->terminal(i).full_state().state) << i;
        EXPECT_EQ(ISDN::LAPD_NT_user::assigned, rig->network.nt().link(i).state()) << i;
    }

    rig->bus.network.drop = tenth;
    for (unsigned i = 0; i < 8; ++i) rig->bus.terminal(i).drop = tenth;
    // Each terminal opens its call; then messages go both ways.
    const unsigned count = 40;
    for (unsigned i = 0; i < 8; ++i)
        test::LapdRig::send(rig->terminal(i), BriRig::q931(i + 1, 0x05, "setup"));
    for (unsigned t = 0; t < 100 && rig->network.messages.size() < 8; ++t) loop.advance(100);
    ASSERT_EQ(8u, rig->network.messages.size());
    for (unsigned sent = 0; sent < count; sent += 5) {
        for (unsigned i = 0; i < 8; ++i)
            for (unsigned n = sent; n < sent + 5; ++n) {
                const std::string tag = std::to_string(i) + "-" + std::to_string(n);
                test::LapdRig::send(rig->terminal(i), BriRig::q931(i + 1, 0x7B, "t" + tag));
                rig->network.send(BriRig::q931((i + 1) | 0x80, 0x7B, "n" + tag));
            }
        loop.advance(3000);
    }
    loop.advance(20000);
    for (unsigned i = 0; i < 8; ++i) {
        std::vector<std::string> up = {"setup"};
        for (const auto& m : numbered("t" + std::to_string(i) + "-", count)) up.push_back(m);
        EXPECT_EQ(up, of_call(rig->network.messages, i + 1)) << i;
        EXPECT_EQ(numbered("n" + std::to_string(i) + "-", count),
                  of_call(rig->owner(i).messages, i + 1))
            << i;
        EXPECT_GE(rig->terminal(i).full_state().state, ISDN::multiple_frame_established) << i;
        EXPECT_TRUE(rig->owner(i).deactivations.empty()) << i;
    }
    EXPECT_GT(rig->bus.network.counters().dropped, 10u);
}

// A terminal given a TEI and then established by the network loses its
// first I frame (a SETUP): it goes again when T200 runs out, after a
// second, well within the caller's wait for an answer.
TEST_F(BriBusTest, FreshlyAssignedTerminalResendsALostFirstIFrameAfterOneSecond) {
    rig.reset(new BriRig(1));
    std::vector<uint32_t> sent;
    rig->bus.terminal(0).add_tap([&sent](const Packet& frame, bool out) {
        if (out && lapd::is_i(frame)) sent.push_back(Mux::milliseconds());
    });
    remove_all();
    loop.advance(100);
    ASSERT_EQ(ISDN::multiple_frame_established, rig->terminal(0).full_state().state);
    rig->bus.terminal(0).drop = test::nth(1, lapd::is_i);
    test::LapdRig::send(rig->terminal(0), BriRig::q931(1, 0x05, "setup"));
    loop.advance(12000);
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(ISDN::LAPD::T200_ms, sent[1] - sent[0]);
    EXPECT_EQ(1u, rig->network.messages.size());
}

// A terminal whose TEI requests all went unanswered asks again as soon as a
// message from above waits, and comes up when the layer above asks.
TEST_F(BriBusTest, TerminalThatGaveUpOnATeiAsksAgainForAMessage) {
    rig.reset(new BriRig(1));
    ISDN::LAPD& terminal = rig->terminal(0);
    rig->bus.terminal(0).drop = [](const Packet&, unsigned) { return true; };
    remove_all();
    loop.advance(12000);
    ASSERT_EQ(ISDN::tei_unassigned, terminal.full_state().state);
    rig->bus.terminal(0).drop = nullptr;

    std::vector<std::string> asked;
    rig->bus.network.add_tap([&asked](const Packet& frame, bool sent) {
        lapd::Identity message;
        if (!sent && lapd::identity_of(frame, message)) asked.push_back(lapd::describe(frame, false));
    });
    test::LapdRig::send(terminal, BriRig::q931(1, 0x05, "setup"));
    terminal.activate();
    loop.advance(1000);
    EXPECT_EQ(std::vector<std::string>{"ID request ri=0105 ai=127"}, asked);
    EXPECT_EQ(ISDN::multiple_frame_established, terminal.full_state().state);
    EXPECT_EQ(64, terminal.full_state().selfTEI);
    ASSERT_EQ(1u, rig->network.messages.size());
    EXPECT_EQ(BriRig::q931(1, 0x05, "setup"), rig->network.messages[0]);
}

// The terminals that hold one TEI together, as "64: 0 3;" for each TEI.
std::string sharing(BriRig& rig) {
    std::map<int, std::vector<unsigned>> holders;
    for (unsigned i = 0; i < rig.bus.terminals(); ++i) {
        const auto& s = rig.terminal(i).full_state();
        if (s.state >= ISDN::tei_assigned) holders[s.selfTEI].push_back(i);
    }
    std::string text;
    for (const auto& h : holders) {
        if (h.second.size() < 2) continue;
        text += std::to_string(h.first) + ":";
        for (unsigned i : h.second) text += " " + std::to_string(i);
        text += ";";
    }
    return text;
}

// 100 ms on the bus; the terminals' layer above establishes again whenever
// a link is down. Then no two terminals may hold one TEI.
void step_keeping_terminals_up(test::VirtualLoop& loop, BriRig& rig) {
    loop.advance(100);
    for (ISDN::LAPD* terminal : rig.terminals) {
        const unsigned state = terminal->full_state().state;
        if (state == ISDN::tei_unassigned || state == ISDN::tei_assigned) terminal->activate();
    }
    ASSERT_EQ("", sharing(rig)) << "at " << Mux::milliseconds() << " ms";
}

void BriBusTest::run(unsigned ms) {
    for (unsigned t = 0; t < ms && !HasFatalFailure(); t += 100)
        step_keeping_terminals_up(loop, *rig);
}

// Eight terminals for eight links, and ten: then two keep asking for a TEI,
// so a TEI the network takes back is given again at once. One frame in
// sixteen is lost, TEI checks and their answers too; for thirty draws of
// the losses no two terminals ever hold one TEI. Once the losses end, every
// terminal (as many as there are links) gets back on within 20 s: none is
// kept off by a link held for nobody.
TEST_F(BriBusTest, TerminalsNeverShareATeiWhileFramesAreLost) {
    for (unsigned terminals : {8u, 10u})
        for (unsigned seed = 1; seed <= 30; ++seed) {
            SCOPED_TRACE(std::to_string(terminals) + " terminals, seed " + std::to_string(seed));
            rig.reset(new BriRig(terminals));
            remove_all();
            rig->network.activate();
            loop.advance(100);
            std::mt19937 random(seed);
            auto lossy = [&random](const Packet&, unsigned) { return random() % 16 == 0; };
            rig->bus.network.drop = lossy;
            for (unsigned i = 0; i < terminals; ++i) rig->bus.terminal(i).drop = lossy;
            for (unsigned step = 0; step < 1900; ++step) {  // three checks after the first
                step_keeping_terminals_up(loop, *rig);
                if (HasFatalFailure()) return;
            }
            rig->bus.network.drop = nullptr;
            for (unsigned i = 0; i < terminals; ++i) rig->bus.terminal(i).drop = nullptr;
            const unsigned all = std::min(terminals, ISDN::LAPD_NT::links);
            for (unsigned step = 0; step < 200 && rig->terminals_on_links() < all; ++step) {
                step_keeping_terminals_up(loop, *rig);
                if (HasFatalFailure()) return;
            }
            EXPECT_EQ(all, rig->terminals_on_links());
        }
}

// Eight terminals hold the eight links. The link frames of terminal 0 are
// lost for 16 s while its TEI requests pass: the network takes its TEI
// back, and soon after the loss ends it is on a link again.
TEST_F(BriBusTest, TerminalCutOffForAWhileIsOnALinkAgainSoonAfter) {
    remove_all();
    loop.advance(100);
    ASSERT_EQ(8u, rig->terminals_on_links());
    unsigned removals = 0;
    rig->bus.network.add_tap([&removals](const Packet& frame, bool sent) {
        lapd::Identity message;
        removals += sent && lapd::identity_of(frame, message) &&
                    message.type == ISDN::identity_remove && message.ai == 64;
    });
    const uint32_t lossEnds = Mux::milliseconds() + 16000;
    rig->bus.terminal(0).drop = [lossEnds](const Packet& frame, unsigned) {
        return lapd::sapi(frame) != ISDN::management_sapi &&
               static_cast<int32_t>(Mux::milliseconds() - lossEnds) < 0;
    };
    while (static_cast<int32_t>(Mux::milliseconds() - lossEnds) < 0) {
        step_keeping_terminals_up(loop, *rig);
        ASSERT_FALSE(HasFatalFailure());
    }
    EXPECT_GT(removals, 0u);
    unsigned ms = 0;
    for (; ms < 60000 && !rig->on_a_link(0); ms += 100) {
        step_keeping_terminals_up(loop, *rig);
        ASSERT_FALSE(HasFatalFailure());
    }
    EXPECT_LE(ms, 3000u);
    EXPECT_EQ(8u, rig->terminals_on_links());
}

// Terminal 0 and 1 keep their TEIs (64, 65) and are unplugged together.
// Their links, set up together, are given up in one pass: by unanswered
// polls, or by a TEI check that both miss. Terminal 2 is plugged in and asks
// for a TEI, then the two come back. At no time do two terminals hold one
// TEI, and all three end on links.
TEST_F(BriBusTest, TeisTakenBackTogetherAreNotGivenToTheNextTerminal) {
    struct Row {
        const char* what;
        bool checkAfterUnplug;  // the network starts (and checks) only then
        double takenBack;       // ms after the unplug, about
    };
    // Idle for 10 s, then four polls a second apart; or a check and its
    // repetition 2 s apart.
    for (const Row row : {Row{"polls", false, 14000}, Row{"TEI check", true, 4000}}) {
        SCOPED_TRACE(row.what);
        rig.reset(new BriRig(3));
        record_removals();
        unplug(2);
        rig->terminal(2).mdl_remove();  // new: it has no TEI yet
        if (!row.checkAfterUnplug) rig->network.activate();
        remove_all();
        loop.advance(100);
        ASSERT_TRUE(rig->on_a_link(0) && rig->on_a_link(1));
        ASSERT_EQ(64, rig->terminal(0).full_state().selfTEI);
        ASSERT_EQ(65, rig->terminal(1).full_state().selfTEI);

        removed.clear();
        const uint32_t unplugged = Mux::milliseconds();
        unplug(0);
        unplug(1);
        if (row.checkAfterUnplug) rig->network.activate();
        run(15000);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(1u, removed[64].size());
        EXPECT_EQ(removed[64], removed[65]);
        EXPECT_NEAR(row.takenBack, *removed[64].begin() - unplugged, 200);

        plug(2);
        run(3000);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_TRUE(rig->on_a_link(2));
        EXPECT_EQ(66, rig->terminal(2).full_state().selfTEI);
        plug(0);
        plug(1);
        run(60000);  // and the next check
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(3u, rig->terminals_on_links());
    }
}

// Terminal 0 and 1 are on links (TEIs 64, 65). Terminal 0 releases its
// link, by DISC or by answering DM or FRMR, or the controller deactivates
// the network side; then terminal 0 is unplugged, keeping its TEI.
// Terminal 2, plugged in, asks for a TEI and is given 66. The TEI check of
// the controller's next activation goes unanswered for 64, which is then
// removed; terminal 0, plugged back, gets a link for it. At no time do two
// terminals hold one TEI.
TEST_F(BriBusTest, ATeiWhoseLinkWasReleasedStaysItsHoldersUntilItIsRemoved) {
    enum Release { disc, dm, frmr, deactivation };
    const char* const names[] = {"DISC", "DM", "FRMR", "deactivation"};
    for (const Release release : {disc, dm, frmr, deactivation}) {
        SCOPED_TRACE(names[release]);
        rig.reset(new BriRig(3));
        unplug(2);
        rig->terminal(2).mdl_remove();  // new: it has no TEI yet
        remove_all();
        rig->network.activate();
        loop.advance(100);
        ASSERT_TRUE(rig->on_a_link(0) && rig->on_a_link(1));
        ASSERT_EQ(64, rig->terminal(0).full_state().selfTEI);

        if (release == disc) rig->terminal(0).deactivate();
        if (release == dm || release == frmr) {
            Packet answer = lapd::uframe(false, release == dm ? lapd::Kind::DM : lapd::Kind::FRMR,
                                         false, true, 64);
            rig->bus.terminal(0).hdlc_transmit(answer);
        }
        if (release == deactivation) rig->network.deactivate();
        loop.advance(10);
        unplug(0);
        plug(2);
        run(3000);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_TRUE(rig->on_a_link(2));
        EXPECT_EQ(66, rig->terminal(2).full_state().selfTEI);

        // The check and its repetition for 64 go unanswered; 65's holder answers.
        record_removals();
        const uint32_t checked = Mux::milliseconds();
        rig->network.activate();
        run(5000);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(1u, removed.size());
        ASSERT_EQ(1u, removed[64].size());
        EXPECT_NEAR(2 * ISDN::LAPD_NT_user::check_ms, *removed[64].begin() - checked, 100);
        plug(0);
        run(3000);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(3u, rig->terminals_on_links());
    }
}

// The network side of a point-to-point BRI line (an ISDN slot's link) on
// the network port, in place of the TEI server.
struct NetworkLinkOnBus {
    explicit NetworkLinkOnBus(test::HdlcEnd& port) : port(port) {
        link->set_side(ISDN::Side::network);
        link->change_to_bri();
        link->set_hdlc(&port);
        port.bind(link);
    }
    ~NetworkLinkOnBus() { port.bind(nullptr); }

    test::HdlcEnd& port;
    ISDN::LAPD* link = new ISDN::LAPD;
    test::LinkOwner owner{link};  // owns the link
};

// TEI management that a network sends, sent by a terminal (terminal 1 here,
// while terminal 0 talks to the network), is ignored by the network side:
// its link stays up and tells nothing but a trace line.
TEST_F(BriBusTest, NetworkSideIgnoresWhatOnlyANetworkSends) {
    rig.reset(new BriRig(2));
    NetworkLinkOnBus network(rig->bus.network);
    rig->terminal(0).activate();
    loop.advance(100);
    ASSERT_EQ(ISDN::multiple_frame_established, network.link->full_state().state);

    test::StreamCapture log(std::clog);
    network.link->set_log_level(4);
    for (unsigned type : {ISDN::identity_assigned, ISDN::identity_denied,
                          ISDN::identity_check_request, ISDN::identity_remove}) {
        Packet stray = lapd::identity(false, type, 0, 127);
        rig->bus.terminal(1).hdlc_transmit(stray);
        loop.advance(10);
        EXPECT_NE(std::string::npos,
                  log.str().find("TEI management message of type " + std::to_string(type) +
                                 " ignored"));
    }
    network.link->set_log_level(0);
    EXPECT_EQ(ISDN::multiple_frame_established, network.link->full_state().state);
    EXPECT_TRUE(network.owner.deactivations.empty());
    EXPECT_TRUE(network.owner.statuses.empty());
    test::LapdRig::send(*network.link, BriRig::q931(0x81, 0x02));
    loop.advance(10);
    EXPECT_EQ(std::vector<std::string>{BriRig::q931(0x81, 0x02)}, rig->owner(0).messages);
}

// Our reading of a frame in the form of tshark's fields: "sapi tei", and
// for TEI management "msg reference action", the reference as tshark
// reads it (big-endian: the Ri travels least significant octet first).
std::string our_reading(const Packet& frame) {
    std::string text = std::to_string(lapd::sapi(frame)) + " " + std::to_string(lapd::tei(frame));
    lapd::Identity message;
    if (lapd::identity_of(frame, message)) {
        const unsigned reference = (message.ri & 0xFF) << 8 | message.ri >> 8;
        text += " " + std::to_string(message.type) + " " + std::to_string(reference) + " " +
                std::to_string(message.ai);
    }
    return text;
}

std::string tshark_reading(const test::TsharkFields& packet) {
    std::string text = packet.at("lapd.sapi") + " " + packet.at("lapd.tei");
    if (!packet.at("tei.msg").empty())
        text += " " + packet.at("tei.msg") + " " + packet.at("tei.reference") + " " +
                packet.at("tei.action");
    return text;
}

// What the network port sends and receives while terminals come, get TEIs
// and talk, read back by tshark.
TEST_F(BriBusTest, NetworkPortCaptureReadsAsWeSentIt) {
    if (test::tshark_program().empty()) GTEST_SKIP() << test::tshark_missing;
    test::PcapWriter pcap(test::PcapWriter::linux_lapd);
    std::vector<std::string> ours;
    {
        test::LapdCapture capture(pcap, rig->bus.network, /*networkSide=*/true);
        rig->bus.network.add_tap(
            [&ours](const Packet& frame, bool) { ours.push_back(our_reading(frame)); });
        remove_all();
        loop.advance(100);
        rig->network.activate();
        loop.advance(100);
        for (unsigned i = 0; i < 8; ++i)
            test::LapdRig::send(rig->terminal(i), BriRig::q931(i + 1, 0x05));
        loop.advance(100);
        rig->network.send(BriRig::q931(0x81, 0x02));
        rig->network.send(BriRig::q931(0x09, 0x05));
        Packet denied = lapd::identity(false, ISDN::identity_request, 0x1234, 70);
        rig->bus.terminal(0).hdlc_transmit(denied);
        loop.advance(12000);
    }
    std::string error;
    const auto packets =
        test::tshark_fields(pcap, {"--disable-protocol", "q931"},
                            {"lapd.sapi", "lapd.tei", "tei.msg", "tei.reference", "tei.action",
                             "_ws.malformed", "_ws.expert.severity"},
                            &error);
    ASSERT_TRUE(error.empty()) << error;
    std::vector<std::string> theirs;
    std::set<std::string> messages;
    for (const auto& packet : packets) {
        EXPECT_EQ("", packet.at("_ws.malformed"));
        EXPECT_EQ("", packet.at("_ws.expert.severity"));
        theirs.push_back(tshark_reading(packet));
        if (!packet.at("tei.msg").empty()) messages.insert(packet.at("tei.msg"));
    }
    EXPECT_EQ(ours, theirs);
    // Remove, request, assigned, denied, check request and response.
    EXPECT_EQ((std::set<std::string>{"1", "2", "3", "4", "5", "6"}), messages);
}

}  // namespace
