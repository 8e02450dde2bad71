#include "runtime/multiplexer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/stream_capture.h"
#include "tests/support/virtual_loop.h"

namespace {

// Both ends of a socket pair; `near` is polled, writing to `far` makes it ready.
struct Wire {
    Wire() {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) == 0) {
            near.reset(sv[0]);
            far.reset(sv[1]);
        }
    }
    void make_ready() { ASSERT_EQ(1, ::write(far.get(), "x", 1)); }
    Fd near;
    Fd far;
};

// An Event that notes every call in a shared log and may run an action.
struct Probe {
    Probe(const std::string& name, std::vector<std::string>& log) : name(name), log(log) {
        event.Bind(name, &Probe::OnEvent, this);
    }
    void OnEvent(int, short revents) {
        log.push_back(name + (revents ? "!" : ""));
        if (action) action();
    }
    void watch() { event.Schedule(wire.near, POLLIN); }

    std::string name;
    std::vector<std::string>& log;
    std::function<void()> action;
    Wire wire;
    Event event;
};

class Loop : public ::testing::Test {
protected:
    Probe& probe(const std::string& name) {
        probes.push_back(std::make_unique<Probe>(name, log));
        probes.back()->watch();
        return *probes.back();
    }

    test::VirtualLoop loop;
    std::vector<std::string> log;
    std::vector<std::unique_ptr<Probe>> probes;
};

TEST_F(Loop, EveryHandlerIsServedInPollOrderOnceAnyDescriptorIsReady) {
    Probe& a = probe("a");
    Probe& b = probe("b");
    probe("c");
    loop.pump();
    EXPECT_TRUE(log.empty()) << "nothing ready, nothing served";

    b.wire.make_ready();
    loop.pump();
    EXPECT_EQ((std::vector<std::string>{"a", "b!", "c"}), log);
    EXPECT_EQ(0u, a.event.count()) << "a silent descriptor's call is not counted";
    EXPECT_EQ(1u, b.event.count());
}

TEST_F(Loop, HandlerThatDetachesItselfIsNotPolledAgainAndNothingIsWritten) {
    Probe& a = probe("a");
    probe("b");
    a.action = [&] { a.event.Release(); };
    a.wire.make_ready();
    test::StreamCapture err(std::cerr);
    loop.pump(2);
    EXPECT_EQ((std::vector<std::string>{"a!", "b"}), log) << "a's byte stays unread";
    EXPECT_FALSE(a.event.attached());
    EXPECT_EQ("", err.str());
}

TEST_F(Loop, HandlerDetachedByAnEarlierCallbackIsNotServedInThatPass) {
    Probe& a = probe("a");
    Probe& b = probe("b");
    Probe& c = probe("c");
    a.action = [&] { b.event.Release(); };
    a.wire.make_ready();
    c.wire.make_ready();
    loop.pump();
    EXPECT_EQ((std::vector<std::string>{"a!", "c!"}), log);
}

TEST_F(Loop, HandlerAttachedInsideACallbackIsFirstServedInTheNextPass) {
    Probe& a = probe("a");
    auto late = std::make_unique<Probe>("late", log);
    a.action = [&] {
        late->watch();
        a.action = nullptr;
    };
    a.wire.make_ready();
    loop.pump();
    EXPECT_EQ((std::vector<std::string>{"a!"}), log);
    loop.pump();
    EXPECT_EQ((std::vector<std::string>{"a!", "a!", "late"}), log)
        << "a's byte is still unread, so the next pass serves both";
}

TEST_F(Loop, ANewMaskMovesTheEventToTheTailOfThePollOrder) {
    Probe& a = probe("a");
    probe("b");
    a.event.Schedule(a.wire.near, POLLIN | POLLPRI);
    a.wire.make_ready();
    loop.pump();
    EXPECT_EQ((std::vector<std::string>{"b", "a!"}), log);
}

TEST_F(Loop, DuplicateAttachIsReportedWithTheNameAndIgnored) {
    Probe& a = probe("a");
    test::StreamCapture err(std::cerr);
    multiplexer.attach(&a.event);
    EXPECT_EQ("duplicate multiplexer attach \"a\" ignored.\n", err.str());
    a.wire.make_ready();
    loop.pump();
    EXPECT_EQ((std::vector<std::string>{"a!"}), log) << "attached once, served once";
}

