#include "slots/modem_factory.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "board/devio.h"
#include "board/drivers/hdlc_if.h"
#include "board/drivers/mctl.h"
#include "board/netif.h"
#include "board/paths.h"
#include "link/tcp.h"
#include "runtime/descriptor_end.h"
#include "slots/dsp_modem_slot.h"
#include "slots/hdlc_modem_slot.h"

namespace {

constexpr int kListenBacklog = 64;
// The interface names tried: "hdlc0" to "hdlc255".
constexpr int kHdlcNames = 256;

}  // namespace

ModemFactory& ModemFactory::instance() {
    static ModemFactory factory;
    return factory;
}

ModemFactory::ModemFactory() {
    IQuery();
    Init();
}

ModemFactory::~ModemFactory() { DeleteConnections(); }

void ModemFactory::DeleteConnections() {
    for (AuthClient* client : clients_) delete client;
    clients_.clear();
}

std::ostream& ModemFactory::PutHeader(std::ostream& os) const {
    return os << "modem[" << modems_ << "," << modemSlots_.size() << "]: ";
}

// ---- Slots

Slot* ModemFactory::INewSlot(const LGCP::CreateParams& params) {
    const TERM::ModemParams* modem = params.get_modem();
    if (!modem) return nullptr;
    const auto* ddm = modem->get_ddm();
    const bool digital = ddm && ddm->size() > 0;
    if (digital) takeDowns_.pay_all();
    if (digital && !freeHdlc_.empty()) {
        auto* slot = new HdlcModemSlot(*modem, freeHdlc_.front());
        freeHdlc_.pop_front();
        modemSlots_.push_back(slot);
        hdlcSlots_.push_back(slot);
        return slot;
    }
    auto* slot = new DspModemSlot(*modem);
    modemSlots_.push_back(slot);
    dspSlots_.push_back(slot);
    return slot;
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot) {
    modemSlots_.remove(slot);
    dspSlots_.remove(slot);
}

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* slot) {
    modemSlots_.remove(slot);
    hdlcSlots_.remove(slot);
}

// An interface still up or in PPP would fail the next call's set-up: no
// pppd would run on it.
void ModemFactory::ReleaseInterface(const std::string& name, const std::string& header) {
    if (!TakeDown(name, header)) takeDowns_.owe(name);
}

bool ModemFactory::TakeDown(const std::string& name, std::string header) {
    if (header.empty()) {
        std::ostringstream own;
        PutHeader(own) << name << ": ";
        header = own.str();
    }
    if (!HdlcModemSlot::TakeDown(name, header, takeDownRefused_)) return false;
    Offer(name);
    return true;
}

// An interface gone since it was taken must not be offered again.
void ModemFactory::Offer(const std::string& name) {
    if (scannedHdlc_.count(name) &&
        std::find(freeHdlc_.begin(), freeHdlc_.end(), name) == freeHdlc_.end())
        freeHdlc_.push_back(name);
}

void ModemFactory::Query(LGCP::Resources& resources) {
    resources.set_modem(modems_);
    resources.set_digital_modems(static_cast<int>(scannedHdlc_.size()));
}

void ModemFactory::IQuery() {
    update_modemDevices();
    update_hdlcDevices();
}

// A shortage of descriptors says nothing about the modems, nor does an
// enumeration the driver refused before its end (ENODEV): the count stays
// until the next query.
void ModemFactory::update_modemDevices() {
    Fd fd(board::open(board::mctl::kDevice, O_RDWR | O_CLOEXEC));
    if (!fd) {
        const int error = errno;
        const bool shortage = NoDescriptorFree(error);
        if (!shortage) modems_ = 0;
        PutHeader(std::cerr) << "fail to open \"" << board::mctl::kDevice
                             << "\" : " << std::strerror(error)
                             << (shortage ? ", the count stays" : "") << std::endl;
        return;
    }
    int modems = 0;
    for (int previous = -1; modems < kMaxModems; ++modems) {
        previous = board::ioctl_value(fd.get(), board::mctl::kEnumerate,
                                      static_cast<unsigned long>(static_cast<long>(previous)));
        if (previous >= 0) continue;
        const int error = errno;
        if (error == ENODEV) break;
        PutHeader(std::cerr) << "enum fail: " << std::strerror(error) << ", the count stays"
                             << std::endl;
        return;
    }
    if (modems == kMaxModems)
        PutHeader(std::cerr) << "enum fail: more than " << kMaxModems << " modems" << std::endl;
    modems_ = modems;
}

// A rescan must not offer an interface a slot holds: a second pppd would
// run on it, and either slot's end would take it down under the other. A
// scan ends at the first name the system does not know (ENODEV); one
// without a socket, or with a request refused before that end, learns
// nothing: the interfaces known stay, and slots released meanwhile give
// theirs back.
void ModemFactory::update_hdlcDevices() {
    Fd sock(board::netif::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock) {
        const int error = errno;
        PutHeader(std::cerr) << "interface scan fail: " << std::strerror(error)
                             << ", the interfaces stay" << std::endl;
        return;
    }
    std::set<std::string> scanned;
    std::list<std::string> free;  // in the scan's order
    std::string found;
    for (int n = 0; n < kHdlcNames; ++n) {
        const std::string name = "hdlc" + std::to_string(n);
        ifreq request = board::hdlc_if::request(name);
        if (board::netif::ioctl(sock.get(), SIOCGIFINDEX, &request) != 0 ||
            board::netif::ioctl(sock.get(), SIOCGIFFLAGS, &request) != 0) {
            const int error = errno;
            if (error == ENODEV) break;
            PutHeader(std::cerr) << "interface scan fail at " << name << ": "
                                 << std::strerror(error) << ", the interfaces stay" << std::endl;
            return;
        }
        if (!(request.ifr_flags & IFF_POINTOPOINT) || (request.ifr_flags & IFF_LOOPBACK)) continue;
        scanned.insert(name);
        found += " " + name;
        if (!Held(name)) free.push_back(name);
    }
    scannedHdlc_ = std::move(scanned);
    freeHdlc_ = std::move(free);
    if (!found.empty() && foundLine_.admit())
        PutHeader(std::clog) << "found point-o-point devices:" << found << foundLine_ << std::endl;
}

