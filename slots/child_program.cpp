#include "slots/child_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "runtime/child_output.h"
#include "runtime/descriptor_end.h"
#include "runtime/fd.h"
#include "slots/slot.h"

namespace {

// The child's own lines: straight to the descriptor, no stream buffer.
void say(const char* line) {
    if (!line) return;
    ssize_t ignored = ::write(STDOUT_FILENO, line, std::strlen(line));
    ignored = ::write(STDOUT_FILENO, "\n", 1);
    (void)ignored;
}

// Until its exec the child has the server's handlers: a signal meant for
// the child would be caught there and the program would run all the same.
// Ignored signals stay ignored, as across an exec.
void RestoreDefaultDispositions() {
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction action;
        if (::sigaction(sig, nullptr, &action) != 0) continue;
        if (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN) continue;
        action.sa_handler = SIG_DFL;
        action.sa_flags = 0;
        ::sigaction(sig, &action, nullptr);
    }
}

// dup2 leaves the copy open across the exec; a descriptor that already is
// the standard one only loses its close-on-exec flag.
void BecomeStandard(int fd, int standard) {
    if (fd == standard)
        ::fcntl(standard, F_SETFD, 0);
    else if (fd >= 0)
        ::dup2(fd, standard);
}

// Each program leads a process group of its own, whose id is its pid, and
// the server's signals go to the whole group: a process the program
// started (a shell's command, a helper) holds copies of its descriptors,
// the board's channel among them, and must not keep it after the slot has
// gone. A program that makes a session of its own leads a group of the
// same id. No pid is no group: -0 would be the server's own.
void SignalGroup(pid_t pid, int signal) {
    if (pid > 0) ::kill(-pid, signal);
}

constexpr unsigned kStopTimeoutMs = 5000;

}  // namespace

pid_t StartChild(const ChildProgram& program) {
    std::vector<char*> argv;
    for (const std::string& argument : program.argv) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    std::fflush(nullptr);
    // The program's lines reach the logger through a pipe of its own.
    Fd logged;
    if (ChildOutput::instance().open() && !(logged = ChildOutput::instance().NewPipe()))
        return -1;
    // A signal sent to the child before its handlers are the defaults
    // waits, blocked, and then acts as it would on the program.
    sigset_t all, previous;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &previous);
    const pid_t pid = ::fork();
    if (pid != 0) {
        const int error = errno;
        // Both sides make the group, so that it stands before either goes
        // on: the first signal may come before the child has run at all.
        if (pid > 0) ::setpgid(pid, pid);
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        errno = error;
        return pid;
    }
    ::setpgid(0, 0);
    RestoreDefaultDispositions();
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);

    BecomeStandard(program.input, STDIN_FILENO);
    BecomeStandard(logged.get(), STDOUT_FILENO);
    BecomeStandard(logged.get(), STDERR_FILENO);
    BecomeStandard(program.output, STDOUT_FILENO);
    // The program holds nothing of the server's but its standard three: a
    // board device, a controller's connection or the logger's stay the
    // server's alone, so that the driver frees what the server closes.
    ::closefrom(STDERR_FILENO + 1);
    if (program.pauseSeconds) ::sleep(program.pauseSeconds);
    say(program.banner);
    ::execv(argv[0], argv.data());
    say(program.failure);
    ::_exit(program.failStatus);
}

// ---- SlotChild

std::ostream& SlotChild::PutHeader(std::ostream& os) const { return os << owner_ << ": "; }

void SlotChild::Signal(int signal, const char* name) {
    PutHeader(std::cerr) << "sent " << name << " to " << program_ << "." << std::endl;
    SignalGroup(pid_, signal);
    stopTimer_.set(kStopTimeoutMs, &SlotChild::StopTimeout, this);
}

void SlotChild::StopTimeout() {
    PutHeader(std::cerr) << program_ << " terminate timeout!" << std::endl;
    Kill();
    const std::function<void()> stopped = std::move(stopped_);
    stopped();
}

void SlotChild::Kill() {
    if (!running()) return;
    PutHeader(std::cerr) << program_ << " isn't terminated, killing ..." << std::endl;
    SignalGroup(pid_, SIGKILL);
    ::sched_yield();
    waiter_.Detach();
    pid_ = -1;
}

// ---- ChildAnswer

// A program still running when the server ends goes with it.
ChildAnswer::~ChildAnswer() {
    if (pid_ > 0) SignalGroup(pid_, SIGKILL);
}

bool ChildAnswer::Start(ChildProgram program, unsigned limitMs, Done done) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    const Fd output(ends[0]);
    const Fd input(ends[1]);  // the parent's copy closes here: its end is the child's
    output_.Bind("ChildAnswer::OnOutput", &ChildAnswer::OnOutput, this);
    if (!output.NonBlock() || !output_.Schedule(output, POLLIN)) return false;
    program.output = input.get();
    const pid_t pid = StartChild(program);
    if (pid < 0) {
        const int error = errno;
        output_.Release();
        errno = error;
        return false;
    }
    pid_ = pid;
    waiter_.Bind(this, &ChildAnswer::OnEnd);
    waiter_.Attach(pid);
    text_.clear();
    done_ = std::move(done);
    limit_.set(limitMs, &ChildAnswer::OnLimit, this);
    return true;
}

// One read per event: the answer is short.
void ChildAnswer::OnOutput(int fd, short revents) {
    if (!CallsForRead(revents)) return;
    char buffer[kMaxText];
    const ssize_t n = ::read(fd, buffer, kMaxText - text_.size());
    if (n > 0) {
        text_.append(buffer, static_cast<size_t>(n));
        const size_t end = text_.find('\n');
        if (end == std::string::npos && text_.size() < kMaxText) return;
        if (end != std::string::npos) text_.resize(end + 1);
        return Finish(true);
    }
    if (ReadEnd(n, revents)) Finish(true);
}

void ChildAnswer::OnEnd(int) { pid_ = -1; }

void ChildAnswer::OnLimit() {
    Finish(false);
}

// A program that runs on after its answer, or past the limit, is ended:
// each run would leave one more. `done` may start the next run.
void ChildAnswer::Finish(bool answered) {
    if (pid_ > 0) SignalGroup(pid_, SIGKILL);
    pid_ = -1;
    waiter_.Detach();
    output_.Release();
    limit_.reset();
    const Done done = std::move(done_);
    done_ = nullptr;
    const std::string text = std::move(text_);
    done(answered, text);
}
