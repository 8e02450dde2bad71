#include "board/sim/netif_model.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "board/netif.h"
#include "board/sim/model_support.h"
#include "board/sim/sim_board.h"

namespace board::sim {

int32_t NetIfModel::Hdlc::channel() const {
    int32_t channel;
    std::memcpy(&channel, physical.data() + hdlc_if::kChannelOffset, sizeof channel);
    return channel;
}

void NetIfModel::Hdlc::set_channel(int32_t channel) {
    std::memcpy(physical.data() + hdlc_if::kChannelOffset, &channel, sizeof channel);
}

NetIfModel::Interface NetIfModel::hdlc(int index, const std::string& name, int32_t channel) {
    Interface i{index, name, IFF_POINTOPOINT, "", Hdlc{}};
    i.hdlc->set_channel(channel);
    return i;
}

void NetIfModel::reset() {
    interfaces_ = {
        {1, "lo", IFF_UP | IFF_LOOPBACK | IFF_RUNNING, "127.0.0.1", {}},
        {2, "eth0", IFF_UP | IFF_BROADCAST | IFF_RUNNING | IFF_MULTICAST, "10.0.0.2", {}},
        hdlc(3, "hdlc0", kHdlcChannelBase),
        hdlc(4, "hdlc1", kHdlcChannelBase + 1),
    };
    socketFailure_.reset();
    failures_.clear();
    socketsOpened_ = 0;
}

void NetIfModel::add(Interface interface) {
    remove(interface.index);
    auto at = std::find_if(interfaces_.begin(), interfaces_.end(),
                           [&](const Interface& i) { return i.index > interface.index; });
    interfaces_.insert(at, std::move(interface));
}

void NetIfModel::remove(int index) {
    interfaces_.erase(std::remove_if(interfaces_.begin(), interfaces_.end(),
                                     [&](const Interface& i) { return i.index == index; }),
                      interfaces_.end());
}

NetIfModel::Interface* NetIfModel::find(int index) {
    for (Interface& i : interfaces_)
        if (i.index == index) return &i;
    return nullptr;
}

NetIfModel::Interface* NetIfModel::find(const std::string& name) {
    for (Interface& i : interfaces_)
        if (i.name == name) return &i;
    return nullptr;
}

bool NetIfModel::set_running(const std::string& name, bool running) {
    Interface* i = find(name);
    if (i == nullptr) return false;
    i->flags = static_cast<short>(running ? (i->flags | IFF_RUNNING) : (i->flags & ~IFF_RUNNING));
    return true;
}

bool NetIfModel::set_flags(const std::string& name, short flags) {
    Interface* i = find(name);
    if (i == nullptr) return false;
    i->flags = flags;
    return true;
}

bool NetIfModel::set_channel(const std::string& name, int32_t channel) {
    Interface* i = find(name);
    if (i == nullptr || !i->hdlc) return false;
    i->hdlc->set_channel(channel);
    return true;
}

void NetIfModel::fail_next(unsigned long request, int error, int count) {
    failures_.push_back(Failure{request, error, count});
}

bool NetIfModel::take_failure(unsigned long request) {
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->request != request) continue;
        errno = it->error;
        if (--it->count <= 0) failures_.erase(it);
        return true;
    }
    return false;
}

namespace {

// The board's refuse hook on the interface requests; false when it lets
// the call through.
bool refused(Op op, unsigned long request, const void* arg) {
    const auto& refuse = Board::instance().refuse;
    const int error =
        refuse ? refuse(op, NetIfModel::kPath, static_cast<uint32_t>(request), arg) : 0;
    if (error != 0) errno = error;
    return error != 0;
}

}  // namespace

// Any real descriptor will do: the requests are answered from the table.
int NetIfModel::socket(int, int type, int) {
    if (socketFailure_) {
        errno = *socketFailure_;
        socketFailure_.reset();
        return -1;
    }
    if (refused(Op::Open, 0, nullptr)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | (type & SOCK_CLOEXEC), 0);
    if (fd >= 0) ++socketsOpened_;
    return fd;
}

int NetIfModel::ioctl(int fd, unsigned long request, void* arg) {
    if (::fcntl(fd, F_GETFD) < 0) return -1;  // EBADF, as the kernel says
    if (take_failure(request) || refused(Op::Ioctl, request, arg)) return -1;
    if (arg == nullptr) {
        errno = EFAULT;
        return -1;
    }
    return this->request(request, arg);
}

// One case per request the board's kernel answers for the server.
int NetIfModel::request(unsigned long request, void* arg) {
    switch (request) {
        case SIOCGIFNAME: return get_name(*static_cast<ifreq*>(arg));
        case SIOCGIFFLAGS: return get_flags(*static_cast<ifreq*>(arg));
        case SIOCGIFADDR: return get_address(*static_cast<ifreq*>(arg));
        case SIOCGIFCONF: return get_config(*static_cast<ifconf*>(arg));
        case SIOCGIFINDEX: return get_index(*static_cast<ifreq*>(arg));
        case SIOCSIFFLAGS: return set_flags(*static_cast<ifreq*>(arg));
        case SIOCWANDEV: return wan_device(*static_cast<ifreq*>(arg));
    }
    errno = ENOTTY;
    return -1;
}