bool ModemFactory::Held(const std::string& interfaceName) const {
    return takeDowns_.owes(interfaceName) ||
           std::any_of(hdlcSlots_.begin(), hdlcSlots_.end(), [&](const HdlcModemSlot* slot) {
               return slot->interfaceName() == interfaceName;
           });
}

// ---- The authentication link

// Address reuse lets a restarted server bind while an old connection of the
// port is still in TIME_WAIT.
void ModemFactory::Init() {
    Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    const int reuse = 1;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    INet4::Addr address;
    address.Assign(htonl(INADDR_LOOPBACK));
    address.SetPort(board::auth_port());
    if (::bind(socket.get(), address.sockaddr_ptr(), INet4::Addr::size()) != 0) {
        PutHeader(std::cerr) << "fail to bind auth socket: " << std::strerror(errno) << std::endl;
        return;
    }
    if (::listen(socket.get(), kListenBacklog) != 0) {
        PutHeader(std::cerr) << "fail to listen auth socket: " << std::strerror(errno) << std::endl;
        return;
    }
    if (!socket.NonBlock()) {
        PutHeader(std::cerr) << "can't set socket to non block mode: " << std::strerror(errno)
                             << std::endl;
        return;
    }
    Listen(std::move(socket));
}

void ModemFactory::Listen(Fd socket) {
    listener_.Bind("ModemFactory::OnSocketEvent", &ModemFactory::OnSocketEvent, this);
    listener_.Watch(std::move(socket));
}

void ModemFactory::CloseListener() {
    listener_.Close();
}

// After an error the listener is not opened again while the process runs.
// A failed accept (out of descriptors, say) would fail again on every pass:
// the listener rests for a while (runtime/listen_watch.h). A connection
// beyond the cap is closed at once.
void ModemFactory::OnSocketEvent(int fd, short revents) {
    if (revents & kEndEvents) {
        PutHeader(std::cerr) << "auth server socket error." << std::endl;
        return CloseListener();
    }
    if (!(revents & POLLIN)) return;
    INet4::Addr peer;
    Fd connection = tcp::accept(fd, peer);
    if (!connection && !AcceptFailureLasts(errno)) return;
    if (!connection || !connection.NonBlock()) {
        PutHeader(std::cerr) << "fail to set nonblock mode." << std::endl;
        if (!connection) listener_.Rest();
        return;
    }
    if (clients_.size() >= kMaxAuthConnections) {
        if (refused_.admit())
            PutHeader(std::cerr) << "auth connection from " << peer
                                 << " refused: " << kMaxAuthConnections << " connections open"
                                 << refused_ << std::endl;
        return;
    }
    Serve(std::move(connection), peer);
}

// A connection the loop cannot watch (no descriptor left for it) would
// never be read or closed: it is closed at once.
void ModemFactory::Serve(Fd connection, const INet4::Addr& peer) {
    auto* client = new AuthClient(std::move(connection), peer, *this);
    if (!client->Activate()) {
        const int error = errno;
        PutHeader(std::cerr) << "auth connection from " << peer
                             << " closed: cannot watch it: " << std::strerror(error) << std::endl;
        delete client;
        return;
    }
    clients_.push_back(client);
    PutHeader(std::cerr) << "incoming auth connection from " << peer << std::endl;
}

void ModemFactory::OnAuthSocketDisconnect(AuthClient* client) {
    PutHeader(std::clog) << "auth client " << client->peer() << " disconnected." << std::endl;
    clients_.remove(client);
    delete client;
}

void ModemFactory::OnAuth(const Auth::Record& record) {
    const uint32_t session = record.header().session;
    for (ModemSlot* slot : modemSlots_) {
        if (slot->EqAuthId(static_cast<int>(session))) return slot->OnAuth(record);
    }
    if (unknownSession_.admit())
        PutHeader(std::cerr) << "receive auth request for unknown session " << session
                             << unknownSession_ << std::endl;
}

void ModemFactory::SendAuth(uint32_t session, const std::vector<uint8_t>& record) {
    for (AuthClient* client : clients_) {
        if (client->LastSession(session)) {
            client->Send(record);  // may delete the client
            return;
        }
    }
    PutHeader(std::clog) << "send error: unknown auth " << session << " session." << std::endl;
}

void ModemFactory::reset_for_test() {
    DeleteConnections();
    refused_ = LogThrottle();
    unknownSession_ = LogThrottle();
    modemSlots_.clear();
    dspSlots_.clear();
    hdlcSlots_.clear();
    takeDowns_.clear();
    takeDownRefused_.clear();
    CloseListener();
    IQuery();
    foundLine_ = LogThrottle();  // the test's first scan is said
    Init();
}
