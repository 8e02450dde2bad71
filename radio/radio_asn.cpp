#include "radio/radio_asn.h"

#include <arpa/inet.h>

#include <cstdio>

namespace RTPSignalling {

std::string AddressText(uint32_t addr) {
    char text[INET_ADDRSTRLEN];
    in_addr a;
    a.s_addr = addr;
    return inet_ntop(AF_INET, &a, text, sizeof text) ? text : "";
}

bool ParseAddress(const std::string& text, uint32_t& addr, std::string& why) {
    in_addr a;
    if (inet_aton(text.c_str(), &a) == 0) {
        // At most 64 characters of it in the log line.
        why = "address text \"" + text.substr(0, 64) + "\" is no IPv4 address";
        return false;
    }
    addr = a.s_addr;
    return true;
}

std::string FloatText(float value) {
    char text[64];  // the largest float has 39 digits before the point
    std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(value));
    return text;
}

void EncodeSource(uint32_t addr, uint32_t ssrc, TERM::RadioModifierAddr& source) {
    source.set_session_addr(AddressText(addr));
    source.set_session_ssrc(ssrc);
}

bool DecodeSource(const TERM::RadioModifierAddr& source, uint32_t& addr, uint32_t& ssrc,
                  std::string& why) {
    ssrc = source.get_session_ssrc().getValue();
    return ParseAddress(source.get_session_addr(), addr, why);
}

}  // namespace RTPSignalling
