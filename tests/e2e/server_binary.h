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
    explicit DateShift(const BoardRoot& board) : file_(board.dir() + "/date-shift") {
        if (const char* options = std::getenv("ASAN_OPTIONS")) asanOptions_ = options;
        const std::string options = asanOptions_ ? *asanOptions_ + ":" : "";
        ::setenv("ASAN_OPTIONS", (options + "verify_asan_link_order=0").c_str(), 1);
        ::setenv("LD_PRELOAD", DATE_SHIFT_PRELOAD, 1);
        ::setenv("DATE_SHIFT_FILE", file_.c_str(), 1);
    }
    ~DateShift() {
        ::unsetenv("LD_PRELOAD");
        ::unsetenv("DATE_SHIFT_FILE");
        if (asanOptions_)
            ::setenv("ASAN_OPTIONS", asanOptions_->c_str(), 1);
        else
            ::unsetenv("ASAN_OPTIONS");
    }

    // Steps the date by `seconds` (negative: back), at once.
    void step(long seconds) {
        shift_ += seconds;
        const std::string written = file_ + ".new";
        std::ofstream(written) << shift_;
        std::rename(written.c_str(), file_.c_str());
    }

private:
    std::string file_;
    std::optional<std::string> asanOptions_;
    long shift_ = 0;
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
