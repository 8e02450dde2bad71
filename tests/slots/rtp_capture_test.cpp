// What one RTP slot sends in its life, as tshark reads it: the source
// description, the media and the BYE; and the smallest source descriptions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "slots/rtcp.h"
#include "tests/slots/rtp_fixture.h"
#include "tests/support/pcap_writer.h"
#include "tests/support/tshark.h"

namespace {

constexpr unsigned kRtp = 7;
constexpr unsigned kTrunk = 3;

class RtpCapture : public test::RtpSlotTest {};

TEST_F(RtpCapture, ReadsCleanlyWithTheItemsReasonPayloadTypeAndSsrcWeSent) {
    if (test::tshark_program().empty()) GTEST_SKIP() << test::tshark_missing;
    create(kRtp);
    create(kTrunk, test::create_trunk(1, 8));
    connect(kTrunk, kRtp);  // the input goes on
    ASSERT_EQ(4, rtp_model().emit(4));
    ASSERT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), kRtp));

    const unsigned short rtpPort = remote_port();
    const unsigned short rtcpPort = static_cast<unsigned short>(rtpPort + 1);
    test::PcapWriter capture;
    const auto rtcp = peer.rtcp();
    ASSERT_EQ(2u, rtcp.size());
    capture.add_udp(rtcpPort, rtcp[0]);
    for (const test::Bytes& packet : peer.rtp()) capture.add_udp(rtpPort, packet);
    capture.add_udp(rtcpPort, rtcp[1]);
    ASSERT_EQ(6u, capture.packets());

    const std::vector<std::string> as = {"-d", "udp.port==" + std::to_string(rtpPort) + ",rtp",
                                         "-d", "udp.port==" + std::to_string(rtcpPort) + ",rtcp"};
    std::string error;
    EXPECT_EQ("", test::tshark_matching(
                      capture, as, "_ws.malformed || _ws.expert.severity >= \"Warning\"", &error));
    ASSERT_EQ("", error);

    const auto packets = test::tshark_fields(capture, as,
                                             {"rtcp.pt", "rtcp.sdes.type", "rtcp.sdes.text",
                                              "rtcp.ssrc.identifier", "rtp.p_type", "rtp.ssrc"},
                                             &error);
    ASSERT_EQ(6u, packets.size()) << error;
    const std::string ssrc = "0x11223344";
    EXPECT_EQ("202", packets[0].at("rtcp.pt"));
    EXPECT_EQ("1,3,4,0", packets[0].at("rtcp.sdes.type"));  // and the END item
    EXPECT_EQ("Zembrix Quadresta,support@zembrix.example,+1 555 0100",
              packets[0].at("rtcp.sdes.text"));
    for (size_t i = 1; i < 5; ++i) {
        EXPECT_EQ("8", packets[i].at("rtp.p_type"));
        EXPECT_EQ(ssrc, packets[i].at("rtp.ssrc"));
    }
    EXPECT_EQ("203", packets[5].at("rtcp.pt"));
    EXPECT_EQ(ssrc, packets[5].at("rtcp.ssrc.identifier"));
    EXPECT_EQ("session end", packets[5].at("rtcp.sdes.text"));  // tshark's name of the reason
}

// The smallest source descriptions the encoder writes: no item at all, and
// the items left out for want of room.
TEST_F(RtpCapture, AnSdesWithoutItemsReadsCleanly) {
    if (test::tshark_program().empty()) GTEST_SKIP() << test::tshark_missing;
    constexpr uint16_t kPort = 5005;
    RTPC::SDES empty(0x11223344);
    RTPC::SDES crowded(0x11223344);
    crowded.add(RTPC::SDES::Item::CNAME, "Zembrix Quadresta");
    test::PcapWriter capture;
    for (auto [packet, size] : {std::pair<const RTPC::Msg*, unsigned>{&empty, 1024},
                                std::pair<const RTPC::Msg*, unsigned>{&crowded, 12}}) {
        char buf[1024];
        const unsigned length = packet->encode(buf, size);
        EXPECT_EQ(12u, length);
        capture.add_udp(kPort, test::Bytes(buf, buf + length));
    }

    const std::vector<std::string> as = {"-d", "udp.port==" + std::to_string(kPort) + ",rtcp"};
    std::string error;
    EXPECT_EQ("", test::tshark_matching(
                      capture, as, "_ws.malformed || _ws.expert.severity >= \"Warning\"", &error));
    ASSERT_EQ("", error);
    const auto packets =
        test::tshark_fields(capture, as, {"rtcp.pt", "rtcp.ssrc.identifier", "rtcp.sdes.type"},
                            &error);
    ASSERT_EQ(2u, packets.size()) << error;
    for (const auto& packet : packets) {
        EXPECT_EQ("202", packet.at("rtcp.pt"));
        EXPECT_EQ("0x11223344", packet.at("rtcp.ssrc.identifier"));
        EXPECT_EQ("0", packet.at("rtcp.sdes.type"));  // the END item alone
    }
}

}  // namespace
