#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <stdexcept>

namespace test {

sockaddr_in loopback_address(unsigned short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

Fd bind_loopback(unsigned short& port) {
    Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in address = loopback_address(0);
    socklen_t length = sizeof address;
    if (!socket || ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no loopback port");
    port = ntohs(address.sin_port);
    return socket;
}

unsigned short free_port() {
    unsigned short port = 0;
    bind_loopback(port);
    return port;
}

Fd listen_loopback(unsigned short& port) {
    Fd socket = bind_loopback(port);
    if (::listen(socket.get(), 8) != 0) throw std::runtime_error("cannot listen");
    return socket;
}

Fd connect_loopback(unsigned short port) {
    Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in address = loopback_address(port);
    if (!socket) throw std::runtime_error("no socket");
    if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS)
        throw std::runtime_error("cannot connect");
    return socket;
}

Fd connect_loopback_now(unsigned short port) {
    Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = loopback_address(port);
    if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return Fd();
    socket.NonBlock();
    return socket;
}

void tcp_pair(Fd& a, Fd& b) {
    unsigned short port = 0;
    Fd listener = listen_loopback(port);
    a = connect_loopback(port);
    pollfd entry{listener.get(), POLLIN, 0};
    ::poll(&entry, 1, 1000);  // the loopback handshake is immediate
    b.reset(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!b) throw std::runtime_error("no loopback connection");
}

bool write_bytes(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

std::string read_available(int fd, bool* closed) {
    std::string bytes;
    if (closed) *closed = false;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            bytes.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (closed && (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))) *closed = true;
        return bytes;
    }
}

bool closed_by_peer(int fd) {
    bool closed = false;
    read_available(fd, &closed);
    return closed;
}

}  // namespace test
