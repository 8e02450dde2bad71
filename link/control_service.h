#pragma once
// Message links: whole messages both ways over one stream socket, each one
// TPKT frame. A `Control::Service` stacks the TPKT layer over the
// stream-socket layer, keeps the link state and reports to one
// `Control::Notify`. How the socket is obtained (listening or connecting, TCP
// or Unix domain) belongs to the concrete links in link/control_links.h.

#include <string>

#include "link/protocol.h"
#include "runtime/inet4_addr.h"
#include "runtime/timer.h"

class Fd;
class Measure;
class StrmProtocol;

namespace Control {

// What the user of a link hears. OnConnect comes when the link is up and
// sending works; OnMessage once per received frame with its payload;
// OnDisconnect once per lost connection, from a deferred call on a later
// loop pass, so the user may delete or re-activate the link from it.
class Notify {
public:
    virtual ~Notify() = default;
    virtual void OnConnect() = 0;
    virtual void OnDisconnect() = 0;
    virtual void OnMessage(const char* data, int length) = 0;
    // An acceptor refused a newcomer while this connection is served.
    virtual void OnRefuseConnection() {}
};

class Service : private ProtocolsFamily {
public:
    struct State {
        enum Type { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
    };

    Service();
    ~Service() override;

    void Bind(Notify* notify) { notify_ = notify; }
    void UnBind() { notify_ = nullptr; }

    // Starts listening or connecting (after a Deactivate).
    bool Activate();
    // Stops listening or connecting. A connected socket stays with the
    // stream layer until the link goes or a connector releases it.
    void Deactivate();
    // Drops the current connection; OnDisconnect follows on the next pass.
    void Disconnect();
    // One frame, sent only while Connected.
    void Send(const char* data, int length);

    std::string service_name() const;
    void service_name(const std::string& name);
    // Detaches the stream layer's socket from the loop and closes it.
    void Release();

    const Measure& get_read_measure() const;
    const Measure& get_write_measure() const;
    unsigned GetOverflowCounter() const;

    State::Type state() const { return state_; }
    bool connected() const { return state_ == State::Connected; }
    const std::string& peer() const { return peer_; }
    bool verbose() const { return verbose_; }

protected:
    virtual bool ImplActivate() = 0;
    virtual void ImplDeactivate() = 0;
    virtual void ImplOnDisconnect() = 0;

    // The deferred end of a disconnect.
    void OnDeactivateDPC();
    // The connected socket the stream layer reads and writes; -1 when none.
    int connection_descriptor() const;
    // Takes a connected socket: the stack is attached and activated and the
    // notify hears OnConnect.
    void StartConnection(const Fd& fd, const std::string& peer);
    // Tells the notify that a newcomer was refused.
    void ReportRefusal();
    void set_verbose(bool verbose) { verbose_ = verbose; }

private:
    void on_message(Packet& packet) override;
    void on_activated(Protocol*) override {}
    void on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status>) override;

    std::string peer_;
    bool verbose_ = true;
    State::Type state_ = State::Idle;
    Notify* notify_ = nullptr;
    StrmProtocol* strm_;
    Dpc deactivateDpc_;
};

// "Idle", "Connecting", "Deactivating", "Connected" or "Unknown".
const char* GetTextNotation(Service::State::Type state);

// A link over TCP.
class ServiceNet : public Service {
protected:
    // A TCP connection is established; false when the link did not take it
    // (it is Deactivating), so the caller closes it.
    bool Connected(const Fd& fd, const INet4::Addr& peer);

    INet4::Addr peerAddr;
};

// A link over a Unix-domain socket.
class ServiceUnix : public Service {
protected:
    bool Connected(const Fd& fd, const std::string& path);
};

}  // namespace Control
