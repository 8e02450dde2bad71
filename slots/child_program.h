#pragma once
// Starting the child programs of the slots (pppd, fax, t38): the
// whole argument vector is built before fork(), and the child does nothing
// but take the default signal handlers, wait, announce itself and exec: a
// signal sent to it at any time acts as on the program. A child that cannot
// exec leaves with _exit, so it runs none of the server's destructors.

#include <sys/types.h>

#include <string>
#include <vector>

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
    // A descriptor that becomes the child's standard input (-1: it keeps
    // the server's).
    int input = -1;
};

// Flushes the server's output streams (the child must not write them a
// second time) and forks the child. Returns its pid, or -1 with errno.
pid_t StartChild(const ChildProgram& program);
