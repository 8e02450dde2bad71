#pragma once
// MTP level 2 signal units for link tests: building units to feed a link,
// and reading the units it sends (for hooks, traces and assertions).

#include <string>

#include "link/packet.h"

namespace test {
namespace mtp2 {

enum class Kind { FISU, LSSU, MSU, short_frame };

// A FISU or MSU with these fields; the length indicator is the payload's
// (63 for 63 octets or more) unless `li` gives another.
Packet unit(unsigned bsn, bool bib, unsigned fsn, bool fib, const std::string& payload = "",
            int li = -1);
// An LSSU as the links send them: 0xFF 0xFF 0x01 and the status.
Packet lssu(unsigned status);
// The octets given, in a packet of their own.
Packet bytes(const std::string& octets);

Kind kind(const Packet& su);
unsigned bsn(const Packet& su);
bool bib(const Packet& su);
unsigned fsn(const Packet& su);
bool fib(const Packet& su);
unsigned li(const Packet& su);
// What follows the three header octets.
std::string payload(const Packet& su);
// "SIO", "SIN", "SIE", "SIOS"; "FISU 127/1 127/1" (BSN/BIB FSN/FIB);
// "MSU 3/1 5/0"; for expectations that read like a trace.
std::string describe(const Packet& su);

inline bool is_msu(const Packet& su) { return kind(su) == Kind::MSU; }
inline bool is_fisu(const Packet& su) { return kind(su) == Kind::FISU; }

}  // namespace mtp2
}  // namespace test
