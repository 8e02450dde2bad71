#pragma once
// The seam for network-interface requests: the socket they are made on and
// the SIOC... requests on it, with the kernel's own records (struct ifreq,
// struct ifconf). On the board these are the plain system calls; in the
// simulated build a model answers them from the board's interface table.
// The descriptor returned is a real kernel descriptor: close it natively.

namespace board::netif {

// A socket for interface requests; -1 with errno set.
int socket(int domain, int type, int protocol);

// One interface request on such a socket; `arg` is the record the request
// takes (an ifreq, or an ifconf for SIOCGIFCONF).
int ioctl(int fd, unsigned long request, void* arg);

}  // namespace board::netif
