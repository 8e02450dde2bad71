// Frames of any length, from the device on its line, into one slot an input
// picks: a PSTN slot of any link mode (SS7, PRI, BRI user side, BRI network
// side, CAS) or an ISDN slot, mixed with time steps, user data and
// (de)activations from the controller. Nothing aborts or leaks, every signal encodes, every command
// is answered, and once the controller has gone every packet block is back.
#include "fuzz/slot_fuzzing.h"
#include "tests/support/signalling_commands.h"

namespace {

using LGCP::IsdnType;
using test::Side;

constexpr unsigned kTrunkSlot = 10;
constexpr unsigned kSlot = 20;

// The slot of one input, on trunk 1 timeslot 1 (channel 33) or BRI line 1
// channel 2 (channel 6), where its device stands.
int set_up(SlotFuzz::Controller& controller, FuzzedDataProvider& in) {
    const Side side = in.ConsumeBool() ? Side::network : Side::user;
    const int log = in.ConsumeIntegralInRange(0, 4);
    const bool bri = in.ConsumeBool();
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            controller.send(test::create_pstn_ss7(2, 1, in.ConsumeBool()), kSlot);
            break;
        case 1:  // PRI either side, or BRI on the user or the network side
            controller.send(test::create_pstn_isdn(bri ? IsdnType::bri : IsdnType::pri, 2, side, log),
                            kSlot);
            break;
        case 2:
            controller.send(test::create_pstn_cas(2), kSlot);
            break;
        default:
            controller.send(test::create_isdn(IsdnType::pri, 2, side, log), kSlot);
            controller.send(test::activate(), kSlot);
            break;
    }
    controller.send(bri ? test::create_trunk_bri(1, 2) : test::create_trunk(1, 1), kTrunkSlot);
    SlotFuzz::wire(controller, kTrunkSlot, kSlot);
    return bri ? 6 : 33;
}

void step(SlotFuzz::Controller& controller, FuzzedDataProvider& in, int device) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
        case 1:
        case 2:
            controller.device_sends(device, in.ConsumeRandomLengthString(300));
            break;
        case 3:
            controller.run(in.ConsumeIntegralInRange(1, 5000));
            break;
        case 4: {
            const std::string bytes = in.ConsumeRandomLengthString(40);
            controller.send(test::user_data({bytes.begin(), bytes.end()}), kSlot);
            break;
        }
        default:
            controller.send(in.ConsumeBool() ? test::activate() : test::deactivate(), kSlot);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int device = -1;
    return SlotFuzz::run_input(
        data, size, 48,
        [&device](SlotFuzz::Controller& c, FuzzedDataProvider& in) { device = set_up(c, in); },
        [&device](SlotFuzz::Controller& c, FuzzedDataProvider& in) { step(c, in, device); });
}
