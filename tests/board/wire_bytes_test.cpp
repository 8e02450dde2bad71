// Known wire bytes: whatever the host's byte order, what goes on the wire is
// in network order, byte for byte the same on the host and on the board.
// Each wire format adds its known answers here.

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include "runtime/inet4_addr.h"
#include "tests/board/byte_view.h"

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

}  // namespace
