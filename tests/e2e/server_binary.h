#pragma once
// The server executable of this build, started as a child process.

#include <string>
#include <vector>

#include "tests/support/server_process.h"

namespace test {

class ServerBinary : public ServerProcess {
public:
    explicit ServerBinary(const std::vector<std::string>& args)
        : ServerProcess(SERVER_EXECUTABLE, args) {}
};

}  // namespace test
