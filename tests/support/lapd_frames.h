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
Packet iframe(bool fromNetwork, unsigned ns, unsigned nr, bool p, const std::string& info,
              unsigned tei = 0);
Packet sframe(bool fromNetwork, Kind kind, bool command, unsigned nr, bool pf, unsigned tei = 0);
Packet uframe(bool fromNetwork, Kind kind, bool command, bool pf, unsigned tei = 0);
// A UI command to TEI 127 on `sapi`.
Packet broadcast(bool fromNetwork, unsigned sapi, const std::string& info);
// A TEI management message (Ri least significant octet first).
Packet identity(bool fromNetwork, unsigned type, unsigned ri, unsigned ai);

Kind kind(const Packet& frame);
unsigned sapi(const Packet& frame);
unsigned tei(const Packet& frame);
// A TEI management message: its type, Ri and Ai; false for other frames.
struct Identity {
    unsigned type, ri, ai;
};
bool identity_of(const Packet& frame, Identity& message);
unsigned ns(const Packet& frame);
unsigned nr(const Packet& frame);
bool pf(const Packet& frame);
// Whether a frame sent by the side `fromNetwork` is a command.
bool command(const Packet& frame, bool fromNetwork);
// "I 3/5", "RR 4", "SABME", with " P"/" F" when the bit is set and " cmd"
// or " resp", for expectations that read like a trace; TEI management
// messages read "ID assigned ri=0102 ai=64".
std::string describe(const Packet& frame, bool fromNetwork);
// The same after the TEI: "64: SABME P cmd", "127: ID remove ri=0000 ai=127".
std::string describe_on_bus(const Packet& frame, bool fromNetwork);

inline bool is_i(const Packet& f) { return kind(f) == Kind::I; }
inline bool is_rr(const Packet& f) { return kind(f) == Kind::RR; }
inline bool is_rej(const Packet& f) { return kind(f) == Kind::REJ; }

}  // namespace lapd
}  // namespace test