NetIfModel::Interface* NetIfModel::named(const ifreq& r) {
    Interface* i = find(std::string(r.ifr_name, strnlen(r.ifr_name, IFNAMSIZ)));
    if (i == nullptr) errno = ENODEV;
    return i;
}

int NetIfModel::get_name(ifreq& r) {
    Interface* i = find(r.ifr_ifindex);
    if (i == nullptr) {
        errno = ENODEV;
        return -1;
    }
    std::memset(r.ifr_name, 0, IFNAMSIZ);
    std::strncpy(r.ifr_name, i->name.c_str(), IFNAMSIZ - 1);
    return 0;
}

int NetIfModel::get_flags(ifreq& r) {
    Interface* i = named(r);
    if (i == nullptr) return -1;
    r.ifr_flags = i->flags;
    return 0;
}

int NetIfModel::get_index(ifreq& r) {
    Interface* i = named(r);
    if (i == nullptr) return -1;
    r.ifr_ifindex = i->index;
    return 0;
}

// The bits the device itself decides keep their value, as in the kernel.
int NetIfModel::set_flags(ifreq& r) {
    constexpr short kVolatile = IFF_LOOPBACK | IFF_POINTOPOINT | IFF_BROADCAST | IFF_RUNNING;
    Interface* i = named(r);
    if (i == nullptr) return -1;
    i->flags = static_cast<short>((r.ifr_flags & ~kVolatile) | (i->flags & kVolatile));
    return 0;
}

// The generic HDLC layer and its driver: the physical settings are copied
// to the caller's buffer (ENOBUFS, with the size needed, when it is short);
// the protocol changes only while the interface is down.
int NetIfModel::wan_device(ifreq& r) {
    Interface* i = named(r);
    if (i == nullptr) return -1;
    if (!i->hdlc) return refuse(EINVAL);
    if_settings s = hdlc_if::settings(r);
    switch (s.type) {
        case IF_GET_IFACE:
            s.type = IF_IFACE_E1;
            if (s.size < hdlc_if::kPhysicalSize) {
                s.size = hdlc_if::kPhysicalSize;
                hdlc_if::put_settings(r, s);
                return refuse(ENOBUFS);
            }
            if (hdlc_if::buffer(s) == nullptr) return refuse(EFAULT);
            std::memcpy(hdlc_if::buffer(s), i->hdlc->physical.data(), hdlc_if::kPhysicalSize);
            hdlc_if::put_settings(r, s);
            return 0;
        case IF_PROTO_HDLC:
            if (hdlc_if::buffer(s) == nullptr) return refuse(EFAULT);
            [[fallthrough]];
        case IF_PROTO_PPP:
            if (i->flags & IFF_UP) return refuse(EBUSY);
            i->hdlc->protocol = s.type;
            return 0;
    }
    return refuse(EINVAL);
}

// Writes the interface's IPv4 address into `out`; false when it has none.
static bool put_address(const NetIfModel::Interface& i, sockaddr& out) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    if (i.address.empty() || ::inet_pton(AF_INET, i.address.c_str(), &sa.sin_addr) != 1)
        return false;
    std::memcpy(&out, &sa, sizeof sa);
    return true;
}

int NetIfModel::get_address(ifreq& r) {
    Interface* i = named(r);
    if (i == nullptr) return -1;
    if (!put_address(*i, r.ifr_addr)) {
        errno = EADDRNOTAVAIL;
        return -1;
    }
    return 0;
}

// As the kernel: one record per interface with an IPv4 address while there
// is room; without a buffer, only the length needed.
int NetIfModel::get_config(ifconf& c) {
    int room = c.ifc_req ? c.ifc_len / static_cast<int>(sizeof(ifreq)) : 0;
    int used = 0, needed = 0;
    for (const Interface& i : interfaces_) {
        ifreq r{};
        if (!put_address(i, r.ifr_addr)) continue;
        ++needed;
        if (used == room) continue;
        std::strncpy(r.ifr_name, i.name.c_str(), IFNAMSIZ - 1);
        c.ifc_req[used++] = r;
    }
    c.ifc_len = static_cast<int>(sizeof(ifreq)) * (c.ifc_req ? used : needed);
    return 0;
}

}  // namespace board::sim

// The simulated backend of the interface-request seam.
namespace board::netif {

int socket(int domain, int type, int protocol) {
    return sim::Board::instance().netifs().socket(domain, type, protocol);
}

int ioctl(int fd, unsigned long request, void* arg) {
    return sim::Board::instance().netifs().ioctl(fd, request, arg);
}

}  // namespace board::netif
