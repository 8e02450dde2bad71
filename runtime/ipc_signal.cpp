#include "runtime/ipc_signal.h"

#include <cstring>

namespace IPC::Signal {

Set::Set(int s1, int s2) : Set() {
    sigaddset(&set_, s1);
    sigaddset(&set_, s2);
}

Set::Set(int s1, int s2, int s3) : Set(s1, s2) { sigaddset(&set_, s3); }

bool Set::is_signal(int signo) {
    sigset_t empty;
    sigemptyset(&empty);
    return sigismember(&empty, signo) >= 0;
}

static int install(int sig, struct sigaction& action, const sigset_t& mask, int flags) {
    action.sa_mask = mask;
    action.sa_flags = flags;
    return sigaction(sig, &action, nullptr);
}

int ignore(int sig) { return handle(sig, SIG_IGN, 0); }

int system(int sig) { return handle(sig, SIG_DFL, 0); }

int handle(int sig, Handler handler, const Set& mask, int flags) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    return install(sig, action, mask.get(), flags & ~SA_SIGINFO);
}

int handle(int sig, InfoHandler handler, const Set& mask, int flags) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = handler;
    return install(sig, action, mask.get(), flags | SA_SIGINFO);
}

int handle(int sig, Handler handler, int flags) { return handle(sig, handler, Set(), flags); }

int handle(int sig, InfoHandler handler, int flags) { return handle(sig, handler, Set(), flags); }

// What siginterrupt() does, without the deprecated call: interrupted system
// calls restart unless the signal may interrupt them.
static int set_interrupt(int sig, bool interrupt) {
    struct sigaction action;
    if (sigaction(sig, nullptr, &action) != 0) return -1;
    if (interrupt)
        action.sa_flags &= ~SA_RESTART;
    else
        action.sa_flags |= SA_RESTART;
    return sigaction(sig, &action, nullptr);
}

int disable_int(int sig) { return set_interrupt(sig, false); }

int enable_int(int sig) { return set_interrupt(sig, true); }

}  // namespace IPC::Signal