TEST_F(Loop, DetachOfAHandlerThatIsNotAttachedIsReported) {
    Probe& a = probe("a");
    a.event.Release();
    test::StreamCapture err(std::cerr);
    multiplexer.detach(&a.event);
    EXPECT_EQ("indvalid Multiplexer::detach a\n", err.str());
}

// An owner whose callback deletes it, and with it its Event.
struct SelfDestructing {
    explicit SelfDestructing(std::vector<std::string>& log) : log(log) {
        event.Bind("doomed", &SelfDestructing::OnEvent, this);
        event.Schedule(wire.near, POLLIN);
    }
    void OnEvent(int, short) {
        log.push_back("doomed");
        delete this;
    }
    std::vector<std::string>& log;
    Wire wire;
    Event event;
};

TEST_F(Loop, CallbackMayDeleteItsOwnEvent) {
    auto* doomed = new SelfDestructing(log);
    Probe& after = probe("after");
    doomed->wire.make_ready();
    loop.pump(2);
    EXPECT_EQ((std::vector<std::string>{"doomed", "after"}), log);
    after.wire.make_ready();
    loop.pump();
    EXPECT_EQ("after!", log.back());
}

TEST_F(Loop, CallbackMayDeleteAHandlerNotYetServed) {
    Probe& a = probe("a");
    auto victim = std::make_unique<Probe>("victim", log);
    victim->watch();
    probe("c");
    a.action = [&] { victim.reset(); };
    a.wire.make_ready();
    loop.pump();
    EXPECT_EQ((std::vector<std::string>{"a!", "c"}), log);
}

TEST_F(Loop, HandlerDetachedJustBeforeTheWaitGetsNoEventsAndNoOtherHandlerGetsItsEntry) {
    Probe& a = probe("a");
    Probe& b = probe("b");
    a.wire.make_ready();
    // The second run of a pass's deferred call (the one just before the
    // wait) takes `a` away and puts `b` on a's ready descriptor.
    int runs = 0;
    test::Deferred call([&] {
        if (++runs == 2) {
            a.event.Release();
            b.event.Schedule(a.wire.near, POLLIN);
        }
    });
    loop.pump();
    EXPECT_TRUE(log.empty()) << "b is pending: polled from the next pass on";
    loop.pump();
    EXPECT_EQ((std::vector<std::string>{"b!"}), log);
}

TEST_F(Loop, TerminateInACallbackLeavesTheRestUnservedAndEndsTheLoop) {
    Probe& a = probe("a");
    Probe& b = probe("b");
    a.action = [&] { multiplexer.terminate(); };
    a.wire.make_ready();
    test::StreamCapture clog(std::clog);
    multiplexer.run(false, false);
    EXPECT_EQ((std::vector<std::string>{"a!"}), log);
    EXPECT_EQ("Mux: terminating...\n", clog.str());
    test::StreamCapture err(std::cerr);
    b.event.Release();
    a.event.Release();
    EXPECT_EQ("", err.str()) << "both stayed attached";
}

