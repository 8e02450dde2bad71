#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "link/control_links.h"
#include "link/tcp.h"
#include "link/unix_domain.h"
#include "runtime/descriptor_end.h"
#include "runtime/listen_watch.h"
#include "runtime/log_throttle.h"

namespace Control {

namespace {

// The TCP_INFO record as the board's kernel writes it; a shorter answer
// (user-mode emulators pass the option on as one int) is no record.
constexpr socklen_t kTcpInfoSize = 92;
static_assert(sizeof(tcp_info) >= kTcpInfoSize, "the record fits");
constexpr uint8_t kTcpEstablished = 1;
constexpr uint8_t kCaOpen = 0;
// Chances a controller under close watch gets before it is dropped.
constexpr int kCloseWatchChecks = 2;

void set_option(int fd, int level, int name, int value) {
    ::setsockopt(fd, level, name, &value, sizeof value);
}

void bind_failed(bool verbose) {
    if (verbose)
        std::cerr << "can't bind to socket: \"" << std::strerror(errno) << "\" "
                  << " waiting..." << std::endl;
}

// Out of descriptors, say: the listener rests (runtime/listen_watch.h).
void accept_failed(int error, bool verbose) {
    if (verbose) std::cerr << "can't accept connection: " << std::strerror(error) << std::endl;
}

// A flood of connections while one is served would log a line each.
void refuse_connection(const std::string& peer, LogThrottle& refused, bool verbose) {
    if (verbose && refused.admit())
        std::cerr << "refuse connection from " << peer << refused << std::endl;
}

void non_block_failed(bool verbose) {
    if (verbose) std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
}

// Listens on a bound socket and hands it to the watch; false after the
// failure's line.
bool start_listening(Fd& listenFd, ListenWatch& watch, bool verbose) {
    if (::listen(listenFd.get(), 1) != 0) {
        if (verbose) std::cerr << "can't listen socket: " << std::strerror(errno) << std::endl;
        return false;
    }
    if (!NonBlockMode(listenFd.get())) {
        non_block_failed(verbose);
        return false;
    }
    watch.Watch(std::move(listenFd));
    return true;
}

}  // namespace

// ---- AcceptorNet

AcceptorNet::AcceptorNet(int port, bool verbose) : port_(static_cast<unsigned short>(port)) {
    set_verbose(verbose);
    watch_.Bind("AcceptorNet::OnSocketEvent", &AcceptorNet::OnSocketEvent, this);
}

bool AcceptorNet::ImplActivate() {
    listenFd_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!listenFd_) {
        if (verbose()) std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
        return false;
    }
    set_option(listenFd_.get(), SOL_SOCKET, SO_REUSEADDR, 1);
    BindSocket();
    return true;
}

void AcceptorNet::BindSocket() {
    if (!tcp::bind_any(listenFd_, port_)) {
        bind_failed(verbose());
        retryTimer_.set(bind_retry_ms, &AcceptorNet::OnTimeout, this);
        return;
    }
    if (!start_listening(listenFd_, watch_, verbose())) Deactivate();
}

void AcceptorNet::OnTimeout(Timer*) { BindSocket(); }

void AcceptorNet::ImplDeactivate() {
    retryTimer_.reset();
    watch_.Close();
    listenFd_.close();
}

// A flood of connections is served a burst a pass.
void AcceptorNet::OnSocketEvent(int fd, short revents) {
    if (!CallsForRead(revents)) return;
    for (unsigned k = 0; k < kRecordsPerEvent; ++k) {
        INet4::Addr peer;
        Fd socket = tcp::accept(fd, peer);
        if (!socket) return OnAcceptFailed(errno);
        Serve(std::move(socket), peer);
    }
}

void AcceptorNet::OnAcceptFailed(int error) {
    if (!AcceptFailureLasts(error)) return;
    accept_failed(error, verbose());
    watch_.Rest();
}

// The accepted descriptor is closed when this returns: the link keeps a
// duplicate of what it takes.
void AcceptorNet::Serve(Fd socket, const INet4::Addr& peer) {
    if (connected()) {
        refuse_connection(peer.GetString(), refused_, verbose());
        ImplRefuseConnection();
        ReportRefusal();
        return;
    }
    if (!NonBlockMode(socket.get())) {
        non_block_failed(verbose());
        return;
    }
    if (verbose()) std::cout << "new connection from " << peer << std::endl;
    // While the link is still going down the connection is not taken, and
    // closing it here tells the peer at once.
    if (Connected(socket, peer)) ImplConnected(socket);
}

// ---- AcceptorNetCheckConnection

bool AcceptorNetCheckConnection::ImplActivate() {
    AcceptorNet::ImplActivate();
    CheckConnection();
    return true;
}

