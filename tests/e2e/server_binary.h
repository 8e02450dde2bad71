#pragma once
// The server executable of this build, started as a child process on a free
// port with its own BOARD_ROOT.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/board_root.h"
#include "tests/support/loopback.h"
#include "tests/support/server_process.h"

namespace test {

class ServerBinary : public ServerProcess {
public:
    explicit ServerBinary(const std::vector<std::string>& args, Input input = Input::inherited)
        : ServerProcess(SERVER_EXECUTABLE, args, input) {}
};

// Steps the date of the server executables started while it lives: they
// preload a library (date_shift_preload.cpp) that moves the date by the
// seconds this writes to a file, while their monotonic clock runs on. The
// sanitizers' run-time is told not to insist on coming first.
class DateShift {
public:
    explicit DateShift(const BoardRoot& board)
        : file_(board.dir() + "/date-shift"),
          preload_("LD_PRELOAD", DATE_SHIFT_PRELOAD),
          shiftFile_("DATE_SHIFT_FILE", file_),
          asan_("ASAN_OPTIONS", after(std::getenv("ASAN_OPTIONS"), "verify_asan_link_order=0")) {}

    // Steps the date by `seconds` (negative: back), at once.
    void step(long seconds) {
        shift_ += seconds;
        const std::string written = file_ + ".new";
        std::ofstream(written) << shift_;
        std::rename(written.c_str(), file_.c_str());
    }

private:
    // An environment variable set while it lives.
    class Variable {
    public:
        Variable(const char* name, const std::string& value) : name_(name) {
            if (const char* old = std::getenv(name)) old_ = old;
            ::setenv(name, value.c_str(), 1);
        }
        ~Variable() {
            if (old_)
                ::setenv(name_, old_->c_str(), 1);
            else
                ::unsetenv(name_);
        }

    private:
        const char* name_;
        std::optional<std::string> old_;
    };

    static std::string after(const char* options, const std::string& option) {
        return options && *options ? std::string(options) + ":" + option : option;
    }

    std::string file_;
    long shift_ = 0;
    Variable preload_;
    Variable shiftFile_;
    Variable asan_;
};

inline const char kStarting[] = "Starting server [T240215-1841], port=";

class RunningServer : public ::testing::Test {
protected:
    // Starts the server on a free port and waits for its start-up line.
    void start(std::vector<std::string> args = {},
               ServerProcess::Input input = ServerProcess::Input::inherited) {
        port = free_port();
        args.insert(args.end(), {"--port", std::to_string(port)});
        server.reset(new ServerBinary(args, input));
        ASSERT_TRUE(server->wait_for_output(kStarting + std::to_string(port) + "\n"))
            << server->output();
    }

    // Stops it as SIGTERM does and expects a clean end.
    void stop() {
        server->signal(SIGTERM);
        EXPECT_EQ(0, server->wait_exit()) << server->output();
    }

    BoardRoot board;
    unsigned short port = 0;
    std::unique_ptr<ServerBinary> server;
};

}  // namespace test
