#include "link/control_service.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <iostream>

#include "link/strm_protocol.h"
#include "link/tpkt_protocol.h"
#include "runtime/profile.h"

namespace Control {

const char* GetTextNotation(Service::State::Type state) {
    switch (state) {
    case Service::State::Idle: return "Idle";
    case Service::State::Connecting: return "Connecting";
    case Service::State::Deactivating: return "Deactivating";
    case Service::State::Connected: return "Connected";
    }
    return "Unknown";
}

Service::Service() : strm_(new StrmProtocol) {
    add_protocol_tail(strm_);
    add_protocol_tail(new Tpkt_protocol);
    deactivateDpc_.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service() {
    deactivateDpc_.Deactivate();
    deactivateDpc_.Bind(nullptr);
}

bool Service::Activate() {
    Deactivate();
    state_ = State::Connecting;
    bool ok = ImplActivate();
    if (!ok) state_ = State::Idle;
    return ok;
}

void Service::Deactivate() {
    ImplDeactivate();
    state_ = State::Idle;
}

void Service::Disconnect() {
    if (state_ == State::Deactivating) return;
    deactivate();
}

void Service::Send(const char* data, int length) {
    switch (state_) {
    case State::Deactivating:
        return;
    case State::Connected:
        break;
    default:
        if (verbose_)
            std::cerr << "Control::Service::Send() ignore Send request in " << GetTextNotation(state_)
                      << " state." << std::endl;
        return;
    }
    // A frame's length field holds at most this much.
    if (length < 0 || static_cast<unsigned>(length) > Tpkt_protocol::max_payload) {
        std::cerr << "Control::Service::Send() message of " << length
                  << " bytes does not fit one frame, not sent." << std::endl;
        return;
    }
    static Profile::Point copying("Control::Service::Send [1]");
    static Profile::Point descending("Control::Service::Send [2]");
    copying.begin();
    Packet p;
    prepare_head(p);
    p.passert(static_cast<bool>(p), "null packet");
    p.passert(static_cast<unsigned>(length) <= p._tailroom(), "len<=_tailroom()");
    p.put(data, static_cast<unsigned>(length));
    copying.end();
    descending.begin();
    message(p);
    descending.end();
}

std::string Service::service_name() const { return strm_->display_name(); }

void Service::service_name(const std::string& name) { strm_->set_display_name(name); }

void Service::Release() { strm_->release(); }

int Service::connection_descriptor() const { return strm_->descriptor(); }

const Measure& Service::get_read_measure() const { return strm_->read_measure(); }

const Measure& Service::get_write_measure() const { return strm_->write_measure(); }

unsigned Service::GetOverflowCounter() const { return strm_->overflow_counter(); }

void Service::StartConnection(const Fd& fd, const std::string& peer) {
    peer_ = peer;
    state_ = State::Connected;
    strm_->attach(fd);
    activate();
    if (notify_ && state_ == State::Connected) notify_->OnConnect();
}

void Service::ReportRefusal() {
    if (notify_) notify_->OnRefuseConnection();
}

void Service::on_message(Packet& packet) {
    if (state_ == State::Deactivating || !notify_) return;
    packet.passert(static_cast<bool>(packet), "null packet");
    notify_->OnMessage(reinterpret_cast<const char*>(packet.data()), static_cast<int>(packet.length()));
}

void Service::on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status>) {
    if (verbose_) std::cerr << "control connection " << peer_ << " closed." << std::endl;
    state_ = State::Deactivating;
    deactivateDpc_.Activate();
}

// A link that was deactivated or re-activated meanwhile still reports the
// lost connection, but neither goes back to Connecting nor lets the concrete
// link react (a connector would start a reconnection of its own).
void Service::OnDeactivateDPC() {
    deactivateDpc_.Deactivate();
    if (state_ == State::Deactivating) {
        state_ = State::Connecting;
        ImplOnDisconnect();
    }
    if (notify_) notify_->OnDisconnect();
}

bool ServiceNet::Connected(const Fd& fd, const INet4::Addr& peer) {
    if (state() == State::Deactivating) return false;
    int on = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 && verbose())
        std::cerr << "fail set keepalive to control socket." << std::endl;
    if (::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 && verbose())
        std::cerr << "fail to turn off Nagle algorithm." << std::endl;
    peerAddr = peer;
    StartConnection(fd, peerAddr.GetString());
    return true;
}

bool ServiceUnix::Connected(const Fd& fd, const std::string& path) {
    if (state() == State::Deactivating) return false;
    StartConnection(fd, path);
    return true;
}

}  // namespace Control
