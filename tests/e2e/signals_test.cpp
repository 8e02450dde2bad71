// The running server executable: start-up, signals, status dump and stop.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>

#include "runtime/fd.h"
#include "runtime/sys_log.h"
#include "tests/e2e/server_binary.h"
#include "tests/monitoring/monitoring_values.h"
#include "tests/support/controller_inputs.h"
#include "tests/support/deadline.h"
#include "tests/support/remote_controller.h"
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

// The server as a daemon that logs to `logger`.
class Daemon : public RunningServer {
protected:
    explicit Daemon(int loggerType = SOCK_DGRAM) : logger{board, loggerType} {}
    // A daemon that a failed test left running is stopped: found by its
    // board, as it may not have written its pid file yet.
    ~Daemon() override {
        const std::string ours = "BOARD_ROOT=" + board.dir() + '\0';
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::ifstream environment(entry.path() / "environ");
            const std::string variables{std::istreambuf_iterator<char>(environment), {}};
            const pid_t pid = std::stoi(name);
            if (pid != ::getpid() && variables.find(ours) != std::string::npos)
                ::kill(pid, SIGKILL);
        }
    }

    // Starts it and waits for its start-up line; its process id, or 0.
    pid_t start_daemon(test::ServerProcess::Input input = test::ServerProcess::Input::inherited) {
        port = test::free_port();
        test::ServerBinary launcher({"-D", "--port", std::to_string(port)}, input);
        EXPECT_EQ(0, launcher.wait_exit()) << launcher.output();
        if (!logger.wait_for("vbx-T240215-1841: " + (kStarting + std::to_string(port)), kTimeoutMs))
            return 0;
        const pid_t daemon = std::stoi(board.read_file("/var/run/server.pid"));
        EXPECT_NE(launcher.pid(), daemon);
        return daemon;
    }

    // Stops it as SIGTERM does; true once it is gone. It logs until it
    // ends: the logger is read meanwhile.
    bool stop_daemon(pid_t daemon) {
        ::kill(daemon, SIGTERM);
        bool gone = false;
        for (test::Deadline deadline(kTimeoutMs); !gone && !deadline.passed();) {
            logger.collect(10);
            gone = wait_gone(daemon, 10);
        }
        if (!gone) ::kill(daemon, SIGKILL);
        return gone;
    }

    // The lines that hold `text` among those the logger received after its
    // first `from` bytes.
    unsigned received_lines(const std::string& text, size_t from) const {
        unsigned lines = 0;
        for (size_t at = logger.received().find(text, from); at != std::string::npos;
             at = logger.received().find(text, at + 1))
            ++lines;
        return lines;
    }
    // The count the first note after the logger's first `from` bytes says,
    // waiting for it as long as a start; -1 when none came.
    long said_dropped(size_t from) {
        const std::string said = "syslog: ",
                          note = " records dropped, the logger did not take them";
        for (test::Deadline deadline(kTimeoutMs);
             logger.received().find(note, from) == std::string::npos && !deadline.passed();)
            logger.collect(deadline.remaining_ms());
        const size_t at = logger.received().find(said, from);
        if (at == std::string::npos || logger.received().find(note, at) == std::string::npos)
            return -1;
        return std::stol(logger.received().substr(at + said.size()));
    }

    static constexpr int kTimeoutMs = test::ServerProcess::default_timeout_ms;
    test::TestLogger logger;
};

TEST_F(Daemon, RunsLoggingToSyslog) {
    ASSERT_TRUE(logger.ok());
    const pid_t daemon = start_daemon();
    ASSERT_NE(0, daemon) << logger.received();
    ASSERT_TRUE(stop_daemon(daemon));
    EXPECT_TRUE(logger.wait_for("Mux: terminating...", kTimeoutMs)) << logger.received();
    EXPECT_FALSE(board.exists("/var/run/server.pid"));
}

