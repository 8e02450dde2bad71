// A user-side and a network-side LAPD link on an in-memory line, driven by
// the input: peer frames of any length and content, messages from above,
// time steps, a busy or lossy line, activation and release. After every
// step the window and the queues stay within their bounds. At the end,
// whatever state the input left, the line is healed, though it still holds
// frames 20 ms each way, and both links, offered a message from above and
// establishment, come up within a bounded time; and every packet block is
// back in the pool.
//
// Input: octet 0 sets the BRI flag (bit 0) and the log level (bits 1-3);
// then operations, each an octet and its arguments.
#include <vector>

#include "fuzz/link_fuzzing.h"
#include "signalling/lapd.h"
#include "tests/support/lapd_frames.h"
#include "tests/support/lapd_rig.h"
#include "tests/support/virtual_loop.h"

namespace {

namespace lapd = test::lapd;
using Fuzz::check;

// Long enough for a release to run out, five TEI requests and establishment.
constexpr unsigned progress_bound_ms = 60000;

void check_bounds(const ISDN::LAPD& link) {
    const auto& s = link.full_state();
    check(ISDN::Sequence::distance(s.VA, s.VS) <= ISDN::LAPD::window, "(VS - VA) mod 128 <= 7");
    check(link.queued_ack() <= ISDN::LAPD::window, "acknowledge queue within its capacity");
    check(link.queued_out() <= ISDN::LAPD::out_capacity, "outgoing queue within its capacity");
    check(s.state <= ISDN::timer_recovery, "a known state");
}

bool established(const ISDN::LAPD& link) {
    return link.full_state().state == ISDN::multiple_frame_established;
}

// Both links are offered a message and establishment on a healed line. The
// layer above asks again whenever its link went down; on a BRI line the
// test plays the network's TEI management, which the network link does not
// have: it gives the terminal the network link's TEI, and removes any other
// the input gave it.
void check_progress(test::VirtualLoop& loop, test::LapdRig& rig, bool bri) {
    for (test::HdlcEnd* end : {&rig.line.a, &rig.line.b}) {
        end->set_busy(false);
        end->drop = nullptr;
        end->refuse = nullptr;
        end->set_latency(20);
    }
    std::vector<unsigned> requests;
    const int tap = rig.line.b.add_tap([&requests](const Packet& frame, bool sent) {
        lapd::Identity message;
        if (!sent && lapd::identity_of(frame, message) && message.type == ISDN::identity_request)
            requests.push_back(message.ri);
    });
    const unsigned tei = static_cast<unsigned>(rig.network->full_state().selfTEI);
    auto network_says = [&rig](unsigned type, unsigned ri, unsigned ai) {
        Packet frame = lapd::identity(true, type, ri, ai);
        rig.line.b.hdlc_transmit(frame);
    };
    for (ISDN::LAPD* link : {rig.user, rig.network}) test::LapdRig::send(*link, "progress");
    for (unsigned ms = 0; ms < progress_bound_ms && !(established(*rig.user) && established(*rig.network));
         ms += 100) {
        for (ISDN::LAPD* link : {rig.user, rig.network}) {
            const unsigned state = link->full_state().state;
            if (state == ISDN::tei_unassigned || state == ISDN::tei_assigned) link->activate();
        }
        if (bri) {
            for (unsigned ri : requests) network_says(ISDN::identity_assigned, ri, tei);
            requests.clear();
            const auto& user = rig.user->full_state();
            if (user.state >= ISDN::tei_assigned && unsigned(user.selfTEI) != tei)
                network_says(ISDN::identity_remove, 0, unsigned(user.selfTEI));
        }
        loop.advance(100);
    }
    rig.line.b.remove_tap(tap);
    check(established(*rig.user) && established(*rig.network),
          "both links established within a bounded time");
}

void run(FuzzedDataProvider& in) {
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    test::LapdRig rig;
    const unsigned setup = in.ConsumeIntegral<uint8_t>();
    for (ISDN::LAPD* link : {rig.user, rig.network}) {
        if (setup & 1) link->change_to_bri();
        link->set_log_level((setup >> 1) & 7);
        // TEI requests ask with Ri 0x1234, 0x1235 ...: inputs replay alike.
        link->set_ri_source([ri = 0x1234u]() mutable { return static_cast<unsigned short>(ri++); });
    }
    while (in.remaining_bytes()) {
        const unsigned op = in.ConsumeIntegral<uint8_t>();
        ISDN::LAPD& link = op & 1 ? *rig.network : *rig.user;
        test::HdlcEnd& end = op & 1 ? rig.line.b : rig.line.a;
        switch ((op >> 1) % 8) {
        case 0: {
            Packet frame = Fuzz::take_packet(in, 40);
            link.receive(frame);
            break;
        }
        case 1: {
            Packet message;
            link.prepare_head(message);
            Packet body = Fuzz::take_packet(in, 24);
            message.put(body);
            const unsigned repeat = in.ConsumeIntegralInRange<unsigned>(1, 40);
            for (unsigned i = 0; i < repeat; ++i) link.message(message);
            break;
        }
        case 2:
            loop.advance(in.ConsumeIntegralInRange<unsigned>(0, 15000));
            break;
        case 3:
            end.set_busy(in.ConsumeBool());
            break;
        case 4:
            end.drop = test::nth(in.ConsumeIntegralInRange<unsigned>(1, 8));
            break;
        case 5:
            end.refuse = test::nth(in.ConsumeIntegralInRange<unsigned>(1, 8));
            break;
        case 6:
            link.activate();
            break;
        case 7:
            link.deactivate();
            break;
        }
        loop.pump();
        check_bounds(*rig.user);
        check_bounds(*rig.network);
    }
    check_progress(loop, rig, setup & 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return Fuzz::run_link_input(data, size, run);
}
