#pragma once
// Starting the child programs of the slots (pppd, fax, t38): the
// whole argument vector is built before fork(), and the child does nothing
// but take the default signal handlers, wait, announce itself and exec: a
// signal sent to it at any time acts as on the program. A child that cannot
// exec leaves with _exit, so it runs none of the server's destructors.
//
// A slot keeps its running child in a SlotChild, which stops it before the
// slot goes (with every process of the child's group, which it leads); a program asked for an answer (a count) runs in a ChildAnswer,
// which the loop reads without waiting on it.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/child_wait.h"
#include "runtime/timer.h"

class Slot;

struct ChildProgram {
    // argv[0] is the program's path.
    std::vector<std::string> argv;
    // The child sleeps this long first.
    unsigned pauseSeconds = 0;
    // Written to standard output before the exec, and when it fails.
    const char* banner = nullptr;
    const char* failure = nullptr;
    // The child's exit status when the exec fails.
    int failStatus = 2;
    // Descriptors that become the child's standard input and output (-1:
    // it keeps the server's). In daemon mode its standard error, and its
    // output when none is given, are a pipe of the server's ChildOutput.
    int input = -1;
    int output = -1;
};

// Flushes the server's output streams (the child must not write them a
// second time) and forks the child. Returns its pid, or -1 with errno (also
// when no descriptor is left for its output's pipe).
pid_t StartChild(const ChildProgram& program);

// The child program a slot runs, and its stop before the slot goes: a
// signal, then SIGKILL when the child has not ended 5000 ms later. Its lines
// carry the slot's header and name the program.
class SlotChild {
public:
    SlotChild(const Slot& owner, const char* program) : owner_(owner), program_(program) {}
    // Kills a child still running.
    ~SlotChild() { Kill(); }
    SlotChild(const SlotChild&) = delete;
    SlotChild& operator=(const SlotChild&) = delete;

    // -1 when none runs.
    int pid() const { return pid_; }
    bool running() const { return pid_ > 0; }
    // A child has started: its end goes to `onEnd`, which calls Ended().
    template <class T>
    void Watch(int pid, void (T::*onEnd)(int), T* self) {
        pid_ = pid;
        waiter_.Bind(self, onEnd);
        waiter_.Attach(pid);
    }
    void Ended() { pid_ = -1; }
    // Sends `signal` (named `name` in the line) to the running child; when
    // it has not ended 5000 ms later it is killed and `stopped` runs, which
    // may delete the owner.
    template <class T>
    void Stop(int signal, const char* name, void (T::*stopped)(), T* self) {
        stopped_ = [self, stopped] { (self->*stopped)(); };
        Signal(signal, name);
    }
    // SIGKILL to a child still running, which is then forgotten: it is
    // reaped with no one waiting, and no later signal reaches its pid.
    void Kill();

private:
    std::ostream& PutHeader(std::ostream& os) const;
    void Signal(int signal, const char* name);
    void StopTimeout();

    const Slot& owner_;
    const char* program_;
    int pid_ = -1;
    ChildWait waiter_;
    Timer stopTimer_;
    std::function<void()> stopped_;
};

// The answer of a child program: what it writes on its standard output up
// to its first line end, read by the loop as it comes. A program that has
// not answered within the time limit is killed and its answer given up; one
// that runs on after its answer is killed then.
class ChildAnswer {
public:
    // `answered`: the program wrote its line or ended (`text` may be
    // empty); otherwise the limit passed first.
    using Done = std::function<void(bool answered, const std::string& text)>;

    // The longest answer read; the rest of a longer line is not.
    static constexpr size_t kMaxText = 31;

    ChildAnswer() = default;
    ~ChildAnswer();
    ChildAnswer(const ChildAnswer&) = delete;
    ChildAnswer& operator=(const ChildAnswer&) = delete;

    // Starts `program` with its standard output on a pipe; `done` is
    // called once, from the loop. False, with errno, when it could not
    // start (and `done` is not called).
    bool Start(ChildProgram program, unsigned limitMs, Done done);
    bool running() const { return bool(done_); }

private:
    void OnOutput(int fd, short revents);
    void OnEnd(int status);
    void OnLimit();
    void Finish(bool answered);

    Event output_;
    Timer limit_;
    ChildWait waiter_;
    int pid_ = -1;
    std::string text_;
    Done done_;
};