// A logger that reads nothing is not waited for: the server answers every
// command while it logs a line for each, and once the logger reads again it
// says how many lines it dropped: each line is taken or counted.
TEST_F(Daemon, AnswersWhileTheLoggerReadsNothingAndThenSaysWhatItDropped) {
    ASSERT_TRUE(logger.ok());
    const pid_t daemon = start_daemon();
    ASSERT_NE(0, daemon) << logger.received();
    test::RemoteController controller;
    ASSERT_TRUE(controller.connect(port));
    LGCP::Command refused;  // answered invalidParams with a line
    refused.select_display().set_snmp_set(
        test::set_commands({test::set_by_name(1, ".monitoring.new", "mode", 0, "on")}));
    const std::string line = "display refused: a set-command named as the status files'";
    // The logger takes what the start left until a line of ours comes whole.
    int seq = 1000;
    do controller.send(refused, seq++);
    while (!logger.wait_for(line, 1000) && seq < 1010);
    controller.send(test::ping(), 0);
    EXPECT_TRUE(
        controller.receive_until([](const LGCP::Message& m) { return test::seq_of(m) == 0; }));
    for (int queued = 0; queued < 20; ++queued) logger.collect(0);
    const size_t before = logger.received().size();

    for (seq = 1; seq <= 200; ++seq) controller.send(refused, seq);
    controller.send(test::ping(), 201);
    EXPECT_TRUE(
        controller.receive_until([](const LGCP::Message& m) { return test::seq_of(m) == 201; }));
    for (int queued = 0; queued < 20; ++queued) logger.collect(0);
    controller.send(refused, 202);
    const std::string note = " records dropped, the logger did not take them";
    for (test::Deadline deadline(kTimeoutMs);
         logger.received().find(note, before) == std::string::npos && !deadline.passed();)
        logger.collect(deadline.remaining_ms());
    // Each of the 201 lines since was either taken or counted.
    const std::string since = logger.received().substr(before);
    unsigned taken = 0;
    for (size_t at = since.find(line); at != std::string::npos; at = since.find(line, at + 1))
        ++taken;
    const size_t said = since.find("syslog: ");
    ASSERT_NE(std::string::npos, said) << since;
    EXPECT_EQ("syslog: " + std::to_string(201 - taken) + note,
              since.substr(said, since.find('\0', said) - said));
    EXPECT_TRUE(stop_daemon(daemon));
}

// The board's logger listens on a stream socket.
class StreamLoggerDaemon : public Daemon {
protected:
    StreamLoggerDaemon() : Daemon(SOCK_STREAM) {}

    // Answered invalidParams with a line.
    static LGCP::Command refused() {
        LGCP::Command command;
        command.select_display().set_snmp_set(
            test::set_commands({test::set_by_name(1, ".monitoring.new", "mode", 0, "on")}));
        return command;
    }
    static constexpr const char* kRefusedLine =
        "display refused: a set-command named as the status files'";
};

// A logger restarted that accepts nothing, its accept queue full, is not
// waited for longer than every wait on the logger is bounded in all: a ping
// is answered meanwhile, and once it accepts, the next note counts every
// line it did not take.
TEST_F(StreamLoggerDaemon, AnswersWhileARestartedLoggerAcceptsNothingAndThenSaysWhatItDropped) {
    ASSERT_TRUE(logger.ok());
    const pid_t daemon = start_daemon();
    ASSERT_NE(0, daemon) << logger.received();
    test::RemoteController controller;
    ASSERT_TRUE(controller.connect(port));
    controller.send(refused(), 1000);
    ASSERT_TRUE(logger.wait_for(kRefusedLine, kTimeoutMs)) << logger.received();

    logger.restart(0);
    logger.accept_nothing();
    const auto sent = std::chrono::steady_clock::now();
    for (int seq = 1; seq <= 20; ++seq) controller.send(refused(), seq);
    controller.send(test::ping(), 21);
    EXPECT_TRUE(
        controller.receive_until([](const LGCP::Message& m) { return test::seq_of(m) == 21; }));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - sent);
    EXPECT_LT(waited.count(), 4 * SysLogManager::kRoomWaitMs)
        << "the wait on the logger is bounded: " << SysLogManager::kRoomWaitMs << " ms";

    const size_t before = logger.received().size();
    logger.accept_again();
    controller.send(refused(), 22);
    EXPECT_EQ(20, said_dropped(before)) << logger.received().substr(before);
    EXPECT_EQ(1u, received_lines(kRefusedLine, before));
    EXPECT_TRUE(stop_daemon(daemon));
}

