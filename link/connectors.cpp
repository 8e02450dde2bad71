#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "link/control_links.h"
#include "link/unix_domain.h"

namespace Control {

namespace {

// Reads and clears the socket's pending error; false when it cannot be read.
bool pending_error(const Fd& fd, int& error) {
    socklen_t length = sizeof error;
    return ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0;
}

// A fresh non-blocking socket for the next attempt, in `fd`; false, with
// `fd` closed, after the line of the step that failed.
bool open_attempt(Fd& fd, int domain, int protocol, const char* createFailed,
                  const char* nonBlockFailed) {
    fd.reset(::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, protocol));
    if (!fd) {
        std::cerr << createFailed << std::strerror(errno) << std::endl;
        return false;
    }
    if (!fd.NonBlock()) {
        std::cerr << nonBlockFailed << std::strerror(errno) << std::endl;
        fd.close();
        return false;
    }
    return true;
}

// One second while quick retries last (using one up), else `slowMs`.
unsigned retry_delay(int& retries, unsigned slowMs) {
    if (retries <= 0) return slowMs;
    --retries;
    return ConnectorNet::quick_retry_ms;
}

}  // namespace

// ---- ConnectorNet

ConnectorNet::ConnectorNet() {
    event_.Bind("ConnectorNet::OnSocketEvent", &ConnectorNet::OnSocketEvent, this);
}

ConnectorNet::ConnectorNet(const std::string& address) : ConnectorNet() {
    INet4::Addr parsed;
    int port = INet4::Addr::no_port;
    parsed.Assign(address, &port);
    port_ = port < 0 ? 0 : static_cast<unsigned short>(port);
    in_addr a{parsed.Address()};
    char text[INET_ADDRSTRLEN];
    host_ = ::inet_ntop(AF_INET, &a, text, sizeof text);
}

ConnectorNet::ConnectorNet(const std::string& host, unsigned short port) : ConnectorNet() {
    host_ = host;
    port_ = port;
}

INet4::Addr ConnectorNet::Address() const {
    INet4::Addr address;
    address.SetPort(port_);
    address.Assign(host_);  // a port inside host wins
    return address;
}

bool ConnectorNet::ImplActivate() {
    retries_ = quick_retries;
    TryConnect();
    return true;
}

// A socket that cannot be had now (no descriptor left, say) is tried for
// again as a refused connection is: only Deactivate stops the attempts.
void ConnectorNet::TryConnect() {
    if (!open_attempt(fd_, AF_INET, IPPROTO_TCP, "can't create socket:",
                      "can't set socket to non block mode: ")) {
        Retry(connect_failed_retry_ms);
        return;
    }
    const INet4::Addr address = Address();
    if (::connect(fd_.get(), address.sockaddr_ptr(), INet4::Addr::size()) == 0) {
        std::clog << "already connected to " << address << std::endl;
        Established(address);
        return;
    }
    if (errno == EINPROGRESS) {
        if (event_.Schedule(fd_, POLLOUT)) return;
        std::cerr << "can't watch the connection to " << address << " : " << std::strerror(errno)
                  << std::endl;
        fd_.close();
        Retry(connect_failed_retry_ms);
        return;
    }
    std::cerr << "can't connect to " << address << " : " << std::strerror(errno) << std::endl;
    Retry(connect_failed_retry_ms);
}

void ConnectorNet::OnSocketEvent(int, short revents) {
    const INet4::Addr address = Address();
    if (revents & (POLLERR | POLLHUP)) {
        std::cerr << "fail to connect to " << address << std::endl;
        event_.Release();
        Retry(poll_error_retry_ms);
        return;
    }
    if (!(revents & POLLOUT)) return;
    event_.Release();
    int error = 0;
    if (!pending_error(fd_, error)) {
        std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << std::strerror(errno) << std::endl;
        Deactivate();
        return;
    }
    if (error != 0) {
        std::cerr << "fail to connect to " << address << std::endl;
        Retry(socket_error_retry_ms);
        return;
    }
    std::cout << "connected to " << address << "." << std::endl;
    Established(address);
}

// The stream layer keeps its own duplicate of the socket.
void ConnectorNet::Established(const INet4::Addr& address) {
    Connected(fd_, address);
    fd_.close();
}

void ConnectorNet::Retry(unsigned slowMs) {
    timer_.set(retry_delay(retries_, slowMs), &ConnectorNet::OnTimeout, this);
}

void ConnectorNet::OnTimeout(Timer*) { TryConnect(); }

// The quick retries are not given back: only Activate does that.
void ConnectorNet::ImplOnDisconnect() { timer_.set(reconnect_ms, &ConnectorNet::OnTimeout, this); }

void ConnectorNet::ImplDeactivate() {
    Release();
    fd_.close();
    timer_.reset();
    event_.Release();
}

// ---- ConnectorUnix

ConnectorUnix::ConnectorUnix(const std::string& path, const std::string& localPath)
    : path_(path), localPath_(localPath) {
    event_.Bind("ConnectorUnix::OnSocketEvent", &ConnectorUnix::OnSocketEvent, this);
}

bool ConnectorUnix::ImplActivate() {
    retries_ = ConnectorNet::quick_retries;
    TryConnect();
    return true;
}

void ConnectorUnix::TryConnect() {
    if (!open_attempt(fd_, AF_UNIX, 0, "can't create domain socket:",
                      "can't set domain socket to non block mode: ")) {
        Retry(ConnectorNet::connect_failed_retry_ms);
        return;
    }
    if (!localPath_.empty()) {
        ::unlink(localPath_.c_str());
        const sockaddr_un local = unix_domain::address(localPath_);
        if (::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
            std::cerr << "can't bind to domain socket '" << localPath_ << "': \""
                      << std::strerror(errno) << std::endl;
    }
    const sockaddr_un server = unix_domain::address(path_);
    if (::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
        std::cerr << "can't connect to " << path_ << " : " << std::strerror(errno) << std::endl;
        Retry(ConnectorNet::connect_failed_retry_ms);
        return;
    }
    std::clog << "connected to " << path_ << std::endl;
    event_.Schedule(fd_, POLLOUT);
    Connected(fd_, path_);
    fd_.close();
}

void ConnectorUnix::OnSocketEvent(int, short revents) {
    if (revents & (POLLERR | POLLHUP)) {
        std::cerr << "fail to connect to " << path_ << std::endl;
        event_.Release();
        Retry(ConnectorNet::poll_error_retry_ms);
        return;
    }
    if (revents & POLLOUT) event_.Release();
}

void ConnectorUnix::Retry(unsigned slowMs) {
    timer_.set(retry_delay(retries_, slowMs), &ConnectorUnix::OnTimeout, this);
}

void ConnectorUnix::OnTimeout(Timer*) { TryConnect(); }

void ConnectorUnix::ImplOnDisconnect() {
    timer_.set(ConnectorNet::reconnect_ms, &ConnectorUnix::OnTimeout, this);
}

void ConnectorUnix::ImplDeactivate() {
    Release();
    fd_.close();
    timer_.reset();
    event_.Release();
}

}  // namespace Control
