// Known wire bytes: whatever the host's byte order, what goes on the wire is
// in network order, byte for byte the same on the host and on the board.
// Each wire format adds its known answers here.

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <string>

#include "asn1/asn1.h"
#include "link/tpkt_protocol.h"
#include "runtime/inet4_addr.h"
#include "tests/asn1/per_test_util.h"
#include "tests/board/byte_view.h"
#include "tests/link/stack_probe.h"
#include "tests/support/tpkt.h"
#include "tests/support/virtual_loop.h"

namespace {

using test::Bytes;
using test::bytes_of;

TEST(WireBytes, SocketAddressHoldsAddressAndPortInNetworkOrder) {
    INet4::Addr a;
    ASSERT_TRUE(a.Assign("10.1.2.3:5060"));
    EXPECT_EQ((Bytes{10, 1, 2, 3}), bytes_of(a.sockaddr_in_ref().sin_addr.s_addr));
    EXPECT_EQ((Bytes{0x13, 0xc4}), bytes_of(a.sockaddr_in_ref().sin_port));
    EXPECT_EQ((Bytes{10, 1, 2, 3}), bytes_of(a.Address()));
    EXPECT_EQ(test::kBigEndianHost ? 0x0a010203u : 0x0302010au, a.Address());
}

TEST(WireBytes, NetworkOrderWordAssignsTheSameAddressOnEveryHost) {
    INet4::Addr a;
    a.Assign(htonl(0xc0a80a01u));
    a.SetPort(0x8001);
    EXPECT_EQ("192.168.10.1:32769", a.GetString());
    EXPECT_EQ((Bytes{192, 168, 10, 1}), a.GetVector());
    EXPECT_EQ((Bytes{0x80, 0x01}), bytes_of(a.sockaddr_in_ref().sin_port));
}

// Aligned PER writes multi-octet numbers most significant octet first.
template <class T>
void expect_per(const std::string& hex, unsigned value) {
    T sent;
    sent.setValue(value);
    EXPECT_EQ(hex, ::Test::perHex(sent)) << "value " << value;
    T received;
    ASSERT_TRUE(::Test::perDecodeHex(hex, received)) << hex;
    EXPECT_EQ(value, received.getUnsignedValue()) << hex;
}

TEST(WireBytes, PerIntegersAreMostSignificantOctetFirst) {
    using ASN1::FixedConstraint;
    expect_per<ASN1::Constrained_INTEGER<FixedConstraint, 0, 65535>>("1234", 0x1234);
    // Octet count (2 bits, 4 octets: 11), aligned, then the octets.
    expect_per<ASN1::Constrained_INTEGER<FixedConstraint, 0, 4294967295u>>("C080000001",
                                                                           0x80000001u);
    // Length octet, then two's complement.
    expect_per<ASN1::INTEGER>("0401020304", 0x01020304u);
    expect_per<ASN1::INTEGER>("01FE", static_cast<unsigned>(-2));
}

TEST(WireBytes, PerBmpCharactersAreTwoOctetsMostSignificantFirst) {
    ASN1::BMPString text(L"\u20ACA");
    EXPECT_EQ("0220AC0041", ::Test::perHex(text));
}

// TPKT: version 3, reserved 0, then the frame length (header included) high
// octet first. 0x0102 needs both octets.
TEST(WireBytes, TpktLengthIsHighOctetFirstBothWays) {
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    test::OwnerProbe stack;
    auto* wire = new test::WireProbe;
    stack.add_protocol_tail(wire);
    stack.add_protocol_tail(new Tpkt_protocol);
    const std::string payload(0x0102 - Tpkt_protocol::header_size, '\x5A');
    std::string payload_text = "5A";
    for (size_t i = 1; i < payload.size(); ++i) payload_text += " 5A";

    Packet down;
    stack.prepare_head(down);
    down.put(payload.data(), static_cast<unsigned>(payload.size()));
    stack.message(down);
    EXPECT_EQ((std::vector<std::string>{"03 00 01 02 " + payload_text}), wire->sent);

    const std::string frame = test::tpkt_frame(payload);
    EXPECT_EQ((Bytes{0x03, 0x00, 0x01, 0x02}), Bytes(frame.begin(), frame.begin() + 4));
    Packet up;
    up.reserve_head(0);
    up.put(frame.data(), static_cast<unsigned>(frame.size()));
    wire->on_message(up);
    EXPECT_EQ((std::vector<std::string>{payload_text}), stack.frames);
}

}  // namespace