// A daemon that starts while its logger accepts nothing opens its port, and
// once the logger accepts, the next note counts the lines of the start.
TEST_F(StreamLoggerDaemon, StartsWhileTheLoggerAcceptsNothingAndThenSaysWhatItDropped) {
    logger.restart(0);
    logger.accept_nothing();
    ASSERT_TRUE(logger.ok());
    port = test::free_port();
    test::ServerBinary launcher({"-D", "--port", std::to_string(port)});
    EXPECT_EQ(0, launcher.wait_exit()) << launcher.output();
    test::RemoteController controller;
    ASSERT_TRUE(controller.connect(port));
    controller.send(test::ping(), 1);
    EXPECT_TRUE(
        controller.receive_until([](const LGCP::Message& m) { return test::seq_of(m) == 1; }));
    const pid_t daemon = std::stoi(board.read_file("/var/run/server.pid"));

    logger.accept_again();
    controller.send(refused(), 2);
    const long dropped = said_dropped(0);
    EXPECT_GT(dropped, 0) << logger.received();
    EXPECT_EQ(std::string::npos, logger.received().find(kStarting)) << "dropped and counted";
    EXPECT_EQ(1u, received_lines(kRefusedLine, 0));
    EXPECT_TRUE(stop_daemon(daemon));
}

// The programs the server starts outlive the logger's restarts, and what
// they write after one reaches the logger: a fax call's T.38 relay and the
// program's count, each writing to its standard error once the logger has
// restarted. The relay runs until the destroy ends it (SIGTERM). Neither
// holds a descriptor of the server's beyond its standard three (the shell
// reads its script on one of its own), not even one the server was
// started with.
class LoggerRestart : public Daemon, public ::testing::WithParamInterface<int> {
protected:
    LoggerRestart() : Daemon(GetParam()) {}

    // What the stand-in recorded in `boardPath`, reading the logger
    // meanwhile; empty when nothing came.
    std::string recorded(const std::string& boardPath) {
        std::string text;
        for (test::Deadline deadline(kTimeoutMs);
             (text = board.read_file(boardPath)).empty() && !deadline.passed();)
            logger.collect(1);
        return text;
    }
};

TEST_P(LoggerRestart, LeavesTheProgramsRunningAndTheirLinesReachTheLogger) {
    const std::string t38 = "/usr/local/sbin/t38";
    board.write_program(t38,
                        "#!/bin/sh\n"
                        "fds=\n"
                        "for fd in /proc/$$/fd/*; do\n"
                        "  [ ! -e $fd ] || [ $fd -ef \"$0\" ] || fds=\"$fds${fd##*/} \"\n"
                        "done\n"
                        "echo $fds > \"$0.$1.fds\"\n"
                        "echo $$ > \"$0.$1\"\n"
                        "while [ ! -e \"$0.go\" ]; do sleep 0.01; done\n"
                        "echo \"$1 after the restart\" >&2\n"
                        "if [ \"$1\" = --num-of-instances ]; then echo 8; exit 0; fi\n"
                        "exec sleep 60\n");
    ASSERT_TRUE(logger.ok());
    const Fd inherited(::open("/dev/null", O_RDONLY));
    const pid_t daemon = start_daemon();
    ASSERT_NE(0, daemon) << logger.received();
    test::RemoteController controller;
    ASSERT_TRUE(controller.connect(port));
    controller.send(test::forms::t38soft({160, 0, 0}), 1, 3);
    const auto created = controller.receive_until(test::is_response);
    ASSERT_TRUE(created && test::is_success(*created));
    controller.send(test::command(LGCP::Command::Alternative::query), 2);
    const std::string relay = recorded(t38 + ".--child");
    ASSERT_NE("", relay);
    ASSERT_NE("", recorded(t38 + ".--num-of-instances"));
    for (const char* program : {".--child.fds", ".--num-of-instances.fds"})
        EXPECT_EQ("0 1 2\n", board.read_file(t38 + program)) << program;

    logger.restart();
    board.write_file(t38 + ".go", "");
    const auto report = controller.receive_until([](const LGCP::Message& m) {
        const LGCP::Signal* s = m.get_pdu().get_signal();
        return s && s->is_query();
    });
    ASSERT_TRUE(report);
    EXPECT_EQ(8, report->get_pdu().get_signal()->get_query()->get_t38_instances().getValue());
    for (const char* line : {"--child after the restart", "--num-of-instances after the restart"})
        EXPECT_TRUE(logger.wait_for(line, kTimeoutMs)) << line << "\n" << logger.received();
    controller.send(test::command(LGCP::Command::Alternative::destroy), 3, 3);
    const auto destroyed = controller.receive_until(test::is_response);
    EXPECT_TRUE(destroyed && test::is_success(*destroyed));
    const std::string ended = "terminate child process, pid=" + relay.substr(0, relay.find('\n'));
    EXPECT_TRUE(logger.wait_for(ended + " status=15", kTimeoutMs)) << logger.received();
    EXPECT_TRUE(stop_daemon(daemon));
}

