// The network side of a BRI line driven by the input: terminal frames of
// any length and TEI (raw, or shaped as TEI management, I, S and U frames),
// layer-3 messages from above (short ones too), time steps, activation and
// release. After every step the assigned links hold distinct TEIs, each
// link's queues stay within their capacity and match its sequence numbers,
// and the links together hold no more than 128 messages. At the end, in
// whatever state the input left the server, a full bus of live terminals
// without a TEI, on a line that holds frames 20 ms each way, comes up (one
// of them cut off for a while first), and a burst from each, one I frame
// lost, arrives within a bounded time in about one I frame per message;
// and every packet block is back in the pool.
//
// Input: the last three octets set the log level, how long the cut-off
// terminal's link frames are lost and which I frame of the bursts is lost;
// then operations, each an octet and its arguments (integers from the end
// of the input, octet strings from its front).
#include <algorithm>
#include <set>

#include "fuzz/link_fuzzing.h"
#include "signalling/lapd_nt.h"
#include "tests/support/bri_rig.h"
#include "tests/support/lapd_frames.h"
#include "tests/support/virtual_loop.h"

namespace {

namespace lapd = test::lapd;
using Fuzz::check;
using ISDN::LAPD_NT;
using ISDN::LAPD_NT_user;

// Links held for terminals that are not there are polled out of use within
// 14 s; then a TEI request, establishment, and room for the unlucky.
constexpr unsigned progress_bound_ms = 60000;
constexpr unsigned burst = 20;

void check_links(const LAPD_NT& nt) {
    std::set<unsigned> teis;
    for (unsigned i = 0; i < LAPD_NT::links; ++i) {
        const LAPD_NT_user& link = nt.link(i);
        check(link.state() <= LAPD_NT_user::wait_answer, "a known state");
        check(link.unacknowledged() <= LAPD_NT_user::window, "acknowledge queue within its capacity");
        if (link.state() == LAPD_NT_user::unassigned) continue;
        check(link.unacknowledged() == ISDN::Sequence::distance(link.va(), link.vs()),
              "one kept frame for each of VA .. VS - 1");
        check(teis.insert(link.tei()).second, "assigned links hold distinct TEIs");
        check(link.tei() != ISDN::group_tei, "no link holds the group TEI");
    }
    check(nt.held() <= LAPD_NT::held_capacity, "the links hold at most 128 messages together");
}

unsigned char octet(FuzzedDataProvider& in) { return in.ConsumeIntegral<uint8_t>(); }

// Mostly the TEIs the server gives, sometimes any.
unsigned pick_tei(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? 64 + in.ConsumeIntegralInRange<unsigned>(0, 9) : octet(in) & 0x7F;
}

std::string layer3(FuzzedDataProvider& in, size_t most) {
    if (in.ConsumeBool()) return in.ConsumeRandomLengthString(most);
    unsigned cr = in.ConsumeIntegralInRange<unsigned>(0, 3);
    if (in.ConsumeBool()) cr |= 0x80;
    const unsigned char type = in.ConsumeBool() ? 0x05 : 0x7B;
    return test::BriRig::q931(cr, type, in.ConsumeRandomLengthString(most));
}

Packet terminal_frame(FuzzedDataProvider& in, unsigned kind) {
    static const lapd::Kind s_kinds[] = {lapd::Kind::RR, lapd::Kind::RNR, lapd::Kind::REJ};
    static const lapd::Kind u_kinds[] = {lapd::Kind::SABME, lapd::Kind::DISC, lapd::Kind::UA,
                                         lapd::Kind::DM,    lapd::Kind::FRMR, lapd::Kind::UI};
    switch (kind) {
    case 0:
        return Fuzz::take_packet(in, 48);
    case 1: {
        const unsigned type = in.ConsumeIntegralInRange<unsigned>(1, 7);
        const unsigned ri = in.ConsumeIntegral<uint16_t>();
        return lapd::identity(false, type, ri, octet(in) & 0x7F);
    }
    case 2: {
        const unsigned tei = pick_tei(in);
        const unsigned ns = octet(in) & 0x7F, nr = octet(in) & 0x7F;
        const bool p = in.ConsumeBool();
        return lapd::iframe(false, ns, nr, p, layer3(in, 16), tei);
    }
    case 3: {
        const unsigned tei = pick_tei(in);
        const lapd::Kind k = s_kinds[in.ConsumeIntegralInRange<unsigned>(0, 2)];
        const bool command = in.ConsumeBool(), pf = in.ConsumeBool();
        return lapd::sframe(false, k, command, octet(in) & 0x7F, pf, tei);
    }
    default: {
        const unsigned tei = pick_tei(in);
        const lapd::Kind k = u_kinds[in.ConsumeIntegralInRange<unsigned>(0, 5)];
        const bool command = in.ConsumeBool(), pf = in.ConsumeBool();
        return lapd::uframe(false, k, command, pf, tei);
    }
    }
}

// What the progress check does to the line, from the input.
struct Losses {
    unsigned cutOffMs;  // terminal 0's link frames lost from the start (its TEI requests pass)
    unsigned lostI;     // the n-th I frame of the bursts lost (0: none)
};

// Runs the bus for up to `ms` (or until `done`), each terminal's layer above
// asking again whenever its link went down; true when done.
template <class Done>
bool run_bus(test::VirtualLoop& loop, test::BriRig& rig, unsigned ms, Done done) {
    for (unsigned t = 0; t < ms && !done(); t += 100) {
        for (ISDN::LAPD* terminal : rig.terminals) {
            const unsigned state = terminal->full_state().state;
            if (state == ISDN::tei_unassigned || state == ISDN::tei_assigned) terminal->activate();
        }
        loop.advance(100);
    }
    return done();
}

// The terminals join the bus, on a line that holds frames 20 ms each way,
// their messages waiting for a link; terminal 0's link frames are lost for
// a while first. They are established on links the network has heard them
// on: no SABME of an assignment then crosses the bursts (a peer's SABME
// resets a link's numbering).
void check_terminals_come_up(test::VirtualLoop& loop, test::BriRig& rig, unsigned cutOffMs) {
    test::BriBus& bus = rig.bus;
    bus.network.set_latency(20);
    for (unsigned i = 0; i < bus.terminals(); ++i) {
        bus.terminal(i).set_latency(20);
        bus.terminal(i).bind(rig.terminals[i]);
        rig.terminals[i]->mdl_remove();
        test::send_down(*rig.terminals[i], test::BriRig::q931(i + 1, 0x05));
    }
    const uint32_t cutOffEnds = Mux::milliseconds() + cutOffMs;
    bus.terminal(0).drop = [cutOffEnds](const Packet& frame, unsigned) {
        return lapd::sapi(frame) != ISDN::management_sapi &&
               static_cast<int32_t>(Mux::milliseconds() - cutOffEnds) < 0;
    };
    run_bus(loop, rig, cutOffMs, [] { return false; });
    check(run_bus(loop, rig, progress_bound_ms,
                  [&rig] { return rig.terminals_on_links() == rig.bus.terminals(); }),
          "every terminal established within a bounded time");
}

// Every terminal sends a burst, one I frame of one of them lost: all arrive,
// the lost frame costing one REJ and a window resent once.
void check_bursts(test::VirtualLoop& loop, test::BriRig& rig, unsigned lostI) {
    test::BriBus& bus = rig.bus;
    if (lostI) bus.terminal(lostI % bus.terminals()).drop = test::nth(lostI, lapd::is_i);
    unsigned iFrames = 0;
    for (unsigned i = 0; i < bus.terminals(); ++i)
        bus.terminal(i).add_tap(
            [&iFrames](const Packet& f, bool sent) { iFrames += sent && lapd::is_i(f); });
    const std::string message = test::BriRig::q931(1, 0x7B);
    for (ISDN::LAPD* terminal : rig.terminals)
        for (unsigned n = 0; n < burst; ++n) test::send_down(*terminal, message);
    const auto arrived = [&rig, &message] {
        return std::count(rig.network.messages.begin(), rig.network.messages.end(), message);
    };
    const long all = burst * bus.terminals();
    check(run_bus(loop, rig, 10000, [&] { return arrived() >= all; }) && arrived() == all,
          "every terminal's burst through within a bounded time");
    check(iFrames <= all + 2 * ISDN::LAPD::window, "about one I frame for each message");
}

void check_progress(test::VirtualLoop& loop, test::BriRig& rig, const Losses& losses) {
    check_terminals_come_up(loop, rig, losses.cutOffMs);
    check_bursts(loop, rig, losses.lostI);
    for (unsigned i = 0; i < rig.bus.terminals(); ++i) rig.bus.terminal(i).bind(nullptr);
}

void run(FuzzedDataProvider& in) {
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    test::BriRig rig(LAPD_NT::links);
    for (unsigned i = 0; i < rig.bus.terminals(); ++i) rig.bus.terminal(i).bind(nullptr);
    test::NtOnPort& network = rig.network;
    network.nt().set_log(octet(in) % 4);
    const Losses losses{octet(in) * 100u, octet(in) % 16u};
    while (in.remaining_bytes()) {
        const unsigned op = octet(in) % 8;
        if (op <= 4) {
            Packet frame = terminal_frame(in, op);
            network.receive(frame);
        } else if (op == 5) {
            const std::string message = layer3(in, 24);
            const unsigned repeat = in.ConsumeIntegralInRange<unsigned>(1, 40);
            for (unsigned i = 0; i < repeat; ++i) network.send(message);
        } else if (op == 6) {
            loop.advance(in.ConsumeIntegralInRange<unsigned>(0, 70000));
        } else if (in.ConsumeBool()) {
            network.activate();
        } else {
            network.deactivate();
        }
        loop.pump();
        check_links(network.nt());
        network.messages.clear();
    }
    check_progress(loop, rig, losses);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return Fuzz::run_link_input(data, size, run);
}