void AcceptorNetCheckConnection::ImplDeactivate() {
    checkTimer_.reset();
    AcceptorNet::ImplDeactivate();
}

void AcceptorNetCheckConnection::ImplOnDisconnect() { checkState_ = CheckState::Idle; }

void AcceptorNetCheckConnection::ImplRefuseConnection() {
    if (checkState_ != CheckState::Idle) return;
    checkState_ = CheckState::CheckConnection;
    checkCount_ = kCloseWatchChecks;
    SetupKeepAlive(true);
    say("CheckConnectionState CheckConnection");
}

void AcceptorNetCheckConnection::SetupKeepAlive(bool fast) {
    const int fd = connection_descriptor();
    set_option(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    set_option(fd, IPPROTO_TCP, TCP_KEEPIDLE, fast ? 1 : 7200);
    set_option(fd, IPPROTO_TCP, TCP_KEEPINTVL, fast ? 1 : 75);
    set_option(fd, IPPROTO_TCP, TCP_KEEPCNT, fast ? 3 : 9);
}

void AcceptorNetCheckConnection::say(const std::string& text) const {
    if (verbose()) std::cerr << text << std::endl;
}

void AcceptorNetCheckConnection::OnCheckConnectionTimeout(Timer*) { CheckConnection(); }

void AcceptorNetCheckConnection::CheckConnection() {
    if (connected()) {
        const std::string from = "connection from " + peer() + " closed: ";
        bool drop = false;
        tcp_info info{};
        socklen_t length = kTcpInfoSize;
        if (::getsockopt(connection_descriptor(), IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
            length >= kTcpInfoSize) {
            if (info.tcpi_state != kTcpEstablished) {
                say(from + "tcp socket change state.");
                drop = true;
            }
            if (checkState_ == CheckState::CheckConnection) {
                if (info.tcpi_ca_state != kCaOpen) {
                    if (checkCount_ > 0) --checkCount_;
                    if (checkCount_ < 1) {
                        say(from + "tcp socket change ca_state.");
                        drop = true;
                    }
                } else {
                    checkState_ = CheckState::Idle;
                    SetupKeepAlive(false);
                    say("CheckConnectionState Idle");
                }
            }
        }
        int error = 0;
        length = sizeof error;
        if (::getsockopt(connection_descriptor(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error != 0) {
            say(from + std::strerror(error));
            drop = true;
        }
        if (drop) {
            checkState_ = CheckState::Idle;
            SetupKeepAlive(false);
            Disconnect();
            say("CheckConnectionState Idle");
        }
    }
    checkTimer_.set(check_period_ms, &AcceptorNetCheckConnection::OnCheckConnectionTimeout, this);
}

// ---- AcceptorUnix

AcceptorUnix::AcceptorUnix(const std::string& path) : path_(path) {
    watch_.Bind("AcceptorUnix::OnSocketEvent", &AcceptorUnix::OnSocketEvent, this);
}

bool AcceptorUnix::ImplActivate() {
    listenFd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listenFd_) {
        if (verbose()) std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
        return false;
    }
    BindSocket();
    return true;
}

void AcceptorUnix::BindSocket() {
    ::unlink(path_.c_str());
    const sockaddr_un address = unix_domain::address(path_);
    if (::bind(listenFd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        bind_failed(verbose());
        retryTimer_.set(AcceptorNet::bind_retry_ms, &AcceptorUnix::OnTimeout, this);
        return;
    }
    if (!start_listening(listenFd_, watch_, verbose())) Deactivate();
}

void AcceptorUnix::OnTimeout(Timer*) { BindSocket(); }

void AcceptorUnix::ImplDeactivate() {
    retryTimer_.reset();
    watch_.Close();
    listenFd_.close();
}

void AcceptorUnix::OnSocketEvent(int fd, short revents) {
    if (!CallsForRead(revents)) return;
    for (unsigned k = 0; k < kRecordsPerEvent; ++k) {
        sockaddr_un peer{};
        socklen_t length = sizeof peer;
        Fd socket(::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
        if (!socket) return OnAcceptFailed(errno);
        std::string path(peer.sun_path, strnlen(peer.sun_path, sizeof peer.sun_path));
        if (connected()) {
            refuse_connection(path, refused_, verbose());
            ReportRefusal();
            continue;
        }
        if (!NonBlockMode(socket.get())) {
            non_block_failed(verbose());
            continue;
        }
        if (verbose()) std::cout << "new connection from " << path << std::endl;
        Connected(socket, path);
    }
}

void AcceptorUnix::OnAcceptFailed(int error) {
    if (!AcceptFailureLasts(error)) return;
    accept_failed(error, verbose());
    watch_.Rest();
}

}  // namespace Control
