#include "runtime/net.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <strings.h>
#include <sys/ioctl.h>  // the SIOC... numbers
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "board/netif.h"
#include "runtime/fd.h"

namespace Net {

std::string hostname() {
    char name[512];
    if (gethostname(name, sizeof name) != 0) return std::string();
    name[sizeof name - 1] = '\0';
    return name;
}

int hostname(const std::string& name) { return sethostname(name.data(), name.size()); }

namespace {

bool in_net(uint32_t host_order, uint32_t net, int bits) {
    uint32_t mask = bits == 0 ? 0 : 0xffffffffu << (32 - bits);
    return (host_order & mask) == net;
}

bool chosen(const char* name, const sockaddr_in& sa, int mode) {
    if (mode == 0) return true;
    uint32_t a = ntohl(sa.sin_addr.s_addr);
    if ((mode & ifconfig_not_loopback) && strcasecmp(name, "lo") != 0) return true;
    if ((mode & ifconfig_link_local) && in_net(a, 0xa9fe0000u, 16)) return true;
    if ((mode & ifconfig_private) &&
        (in_net(a, 0xc0a80000u, 16) || in_net(a, 0xac100000u, 12) || in_net(a, 0x0a000000u, 8)))
        return true;
    return false;
}

// Calls `take` for each chosen IPv4 interface; returns the count taken or -1.
int walk(int mode, const std::function<bool(int sock, ifreq&)>& take) {
    Fd sock(board::netif::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock) return -1;
    // Room for 16 interface records, whatever their size on this host.
    ifreq records[16];
    std::memset(records, 0, sizeof records);
    ifconf conf;
    conf.ifc_len = sizeof records;
    conf.ifc_req = records;
    if (board::netif::ioctl(sock.get(), SIOCGIFCONF, &conf) != 0) return -1;
    int n = conf.ifc_len / static_cast<int>(sizeof(ifreq));
    int taken = 0;
    for (int i = 0; i < n; ++i) {
        ifreq& r = records[i];
        if (r.ifr_addr.sa_family != AF_INET) continue;
        sockaddr_in sa;
        std::memcpy(&sa, &r.ifr_addr, sizeof sa);
        if (!chosen(r.ifr_name, sa, mode)) continue;
        if (take(sock.get(), r)) ++taken;
    }
    return taken;
}

}  // namespace

int ifconfig(std::list<INet4::Addr>& out, int mode) {
    return walk(mode, [&](int sock, ifreq& r) {
        if (board::netif::ioctl(sock, SIOCGIFADDR, &r) != 0) return false;
        INet4::Addr a;
        std::memcpy(&a.sockaddr_in_ref(), &r.ifr_addr, sizeof(sockaddr_in));
        out.push_back(a);
        return true;
    });
}

int ifconfig(std::list<std::string>& out, int mode, int flags) {
    return walk(mode, [&](int sock, ifreq& r) {
        std::string name(r.ifr_name, strnlen(r.ifr_name, IFNAMSIZ));
        if (board::netif::ioctl(sock, SIOCGIFADDR, &r) != 0) return false;
        if (board::netif::ioctl(sock, SIOCGIFFLAGS, &r) != 0) return false;
        if ((r.ifr_flags & flags) != flags) return false;
        out.push_back(name);
        return true;
    });
}

}  // namespace Net
