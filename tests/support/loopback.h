#pragma once
// Plain sockets on the loopback interface for tests that talk to the
// server's links. Every socket is non-blocking: a test never waits on one,
// it pumps loop passes instead.

#include <netinet/in.h>

#include <string>

#include "runtime/fd.h"

namespace test {

// 127.0.0.1:port.
sockaddr_in loopback_address(unsigned short port);
// A TCP port that nobody listens on at this moment, from this process's own
// window (own_port), or the kernel's pick once the window is used up.
unsigned short free_port();
// The next even port of this process's own window that `free` finds free
// (it may check `port` + 1 too); 0 when the window is used up.
unsigned short own_port(bool (*free)(unsigned short port));
// A non-blocking connection to 127.0.0.1:port, under way or established.
Fd connect_loopback(unsigned short port);
// A connection to 127.0.0.1:port established before this returns, then
// non-blocking; invalid when nobody listens there.
Fd connect_loopback_now(unsigned short port);
// Writes all of `bytes`; false when the socket refused some.
bool write_bytes(int fd, const std::string& bytes);
// What the socket holds right now; `closed` tells whether the peer has
// closed (or reset) the connection.
std::string read_available(int fd, bool* closed = nullptr);
// Whether the peer has closed (or reset) the connection; what the socket
// holds is read and dropped.
bool closed_by_peer(int fd);
// Both ends of one established loopback TCP connection.
void tcp_pair(Fd& a, Fd& b);
// A listening socket on 127.0.0.1 at a port of the kernel's choosing.
Fd listen_loopback(unsigned short& port);
// A socket bound there but not listening: the port is held, and connections
// to it are refused until it listens.
Fd bind_loopback(unsigned short& port);

}  // namespace test
