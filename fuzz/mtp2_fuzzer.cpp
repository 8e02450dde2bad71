// Two SS7 links on an in-memory line, first brought into service, then
// driven by the input: received units of any length and content, MSUs from
// above, time steps, refused, lost and repeated units, a busy or failed
// channel, trunk state, activation and deactivation. After every step the
// RTB and the TB stay within their bounds; at the end every packet block is
// back in the pool.
//
// Input: octet 0 turns the trace switches on (bit 0) and emergency
// alignment off (bit 1); then operations, each an octet and its arguments.
#include "fuzz/link_fuzzing.h"
#include "signalling/mtp2.h"
#include "tests/support/mtp2_rig.h"
#include "tests/support/virtual_loop.h"

namespace {

using Fuzz::check;

void check_bounds(SS7::SLC& link) {
    check(link.rtb_count() <= SS7::SLC::rtb_limit, "at most 127 MSUs unacknowledged");
    check(link.statistics().rtbSize == link.rtb_count(), "rtbSize is the RTB count");
    check(link.tb_count() <= SS7::SLC::tb_capacity, "TB within its capacity");
    check(link.state_id() <= SS7::SLC::State::worked, "a known state");
}

void run(FuzzedDataProvider& in) {
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    test::Mtp2Rig rig;
    const unsigned setup = in.ConsumeIntegral<uint8_t>();
    for (SS7::SLC* link : {rig.a, rig.b}) {
        if (setup & 1)
            link->trace() = SS7::SLC::Trace{true, true, true, true, true, true, true, true};
        link->set_emergency(!(setup & 2));
    }
    rig.align(loop);
    while (in.remaining_bytes()) {
        const unsigned op = in.ConsumeIntegral<uint8_t>();
        SS7::SLC& link = op & 1 ? *rig.b : *rig.a;
        test::HdlcEnd& end = op & 1 ? rig.line.b : rig.line.a;
        switch ((op >> 1) % 11) {
        case 0: {
            Packet su = Fuzz::take_packet(in, 300);
            link.receive(su);
            break;
        }
        case 1: {
            Packet message;
            link.prepare_head(message);
            message.put(Fuzz::take_packet(in, 280));
            const unsigned repeat = in.ConsumeIntegralInRange<unsigned>(1, 250);
            for (unsigned i = 0; i < repeat; ++i) link.message(message);
            break;
        }
        case 2: loop.advance(in.ConsumeIntegralInRange<unsigned>(0, 15000)); break;
        case 3:
            end.refuse = test::nth(in.ConsumeIntegralInRange<unsigned>(1, 8));
            end.refuse_only_that = in.ConsumeBool();
            break;
        case 4: end.drop = test::nth(in.ConsumeIntegralInRange<unsigned>(1, 8)); break;
        case 5: end.duplicate = test::nth(in.ConsumeIntegralInRange<unsigned>(1, 8)); break;
        case 6: end.set_busy(in.ConsumeBool()); break;
        case 7: link.activate(); break;
        case 8: link.deactivate(); break;
        case 9: link.OnTrunkHardStatus(in.ConsumeBool()); break;
        case 10:
            if (in.ConsumeIntegral<uint8_t>() == 0) end.fail();
            break;
        }
        loop.pump();
        check_bounds(*rig.a);
        check_bounds(*rig.b);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return Fuzz::run_link_input(data, size, run);
}
