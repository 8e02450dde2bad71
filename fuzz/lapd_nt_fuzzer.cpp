// The network side of a BRI line driven by the input: terminal frames of
// any length and TEI (raw, or shaped as TEI management, I, S and U frames),
// layer-3 messages from above (short ones too), time steps, activation and
// release. After every step the assigned links hold distinct TEIs, each
// link's queues stay within their capacity and match its sequence numbers,
// and the links together hold no more than 128 messages. At the end, in
// whatever state the input left the server, a live terminal without a TEI,
// offered a message from above and establishment, comes up within a
// bounded time; and every packet block is back in the pool.
//
// Input: the last octet sets the log level; then operations, each an octet
// and its arguments (integers from the end of the input, octet strings
// from its front).
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

// A terminal joins the bus; its layer above asks again whenever its link
// went down.
void check_progress(test::VirtualLoop& loop, test::BriBus& bus) {
    ISDN::LAPD* terminal = new ISDN::LAPD;
    test::LinkOwner owner(terminal);
    terminal->set_side(ISDN::Side::user);
    terminal->change_to_bri();
    terminal->set_ri_source([ri = 0x1234u]() mutable { return static_cast<unsigned short>(ri++); });
    terminal->set_hdlc(&bus.terminal(0));
    bus.terminal(0).bind(terminal);
    terminal->mdl_remove();
    test::send_down(*terminal, test::BriRig::q931(1, 0x05));
    for (unsigned ms = 0; ms < progress_bound_ms &&
                          terminal->full_state().state != ISDN::multiple_frame_established;
         ms += 100) {
        const unsigned state = terminal->full_state().state;
        if (state == ISDN::tei_unassigned || state == ISDN::tei_assigned) terminal->activate();
        loop.advance(100);
    }
    const bool up = terminal->full_state().state == ISDN::multiple_frame_established;
    bus.terminal(0).bind(nullptr);
    check(up, "a terminal established within a bounded time");
}

void run(FuzzedDataProvider& in) {
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    test::BriBus bus(1);
    test::NtOnPort network(bus.network);
    network.nt().set_log(octet(in) % 4);
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
    check_progress(loop, bus);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return Fuzz::run_link_input(data, size, run);
}
