#pragma once
// A user-side and a network-side LAPD link back to back on an in-memory
// line, each in a family that records its reports, with a trace of the
// frames on the line. For PRI by default; bri() makes both BRI links.

#include <memory>
#include <string>
#include <vector>

#include "signalling/lapd.h"
#include "tests/support/hdlc_pair.h"
#include "tests/support/link_owner.h"

namespace test {

struct LapdRig {
    LapdRig();
    ~LapdRig();

    // Both sides establish, as the owners of both would do.
    void establish();
    // The message "<prefix><n>", and the first `count` of them, for tests
    // that count messages.
    static std::string numbered(const std::string& prefix, unsigned n);
    static std::vector<std::string> first(const std::string& prefix, unsigned count);
    // One message from above, made as the layer above makes them.
    static void send(ISDN::LAPD& link, const std::string& octets);
    // Frames seen on the line, in order: "u: SABME P cmd", "n: UA F resp";
    // a frame lost on the way is still listed by its sender.
    void trace_frames();

    HdlcPair line;
    ISDN::LAPD* user;     // owned by userOwner
    ISDN::LAPD* network;  // owned by networkOwner
    std::unique_ptr<LinkOwner> userOwner;
    std::unique_ptr<LinkOwner> networkOwner;
    std::vector<std::string> trace;
    std::vector<uint32_t> traceTimes;  // loop milliseconds of each traced frame
};

}  // namespace test
