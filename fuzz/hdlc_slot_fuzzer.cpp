// Frames of any length from a device into an HDLC data slot, with time
// steps, packages from the controller, a busy or failing channel and the
// slot's wiring coming and going. Nothing aborts or leaks, every signal
// encodes, every command is answered, and once the controller has gone
// every packet block is back.
#include "board/drivers/mcc.h"
#include "fuzz/slot_fuzzing.h"
#include "tests/support/signalling_commands.h"

namespace {

constexpr int kDeviceChannel = 37;  // trunk 1, timeslot 5

void step(SlotFuzz::Controller& controller, FuzzedDataProvider& in, uint16_t address) {
    switch (in.ConsumeIntegralInRange(0, 6)) {
        case 0:
        case 1:
        case 2: {  // mostly for this slot
            std::string frame;
            if (in.ConsumeBool()) frame = {char(address >> 8), char(address)};
            frame += in.ConsumeRandomLengthString(64);
            controller.device_sends(kDeviceChannel, frame);
            controller.run(in.ConsumeIntegralInRange(0, 150));
            break;
        }
        case 3:
            controller.run(in.ConsumeIntegralInRange(1, 4000));
            break;
        case 4: {
            std::vector<std::string> packages(in.ConsumeIntegralInRange(0, 125));
            for (std::string& body : packages) body = in.ConsumeRandomLengthString(8);
            controller.send(test::hdlc_packages(packages), 40);
            break;
        }
        case 5:
            board::sim::Board::instance().fail_next(board::sim::Op::Write, board::mcc::kDevice,
                                                    in.ConsumeBool() ? EAGAIN : EIO,
                                                    0, in.ConsumeIntegralInRange(1, 3));
            break;
        default:
            if (in.ConsumeBool()) {
                controller.send(test::command(LGCP::Command::Alternative::disconnect), 40);
                controller.send(test::command(LGCP::Command::Alternative::disconnect), 12);
            } else {
                SlotFuzz::wire(controller, 12, 40);
            }
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint16_t address = 0;
    auto set_up = [&address](SlotFuzz::Controller& controller, FuzzedDataProvider& in) {
        address = in.ConsumeIntegral<uint16_t>();
        controller.send(test::create_hdlc(2, address), 40);
        controller.send(test::create_trunk(1, 5), 12);
        SlotFuzz::wire(controller, 12, 40);
    };
    return SlotFuzz::run_input(data, size, 64, set_up,
                               [&address](SlotFuzz::Controller& controller, FuzzedDataProvider& in) {
                                   step(controller, in, address);
                               });
}
