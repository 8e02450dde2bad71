#include "tests/support/remote_controller.h"

#include <poll.h>

#include <stdexcept>

#include "tests/support/deadline.h"
#include "tests/support/loopback.h"

namespace test {

bool RemoteController::connect(unsigned short port, int timeoutMs) {
    Deadline deadline(timeoutMs);
    for (;;) {
        socket_ = connect_loopback_now(port);
        if (socket_) return true;
        if (deadline.remaining_ms() == 0) return false;
        ::poll(nullptr, 0, 10);  // the server has not begun to listen yet
    }
}

void RemoteController::send(const LGCP::Command& command, std::optional<int> seq,
                            std::optional<unsigned> slot) {
    if (!write_bytes(socket_.get(), command_frame(command, seq, slot)))
        throw std::runtime_error("the server does not read");
}

bool RemoteController::collect(int timeoutMs) {
    pollfd entry{socket_.get(), POLLIN, 0};
    ::poll(&entry, 1, timeoutMs);
    bool closed = false;
    inbox_.feed(read_available(socket_.get(), &closed));
    return !closed;
}

std::optional<LGCP::Message> RemoteController::receive_until(
    const std::function<bool(const LGCP::Message&)>& wanted, int timeoutMs) {
    Deadline deadline(timeoutMs);
    for (;;) {
        if (auto message = inbox_.take(wanted)) return message;
        if (deadline.remaining_ms() == 0 || !collect(deadline.remaining_ms())) return std::nullopt;
    }
}

bool RemoteController::closed_by_server(int timeoutMs) {
    Deadline deadline(timeoutMs);
    while (collect(deadline.remaining_ms()))
        if (deadline.remaining_ms() == 0) return false;
    return true;
}

}  // namespace test
