#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

namespace {

constexpr unsigned kWindows = 264;

// The window this process holds for its life: the first free from the one
// its id names, held by a socket on a port of its own below the windows, so
// that two test processes running side by side never share one.
unsigned OwnWindow() {
    constexpr unsigned kGuardPorts = 19000;
    static Fd guard;
    static unsigned window = kWindows;
    for (unsigned tried = 0; window == kWindows && tried < kWindows; ++tried) {
        const unsigned candidate = (static_cast<unsigned>(::getpid()) + tried) % kWindows;
        Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in address = loopback_address(static_cast<unsigned short>(kGuardPorts + candidate));
        if (!socket || ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address),
                              sizeof address) != 0)
            continue;
        guard = std::move(socket);
        window = candidate;
    }
    return window;
}

}  // namespace

// A window of 48 ports for each process, handed out once each, between the
// server's default port (20001) and the system's ephemeral ones (32768 and
// up): a socket bound to port 0 or connecting, or a test process running
// beside this one, does not take a port between its choice and its use.
unsigned short own_port(bool (*free)(unsigned short port)) {
    constexpr unsigned kFirstPort = 20064, kPorts = 48;
    static unsigned next = 0;
    const unsigned own = OwnWindow();
    if (own == kWindows) return 0;
    const unsigned window = kFirstPort + own * kPorts;
    while (next < kPorts) {
        const auto port = static_cast<unsigned short>(window + next);
        next += 2;
        if (free(port)) return port;
    }
    return 0;
}

namespace {

bool tcp_free(unsigned short port) {
    Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopback_address(port);
    return socket &&
           ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

unsigned short free_port() {
    unsigned short port = own_port(tcp_free);
    if (port == 0) bind_loopback(port);  // the window is used up: the kernel's pick
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
