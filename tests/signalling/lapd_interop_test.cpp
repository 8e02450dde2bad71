// Our link against an independent Q.921 implementation (libosmo-abis), each
// side in turn, in virtual time.

#include <gtest/gtest.h>

#include <random>

#include "tests/link/packet_pool_check.h"
#include "tests/support/hdlc_pair.h"
#include "tests/support/lapd_frames.h"
#include "tests/support/lapd_rig.h"
#include "tests/support/link_owner.h"
#include "tests/support/virtual_loop.h"
#include "signalling/lapd.h"

#ifdef HAVE_OSMO_LAPD_PEER
#include "tests/support/osmo_lapd_peer.h"
#endif

namespace {

#ifdef HAVE_OSMO_LAPD_PEER

namespace lapd = test::lapd;

struct Sides {
    const char* what;
    bool oursIsNetwork;
};

std::ostream& operator<<(std::ostream& os, const Sides& sides) { return os << sides.what; }

class LapdInteropTest : public PacketPoolCheck, public ::testing::WithParamInterface<Sides> {
protected:
    void SetUp() override {
        ours = new ISDN::LAPD;
        owner.reset(new test::LinkOwner(ours));
        ours->set_side(network() ? ISDN::Side::network : ISDN::Side::user);
        ours->set_hdlc(&line->a);
        line->a.bind(ours);
        peer.reset(new test::OsmoLapdPeer(line->b, !network()));
    }
    void TearDown() override {
        peer.reset();
        owner.reset();
        line.reset();
        PacketPoolCheck::TearDown();
    }
    bool network() const { return GetParam().oursIsNetwork; }
    // Both links anew on a new line, for another run within one test.
    void renew() {
        peer.reset();
        owner.reset();
        line.reset(new test::HdlcPair);
        SetUp();
    }

    // Whoever plays the user side starts the link.
    void establish() {
        if (network())
            peer->start();
        else
            ours->activate();
        loop.advance(100);
        ASSERT_EQ(ISDN::multiple_frame_established, ours->full_state().state);
        ASSERT_EQ(1u, peer->established);
        ASSERT_EQ(1u, owner->activations);
    }
    // `count` messages each way, a few at a time.
    void exchange(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            test::LapdRig::send(*ours, test::LapdRig::numbered("o", i));
            peer->send(test::LapdRig::numbered("p", i));
            if (i % 5 == 4) loop.advance(1);
        }
        loop.advance(3000);
    }
    static std::vector<std::string> numbered(const char* prefix, unsigned count) {
        return test::LapdRig::first(prefix, count);
    }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<test::HdlcPair> line{new test::HdlcPair};
    ISDN::LAPD* ours = nullptr;
    std::unique_ptr<test::LinkOwner> owner;
    std::unique_ptr<test::OsmoLapdPeer> peer;
};

TEST_P(LapdInteropTest, EstablishesExchangesAndReleases) {
    establish();
    exchange(300);
    EXPECT_EQ(numbered("o", 300), peer->messages);
    EXPECT_EQ(numbered("p", 300), owner->messages);
    EXPECT_EQ(0u, peer->badFrames);

    // We release on either side: the peer's user side (lapd_sap_stop) at
    // times releases locally without a DISC.
    ours->deactivate();
    loop.advance(100);
    EXPECT_EQ(ISDN::tei_assigned, ours->full_state().state);
    EXPECT_EQ(1u, peer->released);
    EXPECT_EQ(std::vector<std::string>{"success (UA received)"}, owner->deactivations);
}

TEST_P(LapdInteropTest, LostIFrameIsRecoveredEachWay) {
    establish();
    line->a.drop = test::nth(3, lapd::is_i);
    line->b.drop = test::nth(4, lapd::is_i);
    exchange(20);
    EXPECT_EQ(numbered("o", 20), peer->messages);
    EXPECT_EQ(numbered("p", 20), owner->messages);
    EXPECT_GT(ours->stats().retrains + ours->stats().rejected, 0u);
}

TEST_P(LapdInteropTest, IdleLinkPollsAndStaysUp) {
    establish();
    unsigned polls = 0;
    line->a.add_tap([&](const Packet& frame, bool sent) {
        if (sent && lapd::is_rr(frame) && lapd::pf(frame) && lapd::command(frame, network())) ++polls;
    });
    // T203: one poll every 10 s of silence.
    loop.advance(35000);
    EXPECT_EQ(3u, polls);
    EXPECT_EQ(ISDN::multiple_frame_established, ours->full_state().state);
    EXPECT_TRUE(peer->errors.empty());
    EXPECT_EQ(0u, peer->released);
    test::LapdRig::send(*ours, "after");
    loop.advance(100);
    EXPECT_EQ(std::vector<std::string>{"after"}, peer->messages);
}

// One frame in 15 lost each way, and our channel busy for about one frame
// in 10 it is given, with five seeds. The peer answers every frame out of
// sequence with a REJ, so our link hears REJs for frames it is sending again
// already, sets VS back below frames the peer holds, and then hears the
// peer's N(R) for them. Every message arrives, and neither side
// re-establishes, through the idle polls after the exchange too.
TEST_P(LapdInteropTest, LossyLineAndBusyChannelLoseNothingAndReestablishNothing) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        if (seed > 1) renew();
        establish();
        auto draw = std::make_shared<std::mt19937>(seed);
        auto one_in = [draw](unsigned n) -> test::FramePredicate {
            return [draw, n](const Packet&, unsigned) { return (*draw)() % n == 0; };
        };
        line->a.drop = one_in(15);
        line->b.drop = one_in(15);
        line->a.refuse = one_in(10);
        exchange(300);
        loop.advance(2 * ISDN::LAPD::T203_ms);
        EXPECT_EQ(numbered("o", 300), peer->messages);
        EXPECT_EQ(numbered("p", 300), owner->messages);
        EXPECT_EQ(1u, peer->established);
        EXPECT_EQ(1u, owner->activations);
        EXPECT_TRUE(owner->statuses.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, LapdInteropTest,
                         ::testing::Values(Sides{"OursUserTheirsNetwork", false},
                                           Sides{"OursNetworkTheirsUser", true}),
                         [](const auto& info) { return std::string(info.param.what); });

#else

TEST(LapdInteropTest, NeedsLibosmoAbis) {
    GTEST_SKIP() << "libosmo-abis is not installed (Debian packages libosmo-abis-dev, libosmocore-dev)";
}

#endif

}  // namespace
