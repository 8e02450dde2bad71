#pragma once
// The server executable of this build, started as a child process on a free
// port with its own BOARD_ROOT.

#include <gtest/gtest.h>

#include <memory>
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
