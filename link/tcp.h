#pragma once
// The TCP steps that the listening links and the tracer share.

#include "runtime/fd.h"
#include "runtime/inet4_addr.h"

namespace tcp {

// Binds to `port` of every local address.
bool bind_any(const Fd& socket, unsigned short port);
// The next pending connection (close-on-exec) and its peer; an invalid Fd
// when there is none.
Fd accept(int listenFd, INet4::Addr& peer);

}  // namespace tcp
