// A PRI PSTN slot against an independent Q.921 implementation (libosmo-abis)
// standing on a trunk timeslot of the simulated board, with a capture of
// the line read back by tshark.

#include <gtest/gtest.h>

#include "tests/signalling/endpoint_bridge.h"
#include "tests/signalling/signalling_slot_fixture.h"
#include "tests/support/hdlc_pair.h"
#include "tests/support/lapd_capture.h"
#include "tests/support/tshark.h"

#ifdef HAVE_OSMO_LAPD_PEER
#include "tests/support/osmo_lapd_peer.h"
#endif

namespace {

#ifdef HAVE_OSMO_LAPD_PEER

using Lines = std::vector<std::string>;

class PstnInterop : public test::SignallingSlotTest {};

TEST_F(PstnInterop, APriSlotTalksToAnIndependentNetworkSide) {
    if (test::tshark_program().empty()) GTEST_SKIP() << test::tshark_missing;
    test::HdlcPair line;
    test::PcapWriter pcap(test::PcapWriter::linux_lapd);
    test::LapdCapture capture(pcap, line.a, /*networkSide=*/false);
    test::EndpointBridge bridge(frames().endpoint(48), line.a);
    test::OsmoLapdPeer peer(line.b, /*networkSide=*/true);

    make(test::create_trunk(1, 16), 10);
    make(test::create_pstn_isdn(LGCP::IsdnType::pri, 2, test::Side::user), 20);
    wire(10, 20);
    run(100);
    EXPECT_EQ(1u, peer.established);
    EXPECT_EQ(Lines{"20 activated"}, signalled("activated"));

    // SETUP and CALL PROCEEDING, call reference 1.
    EXPECT_EQ(Lines{"20 success"}, told(test::user_data({8, 1, 1, 5}), 20));
    run(10);
    const std::string setup{8, 1, 1, 5};
    EXPECT_EQ(Lines{setup}, peer.messages);
    peer.send(std::string{8, 1, char(0x81), 2});
    run(10);
    EXPECT_EQ(Lines{"20 userData 08 01 81 02"}, signalled("userData"));

    std::string error;
    const auto packets = test::tshark_fields(pcap, {}, {"_ws.malformed", "lapd.control.ftype"}, &error);
    ASSERT_TRUE(error.empty()) << error;
    unsigned iFrames = 0;
    for (const auto& packet : packets) {
        EXPECT_EQ("", packet.at("_ws.malformed"));
        iFrames += packet.at("lapd.control.ftype") == "0x0000";
    }
    EXPECT_EQ(2u, iFrames);
    EXPECT_GE(packets.size(), 4u);  // SABME and UA too
}

#else

TEST(PstnInterop, NeedsLibosmoAbis) {
    GTEST_SKIP() << "libosmo-abis is not installed (Debian packages libosmo-abis-dev, libosmocore-dev)";
}

#endif

}  // namespace
