#include "runtime/sys_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <ostream>

#include "tests/support/board_root.h"
#include "tests/support/test_logger.h"
#include "tests/support/virtual_loop.h"

namespace {

using Records = std::vector<std::string>;

class SysLog : public ::testing::Test {
protected:
    SysLog() {
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
    }
    ~SysLog() override {
        syslogManager.closelog();
        syslogManager.openlog(nullptr, 0, LOG_USER);
    }

    // "<pri>time ident: text", stamped now.
    static std::string record(int priority, const std::string& text,
                              const std::string& ident = "vbx") {
        return "<" + std::to_string(priority) + ">" + test::TestLogger::time_text() + ident + ": " +
               text;
    }

    test::BoardRoot board_;
    test::VirtualLoop loop_;
    test::TestLogger logger_{board_};
};

TEST_F(SysLog, EveryLineOfOneFlushIsARecordOfOneSend) {
    ASSERT_TRUE(logger_.ok());
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    ManagedSysLogStreamBuf buffer(LOG_DAEMON, LOG_NOTICE);
    std::ostream log(&buffer);
    log << "a\n\nb\n" << std::flush;
    EXPECT_EQ((Records{record(29, "a"), record(29, ""), record(29, "b")}), logger_.next_batch());
    EXPECT_EQ(Records{}, logger_.next_batch());
}

TEST_F(SysLog, SeveritiesAndFacilities) {
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    ManagedSysLogStreamBuf err(LOG_DAEMON, LOG_ERR), debug(LOG_DAEMON, LOG_DEBUG);
    std::ostream(&err) << "e" << std::endl;
    std::ostream(&debug) << "d" << std::endl;
    EXPECT_EQ(Records{record(27, "e")}, logger_.next_batch());
    EXPECT_EQ(Records{record(31, "d")}, logger_.next_batch());

    syslogManager.syslog(LOG_INFO, "user %d", 1);  // the default facility
    syslogManager.sendmsg();
    EXPECT_EQ(Records{record(14, "user 1")}, logger_.next_batch());
    syslogManager.openlog(nullptr, LOG_NDELAY | LOG_PID, LOG_LOCAL0);
    syslogManager.syslog(LOG_INFO, "local");
    syslogManager.sendmsg();
    std::string pid = "[" + std::to_string(::getpid()) + "]";
    EXPECT_EQ(Records{"<134>" + test::TestLogger::time_text() + "vbx" + pid + ": local"},
              logger_.next_batch());
}

TEST_F(SysLog, TimeComesFromTheLoopClock) {
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    loop_.clock().set_us(1708022460ull * 1000000);  // 2024-02-15 18:41:00 UTC
    syslogManager.syslog(LOG_DAEMON | LOG_NOTICE, "x");
    syslogManager.sendmsg();
    EXPECT_EQ(Records{"<29>Feb 15 18:41:00 vbx: x"}, logger_.next_batch());
    loop_.clock().step_date(-30 * 60 * 1000);  // the date alone set back
    syslogManager.syslog(LOG_DAEMON | LOG_NOTICE, "y");
    syslogManager.sendmsg();
    EXPECT_EQ(Records{"<29>Feb 15 18:11:00 vbx: y"}, logger_.next_batch());
}

TEST_F(SysLog, TextWithoutLineEndWaitsForIt) {
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    ManagedSysLogStreamBuf buffer(LOG_DAEMON, LOG_NOTICE);
    std::ostream log(&buffer);
    log << "100%d " << std::flush;
    EXPECT_EQ(Records{}, logger_.next_batch());
    log << "done\nrest" << std::flush;  // text after the last line end goes too
    EXPECT_EQ((Records{record(29, "100%d done"), record(29, "rest")}), logger_.next_batch());
}

TEST_F(SysLog, FullBufferIsOneRecordCutTo1022Characters) {
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    ManagedSysLogStreamBuf buffer(LOG_DAEMON, LOG_NOTICE);
    std::ostream log(&buffer);
    log << std::string(16383, 'x') << std::flush;
    Records records = logger_.next_batch();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(1022u, records[0].size());
    EXPECT_EQ(record(29, std::string(1022 - record(29, "").size(), 'x')), records[0]);

    syslogManager.syslog(LOG_NOTICE, "%s", std::string(5000, 'y').c_str());
    syslogManager.sendmsg();
    records = logger_.next_batch();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(1022u, records[0].size());
}

TEST_F(SysLog, BatchGoesAtOnceWhenFull) {
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    for (int i = 0; i < 300; ++i) syslogManager.syslog(LOG_NOTICE, "r%d", i);
    Records first = logger_.next_batch();
    ASSERT_EQ(256u, first.size());
    EXPECT_EQ(record(13, "r255"), first.back());
    EXPECT_EQ(Records{}, logger_.next_batch());
    syslogManager.sendmsg();
    EXPECT_EQ(44u, logger_.next_batch().size());

    // Records of the greatest size, 1023 bytes: the thirteenth passes 12289.
    std::string text(2000, 'z');
    for (int i = 0; i < 12; ++i) syslogManager.syslog(LOG_NOTICE, "%s", text.c_str());
    EXPECT_EQ(Records{}, logger_.next_batch());
    syslogManager.syslog(LOG_NOTICE, "%s", text.c_str());
    EXPECT_EQ(13u, logger_.next_batch().size());
}

TEST_F(SysLog, StreamLoggerIsReachedThroughAStreamSocket) {
    test::TestLogger streamLogger(board_, SOCK_STREAM);
    ASSERT_TRUE(streamLogger.ok());
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    EXPECT_EQ(SOCK_STREAM, syslogManager.socket_type());
    ManagedSysLogStreamBuf buffer(LOG_DAEMON, LOG_NOTICE);
    std::ostream log(&buffer);
    log << "one\ntwo\n" << std::flush;
    log << "three" << std::endl;
    EXPECT_EQ((Records{record(29, "one"), record(29, "two"), record(29, "three")}),
              streamLogger.stream_records());
}

// A stream logger that stops reading is not waited for, and gets no record
// cut: what it took in part is finished before anything more goes to it.
TEST_F(SysLog, AStreamLoggerThatStopsReadingGetsWholeRecordsAndTheCountOfTheOthers) {
    test::TestLogger streamLogger(board_, SOCK_STREAM);
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    const int small = 4096;  // a batch of ten records then travels in pieces
    ::setsockopt(syslogManager.socket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ManagedSysLogStreamBuf buffer(LOG_DAEMON, LOG_NOTICE);
    std::ostream log(&buffer);
    const std::string line(900, 'x');
    for (int i = 1; i <= 1000; ++i) {
        log << line << '\n';
        if (i % 10 == 0) log << std::flush;
    }
    const std::string before = streamLogger.stream_bytes();
    log << "again" << std::endl;
    const Records records = test::TestLogger::split(before + streamLogger.stream_bytes());

    ASSERT_LT(records.size(), 1000u);
    const size_t taken = records.size() - 2;
    EXPECT_EQ(Records(taken, record(29, line)), Records(records.begin(), records.begin() + taken));
    EXPECT_EQ(record(29, "again"), records[taken]);
    EXPECT_EQ(record(28, "syslog: " + std::to_string(1000 - taken) +
                             " records dropped, the logger did not take them"),
              records.back());
    EXPECT_FALSE(::fcntl(syslogManager.socket(), F_GETFL) & O_NONBLOCK)
        << "programs that write to it as descriptors 1 and 2 expect it to block";
}

// The loop clock while the client waits for room in the logger's queue: a
// slow logger reads one record each 100 ms of the wait, or a signal comes
// after 100 ms (the first 49 only, so that a client that started its wait
// again at each would still end it).
class LoggerWaitClock : public test::ManualClock {
public:
    LoggerWaitClock(test::TestLogger& logger, bool signals)
        : logger_(logger), signals_(signals), loop_(Mux::clock()) {
        Mux::set_clock(this);
    }
    ~LoggerWaitClock() override { Mux::set_clock(&loop_); }

    int poll(pollfd* fds, nfds_t count, int timeoutMs) override {
        for (int left = timeoutMs; left >= 100; left -= 100) {
            advance(100);
            if (signals_ && ++signals < 50) {
                errno = EINTR;
                return -1;
            }
            read += test::TestLogger::split(logger_.next_datagram()).size();
            if (ManualClock::poll(fds, count, 0) > 0) return 1;
        }
        advance(timeoutMs % 100);
        return 0;
    }

    unsigned signals = 0;
    size_t read = 0;  // records the logger read during the waits

private:
    test::TestLogger& logger_;
    bool signals_;
    Mux::Clock& loop_;
};

// Sends `count` records, one flush each; the time the client waited.
uint64_t flood(LoggerWaitClock& clock, int count) {
    const uint64_t start = clock.now_us();
    for (int i = 0; i < count; ++i) {
        syslogManager.syslog(LOG_NOTICE, "r%d", i);
        syslogManager.sendmsg();
    }
    return (clock.now_us() - start) / 1000;
}

class SysLogWait : public SysLog, public ::testing::WithParamInterface<bool> {};

// A logger whose queue is full, slow (a record each 100 ms) or not reading
// while signals come every 100 ms, holds the client half a second in all in
// each period, not at each flush; the rest is counted and said.
TEST_P(SysLogWait, TakesHalfASecondEachPeriodInAllAndCountsWhatItDropped) {
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    const int small = 4096;  // the queue holds a few records
    ::setsockopt(syslogManager.socket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    LoggerWaitClock clock(logger_, GetParam());
    EXPECT_EQ(unsigned(SysLogManager::kRoomWaitMs), flood(clock, 200));

    size_t taken = clock.read;
    for (Records batch; !(batch = logger_.next_batch()).empty();) taken += batch.size();
    syslogManager.syslog(LOG_NOTICE, "again");
    syslogManager.sendmsg();
    EXPECT_EQ(Records{record(13, "again")}, logger_.next_batch());
    EXPECT_EQ(Records{record(28, "syslog: " + std::to_string(200 - taken) +
                                     " records dropped, the logger did not take them")},
              logger_.next_batch());

    clock.advance(SysLogManager::kRoomPeriodMs);
    EXPECT_EQ(unsigned(SysLogManager::kRoomWaitMs), flood(clock, 20));
    EXPECT_EQ(GetParam() ? 10u : 0u, clock.signals);
}

INSTANTIATE_TEST_SUITE_P(SysLog, SysLogWait, ::testing::Values(false, true), [](const auto& info) {
    return std::string(info.param ? "SignalsEvery100ms" : "SlowLogger");
});

// Interrupts a call that blocks every 200 ms, while it lives: a client whose
// connect waits on a logger that accepts nothing then fails a test instead
// of holding it for ever.
class BlockingCallsInterrupted {
public:
    BlockingCallsInterrupted() {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        ::sigaction(SIGALRM, &action, &previous_);
        const itimerval every{{0, 200000}, {0, 200000}};
        ::setitimer(ITIMER_REAL, &every, nullptr);
    }
    ~BlockingCallsInterrupted() {
        const itimerval off{};
        ::setitimer(ITIMER_REAL, &off, nullptr);
        ::sigaction(SIGALRM, &previous_, nullptr);
    }

private:
    struct sigaction previous_ {};
};

// A stream logger whose accept queue is full (restarted and not accepting
// yet, or hung while other programs' connections fill its backlog) holds
// the client no longer than a full queue does: its connects wait half a
// second in all in each period, and the lines meanwhile are counted.
TEST_F(SysLog, AStreamLoggerThatAcceptsNothingTakesHalfASecondEachPeriodInAll) {
    test::TestLogger full(board_, SOCK_STREAM, 0);
    // What the logger has once it accepts again and a line comes, and what
    // it should have.
    const auto accepted = [&] {
        full.accept_again();
        syslogManager.syslog(LOG_NOTICE, "again");
        syslogManager.sendmsg();
        return full.stream_records();
    };
    const auto again_after_20_dropped = [&] {
        return Records{record(13, "again"),
                       record(28, "syslog: 20 records dropped, the logger did not take them")};
    };
    full.accept_nothing();
    LoggerWaitClock clock(logger_, false);
    BlockingCallsInterrupted interrupted;
    const uint64_t start = clock.now_us();
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    EXPECT_FALSE(syslogManager.connected());
    EXPECT_EQ(unsigned(SysLogManager::kRoomWaitMs),
              (clock.now_us() - start) / 1000 + flood(clock, 20))
        << "the start's connect and the lines' share the wait";
    EXPECT_EQ(again_after_20_dropped(), accepted());
    EXPECT_FALSE(::fcntl(syslogManager.socket(), F_GETFL) & O_NONBLOCK)
        << "programs that write to it as descriptors 1 and 2 expect it to block";

    // The next period, the logger restarts and accepts nothing again.
    clock.advance(SysLogManager::kRoomPeriodMs);
    full.restart(0);
    full.accept_nothing();
    EXPECT_EQ(unsigned(SysLogManager::kRoomWaitMs), flood(clock, 20));
    EXPECT_EQ(again_after_20_dropped(), accepted());
}

TEST_F(SysLog, RestartedLoggerGetsTheNextFlush) {
    auto first = std::make_unique<test::TestLogger>(board_);
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    ManagedSysLogStreamBuf buffer(LOG_DAEMON, LOG_NOTICE);
    std::ostream log(&buffer);
    log << "before" << std::endl;
    EXPECT_EQ(Records{record(29, "before")}, first->next_batch());

    first.reset();
    test::TestLogger restarted(board_);  // a new socket at the same path
    log << "after" << std::endl;
    EXPECT_EQ(Records{record(29, "after")}, restarted.next_batch());
}

// Each line reaches the logger or is counted in the next note, also those
// logged while it has gone and no socket is there to refuse them.
TEST_F(SysLog, ALoggerThatComesAndGoesHasEveryLineOrItsCount) {
    ::unlink((board_.dir() + "/dev/log").c_str());  // none until the first comes
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    ManagedSysLogStreamBuf buffer(LOG_DAEMON, LOG_NOTICE);
    std::ostream log(&buffer);
    std::unique_ptr<test::TestLogger> logger;
    const std::string line = record(29, "line"), note = "syslog: ";
    unsigned reached = 0, counted = 0;
    const auto read = [&] {
        for (Records batch; !(batch = logger->next_batch()).empty();)
            for (const std::string& r : batch) {
                if (r == line) ++reached;
                const size_t at = r.find(note);
                if (at != std::string::npos)
                    counted += unsigned(std::stoul(r.substr(at + note.size())));
            }
    };
    for (int i = 0; i < 601; ++i) {
        if (i % 30 == 10) logger = std::make_unique<test::TestLogger>(board_);
        if (i % 30 == 25) logger.reset();
        log << "line" << std::endl;
        if (logger) read();
    }
    logger = std::make_unique<test::TestLogger>(board_);
    log << "line" << std::endl;
    read();
    EXPECT_EQ(602u, reached + counted) << reached << " reached it";
    EXPECT_LT(reached, 602u);
}

TEST_F(SysLog, WithoutLoggerRecordsGoToTheConsoleWhenAsked) {
    board_.write_file("/dev/console", "");
    ::unlink((board_.dir() + "/dev/log").c_str());
    syslogManager.openlog("vbx", LOG_NDELAY | LOG_CONS, 0);
    EXPECT_FALSE(syslogManager.connected());
    syslogManager.syslog(LOG_NOTICE, "lost");
    EXPECT_EQ("vbx: lost\r\n", board_.read_file("/dev/console"));

    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    syslogManager.syslog(LOG_NOTICE, "dropped");
    EXPECT_EQ("vbx: lost\r\n", board_.read_file("/dev/console"));
}

TEST_F(SysLog, PerrorCopiesTheMessageToStandardError) {
    int pipeEnds[2];
    ASSERT_EQ(0, ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK));
    Fd readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
    Fd savedStderr(::dup(STDERR_FILENO));
    ::dup2(writeEnd.get(), STDERR_FILENO);
    syslogManager.openlog("vbx", LOG_NDELAY | LOG_PERROR, 0);
    syslogManager.syslog(LOG_NOTICE, "to both");
    syslogManager.syslog(LOG_NOTICE, "ends\n");
    ::dup2(savedStderr.get(), STDERR_FILENO);
    char text[64] = {};
    ASSERT_GT(::read(readEnd.get(), text, sizeof text - 1), 0);
    EXPECT_STREQ("vbx: to both\nvbx: ends\n", text);
}

TEST_F(SysLog, CloseLogRestoresTheDefaults) {
    syslogManager.openlog("vbx", LOG_NDELAY, 0);
    syslogManager.syslog(LOG_NOTICE, "pending");
    syslogManager.closelog();
    EXPECT_FALSE(syslogManager.connected());
    EXPECT_EQ("syslog-ox", syslogManager.ident());
    EXPECT_EQ(0, syslogManager.sendmsg());
    EXPECT_EQ(Records{}, logger_.next_batch());
}

}  // namespace