TEST_F(Loop, EventOwnsACloseOnExecDuplicateOfItsDescriptor) {
    Wire wire;
    Event event;
    event.Schedule(wire.near, POLLIN);
    EXPECT_NE(wire.near.get(), event.fd());
    EXPECT_TRUE(::fcntl(event.fd(), F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(event.attached());
    int dup = event.fd();
    event.Release();
    EXPECT_EQ(-1, event.fd());
    EXPECT_FALSE(event.attached());
    EXPECT_EQ(-1, ::fcntl(dup, F_GETFD)) << "closed";
}

TEST(PollEventAsText, NamesTheSetBitsJoinedByBar) {
    EXPECT_EQ("POLLIN|POLLHUP", PollEventAsText(0x0011));
    EXPECT_EQ("POLLOUT|POLLMSG", PollEventAsText(0x0404));
    EXPECT_EQ("", PollEventAsText(0));
}

// ---- stopping

volatile sig_atomic_t handlerRan = 0;
void OnSigTerm(int) {
    handlerRan = 1;
    multiplexer.terminate();
}

class Stop : public Loop {
protected:
    void SetUp() override {
        struct sigaction sa = {};
        sa.sa_handler = OnSigTerm;
        ::sigaction(SIGTERM, &sa, &previous);
        handlerRan = 0;
    }
    void TearDown() override { ::sigaction(SIGTERM, &previous, nullptr); }
    struct sigaction previous;
};

TEST_F(Stop, SigTermBeforeTheLoopStartsStillStopsIt) {
    probe("a");
    ::raise(SIGTERM);
    ASSERT_TRUE(handlerRan);
    // Should the flag be lost, this ends the run after a few passes.
    int passes = 0;
    test::Deferred backstop([&] {
        if (++passes == 6) multiplexer.terminate();
    });
    test::StreamCapture clog(std::clog);
    multiplexer.run(false, true);
    EXPECT_EQ(0u, loop.clock().polls()) << "no pass ran";
    EXPECT_EQ("Mux: terminating...\n", clog.str());
}

TEST_F(Stop, SigTermJustBeforeTheWaitWakesIt) {
    probe("a");
    int runs = 0;
    test::Deferred call([&] {
        if (++runs == 2) ::raise(SIGTERM);  // the deferred run right before poll()
    });
    test::StreamCapture clog(std::clog);
    multiplexer.run(false, true);
    EXPECT_EQ(1u, loop.clock().polls());
    EXPECT_EQ(-1, loop.clock().last_timeout()) << "a wait without limit...";
    EXPECT_GT(loop.clock().last_result(), 0) << "...that returns at once";
    EXPECT_EQ((std::vector<std::string>{}), log) << "no handler served once stopping";
}

// ---- broken invariants

using LoopDeathTest = Loop;

TEST_F(LoopDeathTest, NothingToWaitForAborts) {
    EXPECT_DEATH(loop.pump(), "multiplexer: system hang detected!!!");
}

struct FailingClock : test::ManualClock {
    int poll(pollfd*, nfds_t, int) override {
        errno = EBADF;
        return -1;
    }
};

TEST_F(LoopDeathTest, FailingPollAborts) {
    probe("a");
    FailingClock failing;
    Mux::set_clock(&failing);
    EXPECT_DEATH(loop.pump(), "multiplexer poll failed: Bad file descriptor");
    Mux::set_clock(&loop.clock());
}

struct InterruptedClock : test::ManualClock {
    int poll(pollfd*, nfds_t, int) override {
        errno = EINTR;
        return -1;
    }
};

TEST_F(Loop, InterruptedPollEndsThePassQuietly) {
    probe("a").wire.make_ready();
    InterruptedClock interrupted;
    Mux::set_clock(&interrupted);
    test::StreamCapture err(std::cerr);
    loop.pump();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ("", err.str());
    Mux::set_clock(&loop.clock());
}

// ---- the status dump

TEST_F(Loop, DumpListsTheMeasuresAndTheNamedHandlers) {
    Probe& a = probe("Probe::OnEvent");
    Event unbound;
    Wire wire;
    unbound.Schedule(wire.near, POLLIN | POLLOUT);
    a.wire.make_ready();
    loop.pump();
    std::ostringstream os;
    multiplexer.dump(os);
    std::string text = os.str();

    EXPECT_EQ(0u, text.find("dpc transition measurement (min/max/cur/counter): "
                            "min=0 max=0 cur=0 counter=0\n"
                            "event transition measurement (min/max/cur/counter): "
                            "min=0 max=0 cur=0 counter=2\n"
                            "timer transition measurement (min/max/cur/counter): "
                            "min=0 max=0 cur=0 counter=0\n"))
        << text;
    std::string delimiter = "+" + std::string(40, '-') + "+" + std::string(30, '-') + "+" +
                            std::string(10, '-') + "+" + std::string(10, '-') + "+" +
                            std::string(5, '-') + "+" + std::string(60, '-') + "+\n";
    auto row = [](std::vector<std::string> cells) {
        const int widths[] = {40, 30, 10, 10, 5, 60};
        std::string line;
        for (size_t i = 0; i < cells.size(); ++i) {
            int pad = widths[i] - static_cast<int>(cells[i].size());
            line += "|" + std::string(pad / 2, ' ') + cells[i] + std::string((pad + 1) / 2, ' ');
        }
        return line + "|\n";
    };
    std::string table = delimiter + row({"name", "events", "count", "handler", "fd", "measure"}) +
                        delimiter +
                        row({"Probe::OnEvent", "POLLIN", "1", "attached",
                             std::to_string(a.event.fd()), "min=0 max=0 cur=0 counter=1"}) +
                        row({"Unknown", "POLLIN|POLLOUT", "1", "unattached",
                             std::to_string(unbound.fd()), "min=0 max=0 cur=0 counter=0"}) +
                        delimiter + "\n";
    ASSERT_GE(text.size(), table.size()) << text;
    EXPECT_EQ(table, text.substr(text.size() - table.size()));
}

}  // namespace
