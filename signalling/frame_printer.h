#pragma once
// Readable text of one LAPD frame and the Q.931 message it carries, for the
// ISDN links' traces at log level 3 and above. Plain functions over a frame
// and a text buffer with constant tables; nothing is kept between calls.

#include <cstddef>

#include "signalling/frame_text.h"

namespace ISDN {

// Octets of the trace text buffer (ISDN::logbuf), the terminating NUL included.
constexpr std::size_t logbuf_size = 1024;

// Writes the text of `frame` (as on the wire: address first, no FCS) into
// `out`, which holds logbuf_size octets. `network_to_user` names the
// direction. A frame shorter than 3 octets gives an empty text. Nothing is
// read outside the frame: a field that runs past its end, or text that does
// not fit, ends the text with FrameText::marker. Element octets printed as
// characters (numbers, Display) are escaped unless printable ASCII.
void dlogframe(const unsigned char* frame, int length, bool network_to_user, char* out);

// Element printers: `element` points at a variable-length information
// element's identifier; its content ("octet 3" on) ends at `end`, its declared
// end or the frame's end, whichever comes first. A printer prints only while
// octets of its element remain; the walk over the elements goes on after it.
using ElementPrinter = void (*)(FrameText& out, const unsigned char* element,
                                const unsigned char* end);
void general(FrameText& out, const unsigned char* element, const unsigned char* end);
void prbearer(FrameText& out, const unsigned char* element, const unsigned char* end);
void prcause(FrameText& out, const unsigned char* element, const unsigned char* end);
void prchident(FrameText& out, const unsigned char* element, const unsigned char* end);
void prfacility(FrameText& out, const unsigned char* element, const unsigned char* end);
void display(FrameText& out, const unsigned char* element, const unsigned char* end);
void prcalling(FrameText& out, const unsigned char* element, const unsigned char* end);
void prcalled(FrameText& out, const unsigned char* element, const unsigned char* end);

// `count` characters '0'/'1': the bits of `octet` from `first_bit` (8 = most
// significant) downwards.
void printbits(FrameText& out, unsigned char octet, int first_bit, int count);
// The octet after the first one at or after p whose bit 8 is set; null when
// none comes before end.
const unsigned char* skipext(const unsigned char* p, const unsigned char* end);

struct MessageTypeName {
    unsigned char code;
    const char* name;
};
struct InfoElementName {
    unsigned char id;
    const char* name;
    ElementPrinter printer;
};
struct CauseText {
    unsigned char value;
    const char* text;
};

// The constant tables, searched in order (the first match wins).
extern const MessageTypeName message_types[32];
extern const InfoElementName info_elements[33];
extern const CauseText cause_texts[67];

}  // namespace ISDN
