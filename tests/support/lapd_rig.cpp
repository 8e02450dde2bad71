#include "tests/support/lapd_rig.h"

#include "runtime/mux_time.h"
#include "tests/support/lapd_frames.h"

namespace test {

LapdRig::LapdRig()
    : user(new ISDN::LAPD),
      network(new ISDN::LAPD),
      userOwner(new LinkOwner(user)),
      networkOwner(new LinkOwner(network)) {
    user->set_side(ISDN::Side::user);
    network->set_side(ISDN::Side::network);
    user->set_hdlc(&line.a);
    network->set_hdlc(&line.b);
    line.a.bind(user);
    line.b.bind(network);
}

LapdRig::~LapdRig() {
    line.a.bind(nullptr);
    line.b.bind(nullptr);
}

void LapdRig::establish() { user->activate(); }

std::string LapdRig::numbered(const std::string& prefix, unsigned n) {
    return prefix + std::to_string(n);
}

std::vector<std::string> LapdRig::first(const std::string& prefix, unsigned count) {
    std::vector<std::string> messages;
    for (unsigned i = 0; i < count; ++i) messages.push_back(numbered(prefix, i));
    return messages;
}

void LapdRig::send(ISDN::LAPD& link, const std::string& octets) {
    send_down(link, octets);
}

void LapdRig::trace_frames() {
    line.a.add_tap([this](const Packet& frame, bool sent) {
        if (!sent) return;
        trace.push_back("u: " + lapd::describe(frame, false));
        traceTimes.push_back(Mux::milliseconds());
    });
    line.b.add_tap([this](const Packet& frame, bool sent) {
        if (!sent) return;
        trace.push_back("n: " + lapd::describe(frame, true));
        traceTimes.push_back(Mux::milliseconds());
    });
}

}  // namespace test
