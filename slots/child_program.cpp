#include "slots/child_program.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

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
    // A signal sent to the child before its handlers are the defaults
    // waits, blocked, and then acts as it would on the program.
    sigset_t all, previous;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &previous);
    const pid_t pid = ::fork();
    if (pid != 0) {
        const int error = errno;
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        errno = error;
        return pid;
    }
    RestoreDefaultDispositions();
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);

    // dup2 leaves the copy open across the exec; a descriptor that already
    // is the standard input only loses its close-on-exec flag.
    if (program.input == STDIN_FILENO)
        ::fcntl(STDIN_FILENO, F_SETFD, 0);
    else if (program.input >= 0)
        ::dup2(program.input, STDIN_FILENO);
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
    ::kill(pid_, signal);
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
    ::kill(pid_, SIGKILL);
    ::sched_yield();
    waiter_.Detach();
    pid_ = -1;
}
