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

// A port is read alike on every build, whatever the width of long; one
// outside 0..65535 is refused and leaves the stored port alone.
TEST(INet4Addr, PortsOutsideTheRangeAreRefused) {
    struct Row {
        const char* text;
        bool valid;
        int port;
        unsigned short stored;
    };
    const int bad = INet4::Addr::bad_port;
    for (const Row& row : {Row{"10.1.2.3:5060", true, 5060, 5060}, Row{"10.1.2.3:65535", true, 65535, 65535},
                           Row{"10.1.2.3:0", true, 0, 0}, Row{"10.1.2.3:", true, 0, 0},
                           Row{"10.1.2.3:+7", true, 7, 7}, Row{"10.1.2.3:5x", true, 5, 5},
                           Row{"10.1.2.3:65536", false, bad, 99}, Row{"10.1.2.3:70000", false, bad, 99},
                           Row{"10.1.2.3:4294967297", false, bad, 99},
                           Row{"10.1.2.3:4294967295", false, bad, 99},
                           Row{"10.1.2.3:99999999999999999999", false, bad, 99},
                           Row{"10.1.2.3:-7001", false, bad, 99}, Row{"10.1.2.3:-1", false, bad, 99}}) {
        INet4::Addr a;
        a.SetPort(99);
        int port = 0;
        EXPECT_EQ(row.valid, a.Assign(row.text, &port)) << row.text;
        EXPECT_EQ(row.port, port) << row.text;
        EXPECT_EQ(row.stored, a.Port()) << row.text;
    }
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
