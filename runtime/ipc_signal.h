#pragma once
// Installing signal handlers.

#include <signal.h>

namespace IPC::Signal {

class Set {
public:
    Set() { sigemptyset(&set_); }
    Set(int s1, int s2);
    Set(int s1, int s2, int s3);
    const sigset_t& get() const { return set_; }
    static bool is_signal(int signo);

private:
    sigset_t set_;
};

using Handler = void (*)(int);
using InfoHandler = void (*)(int, siginfo_t*, void*);

int ignore(int sig);
int system(int sig);
int handle(int sig, Handler handler, const Set& mask, int flags);
int handle(int sig, InfoHandler handler, const Set& mask, int flags);
int handle(int sig, Handler handler, int flags);
int handle(int sig, InfoHandler handler, int flags);
int disable_int(int sig);
int enable_int(int sig);

}  // namespace IPC::Signal
