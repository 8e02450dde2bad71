#include "tests/support/mtp2_units.h"

#include <algorithm>

namespace test {
namespace mtp2 {

Packet unit(unsigned bsn, bool bib, unsigned fsn, bool fib, const std::string& payload, int li) {
    const unsigned length =
        li >= 0 ? unsigned(li) : std::min<unsigned>(unsigned(payload.size()), 63);
    Packet p;
    p.reserve_head(8);
    p.put(static_cast<unsigned char>(bib << 7 | (bsn & 0x7F)));
    p.put(static_cast<unsigned char>(fib << 7 | (fsn & 0x7F)));
    p.put(static_cast<unsigned char>(length));
    p.put(payload.data(), unsigned(payload.size()));
    return p;
}

Packet lssu(unsigned status) {
    return bytes(std::string("\xFF\xFF\x01", 3) + char(status));
}

Packet bytes(const std::string& octets) {
    Packet p;
    p.reserve_head(8);
    p.put(octets.data(), unsigned(octets.size()));
    return p;
}

Kind kind(const Packet& su) {
    if (su.length() < 3) return Kind::short_frame;
    if (su.length() == 3) return Kind::FISU;
    return su.length() < 6 ? Kind::LSSU : Kind::MSU;
}

unsigned bsn(const Packet& su) { return su[0] & 0x7F; }
bool bib(const Packet& su) { return su[0] >> 7; }
unsigned fsn(const Packet& su) { return su[1] & 0x7F; }
bool fib(const Packet& su) { return su[1] >> 7; }
unsigned li(const Packet& su) { return su[2]; }

std::string payload(const Packet& su) {
    if (su.length() <= 3) return "";
    return std::string(reinterpret_cast<const char*>(su.data()) + 3, su.length() - 3);
}

std::string describe(const Packet& su) {
    static const char* const statuses[] = {"SIO", "SIN", "SIE", "SIOS"};
    auto numbers = [&su] {
        return std::to_string(bsn(su)) + "/" + std::to_string(bib(su)) + " " +
               std::to_string(fsn(su)) + "/" + std::to_string(fib(su));
    };
    switch (kind(su)) {
    case Kind::FISU: return "FISU " + numbers();
    case Kind::MSU: return "MSU " + numbers();
    case Kind::LSSU: return su[3] < 4 ? statuses[su[3]] : "LSSU " + std::to_string(su[3]);
    default: return "short";
    }
}

}  // namespace mtp2
}  // namespace test
