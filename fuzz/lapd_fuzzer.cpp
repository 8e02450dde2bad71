// A user-side and a network-side LAPD link on an in-memory line, driven by
// the input: peer frames of any length and content, messages from above,
// time steps, a busy or lossy line, activation and release. After every
// step the window and the queues stay within their bounds; at the end every
// packet block is back in the pool.
//
// Input: octet 0 sets the BRI flag (bit 0) and the log level (bits 1-3);
// then operations, each an octet and its arguments.
#include "fuzz/link_fuzzing.h"
#include "signalling/lapd.h"
#include "tests/support/lapd_rig.h"
#include "tests/support/virtual_loop.h"

namespace {

using Fuzz::check;

void check_bounds(const ISDN::LAPD& link) {
    const auto& s = link.full_state();
    check(ISDN::Sequence::distance(s.VA, s.VS) <= ISDN::LAPD::window, "(VS - VA) mod 128 <= 7");
    check(link.queued_ack() <= ISDN::LAPD::window, "acknowledge queue within its capacity");
    check(link.queued_out() <= ISDN::LAPD::out_capacity, "outgoing queue within its capacity");
    check(s.state <= ISDN::timer_recovery, "a known state");
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return Fuzz::run_link_input(data, size, run);
}
