#include "signalling/frame_header.h"

#include "link/protocol.h"

Packet with_header(const Packet& info, const unsigned char* header, unsigned length,
                   Protocol& layer) {
    Packet frame = info;
    if (frame._headroom() >= length) {
        for (unsigned i = length; i-- > 0;) frame.push(header[i]);
        return frame;
    }
    frame = Packet();
    layer.prepare_head(frame);
    frame.put(header, length);
    frame.put(info);
    return frame;
}
