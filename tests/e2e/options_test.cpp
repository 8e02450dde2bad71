// The command line of the server executable.

#include <gtest/gtest.h>

#include "tests/e2e/server_binary.h"
#include "tests/support/case_name.h"

namespace {

const char kUsage[] =
    "Usage:\n"
    " trunkerd -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n"
    "\n";

struct RefusedCase {
    const char* what;
    std::vector<std::string> args;
    const char* complaint;  // getopt's own line on stderr, or "" for none
};

const RefusedCase kRefused[] = {
    {"unknown option", {"--frobnicate"}, "unrecognized option '--frobnicate'"},
    {"short p is not an option", {"-p", "30000"}, "invalid option -- 'p'"},
    {"port without a value", {"--port"}, "option '--port' requires an argument"},
    {"port that is not a number", {"--port", "abc"}, ""},
    {"port with trailing text", {"--port", "300x"}, ""},
    {"port zero", {"--port", "0"}, ""},
    {"port above 65535", {"--port", "65536"}, ""},
    {"negative port", {"--port", "-5"}, ""},
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.what; }

class RefusedCommandLine : public ::testing::TestWithParam<RefusedCase> {
protected:
    test::BoardRoot board;
};

TEST_P(RefusedCommandLine, PrintsTheUsageAndExitsWithStatus2) {
    test::ServerBinary server(GetParam().args);
    EXPECT_EQ(2, server.wait_exit()) << server.output();
    EXPECT_EQ(kUsage, server.out());
    EXPECT_NE(std::string::npos, server.err().find(GetParam().complaint)) << server.err();
    EXPECT_FALSE(board.exists("/var/run/server.pid"));
}

INSTANTIATE_TEST_SUITE_P(Server, RefusedCommandLine, ::testing::ValuesIn(kRefused),
                         test::CaseName());

class CommandLine : public ::testing::Test {
protected:
    test::BoardRoot board;
};

TEST_F(CommandLine, VersionPrintsTheTagAndExitsWithStatus2) {
    test::ServerBinary server({"--version"});
    EXPECT_EQ(2, server.wait_exit()) << server.output();
    EXPECT_EQ("server version: T240215-1841\n", server.out());
}

TEST_F(CommandLine, DisableClockTakesEffectBeforeVersionIsActedOn) {
    test::ServerBinary server({"--disable-clock", "--version"});
    EXPECT_EQ(2, server.wait_exit()) << server.output();
    EXPECT_EQ("server version: T240215-1841\n", server.out());
    EXPECT_EQ("clock control disabled.\n", server.err());
}

TEST_F(CommandLine, HelpPrintsTheUsageAndExitsWithStatus0) {
    for (const char* option : {"-h", "--help"}) {
        test::ServerBinary server({option});
        EXPECT_EQ(0, server.wait_exit()) << option << "\n" << server.output();
        EXPECT_EQ(kUsage, server.out()) << option;
    }
}

}  // namespace
