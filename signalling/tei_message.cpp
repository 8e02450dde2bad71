#include "signalling/tei_message.h"

namespace ISDN {

bool read_tei_message(const Packet& info, TeiMessage& message) {
    if (info.length() < tei_message_length) return false;
    message.Ri = static_cast<unsigned short>(info[1] | info[2] << 8);
    message.type = info[3];
    message.Ai = info[4] >> 1;
    return true;
}

void put_tei_frame(Packet& frame, bool fromNetwork, const TeiMessage& message) {
    // The side's own C/R bit for a command.
    frame.put(static_cast<unsigned char>(management_sapi << 2 | fromNetwork << 1));
    frame.put(static_cast<unsigned char>(group_tei << 1 | 0x01));
    frame.put(static_cast<unsigned char>(0x03));  // UI, P 0
    frame.put(tei_management_entity);
    frame.put16(message.Ri);
    frame.put(message.type);
    frame.put(static_cast<unsigned char>(message.Ai << 1 | 0x01));
}

}  // namespace ISDN