INSTANTIATE_TEST_SUITE_P(Loggers, LoggerRestart, ::testing::Values(SOCK_DGRAM, SOCK_STREAM),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SOCK_STREAM ? "Stream" : "Datagram");
                         });

// The processor time a process has used, in clock ticks.
long cpu_ticks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line, field;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    for (int k = 0; k < 11; ++k) fields >> field;  // state and ten numbers before
    long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
}

// Idle, the daemon uses next to no processor time (a loop that spins
// takes a whole processor: about 100 ticks a second), and answers a ping at
// once: started without standard input, its descriptor 0 becomes
// /dev/null, which poll() finds readable on every pass, and nothing of the
// loop may sit there; a T.38 relay that writes without end waits on its
// pipe once the logger has had the second's lines.
TEST_F(Daemon, IdlesWhateverItsDescriptorsOrProgramsDo) {
    struct Case {
        test::ServerProcess::Input input;
        std::string program;  // the relay's script, none when empty
    } cases[] = {{test::ServerProcess::Input::closed, ""},
                 {test::ServerProcess::Input::inherited, "#!/bin/sh\nexec yes\n"}};
    ASSERT_TRUE(logger.ok());
    for (const Case& c : cases) {
        if (!c.program.empty()) board.write_program("/usr/local/sbin/t38", c.program);
        const pid_t daemon = start_daemon(c.input);
        ASSERT_NE(0, daemon) << logger.received();
        test::RemoteController controller;
        ASSERT_TRUE(controller.connect(port));
        if (!c.program.empty()) {
            controller.send(test::forms::t38soft({160, 0, 0}), 1, 3);
            const auto created = controller.receive_until(test::is_response);
            ASSERT_TRUE(created && test::is_success(*created));
            ASSERT_TRUE(logger.wait_for("vbx-T240215-1841: y", kTimeoutMs)) << logger.received();
        }
        const long before = cpu_ticks(daemon);
        for (test::Deadline second(1000); !second.passed();) logger.collect(second.remaining_ms());
        EXPECT_LT(cpu_ticks(daemon) - before, 20) << c.program;
        controller.send(test::ping(), 2);
        EXPECT_TRUE(controller.receive_until(test::is_response, 1000)) << c.program;
        EXPECT_TRUE(stop_daemon(daemon));
    }
}

// Descriptors 0 to 2 are taken before anything else opens, so that no
// socket or device of the server sits under the daemon's /dev/null or the
// log streams.
TEST_F(RunningServer, KeepsDescriptor0ForDevNullWhenStartedWithoutStandardInput) {
    start({}, test::ServerProcess::Input::closed);
    const std::string fd0 = "/proc/" + std::to_string(server->pid()) + "/fd/0";
    EXPECT_EQ("/dev/null", std::filesystem::read_symlink(fd0).string());
    stop();
}

}  // namespace
