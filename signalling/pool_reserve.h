#pragma once
// The packet pool holds 1024 blocks for the whole server, and the queues of
// a handful of signalling links could hold them all: a link takes a message
// from above into a queue only while the pool keeps `pool_reserve` blocks
// free for what must not wait (frames being received, retransmissions, the
// controller link). A message refused so is counted and logged by the link
// as an overflow of its own.

#include "link/packet.h"

constexpr unsigned pool_reserve = 256;
static_assert(pool_reserve < Packet_pool::capacity() / 2);

inline bool pool_has_room() { return Packet_pool::free_count() >= pool_reserve; }
