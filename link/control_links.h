#pragma once
// The concrete message links: how each obtains its socket.
//   AcceptorNet                  listens on a TCP port, one connection at a time
//   AcceptorNetCheckConnection   the controller's acceptor: also drops a
//                                controller whose peer has died
//   ConnectorNet                 connects out and keeps reconnecting
//   AcceptorUnix, ConnectorUnix  the same over Unix-domain sockets

#include <string>

#include "link/control_service.h"
#include "runtime/fd.h"
#include "runtime/listen_watch.h"
#include "runtime/log_throttle.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"

namespace Control {

class AcceptorNet : public ServiceNet {
public:
    static constexpr unsigned bind_retry_ms = 5000;

    AcceptorNet() : AcceptorNet(0) {}
    explicit AcceptorNet(int port) : AcceptorNet(port, true) {}
    AcceptorNet(int port, bool verbose);

    unsigned short port() const { return port_; }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override {}
    // A connection came while one is served (it is then closed).
    virtual void ImplRefuseConnection() {}
    // A connection was taken; `fd` is the caller's, dup it to keep it.
    virtual void ImplConnected(const Fd&) {}

private:
    void BindSocket();
    void OnSocketEvent(int fd, short revents);
    void OnTimeout(Timer*);
    void Serve(Fd socket, const INet4::Addr& peer);
    void OnAcceptFailed(int error);

    unsigned short port_;
    Fd listenFd_;       // until it listens, then the watch's
    Timer retryTimer_;  // the next bind
    ListenWatch watch_;
    LogThrottle refused_;
};

// Checks the connected controller's socket every second. A refused newcomer
// puts it under close watch (fast keepalive, two chances), so that a
// controller whose peer has died is dropped and the next attempt gets in.
// The checks look at the connection's own socket: a copy of it for them
// could fail (no descriptor left) and drop a healthy controller.
class AcceptorNetCheckConnection : public AcceptorNet {
public:
    enum class CheckState { Idle = 0, CheckConnection = 1 };
    static constexpr unsigned check_period_ms = 1000;

    AcceptorNetCheckConnection() : AcceptorNetCheckConnection(0) {}
    explicit AcceptorNetCheckConnection(int port) : AcceptorNetCheckConnection(port, true) {}
    AcceptorNetCheckConnection(int port, bool verbose) : AcceptorNet(port, verbose) {}

    CheckState check_state() const { return checkState_; }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override;
    void ImplRefuseConnection() override;

private:
    void OnCheckConnectionTimeout(Timer*);
    void CheckConnection();
    void SetupKeepAlive(bool fast);
    // Logs a check line when verbose.
    void say(const std::string& text) const;

    Timer checkTimer_;
    CheckState checkState_ = CheckState::Idle;
    int checkCount_ = 0;
};

class ConnectorNet : public ServiceNet {
public:
    static constexpr int quick_retries = 7;
    static constexpr unsigned quick_retry_ms = 1000;
    static constexpr unsigned connect_failed_retry_ms = 20000;
    static constexpr unsigned poll_error_retry_ms = 15000;
    static constexpr unsigned socket_error_retry_ms = 12000;
    static constexpr unsigned reconnect_ms = 10000;

    ConnectorNet();
    // "a.b.c.d" or "a.b.c.d:port".
    explicit ConnectorNet(const std::string& address);
    ConnectorNet(const std::string& host, unsigned short port);

    const std::string& host() const { return host_; }
    unsigned short port() const { return port_; }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override;

private:
    void TryConnect();
    void OnSocketEvent(int fd, short revents);
    void OnTimeout(Timer*);
    // 1 s while quick retries last (using one), else `slowMs`.
    void Retry(unsigned slowMs);
    void Established(const INet4::Addr& address);
    INet4::Addr Address() const;

    unsigned short port_ = 0;
    std::string host_;
    Fd fd_;
    Timer timer_;
    Event event_;
    int retries_ = 0;
};

class AcceptorUnix : public ServiceUnix {
public:
    AcceptorUnix() = default;
    explicit AcceptorUnix(const std::string& path);

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override {}

private:
    void BindSocket();
    void OnSocketEvent(int fd, short revents);
    void OnTimeout(Timer*);
    void OnAcceptFailed(int error);

    std::string path_;
    Fd listenFd_;       // until it listens, then the watch's
    Timer retryTimer_;  // the next bind
    ListenWatch watch_;
    LogThrottle refused_;
};

class ConnectorUnix : public ServiceUnix {
public:
    ConnectorUnix() : ConnectorUnix(std::string()) {}
    explicit ConnectorUnix(const std::string& path) : ConnectorUnix(path, std::string()) {}
    // `localPath`: where to bind the client socket first (empty: nowhere).
    ConnectorUnix(const std::string& path, const std::string& localPath);

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override;

private:
    void TryConnect();
    void OnSocketEvent(int fd, short revents);
    void OnTimeout(Timer*);
    void Retry(unsigned slowMs);

    std::string path_;
    std::string localPath_;
    Fd fd_;
    Timer timer_;
    Event event_;
    int retries_ = 0;
};

}  // namespace Control
