// The running server executable: start-up, signals, status dump and stop.

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "runtime/fd.h"
#include "tests/e2e/server_binary.h"
#include "tests/support/deadline.h"
#include "tests/support/test_logger.h"

namespace {

using test::kStarting;
using test::RunningServer;

class StoppingSignal : public RunningServer, public ::testing::WithParamInterface<int> {};

TEST_P(StoppingSignal, EndsTheLoopWithStatus0AndRemovesThePidFile) {
    start();
    EXPECT_EQ(std::to_string(server->pid()), board.read_file("/var/run/server.pid"));

    server->signal(GetParam());
    EXPECT_EQ(0, server->wait_exit()) << server->output();
    EXPECT_NE(std::string::npos, server->err().find("Mux: terminating...\n")) << server->err();
    EXPECT_FALSE(board.exists("/var/run/server.pid"));
}

INSTANTIATE_TEST_SUITE_P(Server, StoppingSignal, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "SIGTERM" : "SIGINT");
                         });

TEST_F(RunningServer, UsesPort20001WithoutThePortOption) {
    server.reset(new test::ServerBinary({}));
    EXPECT_TRUE(server->wait_for_output(std::string(kStarting) + "20001\n")) << server->output();
    stop();
}

TEST_F(RunningServer, WritesTheStatusDumpAfresh_OnEverySigusr2) {
    start();
    test::FileWatch logs(board.dir() + "/var/log");
    for (int round = 0; round < 2; ++round) {
        server->signal(SIGUSR2);
        ASSERT_TRUE(logs.wait_written("server-status")) << server->output();
        std::string dump = board.read_file("/var/log/server-status");
        EXPECT_EQ(0u, dump.find("server status\nversion : T240215-1841\n"
                                "dpc transition measurement (min/max/cur/counter): "))
            << dump;
        EXPECT_EQ(dump.find("version : "), dump.rfind("version : ")) << dump;
        // The first dump may be written before the first pass attached the
        // handlers; the second comes from a loop that has run.
        if (round == 1) {
            EXPECT_NE(std::string::npos, dump.find("ChildWaitService::OnChildEvent")) << dump;
        }
    }
    stop();
}

TEST_F(RunningServer, ReportsADumpFileThatCannotBeWritten) {
    ::rmdir((board.dir() + "/var/log").c_str());
    start();
    server->signal(SIGUSR2);
    EXPECT_TRUE(server->wait_for_output("dump status error\n")) << server->output();
    stop();
}

TEST_F(RunningServer, UpdatesTheHardwareResourcesOnSighup) {
    start();
    server->signal(SIGHUP);
    EXPECT_TRUE(server->wait_for_output("update hardware resources\n")) << server->output();
    stop();
}

TEST_F(RunningServer, ReadsTheTracesSectionOfItsConfigurationFile) {
    board.write_file("/usr/local/etc/server.conf",
                     "[traces]\n"
                     "signalling.hdlc = yes\n"
                     "monitoring.internal = maybe\n");
    start();
    EXPECT_NE(std::string::npos,
              server->err().find("traces: optional key \"monitoring.internal\" has invalid "
                                 "value=\"maybe\", line 3. Key will be ignored.\n"))
        << server->err();
    stop();
}

// Waits for a process that is not our child to end.
bool wait_gone(pid_t pid, int timeoutMs) {
    Fd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!pidFd) return ::kill(pid, 0) != 0;
    pollfd entry{pidFd.get(), POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) == 1;
}

TEST_F(RunningServer, RunsAsDaemonLoggingToSyslog) {
    test::TestLogger logger(board);
    ASSERT_TRUE(logger.ok());
    const int timeoutMs = test::ServerProcess::default_timeout_ms;
    port = test::free_port();
    test::ServerBinary launcher({"-D", "--port", std::to_string(port)});
    EXPECT_EQ(0, launcher.wait_exit()) << launcher.output();

    ASSERT_TRUE(logger.wait_for("vbx-T240215-1841: " + (kStarting + std::to_string(port)),
                                timeoutMs))
        << logger.received();
    pid_t daemon = std::stoi(board.read_file("/var/run/server.pid"));
    EXPECT_NE(launcher.pid(), daemon);

    ::kill(daemon, SIGTERM);
    // It logs until it ends: the logger is read meanwhile.
    bool gone = false;
    for (test::Deadline deadline(timeoutMs); !gone && !deadline.passed();) {
        logger.collect(10);
        gone = wait_gone(daemon, 10);
    }
    if (!gone) ::kill(daemon, SIGKILL);
    ASSERT_TRUE(gone);
    EXPECT_TRUE(logger.wait_for("Mux: terminating...", timeoutMs)) << logger.received();
    EXPECT_FALSE(board.exists("/var/run/server.pid"));
}

}  // namespace
