// Frames of any length, from the device on its line, into one slot an input
// creates from any signalling form with boundary values (a PSTN slot of any
// link mode, an ISDN, QSIG or QSIG B-channel slot, an HDLC slot), mixed with
// time steps, user data of 0 to 2000 octets, (de)activations and a second
// slot made the same way. Nothing aborts or leaks, every signal encodes,
// every command is answered, and once the controller has gone every packet
// block is back.
#include "fuzz/controller_draws.h"
#include "fuzz/slot_fuzzing.h"
#include "tests/support/signalling_commands.h"

namespace {

namespace draws = ControllerDraws;

constexpr unsigned kTrunkSlot = 10;
constexpr unsigned kSlot = 20;
constexpr unsigned kSecondSlot = 21;

// The steps an input is made of, as drawn.
enum Step : unsigned { kFrame, kFrame2, kFrame3, kTime, kUserData, kActivation, kSecond };

// The slot of one input, wired to trunk 1 timeslot 1 (channel 33) or BRI
// line 1 channel 2 (channel 6), where its device stands.
int set_up(SlotFuzz::Controller& controller, FuzzedDataProvider& in) {
    const test::CommandForm* form = nullptr;
    controller.send(draws::draw_command(in, test::signalling_forms(), &form), kSlot);
    controller.send(form->bri ? test::create_trunk_bri(1, 2) : test::create_trunk(1, 1),
                    kTrunkSlot);
    SlotFuzz::wire(controller, kTrunkSlot, kSlot);
    return form->bri ? 6 : 33;
}

void step(SlotFuzz::Controller& controller, FuzzedDataProvider& in, int device) {
    switch (in.ConsumeIntegralInRange<unsigned>(kFrame, kSecond)) {
        case kFrame:
        case kFrame2:
        case kFrame3:
            controller.device_sends(device, in.ConsumeRandomLengthString(300));
            break;
        case kTime:
            controller.run(in.ConsumeIntegralInRange(1, 5000));
            break;
        case kUserData:
            controller.send(test::user_data(draws::draw_user_data(in)), kSlot);
            break;
        case kActivation:
            controller.send(in.ConsumeBool() ? test::activate() : test::deactivate(), kSlot);
            break;
        case kSecond:  // a QSIG B channel of the first, among others
            controller.send(draws::draw_command(in, test::signalling_forms()), kSecondSlot);
            break;
    }
}

// A row's slot as the input's first; then its user data, or time for its
// link to start.
std::optional<std::string> seed_of(const test::ControllerInput& row) {
    draws::SeedWriter out;
    if (!draws::put_command(out, test::signalling_forms(), row)) return std::nullopt;
    if (row.user_data()) {
        out.integral_in_range<unsigned>(kFrame, kSecond, kUserData);
        draws::put_user_data(out, size_t(row.value));
    } else {
        out.integral_in_range<unsigned>(kFrame, kSecond, kTime);
        out.integral_in_range(1, 5000, 3000);
    }
    return out.input();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    draws::write_seeds_if_asked(*argc, *argv, seed_of);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int device = -1;
    return SlotFuzz::run_input(
        data, size, 48,
        [&device](SlotFuzz::Controller& c, FuzzedDataProvider& in) { device = set_up(c, in); },
        [&device](SlotFuzz::Controller& c, FuzzedDataProvider& in) { step(c, in, device); });
}
