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

namespace {

// The packet header's priority has 4 bits and its status (li) 9.
const char* OutsideVarkFlags(const TERM::RadioFlags& flags) {
    const int prio = flags.get_prio().getValue();
    if (prio < 0 || prio > 15) return "VARK prio outside 0..15";
    if (flags.get_li().getValue() > 511) return "VARK li outside 0..511";
    return nullptr;
}

// The extension's ptt type has 3 bits, squ 1 and the SQI method 3; the
// decoder takes their enumerations' extension values of any size.
const char* OutsideEd137Header(const TERM::ED137RadioHeader& header,
                               const TERM::ED137RadioExtensionSQI* sqi) {
    const auto above = [](int value, unsigned most) { return static_cast<unsigned>(value) > most; };
    if (above(header.get_ptt().getValue(), 7)) return "ED-137 ptt outside 0..7";
    if (above(header.get_squ().getValue(), 1)) return "ED-137 squ outside 0..1";
    if (sqi && above(sqi->get_bss_method().getValue(), 7)) return "ED-137 bss-method outside 0..7";
    return nullptr;
}

template <class Command>
const TERM::RadioFlags* FlagsOf(const Command* command) {
    return command ? &command->get_flags() : nullptr;
}

}  // namespace

const char* OutsideWireFields(const TERM::RadioStatus& status) {
    if (const TERM::VarkRadioStatus* vark = status.get_vark())
        return OutsideVarkFlags(vark->get_flags());
    if (const TERM::ED137RadioStatus* ed137 = status.get_ed_137())
        return OutsideEd137Header(ed137->get_header(), ed137->get_sqi());
    return nullptr;
}

const char* OutsideWireFields(const TERM::RadioModifier& modifier) {
    if (const TERM::VarkRadioModifier* vark = modifier.get_vark()) {
        const TERM::VarkRadioModifierParams& p = vark->get_params();
        for (const TERM::RadioFlags* flags :
             {FlagsOf(p.get_gw_set_flags()), FlagsOf(p.get_gw_set_ptt()),
              FlagsOf(p.get_gw_set_bss()), FlagsOf(p.get_gw_set_sh()), FlagsOf(p.get_gw_set_pwr()),
              FlagsOf(p.get_gw_set_rv()), FlagsOf(p.get_gw_set_resv()),
              FlagsOf(p.get_gw_set_selcall()), FlagsOf(p.get_wm_flags()), FlagsOf(p.get_wm_trans()),
              FlagsOf(p.get_wm_selcall())})
            if (flags) return OutsideVarkFlags(*flags);
    } else if (const TERM::ED137RadioModifier* ed137 = modifier.get_ed_137()) {
        const TERM::ED137RadioModifierParams& p = ed137->get_params();
        if (const TERM::ED137RadioRxCommand* rx = p.get_rx())
            return OutsideEd137Header(rx->get_header(), rx->get_sqi());
        if (const TERM::ED137RadioTxCommand* tx = p.get_tx())
            return OutsideEd137Header(tx->get_header(), nullptr);
    }
    return nullptr;
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
