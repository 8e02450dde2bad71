#pragma once
// A controller for a server that runs in another process (the built
// executable): the same framing and coding as TestController, but it waits
// on its socket with deadlines instead of pumping a loop.
//
//   test::RemoteController c;
//   ASSERT_TRUE(c.connect(port));
//   c.send(test::ping(), 7);
//   auto answer = c.receive_until(test::is_response);

#include <functional>
#include <optional>

#include "messages/lgcp.h"
#include "runtime/fd.h"
#include "tests/support/test_controller.h"

namespace test {

class RemoteController {
public:
    static constexpr int default_timeout_ms = 20000;

    // Connects to 127.0.0.1:port, trying again while the server is not yet
    // listening.
    bool connect(unsigned short port, int timeoutMs = default_timeout_ms);
    void send(const LGCP::Command& command, std::optional<int> seq = {},
              std::optional<unsigned> slot = {});
    // The first message that satisfies `wanted`; those before it are dropped.
    std::optional<LGCP::Message> receive_until(const std::function<bool(const LGCP::Message&)>& wanted,
                                               int timeoutMs = default_timeout_ms);
    // Waits until the server has closed the connection.
    bool closed_by_server(int timeoutMs = default_timeout_ms);

private:
    // Waits up to `timeoutMs` for bytes and decodes what arrived; false once
    // the server has closed.
    bool collect(int timeoutMs);

    Fd socket_;
    ControllerInbox inbox_;
};

}  // namespace test
