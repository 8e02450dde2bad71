// What every slot kind inherits: its printed form and the signals it makes
// of device events.
#include "slots/slot.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/slots/slot_fixture.h"

namespace {

class Named : public Slot {
public:
    Named(const char* name, unsigned number) : name_(name) { SetNumber(number); }
    const char* GetName() const override { return name_; }

private:
    const char* name_;
};

TEST(SlotName, PrintsTheNumberAndTheKind) {
    const struct {
        const char* name;
        unsigned number;
        const char* printed;
    } rows[] = {
        {"trunk", 5, "05:trunk"},           {"trunk", 0, "00:trunk"},
        {"rtp", 1023, "1023:rtp"},          {"rtp", 1500, "i1500:rtp"},
        {"map", Slot::kNoNumber, "na:map"}, {"rtp", 0xFFFFFFFE, "i4294967294:rtp"},
    };
    for (const auto& row : rows) {
        std::ostringstream os;
        os << Named(row.name, row.number) << std::setw(3) << 7;  // the fill is a blank again
        EXPECT_EQ(std::string(row.printed) + "  7", os.str());
    }
}

}  // namespace

namespace {

using board::dsp::dsproc_bss_event;
using board::dsp::dsproc_flags_event;
using board::dsp::dsproc_tone_event;

// What a slot is fed, one device event each.
using Feed = std::function<void(Slot&)>;
Feed tone_code(uint32_t code) {
    return [=](Slot& s) { s.processTonecEvent({code, 7}); };
}
Feed vad_values(int rx, int tx) {
    return [=](Slot& s) { s.processVADEvent({rx, tx}); };
}
Feed sd_value(int rx) {
    return [=](Slot& s) { s.processSDEvent({rx}); };
}
Feed tone_filter(uint32_t frequency, uint32_t presence) {
    return [=](Slot& s) {
        board::dsp::dsproc_tone_event e{frequency, presence, 0};
        s.processToneFltEvent(&e);
    };
}
Feed flags(uint32_t values, uint32_t mask) {
    return [=](Slot& s) {
        board::dsp::dsproc_flags_event e{values, mask, 0};
        s.processFlagsEvent(&e);
    };
}
Feed score(float value) {
    return [=](Slot& s) {
        board::dsp::dsproc_bss_event e{value, 0, 0};
        s.processBSSEvent(&e);
    };
}
Feed rtp_event(int32_t type) {
    return [=](Slot& s) { s.processRtpEvent({type, 3, 50, {}, 50, {}}); };
}

// What the controller should hear.
LGCP::Signal tone(std::function<void(LGCP::TonecCode&)> code, int timestamp = 7) {
    LGCP::Signal signal;
    signal.select_tonec().set_timestamp(timestamp);
    code(signal.get_tonec()->get_event());
    return signal;
}
LGCP::Signal vad(std::optional<bool> rx, std::optional<bool> tx) {
    LGCP::Signal signal;
    LGCP::VADEvent& event = signal.select_vad();
    if (rx) event.set_vad_rx(*rx);
    if (tx) event.set_vad_tx(*tx);
    return signal;
}
LGCP::Signal selcal(bool inProgress) {
    LGCP::Signal signal;
    signal.select_selcal().set_in_progress(inProgress);
    return signal;
}
LGCP::Signal bss(const std::string& text) {
    LGCP::Signal signal;
    signal.select_bss().set_score(text);
    return signal;
}
LGCP::Signal sd(bool rx) {
    LGCP::Signal signal;
    signal.select_sd().set_sd_rx(rx);
    return signal;
}
LGCP::Signal presence(bool present, int frequency) {
    return tone(
        [=](LGCP::TonecCode& c) {
            c.select_tone_presence().set_presence(present);
            c.get_tone_presence()->set_freq(frequency);
        },
        0);
}
LGCP::Signal detection() {
    LGCP::Signal signal;
    LGCP::RtpPDEvent& pd = signal.select_rtp().select_pd();
    pd.set_value(3);
    pd.set_timeout(50);
    return signal;
}
std::string printed(const LGCP::Signal& signal) {
    std::ostringstream os;
    os << signal;
    return os.str();
}

class EventConverters : public test::SlotTest {};

TEST_F(EventConverters, TurnDeviceEventsIntoSignalsOfTheSlot) {
    constexpr uint32_t rx = 1u << 29, tx = 1u << 30, sc = 1u << 31;
    const std::string hugeScore = [] {
        char text[64];
        std::snprintf(text, sizeof text, "%4.6f", -static_cast<double>(FLT_MAX));
        return std::string(text, 30);  // of 47 characters
    }();
    const char* badTone = "bad DTMF code, ignored.\n";
    struct Row {
        const char* what;
        Feed feed;
        std::vector<LGCP::Signal> expected;
        const char* logged = "";  // on the error stream
    };
    // clang-format off
    const std::vector<Row> rows = {
        {"CED", tone_code(17), {tone([](auto& c) { c.select_ced(); })}},
        {"CNG", tone_code(18), {tone([](auto& c) { c.select_cng(); })}},
        {"DTMF", tone_code(127), {tone([](auto& c) { c.set_dtmf(127); })}},
        {"IVA", tone_code(0x0500), {tone([](auto& c) { c.select_iva().set_code(5); })}},
        {"ring off", tone_code(0x1500), {tone([](auto& c) { c.select_iva().select_ringoff(); })}},
        {"IVA beyond", tone_code(0x1600), {}, badTone},
        {"IVA negative", tone_code(0xFFFFFF00), {}, badTone},
        {"tone sent", [](Slot& s) { s.processToneGenEvent(); },
         {tone([](auto& c) { c.select_dtmfDone(); }, 0)}},
        {"VAD", vad_values(3, 0), {vad(true, false)}},
        {"VAD receive only", vad_values(0, -1), {vad(false, {})}},
        {"VAD without values", vad_values(-1, -5), {}, "bad VAD event, ignored.\n"},
        {"SD", sd_value(2), {sd(true)}},
        {"SD without value", sd_value(-1), {}, "bad SD event, ignored.\n"},
        {"tone present", tone_filter(2100, 7), {presence(true, 2100)}},
        {"tone absent", tone_filter(0, 0), {presence(false, 0)}},
        {"flags: VAD and SELCAL", flags(rx | sc, rx | sc), {vad(true, {}), selcal(true)}},
        {"flags: VAD transmit", flags(rx, tx), {vad({}, false)}},
        {"flags: SELCAL", flags(0, sc), {selcal(false)}},
        {"flags: none", flags(rx | tx | sc, 0), {}},
        {"BSS", score(1.5f), {bss("1.500000")}},
        {"BSS huge", score(-FLT_MAX), {bss(hugeScore)}},
        {"BSS NaN", score(std::nanf("")), {bss(" nan")}},  // four places at least
        {"packet detection", rtp_event(1), {detection()}},
        {"other RTP event", rtp_event(2), {}},
    };
    // clang-format on
    create(9);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        errors.clear();
        row.feed(*Slots::instance()->at(9));
        for (const LGCP::Signal& expected : row.expected) {
            auto message = controller.receive();
            ASSERT_TRUE(message && test::is_signal(*message));
            EXPECT_EQ(9u, test::slot_of(*message));
            EXPECT_EQ(printed(expected), printed(*message->get_pdu().get_signal()));
        }
        EXPECT_FALSE(controller.receive(2));
        EXPECT_EQ(row.logged, errors.str());
    }
}

}  // namespace
