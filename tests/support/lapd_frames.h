#pragma once
// Q.921 frames for link tests: building frames to feed a link, and reading
// the frames it sends (for hooks and assertions). SAPI 0, TEI 0 unless said.

#include <initializer_list>
#include <string>

#include "link/packet.h"

namespace test {
namespace lapd {

enum class Kind { I, RR, RNR, REJ, SABME, DISC, UA, DM, FRMR, UI, other };

// The octets given, in a packet of their own.
Packet bytes(std::initializer_list<unsigned char> octets);
Packet bytes(const std::string& octets);

// Frames as the side `fromNetwork` sends them.
Packet iframe(bool fromNetwork, unsigned ns, unsigned nr, bool p, const std::string& info);
Packet sframe(bool fromNetwork, Kind kind, bool command, unsigned nr, bool pf);
Packet uframe(bool fromNetwork, Kind kind, bool command, bool pf);

Kind kind(const Packet& frame);
unsigned ns(const Packet& frame);
unsigned nr(const Packet& frame);
bool pf(const Packet& frame);
// Whether a frame sent by the side `fromNetwork` is a command.
bool command(const Packet& frame, bool fromNetwork);
// "I 3/5", "RR 4", "SABME", with " P"/" F" when the bit is set and " cmd"
// or " resp", for expectations that read like a trace.
std::string describe(const Packet& frame, bool fromNetwork);

inline bool is_i(const Packet& f) { return kind(f) == Kind::I; }
inline bool is_rr(const Packet& f) { return kind(f) == Kind::RR; }

}  // namespace lapd
}  // namespace test
