#include "tests/support/lapd_frames.h"

#include <cstdio>

namespace test {
namespace lapd {

namespace {

unsigned char first_octet(bool fromNetwork, bool command, unsigned sapi = 0) {
    // C/R is 1 in the network's commands and the user's responses.
    return static_cast<unsigned char>(sapi << 2 | (command == fromNetwork ? 0x02 : 0x00));
}

unsigned char tei_octet(unsigned tei) { return static_cast<unsigned char>(tei << 1 | 0x01); }

const char* identity_name(unsigned type) {
    static const char* const names[] = {"?",     "request",        "assigned", "denied",
                                        "check", "check response", "remove",   "verify"};
    return type < 8 ? names[type] : "?";
}

const char* name(Kind k) {
    switch (k) {
    case Kind::I: return "I";
    case Kind::RR: return "RR";
    case Kind::RNR: return "RNR";
    case Kind::REJ: return "REJ";
    case Kind::SABME: return "SABME";
    case Kind::DISC: return "DISC";
    case Kind::UA: return "UA";
    case Kind::DM: return "DM";
    case Kind::FRMR: return "FRMR";
    case Kind::UI: return "UI";
    default: return "?";
    }
}

}  // namespace

Packet bytes(std::initializer_list<unsigned char> octets) {
    Packet p;
    p.reserve_head(8);
    for (unsigned char o : octets) p.put(o);
    return p;
}

Packet bytes(const std::string& octets) {
    Packet p;
    p.reserve_head(8);
    p.put(octets.data(), static_cast<unsigned>(octets.size()));
    return p;
}

Packet iframe(bool fromNetwork, unsigned ns, unsigned nr, bool p, const std::string& info,
              unsigned tei) {
    Packet f = bytes({first_octet(fromNetwork, true), tei_octet(tei), static_cast<unsigned char>(ns << 1),
                      static_cast<unsigned char>(nr << 1 | p)});
    f.put(info.data(), static_cast<unsigned>(info.size()));
    return f;
}

Packet sframe(bool fromNetwork, Kind kind, bool command, unsigned nr, bool pf, unsigned tei) {
    const unsigned char ss = kind == Kind::RR ? 0 : kind == Kind::RNR ? 1 : 2;
    return bytes({first_octet(fromNetwork, command), tei_octet(tei),
                  static_cast<unsigned char>(ss << 2 | 1), static_cast<unsigned char>(nr << 1 | pf)});
}

Packet broadcast(bool fromNetwork, unsigned sapi, const std::string& info) {
    Packet f = bytes({first_octet(fromNetwork, true, sapi), tei_octet(127), 0x03});
    f.put(info.data(), static_cast<unsigned>(info.size()));
    return f;
}

Packet identity(bool fromNetwork, unsigned type, unsigned ri, unsigned ai) {
    return bytes({first_octet(fromNetwork, true, 63), tei_octet(127), 0x03, 0x0F,
                  static_cast<unsigned char>(ri & 0xFF), static_cast<unsigned char>(ri >> 8),
                  static_cast<unsigned char>(type), tei_octet(ai)});
}

Packet uframe(bool fromNetwork, Kind kind, bool command, bool pf, unsigned tei) {
    unsigned char type = 0;
    switch (kind) {
    case Kind::SABME: type = 0x6F; break;
    case Kind::DISC: type = 0x43; break;
    case Kind::UA: type = 0x63; break;
    case Kind::DM: type = 0x0F; break;
    case Kind::FRMR: type = 0x87; break;
    case Kind::UI: type = 0x03; break;
    default: break;
    }
    return bytes({first_octet(fromNetwork, command), tei_octet(tei),
                  static_cast<unsigned char>(type | (pf ? 0x10 : 0))});
}

unsigned sapi(const Packet& f) { return f[0] >> 2; }

unsigned tei(const Packet& f) { return f[1] >> 1; }

bool identity_of(const Packet& f, Identity& message) {
    if (f.length() < 8 || sapi(f) != 63 || tei(f) != 127 || f[2] != 0x03 || f[3] != 0x0F) return false;
    message = Identity{f[6], unsigned(f[4] | f[5] << 8), unsigned(f[7] >> 1)};
    return true;
}

Kind kind(const Packet& f) {
    if (f.length() < 3) return Kind::other;
    const unsigned char c = f[2];
    if ((c & 1) == 0) return Kind::I;
    if ((c & 3) == 1) {
        switch ((c >> 2) & 3) {
        case 0: return Kind::RR;
        case 1: return Kind::RNR;
        case 2: return Kind::REJ;
        default: return Kind::other;
        }
    }
    switch (c & 0xEF) {
    case 0x6F: return Kind::SABME;
    case 0x43: return Kind::DISC;
    case 0x63: return Kind::UA;
    case 0x0F: return Kind::DM;
    case 0x87: return Kind::FRMR;
    case 0x03: return Kind::UI;
    default: return Kind::other;
    }
}

unsigned ns(const Packet& f) { return f[2] >> 1; }

unsigned nr(const Packet& f) { return f.length() > 3 ? f[3] >> 1 : 0; }

bool pf(const Packet& f) {
    const Kind k = kind(f);
    if (k == Kind::I || k == Kind::RR || k == Kind::RNR || k == Kind::REJ) return f[3] & 1;
    return f[2] & 0x10;
}

bool command(const Packet& f, bool fromNetwork) { return bool(f[0] & 0x02) == fromNetwork; }

std::string describe(const Packet& f, bool fromNetwork) {
    Identity message;
    if (identity_of(f, message)) {
        char text[64];
        std::snprintf(text, sizeof text, "ID %s ri=%04X ai=%u", identity_name(message.type), message.ri,
                      message.ai);
        return text;
    }
    const Kind k = kind(f);
    std::string text = name(k);
    if (k == Kind::I)
        text += " " + std::to_string(ns(f)) + "/" + std::to_string(nr(f));
    else if (k == Kind::RR || k == Kind::RNR || k == Kind::REJ)
        text += " " + std::to_string(nr(f));
    const bool cmd = command(f, fromNetwork);
    if (pf(f)) text += cmd ? " P" : " F";
    text += cmd ? " cmd" : " resp";
    return text;
}

std::string describe_on_bus(const Packet& f, bool fromNetwork) {
    return std::to_string(tei(f)) + ": " + describe(f, fromNetwork);
}

}  // namespace lapd
}  // namespace test
