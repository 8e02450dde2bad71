#include "runtime/inet4_addr.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::string put(const INet4::Addr& a) {
    std::ostringstream os;
    a.Put(os);
    return os.str();
}

TEST(INet4Addr, AddressWithPort) {
    INet4::Addr a;
    int port = 0;
    EXPECT_TRUE(a.Assign("10.1.2.3:5060", &port));
    EXPECT_EQ(5060, port);
    EXPECT_EQ(5060, a.Port());
    EXPECT_EQ("10.1.2.3:5060", put(a));
    EXPECT_EQ("10.1.2.3:5060", a.GetString());
    EXPECT_EQ((std::vector<unsigned char>{10, 1, 2, 3}), a.GetVector());
}

TEST(INet4Addr, AddressWithoutPortKeepsThePort) {
    INet4::Addr a;
    a.Assign("1.1.1.1:99");
    int port = 0;
    EXPECT_TRUE(a.Assign("10.1.2.3", &port));
    EXPECT_EQ(-1, port);
    EXPECT_EQ("10.1.2.3:99", a.GetString());
}

TEST(INet4Addr, BadAddressStillStoresThePort) {
    INet4::Addr a;
    EXPECT_FALSE(a.Assign("host:80"));
    EXPECT_EQ(80, a.Port());
    EXPECT_FALSE(a.Assign(std::string("not an address")));
}

TEST(INet4Addr, PortKeepsItsLow16Bits) {
    INet4::Addr a;
    int port = 0;
    EXPECT_TRUE(a.Assign("10.1.2.3:70000", &port));
    EXPECT_EQ(70000, port);
    EXPECT_EQ(4464, a.Port());
    EXPECT_TRUE(a.Assign("10.1.2.3:", &port));
    EXPECT_EQ(0, a.Port());
}

TEST(INet4Addr, EqualityComparesAddressAndPort) {
    INet4::Addr a, b;
    a.Assign("10.0.0.1:1");
    b.Assign("10.0.0.1:2");
    EXPECT_FALSE(a.IsEqual(b));
    b.Assign("10.0.0.1:1");
    EXPECT_TRUE(a.IsEqual(b));
}

TEST(INet4Addr, ResetPrintsZeroAndDoesNotChangeTheStreamBase) {
    INet4::Addr a;
    a.Assign("1.2.3.4:16");
    a.Reset();
    EXPECT_EQ("0.0.0.0:0", put(a));
    std::ostringstream os;
    a.Assign("1.2.3.4:16");
    os << std::hex << a << ' ' << 16;
    EXPECT_EQ("1.2.3.4:16 10", os.str());
}

}  // namespace
