#include "runtime/daemon.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <ostream>

#include "runtime/child_output.h"
#include "runtime/sys_log.h"
#include "tests/support/board_root.h"
#include "tests/support/test_logger.h"
#include "tests/support/virtual_loop.h"

namespace {

using Records = std::vector<std::string>;

// 2024-02-15 14:05:07.000123 UTC.
const uint64_t kFeb15At14h05 = 1708005907ull * 1000000 + 123;

class LogTime : public ::testing::Test {
protected:
    LogTime() {
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
        loop_.clock().set_us(kFeb15At14h05);
    }

    test::BoardRoot board_;
    test::VirtualLoop loop_;
};

// --- Hourly log files

class LogFiles : public LogTime {
protected:
    std::string dir() const { return board_.dir() + "/var/log"; }
    std::string file(const std::string& stamp) const {
        return board_.read_file("/var/log/" + stamp + ".log");
    }
};

TEST_F(LogFiles, LineGoesToTheHoursFileWithMinuteSecondAndMicroseconds) {
    auto buffer = std::make_unique<LogFileStreamBuf>(dir());
    EXPECT_EQ(dir() + "/2024_02_15-14.log", buffer->file_name());
    std::ostream(buffer.get()) << "abc" << std::endl;
    buffer.reset();  // closing writes the file out
    EXPECT_EQ("05:07:00123: abc\n", file("2024_02_15-14"));
}

TEST_F(LogFiles, LongLineHasOnePrefixAndAFlushSharesOne) {
    auto buffer = std::make_unique<LogFileStreamBuf>(dir());
    std::ostream log(buffer.get());
    log << "a line longer than sixteen characters" << std::endl;
    log << "x\ny\n" << std::flush;
    loop_.clock().advance(1500);
    log << "start " << std::flush;
    loop_.clock().advance(1000);
    log << "and end\n" << std::flush;
    buffer.reset();
    EXPECT_EQ(
        "05:07:00123: a line longer than sixteen characters\n"
        "05:07:00123: x\n"
        "05:07:00123: y\n"
        "05:08:500123: start and end\n",
        file("2024_02_15-14"));
}

TEST_F(LogFiles, NewHourOrNewDayOpensANewFile) {
    auto buffer = std::make_unique<LogFileStreamBuf>(dir());
    std::ostream log(buffer.get());
    log << "14h" << std::endl;
    loop_.clock().advance(60 * 60 * 1000);
    log << "15h" << std::endl;
    loop_.clock().advance(24 * 60 * 60 * 1000);  // the same hour a day later
    log << "next day" << std::endl;
    loop_.clock().step_date(-30 * 60 * 1000);  // the date set back, then forward
    log << "set back" << std::endl;
    loop_.clock().step_date(60 * 60 * 1000);
    log << "set forward" << std::endl;
    buffer.reset();
    EXPECT_EQ("05:07:00123: 14h\n", file("2024_02_15-14"));
    EXPECT_EQ("05:07:00123: 15h\n", file("2024_02_15-15"));
    EXPECT_EQ("35:07:00123: set back\n", file("2024_02_16-14"));
    EXPECT_EQ("05:07:00123: next day\n35:07:00123: set forward\n", file("2024_02_16-15"));
}

TEST_F(LogFiles, RestartInTheSameHourAppends) {
    board_.write_file("/var/log/2024_02_15-14.log", "written before a crash\n");
    auto buffer = std::make_unique<LogFileStreamBuf>(dir());
    std::ostream(buffer.get()) << "restarted" << std::endl;
    buffer.reset();
    EXPECT_EQ("written before a crash\n05:07:00123: restarted\n", file("2024_02_15-14"));
}

// --- Daemon start-up, in a forked child (daemon() detaches it once more)

class DaemonStart : public LogTime {
protected:
    // Runs `body` in a detached daemon; returns once it has ended.
    template <class Body>
    void run_daemon(const Daemon::Params& params, Body body) {
        int pipeEnds[2];
        ASSERT_EQ(0, ::pipe2(pipeEnds, O_CLOEXEC));
        Fd done(pipeEnds[0]);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Daemon::Init(params);
            Daemon::Init(params);  // once per process
            body();
            std::exit(0);  // runs the exit handlers: the sentry goes
        }
        ::close(pipeEnds[1]);
        int status = -1;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        // The daemon's end of the pipe closes when it exits (bounded wait).
        pollfd p{done.get(), POLLIN, 0};
        ASSERT_EQ(1, ::poll(&p, 1, 10000));
    }
};

