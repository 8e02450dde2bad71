// Frames of any length, from the devices on their lines, into a PSTN slot
// of each link mode (SS7, PRI, BRI user side, BRI network side) and an ISDN
// slot, mixed with time steps, user data and (de)activations from the
// controller. Nothing aborts or leaks, every signal encodes, every command
// is answered, and once the controller has gone every packet block is back.
#include "fuzz/slot_fuzzing.h"
#include "tests/support/signalling_commands.h"

namespace {

using LGCP::IsdnType;
using test::Side;

struct Line {
    unsigned trunkSlot;
    unsigned signallingSlot;
    int channel;  // where the device stands
};
// SS7, PRI, BRI user side, BRI network side, ISDN slot.
constexpr Line kLines[] = {{10, 20, 33}, {11, 21, 34}, {12, 22, 6}, {13, 23, 10}, {14, 24, 35}};

void set_up(SlotFuzz::Controller& controller, FuzzedDataProvider& in) {
    const Side side = in.ConsumeBool() ? Side::network : Side::user;
    controller.send(test::create_trunk(1, 1), 10);
    controller.send(test::create_pstn_ss7(2, 1, in.ConsumeBool()), 20);
    controller.send(test::create_trunk(1, 2), 11);
    controller.send(test::create_pstn_isdn(IsdnType::pri, 2, side, in.ConsumeIntegralInRange(0, 4)), 21);
    controller.send(test::create_trunk_bri(1, 2), 12);
    controller.send(test::create_pstn_isdn(IsdnType::bri, 1, Side::user), 22);
    controller.send(test::create_trunk_bri(2, 2), 13);
    controller.send(test::create_pstn_isdn(IsdnType::bri, 2, Side::network), 23);
    controller.send(test::create_trunk(1, 3), 14);
    controller.send(test::create_isdn(IsdnType::pri, 1, side), 24);
    for (const Line& line : kLines) SlotFuzz::wire(controller, line.trunkSlot, line.signallingSlot);
    controller.send(test::activate(), 24);
}

void step(SlotFuzz::Controller& controller, FuzzedDataProvider& in) {
    const Line& line = kLines[in.ConsumeIntegralInRange<size_t>(0, std::size(kLines) - 1)];
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
        case 1:
        case 2: {
            const std::string frame = in.ConsumeRandomLengthString(300);
            controller.frames().endpoint(line.channel).send({frame.begin(), frame.end()});
            controller.run(1);
            break;
        }
        case 3:
            controller.run(in.ConsumeIntegralInRange(1, 12000));
            break;
        case 4: {
            const std::string bytes = in.ConsumeRandomLengthString(40);
            controller.send(test::user_data({bytes.begin(), bytes.end()}), line.signallingSlot);
            break;
        }
        default:
            controller.send(in.ConsumeBool() ? test::activate() : test::deactivate(),
                            line.signallingSlot);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static SlotFuzz::Server server;
    SlotFuzz::Controller controller(server);
    FuzzedDataProvider in(data, size);
    set_up(controller, in);
    for (int steps = 0; steps < 48 && in.remaining_bytes() > 0; ++steps) step(controller, in);
    controller.leave();
    return 0;
}
