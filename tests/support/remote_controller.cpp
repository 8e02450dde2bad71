#include "tests/support/remote_controller.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <stdexcept>

#include "tests/support/deadline.h"
#include "tests/support/loopback.h"
#include "tests/support/test_controller.h"

namespace test {

namespace {

// A blocking connect on the loopback interface; the socket is then made
// non-blocking. Invalid when the port does not listen.
Fd connect_once(unsigned short port) {
    Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return Fd();
    socket.NonBlock();
    return socket;
}

}  // namespace

bool RemoteController::connect(unsigned short port, int timeoutMs) {
    Deadline deadline(timeoutMs);
    for (;;) {
        socket_ = connect_once(port);
        if (socket_) return true;
        if (deadline.remaining_ms() == 0) return false;
        ::poll(nullptr, 0, 10);  // the server has not begun to listen yet
    }
}

void RemoteController::send(const LGCP::Command& command, std::optional<int> seq,
                            std::optional<unsigned> slot) {
    LGCP::Message message;
    if (seq) message.set_seq(*seq);
    if (slot) message.set_slot(*slot);
    message.get_pdu().set_command(command);
    if (!write_bytes(socket_.get(), tpkt_frame(encode(message))))
        throw std::runtime_error("the server does not read");
}

bool RemoteController::collect(int timeoutMs) {
    pollfd entry{socket_.get(), POLLIN, 0};
    ::poll(&entry, 1, timeoutMs);
    bool closed = false;
    reader_.feed(read_available(socket_.get(), &closed));
    std::string payload;
    while (reader_.next(payload)) {
        LGCP::Message message;
        if (decode(payload, message)) received_.push_back(message);
    }
    return !closed;
}

std::optional<LGCP::Message> RemoteController::receive_until(
    const std::function<bool(const LGCP::Message&)>& wanted, int timeoutMs) {
    Deadline deadline(timeoutMs);
    for (;;) {
        while (!received_.empty()) {
            LGCP::Message message = received_.front();
            received_.pop_front();
            if (wanted(message)) return message;
        }
        if (deadline.remaining_ms() == 0 || !collect(deadline.remaining_ms())) return std::nullopt;
    }
}

bool RemoteController::closed_by_server(int timeoutMs) {
    Deadline deadline(timeoutMs);
    while (collect(deadline.remaining_ms()))
        if (deadline.remaining_ms() == 0) return false;
    return true;
}

bool is_response(const LGCP::Message& message) { return message.get_pdu().is_response(); }

bool is_signal(const LGCP::Message& message) { return message.get_pdu().is_signal(); }

}  // namespace test
