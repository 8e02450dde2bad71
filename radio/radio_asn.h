#pragma once
// What both radio protocols' TERM messages carry alike: addresses as dotted
// text, numbers as decimal text, and the packet's source.

#include <cstdint>
#include <string>

#include "messages/term.h"

namespace RTPSignalling {

// "a.b.c.d" of an address in network order.
std::string AddressText(uint32_t addr);
// The address (network order) of a dotted text; false, with the reason in
// `why`, when the text is no address.
bool ParseAddress(const std::string& text, uint32_t& addr, std::string& why);
// A float as the messages carry it ("%4.6f").
std::string FloatText(float value);

// The reason a host's radio message holds a value that its field on the
// wire cannot carry (VARK prio 0..15 and li 0..511; ED-137 ptt 0..7, squ
// 0..1 and bss-method 0..7), or null when every value fits.
const char* OutsideWireFields(const TERM::RadioStatus& status);
const char* OutsideWireFields(const TERM::RadioModifier& modifier);

void EncodeSource(uint32_t addr, uint32_t ssrc, TERM::RadioModifierAddr& source);
bool DecodeSource(const TERM::RadioModifierAddr& source, uint32_t& addr, uint32_t& ssrc,
                  std::string& why);

}  // namespace RTPSignalling
