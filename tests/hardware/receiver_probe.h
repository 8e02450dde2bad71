#pragma once
// A media endpoint of one timeslot with both receiver mix-ins, recording
// every call it gets as a line of text, and the fixture of the receiver
// tests: the hardware one with both device services opened.

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "board/sim/dsp_model.h"
#include "board/sim/dtmf_model.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "runtime/trace_ctl.h"
#include "tests/hardware/hardware_test.h"
#include "tests/support/stream_capture.h"

namespace test {

class ReceiverProbe : public Hardware::TonecReceiver, public Hardware::DSProcReceiver {
public:
    explicit ReceiverProbe(unsigned ts) : ts(ts) {}

    void tonec_event(const Params& p) override {
        record("tonec code=" + std::to_string(p.code) +
               " timestamp=" + std::to_string(p.timestamp));
    }
    unsigned tonec_timeslot() const override { return ts; }
    void tone_gen_complete() override { record("tone_gen_complete"); }

    void dsproc_vad_event(const Hardware::DSProcVADEvent& e) override {
        record("vad rx=" + std::to_string(e.rx) + " tx=" + std::to_string(e.tx));
    }
    void dsproc_bss_event(const board::dsp::dsproc_bss_event* e) override {
        char text[32];
        std::snprintf(text, sizeof text, "bss score=%g", static_cast<double>(e->score));
        record(text);
    }
    void dsproc_sd_event(const Hardware::DSProcSDEvent& e) override {
        record("sd rx=" + std::to_string(e.rx));
    }
    void dsproc_tone_flt_event(const board::dsp::dsproc_tone_event* e) override {
        record("tone frequency=" + std::to_string(e->frequency) +
               " presence=" + std::to_string(e->presence));
    }
    void dsproc_flags_event(const board::dsp::dsproc_flags_event* e) override {
        record("flags flags=" + std::to_string(e->flags) + " mask=" + std::to_string(e->mask));
    }
    unsigned dsproc_timeslot() const override { return ts; }

    unsigned ts;
    std::vector<std::string> calls;

private:
    void record(const std::string& call) { calls.push_back(call); }
};

class ReceiverTest : public HardwareTest {
protected:
    ReceiverTest() {
        traces.events = false;
        // Their first use opens the devices, which then deliver events.
        Hardware::TonecReceiverService::instance();
        Hardware::DSProcReceiverService::instance();
        clear();
    }
    ~ReceiverTest() override { traces.events = false; }

    static board::sim::DtmfModel& dtmf() {
        return model<board::sim::DtmfModel>(board::dtmf::kDevice);
    }
    static board::sim::DspModel& dsp() { return model<board::sim::DspModel>(board::dsp::kDevice); }
    // The request numbers issued on `device` since the last clear().
    static std::vector<uint32_t> request_numbers(const char* device) {
        std::vector<uint32_t> numbers;
        for (const auto& call : sim().journal(device))
            if (call.op == board::sim::Op::Ioctl) numbers.push_back(call.request);
        return numbers;
    }
    void clear() {
        sim().clear_journal();
        errors.clear();
        progress.clear();
    }
};

// Two receivers of one timeslot, each switched on by `on`; then one leaves,
// in each of four ways: the later or the earlier enabler, destroyed (`clean`
// runs, then it goes) or switched off by `off`. Each way runs on a timeslot
// of its own after `ts` and ends with `check(ts, staying, leaving)`, where
// `leaving` is null once destroyed.
template <class On, class Off, class Clean, class Check>
void ForEachWayOneOfTwoLeaves(unsigned ts, On on, Off off, Clean clean, Check check) {
    for (const bool destroyed : {true, false})
        for (const bool laterLeaves : {true, false}) {
            SCOPED_TRACE(std::string(destroyed ? "destroyed, " : "switched off, ") +
                         (laterLeaves ? "the later enabler leaves" : "the earlier enabler leaves"));
            auto earlier = std::make_unique<ReceiverProbe>(++ts);
            auto later = std::make_unique<ReceiverProbe>(ts);
            ASSERT_TRUE(on(*earlier) && on(*later));
            auto& leaving = laterLeaves ? later : earlier;
            if (destroyed) {
                clean(*leaving);
                leaving.reset();
            } else {
                ASSERT_TRUE(off(*leaving));
            }
            check(ts, *(laterLeaves ? earlier : later), leaving.get());
        }
}

// Finds `text` in a captured stream, printing the stream when it is missing.
inline ::testing::AssertionResult Logged(const StreamCapture& stream, const std::string& text) {
    if (stream.str().find(text) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << text << "\" in:\n" << stream.str();
}

}  // namespace test
