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

void EncodeSource(uint32_t addr, uint32_t ssrc, TERM::RadioModifierAddr& source);
bool DecodeSource(const TERM::RadioModifierAddr& source, uint32_t& addr, uint32_t& ssrc,
                  std::string& why);

}  // namespace RTPSignalling
