#include "slots/child_program.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>

namespace {

// The child's own lines: straight to the descriptor, no stream buffer.
void say(const char* line) {
    if (!line) return;
    ssize_t ignored = ::write(STDOUT_FILENO, line, std::strlen(line));
    ignored = ::write(STDOUT_FILENO, "\n", 1);
    (void)ignored;
}

}  // namespace

pid_t StartChild(const ChildProgram& program) {
    std::vector<char*> argv;
    for (const std::string& argument : program.argv) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;

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
