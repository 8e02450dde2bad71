#include "runtime/child_wait.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>
#include <vector>

#include "tests/support/stream_capture.h"
#include "tests/support/virtual_loop.h"

namespace {

// The owner of a child program, as a slot would be.
struct Owner {
    Owner() { waiter.Bind(this, &Owner::OnChildExit); }
    void OnChildExit(int status) {
        statuses.push_back(status);
        inLoop.push_back(loopRunning);
    }

    ChildWait waiter;
    std::vector<int> statuses;
    std::vector<bool> inLoop;
    static bool loopRunning;
};
bool Owner::loopRunning = false;

// A child that exits at once with `code`.
pid_t start_child(int code) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(code);
    return pid;
}

// Blocks until the child has ended, without reaping it.
void wait_until_ended(pid_t pid) {
    siginfo_t info;
    ASSERT_EQ(0, ::waitid(P_PID, pid, &info, WEXITED | WNOWAIT));
}

class ChildReaping : public ::testing::Test {
protected:
    ChildReaping() { ChildWait::Activate(); }
    ~ChildReaping() override { ChildWait::Deactivate(); }

    void pump() {
        Owner::loopRunning = true;
        loop_.pump();
        Owner::loopRunning = false;
    }

    test::VirtualLoop loop_;
    test::IdleDescriptor idle_;
    test::StreamCapture log_{std::clog};
};

TEST_F(ChildReaping, BurstOfChildrenIsReportedOnceEachInTheLoop) {
    const int kChildren = 8;
    Owner owners[kChildren];
    for (int i = 0; i < kChildren; ++i) {
        pid_t pid = start_child(10 + i);
        ASSERT_GT(pid, 0);
        owners[i].waiter.Attach(pid);
    }
    for (Owner& owner : owners) wait_until_ended(owner.waiter.pid());

    // The signals have come, but the handler only woke the loop: nothing was
    // reaped or reported yet.
    for (Owner& owner : owners) {
        EXPECT_TRUE(owner.statuses.empty());
        siginfo_t info{};
        EXPECT_EQ(0, ::waitid(P_PID, owner.waiter.pid(), &info, WEXITED | WNOHANG | WNOWAIT));
        EXPECT_EQ(owner.waiter.pid(), info.si_pid);
    }

    pump();
    pump();
    for (int i = 0; i < kChildren; ++i) {
        ASSERT_EQ(1u, owners[i].statuses.size()) << i;
        EXPECT_TRUE(WIFEXITED(owners[i].statuses[0]));
        EXPECT_EQ(10 + i, WEXITSTATUS(owners[i].statuses[0]));
        EXPECT_TRUE(owners[i].inLoop[0]);
        EXPECT_NE(std::string::npos,
                  log_.str().find(
                      "terminate child process, pid=" + std::to_string(owners[i].waiter.pid()) +
                      " status=" + std::to_string(owners[i].statuses[0]) + "\n"));
        EXPECT_EQ(-1, ::waitpid(owners[i].waiter.pid(), nullptr, WNOHANG));  // reaped
    }
}

TEST_F(ChildReaping, OnlyTheWaiterOfThePidIsCalled) {
    Owner first, second, detached;
    pid_t a = start_child(1), b = start_child(2);
    first.waiter.Attach(a);
    second.waiter.Attach(999999);  // a pid that never ends
    detached.waiter.Attach(b);
    detached.waiter.Detach();
    wait_until_ended(a);
    wait_until_ended(b);
    pump();
    EXPECT_EQ(1u, first.statuses.size());
    EXPECT_TRUE(second.statuses.empty());
    EXPECT_TRUE(detached.statuses.empty());
    EXPECT_NE(std::string::npos, log_.str().find("pid=" + std::to_string(b) + " status=512\n"));
}

TEST_F(ChildReaping, ReattachedWaiterHearsOfTheNextChild) {
    Owner owner;
    pid_t first = start_child(3);
    owner.waiter.Attach(first);
    wait_until_ended(first);
    pump();
    pid_t next = start_child(4);
    owner.waiter.Attach(next);
    wait_until_ended(next);
    pump();
    ASSERT_EQ(2u, owner.statuses.size());
    EXPECT_EQ(3, WEXITSTATUS(owner.statuses[0]));
    EXPECT_EQ(4, WEXITSTATUS(owner.statuses[1]));
}

TEST_F(ChildReaping, WaiterMayDeleteItsOwnerWhenCalled) {
    struct SelfDeleting {
        SelfDeleting() { waiter.Bind(this, &SelfDeleting::OnChildExit); }
        void OnChildExit(int) { delete this; }
        ChildWait waiter;
    };
    auto* owner = new SelfDeleting;
    Owner other;
    pid_t a = start_child(0), b = start_child(0);
    owner->waiter.Attach(a);
    other.waiter.Attach(b);
    wait_until_ended(a);
    wait_until_ended(b);
    pump();
    EXPECT_EQ(1u, other.statuses.size());
}

TEST_F(ChildReaping, SignalHandlerKeepsErrno) {
    // Enough signals to fill the wake-up queue, so that its send fails.
    for (int i = 0; i < 2000; ++i) {
        errno = EDOM;
        ::raise(SIGCHLD);
        ASSERT_EQ(EDOM, errno) << i;
    }
    pump();  // reads every wake-up; no child to report
    EXPECT_EQ("", log_.str());
}

}  // namespace
