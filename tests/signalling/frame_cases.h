#pragma once
// The frame printer's expected texts: one table of frames, each with its
// direction flag and the text the printer must write. The table lives in
// frame_printer_cases.inc; regenerate_frame_texts rewrites its texts.

#include <ostream>
#include <string>
#include <vector>

#include "tests/support/bytes.h"

namespace test {

struct FrameCase {
    const char* what;
    const char* hex;  // octets in hex; "7E*392" repeats one octet
    bool network_to_user;
    const char* text;
};

extern const std::vector<FrameCase> frame_cases;
inline void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.what; }

Bytes octets(const std::string& hex);

// The printer's text of a frame, printed from an exact-size copy into an
// exact-size buffer (so that the sanitizers see any read or write outside).
std::string printed(const Bytes& frame, bool network_to_user);

}  // namespace test
