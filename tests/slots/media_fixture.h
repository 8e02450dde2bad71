#pragma once
// The slot suite with the server's trunk, map, pass-through, echo and MCC
// factories, and what the controller hears told as one line per message:
// "12 success", "12 insufficientResources", "12 receiver active 8325",
// "31 userData 01 02".

#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "board/drivers/mcc.h"
#include "board/sim/mcc_model.h"
#include "slots/echo_factory.h"
#include "slots/ext_factory.h"
#include "slots/map_factory.h"
#include "slots/mcc_factory.h"
#include "slots/trunk_factory.h"
#include "tests/slots/slot_fixture.h"
#include "tests/support/slot_commands.h"

namespace test {

inline std::string describe(const LGCP::Stream& stream) {
    return stream.is_active() ? "active " + std::to_string(stream.get_active()->getValue())
                              : "inactive";
}

inline std::string hex(const std::vector<char>& bytes) {
    std::ostringstream text;
    for (size_t i = 0; i < bytes.size(); ++i)
        text << (i ? " " : "") << std::hex << std::setw(2) << std::setfill('0')
             << (static_cast<unsigned>(bytes[i]) & 0xFF);
    return text.str();
}

inline std::string describe(const LGCP::Message& message) {
    std::ostringstream text;
    if (auto slot = slot_of(message)) text << *slot << ' ';
    if (is_response(message)) {
        LGCP::ErrorCause cause;
        if (auto error = error_of(message)) cause.setValue(*error);
        text << (error_of(message) ? cause.getName() : "success");
    } else if (const LGCP::Signal* signal = message.get_pdu().get_signal()) {
        if (signal->is_transmitter())
            text << "transmitter " << describe(*signal->get_transmitter());
        else if (signal->is_receiver())
            text << "receiver " << describe(*signal->get_receiver());
        else if (signal->is_userData())
            text << "userData " << hex(*signal->get_userData());
        else
            text << "signal " << static_cast<int>(signal->selection());
    }
    return text.str();
}

class MediaSlotTest : public SlotTest {
protected:
    using SlotTest::SlotTest;
    MediaSlotTest() = default;

    // One message as a line of what the controller hears.
    virtual std::string line(const LGCP::Message& message) { return describe(message); }

    static void SetUpTestSuite() {
        TrunkFactories::instance();
        MapFactory::instance();
        ExtFactory::instance();
        MccFactory::instance();
        EchoFactory::instance();
    }

    // What the controller hears for one command: its answer and the
    // signals before and after it.
    std::vector<std::string> heard(const LGCP::Command& command, unsigned slot) {
        controller.send(command, 1, slot);
        std::vector<std::string> lines;
        bool answered = false;
        while (auto message = controller.receive(answered ? 3 : TestController::default_passes)) {
            lines.push_back(line(*message));
            answered = answered || is_response(*message);
        }
        return lines;
    }
    // The signals that have come in without a command.
    std::vector<std::string> signals() {
        std::vector<std::string> lines;
        while (auto message = controller.receive(3)) lines.push_back(line(*message));
        return lines;
    }
    // Creates, expecting success; the signals it brings are passed over.
    void make(const LGCP::Command& command, unsigned slot) {
        ASSERT_EQ(std::nullopt, outcome(command, slot)) << errors.str();
    }

    static board::sim::MccModel& mcc() {
        return *sim().model_as<board::sim::MccModel>(board::mcc::kDevice);
    }
};

}  // namespace test
