#include <gtest/gtest.h>

#include <sstream>

#include "runtime/profile.h"
#include "runtime/version.h"
#include "tests/support/virtual_loop.h"

namespace {

std::string put(const Profile::Point& p) {
    std::ostringstream os;
    os << std::hex;  // numbers are decimal all the same
    p.put(os);
    return os.str();
}

TEST(ProfilePoint, NeverEndedPrintsZeros) {
    Profile::Point p("idle");
    EXPECT_EQ("[idle]: min=0 max=0 cur=0 counter=0", put(p));
}

TEST(ProfilePoint, KeepsMinMaxLastAndCount) {
    test::VirtualLoop loop;
    Profile::Point p("Tpkt_protocol::message");
    for (unsigned us : {5u, 9u, 7u}) {
        p.begin();
        loop.clock().advance_us(us);
        p.end();
    }
    EXPECT_EQ("[Tpkt_protocol::message]: min=5 max=9 cur=7 counter=3", put(p));
}

TEST(ProfilePoint, DumpListsTheNewestPointFirst) {
    Profile::Point older("older");
    std::ostringstream os;
    {
        Profile::Point newer("newer");
        Profile::dump(os);
    }
    EXPECT_EQ("[newer]: min=0 max=0 cur=0 counter=0\n"
              "[older]: min=0 max=0 cur=0 counter=0\n",
              os.str());
    os.str("");
    Profile::dump(os);
    EXPECT_EQ("[older]: min=0 max=0 cur=0 counter=0\n", os.str()) << "a gone point unlinks";
}

TEST(TraceBlock, WritesEnterAndLeaveWhenEnabled) {
    std::ostringstream os;
    {
        Trace::Block on(true, "work", os);
        Trace::Block off(false, "quiet", os);
        os << "inside\n";
    }
    EXPECT_EQ("Enter work\ninside\nLeave work\n", os.str());
}

TEST(Version, CurrentBuildPutsItsTag) {
    std::ostringstream os;
    Version::current.put(os);
    EXPECT_EQ("T240215-1841", os.str());
    EXPECT_EQ(Version::snapshot, Version::current.type());
    EXPECT_STREQ("2024-02-15 18:41", Version::current.date());
    EXPECT_STREQ("ppc", Version::current.architecture());
}

TEST(Version, TypeNamesAndSuffixes) {
    EXPECT_STREQ("unit-test", version_string(Version::unit_test));
    EXPECT_STREQ("unknown", version_string(static_cast<Version::Type>(7)));
    EXPECT_STREQ("R", version_suffix(Version::release));
    EXPECT_STREQ("T", version_suffix(Version::unit_test));
    EXPECT_STREQ("U", version_suffix(static_cast<Version::Type>(7)));
    std::ostringstream os;
    os << Version::test;
    EXPECT_EQ("test", os.str());
}

}  // namespace
