#include "runtime/process.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/board_root.h"

namespace {

void fake_process(const test::BoardRoot& root, int pid, const std::string& comm) {
    root.write_file("/proc/" + std::to_string(pid) + "/stat",
                    std::to_string(pid) + " (" + comm + ") S 1 1 1 0 -1");
}

TEST(FindProcByName, ScansProcForTheCommandName) {
    test::BoardRoot root;
    fake_process(root, 12, "init");
    fake_process(root, 345, "snmpd");
    root.write_file("/proc/self/stat", "1 (snmpd) S");
    EXPECT_EQ(345, find_proc_by_name("snmpd", 0));
    EXPECT_EQ(-1, find_proc_by_name("snmp", 0)) << "names compare exactly";
    EXPECT_EQ(-1, find_proc_by_name("missing", 0));
}

TEST(FindProcByName, MatchingHintIsReturnedAndNameSpansToTheLastParen) {
    test::BoardRoot root;
    fake_process(root, 77, "a (b)");
    EXPECT_EQ(77, find_proc_by_name("a (b)", 77));
    EXPECT_EQ(77, find_proc_by_name("a (b)", 5)) << "a wrong hint falls back to the scan";
}

TEST(FindProcByName, MissingProcGivesMinusOne) {
    test::BoardRoot root;
    ::rmdir((root.dir() + "/proc").c_str());
    EXPECT_EQ(-1, find_proc_by_name("x", 0));
}

TEST(PidFile, WrittenWhileAliveAndRemovedAfter) {
    test::BoardRoot root;
    {
        Linux::Run run("server");
        EXPECT_TRUE(run.written());
        EXPECT_EQ(std::to_string(::getpid()), root.read_file("/var/run/server.pid"));
    }
    EXPECT_FALSE(root.exists("/var/run/server.pid"));
}

TEST(PidFile, UnwritableDirectoryLeavesNoFileAndUnlinksNothing) {
    test::BoardRoot root;
    ::rmdir((root.dir() + "/var/run").c_str());
    root.write_file("/var/run", "a file where the folder should be");
    {
        Linux::Run run("server");
        EXPECT_FALSE(run.written());
    }
    EXPECT_TRUE(root.exists("/var/run"));
}

TEST(Timestamp, DayMonthAndTime) {
    std::ostringstream os;
    timestamp(os);
    EXPECT_EQ(14u, os.str().size());
    EXPECT_EQ('/', os.str()[2]);
}

}  // namespace
