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

// A frame from the line is taken only while the pool keeps `frame_reserve`
// blocks free, enough for all one frame can make a link send and hand up
// (an answer, a window resent, the message); below, the link drops it,
// counted, as a frame lost on the line, which Q.921 recovers. So an empty
// pool never throws out of the loop on the way from the line.
constexpr unsigned frame_reserve = 32;
inline bool pool_takes_frame() {
    return Packet_pool::free_count() >= frame_reserve;
}
