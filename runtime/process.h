#pragma once
// Process-level helpers: looking up a process, the pid file, a time stamp,
// terminal modes.

#include <iosfwd>
#include <string>

#include "runtime/fd.h"

// The pid of a process whose command name is `name`, or -1. A positive `pid`
// is tried first.
int find_proc_by_name(const char* name, int pid);

// Writes the local time as "%d/%m %H:%M:%S".
std::ostream& timestamp(std::ostream& os);

namespace Linux {

// The pid file "/var/run/<name>.pid", removed again on destruction.
class Run {
public:
    explicit Run(const char* name);
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    const std::string& path() const { return path_; }
    bool written() const { return bool(fd_); }

private:
    Fd fd_;
    std::string path_;
};

}  // namespace Linux

namespace Console {
void SwitchToBinaryMode();
void SwitchToNonBlockMode();
}  // namespace Console
