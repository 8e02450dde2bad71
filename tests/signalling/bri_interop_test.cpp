// Our BRI links against independent implementations. libpri, each side in
// turn: TEI assignment, establishment and a call's first messages; and how
// our links recover where libpri can lead them. libpri runs on the real
// clock, so every exchange here is one that none of its timers interrupts.
// libosmo-abis as a terminal of our network side, on virtual time.

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/link/packet_pool_check.h"
#include "tests/support/bri_rig.h"
#include "tests/support/lapd_frames.h"
#include "tests/support/lapd_rig.h"
#include "tests/support/virtual_loop.h"

#ifdef HAVE_PRI_PEER
#include <libpri.h>

#include "tests/support/pri_peer.h"
#endif
#ifdef HAVE_OSMO_LAPD_PEER
#include "tests/support/osmo_lapd_peer.h"
#endif

namespace {

#ifdef HAVE_PRI_PEER

using test::BriRig;
namespace lapd = test::lapd;

bool has(const std::vector<int>& events, int event) {
    return std::find(events.begin(), events.end(), event) != events.end();
}

// CALL PROCEEDING on B1 for the call `reference` of the other side.
std::string call_proceeding(unsigned reference) {
    return BriRig::q931(reference | 0x80, 0x02, std::string("\x18\x01\x89", 3));
}

class BriInteropTest : public PacketPoolCheck {
protected:
    void TearDown() override {
        peer.reset();
        ours.reset();
        bus.reset();
        if (line) line->a.bind(nullptr);
        pri.reset();
        line.reset();
        PacketPoolCheck::TearDown();
    }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<test::PriPeer> peer;
    std::unique_ptr<BriRig> ours;
    std::unique_ptr<test::BriBus> bus;
    // A PRI link of ours, on end a of `line`.
    std::unique_ptr<test::HdlcPair> line;
    std::unique_ptr<test::LinkOwner> pri;
};

// libpri's network side starts by removing every TEI; our terminal asks
// for one, takes it, establishes and is offered a call.
TEST_F(BriInteropTest, OurTerminalOnTheirNetwork) {
    ours.reset(new BriRig(1));
    ISDN::LAPD& terminal = ours->terminal(0);
    test::LinkOwner& layer3 = ours->owner(0);
    peer.reset(new test::PriPeer(ours->bus.network, /*networkSide=*/true));
    loop.advance(100);
    EXPECT_GE(terminal.full_state().selfTEI, 64);
    EXPECT_EQ(ISDN::tei_assigned, terminal.full_state().state);

    terminal.activate();
    loop.advance(100);
    ASSERT_EQ(ISDN::multiple_frame_established, terminal.full_state().state);
    EXPECT_EQ(1u, layer3.activations);

    unsigned broadcasts = 0;
    ours->bus.network.add_tap([&broadcasts](const Packet& frame, bool sent) {
        if (sent && lapd::kind(frame) == lapd::Kind::UI && lapd::sapi(frame) == 0) ++broadcasts;
    });
    peer->call("123");
    loop.advance(100);
    EXPECT_EQ(1u, broadcasts);
    ASSERT_EQ(1u, layer3.messages.size());
    const std::string& setup = layer3.messages[0];
    ASSERT_GT(setup.size(), 3u);
    EXPECT_EQ(0x05, setup[3]);

    test::LapdRig::send(terminal, call_proceeding(static_cast<unsigned char>(setup[2])));
    loop.advance(100);
    EXPECT_TRUE(has(peer->events, PRI_EVENT_PROCEEDING));
    EXPECT_TRUE(layer3.deactivations.empty());
}

// libpri's terminal asks our network side for a TEI, comes up, and calls;
// we answer by call reference and offer it a call of ours.
TEST_F(BriInteropTest, TheirTerminalOnOurNetwork) {
    bus.reset(new test::BriBus(1));
    test::NtOnPort network(bus->network);
    network.activate();
    loop.advance(10);
    peer.reset(new test::PriPeer(bus->terminal(0), /*networkSide=*/false));
    loop.advance(100);
    EXPECT_EQ(64, network.nt().link(0).tei());
    EXPECT_TRUE(has(peer->events, PRI_EVENT_DCHAN_UP));

    peer->call("456");
    loop.advance(100);
    ASSERT_EQ(1u, network.messages.size());
    const std::string setup = network.messages[0];
    ASSERT_GT(setup.size(), 3u);
    EXPECT_EQ(0x05, setup[3]);
    network.send(call_proceeding(static_cast<unsigned char>(setup[2])));
    loop.advance(100);
    EXPECT_TRUE(has(peer->events, PRI_EVENT_PROCEEDING));

    // Speech, 64 kbit/s, A-law; B1; to 789.
    const std::string bearer("\x04\x03\x80\x90\xA3", 5), channel("\x18\x01\x89", 3),
        called("\x70\x04\x81" "789", 6);
    network.send(BriRig::q931(0x11, 0x05, bearer + channel + called));
    loop.advance(100);
    EXPECT_TRUE(has(peer->events, PRI_EVENT_RING));
    EXPECT_EQ(0x11, peer->ringReference);
    EXPECT_EQ(ISDN::LAPD_NT_user::assigned, network.nt().link(0).state());
    peer.reset();
}

// Our terminal's TEI requests all went unanswered; a message from above and
// then the layer above's DL-ESTABLISH bring it to libpri's network all the
// same.
TEST_F(BriInteropTest, OurTerminalThatGaveUpOnATeiComesUpForAMessage) {
    ours.reset(new BriRig(1));
    ISDN::LAPD& terminal = ours->terminal(0);
    ours->bus.terminal(0).drop = [](const Packet&, unsigned) { return true; };
    peer.reset(new test::PriPeer(ours->bus.network, /*networkSide=*/true));
    loop.advance(12000);
    ASSERT_EQ(ISDN::tei_unassigned, terminal.full_state().state);
    ours->bus.terminal(0).drop = nullptr;

    test::LapdRig::send(terminal, BriRig::q931(1, 0x75));  // STATUS ENQUIRY
    terminal.activate();
    loop.advance(100);
    EXPECT_GE(terminal.full_state().selfTEI, 64);
    EXPECT_EQ(ISDN::multiple_frame_established, terminal.full_state().state);
}

// libpri's PRI network side asks to establish while our link, released as
// it was establishing, still times its DISC: our first I frame, lost, goes
// again after T200, not T203.
TEST_F(BriInteropTest, OurPriLinkResendsALostFirstIFrameAfterOneSecond) {
    line.reset(new test::HdlcPair);
    ISDN::LAPD* link = new ISDN::LAPD;
    pri.reset(new test::LinkOwner(link));
    link->set_hdlc(&line->a);
    line->a.bind(link);
    link->activate();
    link->deactivate();
    loop.advance(10);
    peer.reset(new test::PriPeer(line->b, /*networkSide=*/true, /*bri=*/false));
    loop.advance(100);
    ASSERT_EQ(ISDN::multiple_frame_established, link->full_state().state);

    std::vector<uint32_t> sent;
    line->a.add_tap([&sent](const Packet& frame, bool out) {
        if (out && lapd::is_i(frame)) sent.push_back(Mux::milliseconds());
    });
    line->a.drop = test::nth(1, lapd::is_i);
    test::LapdRig::send(*link, BriRig::q931(1, 0x75));  // STATUS ENQUIRY
    loop.advance(12000);
    ASSERT_LE(2u, sent.size());
    EXPECT_EQ(ISDN::LAPD::T200_ms, sent[1] - sent[0]);
}

#else

TEST(BriInteropTest, NeedsLibpri) {
    GTEST_SKIP() << "libpri is not installed (Debian package libpri-dev)";
}

#endif

#ifdef HAVE_OSMO_LAPD_PEER

class OsmoTerminalTest : public PacketPoolCheck {
protected:
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
};

// A terminal with the window of one usual on BRI sends its next I frame
// only once the last is acknowledged: our network side acknowledges each at
// once, so eight messages take a few loop passes, not a T200 each.
TEST_F(OsmoTerminalTest, WindowOfOneTerminalSendsEightMessagesWellUnderASecond) {
    test::BriBus bus(1);
    test::NtOnPort network(bus.network);
    network.activate();
    test::OsmoLapdPeer terminal(bus.terminal(0), /*networkSide=*/false, /*window=*/1);
    terminal.start();
    loop.advance(100);
    ASSERT_EQ(1u, terminal.established);

    const uint32_t start = Mux::milliseconds();
    std::vector<std::string> sent;
    for (unsigned i = 0; i < 8; ++i) {
        sent.push_back(test::BriRig::q931(1, 0x7B, std::to_string(i)));
        terminal.send(sent.back());
    }
    while (network.messages.size() < 8 && Mux::milliseconds() - start < 10000) loop.advance(10);
    EXPECT_EQ(sent, network.messages);
    EXPECT_LE(Mux::milliseconds() - start, 100u);
    EXPECT_TRUE(terminal.errors.empty());
}

#else

TEST(OsmoTerminalTest, NeedsLibosmoAbis) {
    GTEST_SKIP()
        << "libosmo-abis is not installed (Debian packages libosmo-abis-dev, libosmocore-dev)";
}

#endif

}  // namespace
