// A pair of our signalling slots on the simulated board, joined by a line
// that holds frames in flight for 20 ms each way and loses the first I
// frame of a burst: every message arrives, once and in order, in about one
// I frame per message and within a second.

#include <gtest/gtest.h>

#include "signalling/lapd.h"
#include "tests/signalling/endpoint_bridge.h"
#include "tests/signalling/signalling_slot_fixture.h"
#include "tests/support/lapd_frames.h"

namespace {

using Lines = std::vector<std::string>;
using LGCP::IsdnType;
using test::Side;
namespace lapd = test::lapd;

class SlotBurst : public test::SignallingSlotTest {
protected:
    // Slot 20 sends `count` messages at once; what slot 21 signals until it
    // has them all, or 20 s have passed.
    Lines burst(unsigned count) {
        for (unsigned i = 0; i < count; ++i) told(test::user_data({8, 1, 5, 0x7B, char(i)}), 20);
        Lines arrived;
        for (unsigned ms = 0; ms < 20000 && arrived.size() < count; ms += 10) {
            run(10);
            for (std::string& l : signalled("21 userData")) arrived.push_back(std::move(l));
        }
        return arrived;
    }
};

TEST_F(SlotBurst, ArrivesWholeInAboutOneFramePerMessageWithOneRej) {
    const struct {
        const char* name;
        LGCP::Command lineA, lineB;  // slots 10 and 11, on channels A and B
        int channelA, channelB;
        LGCP::Command user, network;  // slots 20 and 21
    } pairs[] = {
        {"PRI PSTN slots", test::create_trunk(1, 16), test::create_trunk(2, 16), 48, 80,
         test::create_pstn_isdn(IsdnType::pri, 2, Side::user),
         test::create_pstn_isdn(IsdnType::pri, 3, Side::network)},
        {"BRI PSTN slots", test::create_trunk_bri(1, 2), test::create_trunk_bri(2, 2), 6, 10,
         test::create_pstn_isdn(IsdnType::bri, 1, Side::user),
         test::create_pstn_isdn(IsdnType::bri, 2, Side::network)},
    };
    for (const auto& p : pairs) {
        SCOPED_TRACE(p.name);
        test::HdlcPair line;
        test::EndpointBridge userSide(frames().endpoint(p.channelA), line.a);
        test::EndpointBridge networkSide(frames().endpoint(p.channelB), line.b);
        line.a.set_latency(20);
        line.b.set_latency(20);
        make(p.lineA, 10);
        make(p.lineB, 11);
        make(p.user, 20);
        make(p.network, 21);
        wire(10, 20);
        wire(11, 21);
        run(3000);

        unsigned iFrames = 0, rejs = 0;
        line.a.add_tap(
            [&iFrames](const Packet& f, bool sent) { iFrames += sent && lapd::is_i(f); });
        line.b.add_tap([&rejs](const Packet& f, bool sent) {
            rejs += sent && lapd::kind(f) == lapd::Kind::REJ;
        });
        line.a.drop = test::nth(1, lapd::is_i);
        Lines expected;
        for (unsigned i = 0; i < 100; ++i)
            expected.push_back("21 userData 08 01 05 7b " + test::hex({char(i)}));
        const uint32_t start = Mux::milliseconds();
        EXPECT_EQ(expected, burst(100));
        EXPECT_LE(Mux::milliseconds() - start, 1000u);
        EXPECT_LE(iFrames, 100u + 2 * ISDN::LAPD::window);
        EXPECT_EQ(1u, rejs);
        EXPECT_EQ(0u, fabric().frames.lost);
        for (unsigned slot : {20, 21, 10, 11}) destroy(slot);
    }
}

}  // namespace
