#pragma once
// Runs the built server executable as a child process for black-box tests:
// its standard output and error are collected, signals are sent to it and
// its exit status is awaited. Waits are bounded by deadlines and end as soon
// as the awaited text or exit arrives.
//
//   test::BoardRoot board;                       // the child inherits BOARD_ROOT
//   test::ServerProcess server("build/server/server", {"--port", "30000"});
//   ASSERT_TRUE(server.wait_for_output("Starting server "));
//   server.signal(SIGTERM);
//   EXPECT_EQ(0, server.wait_exit());

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/fd.h"

namespace test {

// The path of a program on PATH (then in /usr/sbin and /sbin, where the
// tools of a system administrator live); "" when there is none.
std::string find_program(const std::string& name);

class ServerProcess {
public:
    static constexpr int default_timeout_ms = 20000;

    // What the child gets as standard input: ours, or none (closed).
    enum class Input { inherited, closed };

    ServerProcess(const std::string& program, const std::vector<std::string>& args,
                  Input input = Input::inherited);
    // A child still running is killed.
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool signal(int sig) const;
    // True once `text` has appeared on standard output or error (since the
    // start); false when the child ended or the time ran out first.
    bool wait_for_output(const std::string& text, int timeoutMs = default_timeout_ms);
    // True once `done` holds, its output collected meanwhile; false when the
    // child ended or the time ran out first.
    bool wait_until(const std::function<bool()>& done, int timeoutMs = default_timeout_ms);
    // The exit status; -1 when the child was killed by a signal or does not
    // end in time (it is then killed).
    int wait_exit(int timeoutMs = default_timeout_ms);

    // Collects its output for `ms` while it runs on.
    void run_for(int ms);
    // Collects what its output holds now, without waiting.
    void take_output();

    // What it uses now, from /proc: zeros once it has ended.
    struct Usage {
        long residentKib = 0;
        long cpuMs = 0;  // user and system time since its start
    };
    Usage usage() const;

    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    // Both streams, for failure messages.
    std::string output() const { return "stdout:\n" + out_ + "stderr:\n" + err_; }

private:
    // Reads what both pipes hold, waiting at most `timeoutMs` for something.
    void collect(int timeoutMs);
    bool reap(int options);

    pid_t pid_ = -1;
    Fd outFd_;
    Fd errFd_;
    int status_ = -1;
    bool exited_ = false;
    std::string out_;
    std::string err_;
};

// Watches one directory for files that are written and closed, or renamed
// into it, so that a test learns at once when another process has done so.
class FileWatch {
public:
    explicit FileWatch(const std::string& dir);
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // True once a file named `name` was closed after writing, or renamed in,
    // since the watch began (or the last wait that saw it).
    bool wait_written(const std::string& name, int timeoutMs = ServerProcess::default_timeout_ms);

private:
    Fd fd_;
    std::vector<std::string> written_;
};

}  // namespace test
