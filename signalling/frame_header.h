#pragma once
// Putting a link's header in front of an information field that stays
// queued for retransmission.

#include "link/packet.h"

class Protocol;

// A copy of `info` with the `length` octets of `header` in front; `info`
// itself is left as it is. The copy uses the head room when there is
// enough, else a new packet prepared through `layer`.
Packet with_header(const Packet& info, const unsigned char* header, unsigned length,
                   Protocol& layer);