TEST_F(DaemonStart, StandardStreamsGoToSyslog) {
    test::TestLogger logger(board_);
    Daemon::Params params;
    params.name = std::string(79, 'n') + "cut";
    run_daemon(params, [] {
        std::cout << "out" << std::endl;
        std::cerr << "e1\ne2\n";
        std::clog << "debug" << std::endl;
        ssize_t n = ::write(STDERR_FILENO, "raw", 3);
        (void)n;
    });
    std::string ident(79, 'n');
    std::string time = test::TestLogger::time_text();
    EXPECT_EQ(Records{"<29>" + time + ident + ": out"}, logger.next_batch());
    EXPECT_EQ((Records{"<27>" + time + ident + ": e1", "<27>" + time + ident + ": e2"}),
              logger.next_batch());
    EXPECT_EQ(Records{"<31>" + time + ident + ": debug"}, logger.next_batch());
    EXPECT_EQ("raw", logger.next_datagram());
}

// Descriptors 1 and 2 follow the client's connection: to a logger that
// started after the server, and to the same logger restarted.
TEST_F(DaemonStart, DirectWritesReachTheLoggerOfTheMoment) {
    const std::string report = board_.dir() + "/report";
    run_daemon(Daemon::Params(), [&] {
        std::string reached;
        {
            test::TestLogger late(board_);
            std::cout << "one" << std::endl;
            ssize_t n = ::write(STDOUT_FILENO, "raw1", 4);
            (void)n;
            late.next_batch();
            reached += late.next_datagram(1000) + ", ";
        }
        test::TestLogger restarted(board_);
        std::cout << "two" << std::endl;
        ssize_t n = ::write(STDERR_FILENO, "raw2", 4);
        (void)n;
        restarted.next_batch();
        reached += restarted.next_datagram(1000);
        std::ofstream(report) << reached;
    });
    EXPECT_EQ("raw1, raw2", board_.read_file("/report"));
}

// The programs the server starts write to pipes of its own, not to its
// logger connection: each line becomes a record, written whole or in
// pieces; a line longer than a record is cut, an empty one is no record, a
// zero byte does not end the text, the lines begun by two programs stay
// apart, and a program's last line goes without its end. A program's lines
// past the second's budget wait in its pipe for the next second.
TEST_F(DaemonStart, WhatTheProgramsWriteReachesTheLoggerLineByLine) {
    test::TestLogger logger(board_);
    const std::string longLine(ChildOutput::kMaxLine + 1, 'x');
    std::string overBudget;
    for (unsigned n = 0; n <= ChildOutput::kLinesPerSecond; ++n) overBudget += "line\n";
    const Records budget(ChildOutput::kLinesPerSecond, "line");
    struct Step {
        unsigned program;      // whose pipe
        std::string written;   // then the loop's pass, or a second later
        Records records;
        bool ends = false;     // its end is closed after the write
        unsigned advanceMs = 0;
    } steps[] = {
        {0, "one\ntw", {"one"}},
        {0, "o\n\n", {"two"}},
        {0, longLine + "\n", {longLine.substr(1), "x"}},
        {0, std::string("before\0after\nnext\n", 18), {"before\\0after", "next"}},
        {0, "partial-0", {}},
        {1, "partial-1", {}},
        {0, " end-0\n", {"partial-0 end-0"}},
        {1, " end-1\nlast", {"partial-1 end-1"}},
        {1, "", {"last"}, true},
        {2, overBudget, budget},
        {2, "", {"line"}, false, 1000},
    };
    run_daemon(Daemon::Params(), [&] {
        Fd pipes[] = {ChildOutput::instance().NewPipe(), ChildOutput::instance().NewPipe(),
                      ChildOutput::instance().NewPipe()};
        for (const Step& step : steps) {
            ssize_t n = ::write(pipes[step.program].get(), step.written.data(), step.written.size());
            (void)n;
            if (step.ends) pipes[step.program].close();
            loop_.advance(step.advanceMs);
        }
    });
    for (const Step& step : steps) {
        if (step.records.empty()) continue;  // nothing is sent
        Records texts;
        for (const std::string& record : logger.next_batch())
            texts.push_back(record.substr(record.find("unknown: ") + 9));
        EXPECT_EQ(step.records, texts) << step.written.substr(0, 20);
    }
}

TEST_F(DaemonStart, StandardStreamsGoToHourlyFiles) {
    Daemon::Params params;
    params.mode = Daemon::toLogFiles;
    params.keepDirectory = true;
    params.name = board_.dir() + "/var/log";
    run_daemon(params, [] {
        std::cout << "out" << std::endl;
        std::cerr << "err" << std::endl;
    });
    EXPECT_EQ("05:07:00123: out\n05:07:00123: err\n",
              board_.read_file("/var/log/2024_02_15-14.log"));
}

}  // namespace
