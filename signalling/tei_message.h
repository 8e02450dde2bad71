#pragma once
// Q.921 TEI management messages, which both sides of a BRI line exchange in
// UI frames on SAPI 63 to TEI 127: the user side asks for a TEI, answers
// checks and obeys removals; the network side assigns, denies, checks and
// removes.
//
//   address 0xFC (user) / 0xFE (network), 0xFF; UI 0x03; entity 15;
//   Ri (16 bits, least significant octet first); type; Ai << 1 | 1

#include "link/packet.h"

namespace ISDN {

constexpr int group_tei = 127;
constexpr int management_sapi = 63;
constexpr unsigned char tei_management_entity = 15;
// Ri, type and Ai follow the entity octet.
constexpr unsigned tei_message_length = 5;

enum TeiMessageType : unsigned char {
    identity_request = 1,
    identity_assigned = 2,
    identity_denied = 3,
    identity_check_request = 4,
    identity_check_response = 5,
    identity_remove = 6,
    identity_verify_request = 7,
};

struct TeiMessage {
    unsigned short Ri;
    unsigned char type;
    unsigned char Ai;  // 127: any TEI in a request, every TEI in a check or removal
};

// Reads the management message of a UI information field that begins with
// the entity octet 15; false when it is shorter than a message. Ai's EA bit
// is not looked at.
bool read_tei_message(const Packet& info, TeiMessage& message);

// Appends the whole frame, address to Ai, to `frame`.
void put_tei_frame(Packet& frame, bool fromNetwork, const TeiMessage& message);

}  // namespace ISDN
