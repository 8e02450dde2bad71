#pragma once
// Host name and network interface queries (the interfaces through the
// board's interface-request seam, board/netif.h).

#include <list>
#include <string>

#include "runtime/inet4_addr.h"

namespace Net {

// Bits choosing interfaces; set bits are alternatives, 0 takes every IPv4 one.
enum ifconfig_mode_t : int {
    ifconfig_not_loopback = 1,  // name is not "lo" (any case)
    ifconfig_link_local = 2,    // 169.254.0.0/16
    ifconfig_private = 4,       // 192.168/16, 172.16/12, 10/8
};

std::string hostname();
int hostname(const std::string& name);

// Appends the chosen interfaces' addresses; returns how many, or -1.
int ifconfig(std::list<INet4::Addr>& out, int mode);
// Appends the names of the chosen interfaces that have every bit of `flags`
// set; returns how many, or -1.
int ifconfig(std::list<std::string>& out, int mode, int flags);

}  // namespace Net
