#pragma once
// The board's synchronous HDLC network interfaces ("hdlc<n>"), configured
// through the kernel's generic HDLC layer with interface requests on a
// datagram socket (board/netif.h). SIOCWANDEV carries an if_settings in the
// ifreq: {type, size, pointer to the caller's buffer}. Both records are the
// kernel's own; the socket request numbers carry no size or direction bits
// and are the same on every Linux.
//
//   uint8_t zeros[4] = {};
//   ifreq r = board::hdlc_if::wan_request("hdlc0", IF_PROTO_PPP, sizeof zeros, zeros);
//   board::netif::ioctl(sock, SIOCWANDEV, &r);

#include <net/if.h>
#include <sys/ioctl.h>
// After <net/if.h>: only what glibc lacks (if_settings, the HDLC types).
#include <linux/if.h>
#include <linux/sockios.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace board::hdlc_if {

static_assert(SIOCGIFINDEX == 0x8933);
static_assert(SIOCGIFFLAGS == 0x8913);
static_assert(SIOCSIFFLAGS == 0x8914);
static_assert(SIOCWANDEV == 0x894A);
static_assert(IF_GET_IFACE == 0x0001);
static_assert(IF_PROTO_HDLC == 0x2000);
static_assert(IF_PROTO_PPP == 0x2001);
static_assert(IFF_UP == 0x1 && IFF_LOOPBACK == 0x8 && IFF_POINTOPOINT == 0x10);

// The interface's physical settings, as its driver fills them for
// IF_GET_IFACE; the rest of the layout is the driver's.
constexpr size_t kPhysicalSize = 128;
// Where in them the interface's TDM channel is (a native 32-bit word).
constexpr size_t kChannelOffset = 12;

static_assert(sizeof(if_settings) <= sizeof(ifreq::ifr_ifru), "if_settings lives in ifreq");
static_assert(sizeof(raw_hdlc_proto) == 4);

// A zeroed request naming the interface.
inline ifreq request(const std::string& name) {
    ifreq r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.ifr_name, name.c_str(), IFNAMSIZ - 1);
    return r;
}

// The if_settings part of a request (glibc's ifreq does not name it).
inline if_settings settings(const ifreq& r) {
    if_settings s;
    std::memcpy(&s, &r.ifr_ifru, sizeof s);
    return s;
}
inline void put_settings(ifreq& r, const if_settings& s) { std::memcpy(&r.ifr_ifru, &s, sizeof s); }

// The caller's buffer of the settings (one pointer, whatever its kind).
inline void* buffer(const if_settings& s) {
    void* p;
    std::memcpy(&p, &s.ifs_ifsu, sizeof p);
    return p;
}

// A SIOCWANDEV request: settings `type` with the caller's buffer of `size`.
inline ifreq wan_request(const std::string& name, uint32_t type, uint32_t size, void* data) {
    ifreq r = request(name);
    if_settings s;
    std::memset(&s, 0, sizeof s);
    s.type = type;
    s.size = size;
    std::memcpy(&s.ifs_ifsu, &data, sizeof data);
    put_settings(r, s);
    return r;
}

}  // namespace board::hdlc_if
