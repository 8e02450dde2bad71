// Tone receivers on the simulated tone codec, in virtual time.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/hardware/receiver_probe.h"

namespace {

using board::sim::Board;
using board::sim::Op;
using Tone = board::sim::DtmfModel::Tone;
using Strings = std::vector<std::string>;
namespace dtmf = board::dtmf;

constexpr unsigned kTs = 5;
const Tone kOff{0, 0, 0, 0};
const Tone kSilence{1000, 1000, 0, 0};
const Tone kRingback{425, 0, 2048, 2048};

// The DTMF digits of `text`, with no durations or amplitudes.
LGCP::TranslateDtmfParams Digits(const std::string& text) {
    LGCP::TranslateDtmfParams params;
    for (char c : text) {
        LGCP::DualTone& tone = params.get_digits().append();
        tone.set_freq1(Dtmf::tonesValidator.at(c).first);
        tone.set_freq2(Dtmf::tonesValidator.at(c).second);
    }
    return params;
}

Tone DigitTone(char c, uint16_t amp1 = 16384, uint16_t amp2 = 16384) {
    auto f = Dtmf::tonesValidator.at(c);
    return Tone{f.first, f.second, amp1, amp2};
}

// What the generator of a timeslot plays, as runs of {tone, ms}.
using Runs = std::vector<std::pair<Tone, unsigned>>;

class TonecReceiverTest : public test::ReceiverTest {
protected:
    // Samples the generator every millisecond for `ms` of virtual time.
    Runs Play(unsigned ms, unsigned ts = kTs) {
        Runs runs;
        for (unsigned t = 0; t < ms; ++t) {
            Tone tone = dtmf().tone(ts);
            if (runs.empty() || runs.back().first != tone)
                runs.push_back({tone, 1});
            else
                ++runs.back().second;
            loop.advance(1);
        }
        return runs;
    }
    unsigned Completions(const test::ReceiverProbe& probe) {
        unsigned n = 0;
        for (const auto& call : probe.calls) n += call == "tone_gen_complete";
        return n;
    }

    test::ReceiverProbe probe{kTs};
};

// --- enable ids ---

TEST_F(TonecReceiverTest, SecondEnableIssuesNothing) {
    EXPECT_TRUE(probe.enableDTMF(true));
    EXPECT_TRUE(probe.enableDTMF(true));
    EXPECT_EQ(std::vector<uint32_t>{dtmf::kEnableDetector}, request_numbers(dtmf::kDevice));
    EXPECT_TRUE(dtmf().timeslot(kTs).enabled);
    EXPECT_EQ(1u, dtmf().timeslot(kTs).id);
    EXPECT_TRUE(test::Logged(errors, "DTMF_ENABLE_DETECTOR done: timeslot=5 id=1"));
}

TEST_F(TonecReceiverTest, IdAfterTheLargestIsOne) {
    Hardware::TonecReceiverService::reset_for_test(4294967295u);
    ASSERT_TRUE(probe.enableDTMF(true));
    EXPECT_EQ(1u, probe.enableId());
    EXPECT_EQ(1u, dtmf().timeslot(kTs).id);
}

TEST_F(TonecReceiverTest, FailedEnableStillUsesAnId) {
    Board::instance().fail_next(Op::Ioctl, dtmf::kDevice, EIO, dtmf::kEnableDetector);
    EXPECT_FALSE(probe.enableDTMF(true));
    EXPECT_TRUE(test::Logged(
        errors, "DTMF_ENABLE_DETECTOR fail: timeslot=5 id=1 errno=\"Input/output error\""));
    EXPECT_FALSE(probe.detectorEnabled());
    ASSERT_TRUE(probe.enableDTMF(true));
    EXPECT_EQ(2u, probe.enableId());
}

// --- routing ---

struct RouteCase {
    const char* name;
    bool enable;
    dtmf::dtmf_event record;  // id 0 stands for the receiver's own id
    Strings delivered;
    const char* progressText;  // the lines after the event's own, exactly
    const char* errorText;     // exactly
};

class TonecRouting : public TonecReceiverTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(TonecRouting, EventReachesTheReceiverOfItsTimeslotUnderItsId) {
    const RouteCase& c = GetParam();
    if (c.enable) {
        ASSERT_TRUE(probe.enableDTMF(true));
    }
    dtmf::dtmf_event record = c.record;
    if (record.id == 0) record.id = probe.enableId();
    clear();
    dtmf().deliver_raw(&record, sizeof record);
    loop.pump();
    EXPECT_EQ(c.delivered, probe.calls);
    EXPECT_EQ("dtmf event:  timestamp=1234 timeslot=" + std::to_string(record.timeslot) +
                  " code=7 id=" + std::to_string(record.id) + "\n" + c.progressText,
              progress.str());
    EXPECT_EQ(c.errorText, errors.str());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TonecRouting,
    ::testing::Values(
        RouteCase{"MatchingId", true, {7, kTs, 1234, 0}, {"tonec code=7 timestamp=1234"}, "", ""},
        RouteCase{"StaleId",
                  true,
                  {7, kTs, 1234, 77},
                  {},
                  "ignore spurious dtmf event:  timestamp=1234 timeslot=5 code=7 id=77 rid=1\n",
                  ""},
        RouteCase{"DetectorOff",
                  false,
                  {7, kTs, 1234, 3},
                  {},
                  "ignore spurious dtmf event (DTMF disabled):  timestamp=1234 timeslot=5 code=7 "
                  "id=3\n",
                  ""},
        RouteCase{"UnknownTimeslot",
                  true,
                  {7, 99, 1234, 0},
                  {},
                  "",
                  "receive tonec event from unknown timeslot 99\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TonecReceiverTest, DetectionReachesTheReceiverOnlyWhileTheDetectorIsOn) {
    EXPECT_FALSE(dtmf().detect(kTs, 3, 10));
    ASSERT_TRUE(probe.enableDTMF(true));
    EXPECT_TRUE(dtmf().detect(kTs, 3, 10));
    loop.pump();
    ASSERT_TRUE(probe.disableDTMF());
    EXPECT_FALSE(dtmf().detect(kTs, 4, 20));
    loop.pump();
    EXPECT_EQ(Strings{"tonec code=3 timestamp=10"}, probe.calls);
}

// Of two receivers on a timeslot (a mixer channel's output and input) the
// one whose enabling the event names gets it, and so does the other while
// it listens too; the first constructed gets an event that names neither,
// under the usual checks.
TEST_F(TonecReceiverTest, OfTwoReceiversOnATimeslotTheOneTheEventNamesGetsIt) {
    test::ReceiverProbe second{kTs};
    ASSERT_TRUE(second.enableDTMF(true));
    dtmf::dtmf_event record{9, kTs, 1, second.enableId()};
    dtmf().deliver_raw(&record, sizeof record);
    loop.pump();
    EXPECT_EQ(Strings{"tonec code=9 timestamp=1"}, second.calls);
    EXPECT_TRUE(probe.calls.empty());
    EXPECT_EQ(std::string::npos, progress.str().find("ignore")) << progress.str();

    ASSERT_TRUE(probe.enableDTMF(true));
    record.id = probe.enableId();
    dtmf().deliver_raw(&record, sizeof record);
    record.id = 77;
    dtmf().deliver_raw(&record, sizeof record);
    loop.pump();
    EXPECT_EQ(Strings{"tonec code=9 timestamp=1"}, probe.calls);
    EXPECT_EQ(2u, second.calls.size());
    EXPECT_TRUE(test::Logged(progress,
                             "ignore spurious dtmf event:  timestamp=1 timeslot=5 code=9 "
                             "id=77 rid=" +
                                 std::to_string(probe.enableId())));
}

// The driver puts the latest enable id of a timeslot in its events: the one
// that stays hears the digits whichever of two listeners leaves, by a
// destroy or by switching its detectors off; IVA, rejection and the echo
// canceller stay on for it too.
TEST_F(TonecReceiverTest, OfTwoListenersOnATimeslotTheOneThatStaysHearsTheDigits) {
    test::ForEachWayOneOfTwoLeaves(
        10,
        [](test::ReceiverProbe& r) {
            return r.enableDTMF(true) && r.enableIVA(true) && r.enableDTMFReject(true) &&
                   r.echoCancel(true);
        },
        [](test::ReceiverProbe& r) {
            return r.enableDTMF(false) && r.enableIVA(false) && r.enableDTMFReject(false) &&
                   r.echoCancel(false);
        },
        [](test::ReceiverProbe& r) { r.Hardware::TonecReceiver::CleanBeforeDestroy(); },
        [&](unsigned ts, const test::ReceiverProbe& staying, const test::ReceiverProbe* leaving) {
            ASSERT_TRUE(dtmf().detect(ts, 4, 7));
            loop.pump();
            EXPECT_EQ(Strings{"tonec code=4 timestamp=7"}, staying.calls);
            EXPECT_TRUE(!leaving || leaving->calls.empty());
            const auto& driver = dtmf().timeslot(ts);
            EXPECT_TRUE(driver.enabled && driver.iva && driver.rejection && driver.echoCancel);
        });
}

TEST_F(TonecReceiverTest, ShortRecordIsReportedAndTheNextOneStillArrives) {
    ASSERT_TRUE(probe.enableDTMF(true));
    const uint8_t shortRecord[10] = {};
    dtmf().deliver_raw(shortRecord, sizeof shortRecord);
    ASSERT_TRUE(dtmf().detect(kTs, 1, 2));
    loop.pump(2);
    EXPECT_TRUE(test::Logged(errors, "fail to read from tonec: short record of 10 bytes"));
    EXPECT_EQ(Strings{"tonec code=1 timestamp=2"}, probe.calls);
}

// --- generator timing ---

TEST_F(TonecReceiverTest, DigitsPlaySeventyMillisecondsEachWithSeventyOfSilence) {
    probe.translateDTMF(Digits("123"));
    EXPECT_TRUE(probe.isSequenceRunning());
    EXPECT_EQ((Runs{{DigitTone('1'), 70},
                    {kSilence, 70},
                    {DigitTone('2'), 70},
                    {kSilence, 70},
                    {DigitTone('3'), 70},
                    {kSilence, 70},
                    {kOff, 100}}),
              Play(520));
    EXPECT_EQ(1u, Completions(probe));
    EXPECT_FALSE(probe.isSequenceRunning());
}

TEST_F(TonecReceiverTest, DigitsUseTheGivenDurationsAndAmplitudes) {
    auto params = Digits("#A");
    params.set_toneDuration(100);
    params.set_pauseDuration(40);
    params.set_amp1(1000);
    params.set_amp2(2000);
    probe.translateDTMF(params);
    EXPECT_EQ((Runs{{DigitTone('#', 1000, 2000), 100},
                    {kSilence, 40},
                    {DigitTone('A', 1000, 2000), 100},
                    {kSilence, 40},
                    {kOff, 20}}),
              Play(300));
    EXPECT_EQ(1u, Completions(probe));
}

TEST_F(TonecReceiverTest, NewSequenceMidwayReplacesTheRest) {
    probe.translateDTMF(Digits("123"));
    Runs first = Play(100);  // into the first pause
    probe.translateDTMF(Digits("9"));
    Runs rest = Play(200);
    EXPECT_EQ((Runs{{DigitTone('1'), 70}, {kSilence, 30}}), first);
    EXPECT_EQ((Runs{{kSilence, 40}, {DigitTone('9'), 70}, {kSilence, 70}, {kOff, 20}}), rest);
    EXPECT_EQ(1u, Completions(probe));
}

TEST_F(TonecReceiverTest, EmptyDigitListCompletesAtOnce) {
    probe.translateDTMF(Digits(""));
    EXPECT_EQ(Strings{"tone_gen_complete"}, probe.calls);
    EXPECT_FALSE(probe.isSequenceRunning());
    EXPECT_EQ(std::vector<uint32_t>{dtmf::kToneGenerator}, request_numbers(dtmf::kDevice));
    EXPECT_EQ(kOff, dtmf().tone(kTs));
}

TEST_F(TonecReceiverTest, RingbackIsOneSecondOfToneAndThreeOfSilence) {
    probe.activateAudibleCall();
    EXPECT_EQ((Runs{{kRingback, 1000},
                    {kSilence, 3000},
                    {kRingback, 1000},
                    {kSilence, 3000},
                    {kRingback, 500}}),
              Play(8500));
}

TEST_F(TonecReceiverTest, CancelledRingbackStaysOff_AlsoOneThatEndedADigitSequence) {
    for (const char* before : {"", "123"}) {
        SCOPED_TRACE(before);
        if (*before) {
            probe.translateDTMF(Digits(before));
            Play(100);  // into the first pause
        }
        probe.activateAudibleCall();
        EXPECT_FALSE(probe.isSequenceRunning());
        EXPECT_EQ((Runs{{kRingback, 1000}, {kSilence, 500}}), Play(1500));
        probe.cancelAudibleCall();
        EXPECT_EQ((Runs{{kOff, 10000}}), Play(10000));
    }
    probe.translateDTMF(Digits("4"));
    EXPECT_EQ((Runs{{DigitTone('4'), 70}, {kSilence, 70}, {kOff, 10}}), Play(150));
    EXPECT_EQ(1u, Completions(probe)) << "the sequence the ringback ended is not reported";
}

TEST_F(TonecReceiverTest, CancelAndARefusedStopLeaveARunningSequenceAlone) {
    probe.translateDTMF(Digits("5"));
    probe.cancelAudibleCall();
    sim().fail_next(Op::Ioctl, dtmf::kDevice, EIO);
    EXPECT_FALSE(probe.disableToneGenerator(true));
    EXPECT_EQ((Runs{{DigitTone('5'), 70}, {kSilence, 70}, {kOff, 10}}), Play(150));
}

// --- SELCAL ---

// The driver's record holds four signs: more are not cut to them.
TEST_F(TonecReceiverTest, SelcalWithSignsOtherThanFourIsRefused) {
    for (const char* signs : {"ABC", "AB-CD"}) {
        TERM::SelcalCommand command;
        command.set_signs(signs);
        EXPECT_FALSE(probe.translateSelcal(command));
        EXPECT_TRUE(test::Logged(
            errors, std::string("SELCAL_DIAL fail: timeslot=5 incorect signs:") + signs + "\n"));
    }
    EXPECT_TRUE(request_numbers(dtmf::kDevice).empty());
}

TEST_F(TonecReceiverTest, SelcalSendsItsFourSigns) {
    struct Case {
        int amp;  // -1: none given
        uint16_t sent;
    };
    for (Case c : {Case{-1, 12000}, Case{3000, 3000}}) {
        TERM::SelcalCommand command;
        command.set_signs("PQRS");
        if (c.amp >= 0) command.set_amp(c.amp);
        ASSERT_TRUE(probe.translateSelcal(command));
        const auto& dial = dtmf().timeslot(kTs).selcal;
        EXPECT_EQ(c.sent, dial.amplitude);
        EXPECT_EQ("PQRS", std::string(dial.signs, dial.signs + 4));
        EXPECT_EQ(0, dial.zero[0] | dial.zero[1]);
    }
}

// --- destruction ---

// A detector function switched, and where the driver shows it.
struct Step {
    bool (Hardware::TonecReceiver::*request)(bool);
    bool board::sim::DtmfModel::Timeslot::*inDriver;
    bool on;
};
using Timeslot = board::sim::DtmfModel::Timeslot;
const Step kDtmfOn{&Hardware::TonecReceiver::enableDTMF, &Timeslot::enabled, true};
const Step kIvaOn{&Hardware::TonecReceiver::enableIVA, &Timeslot::iva, true};
const Step kIvaOff{&Hardware::TonecReceiver::enableIVA, &Timeslot::iva, false};
const Step kRejectOn{&Hardware::TonecReceiver::enableDTMFReject, &Timeslot::rejection, true};
const Step kEchoOn{&Hardware::TonecReceiver::echoCancel, &Timeslot::echoCancel, true};

struct CleanCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<uint32_t> disables;
    // Of another receiver on the timeslot, which lives on: what it
    // switched on stays on.
    std::vector<Step> sharer = {};
    // The driver refuses the clean-up's requests: they are owed, and done
    // within a second.
    bool refused = false;
};

class TonecClean : public TonecReceiverTest, public ::testing::WithParamInterface<CleanCase> {};

TEST_P(TonecClean, CleanBeforeDestroyDisablesWhatTheReceiverSwitchedOn) {
    const CleanCase& c = GetParam();
    test::ReceiverProbe receiver{kTs + 1};
    test::ReceiverProbe sharer{kTs + 1};
    for (const Step& step : c.steps) {
        EXPECT_TRUE((receiver.*step.request)(step.on));
        EXPECT_EQ(step.on, dtmf().timeslot(kTs + 1).*step.inDriver) << "reaches the driver";
    }
    for (const Step& step : c.sharer) EXPECT_TRUE((sharer.*step.request)(step.on));
    clear();
    if (c.refused) sim().refuse = [](Op, const std::string&, uint32_t, const void*) { return EIO; };
    receiver.Hardware::TonecReceiver::CleanBeforeDestroy();
    sim().refuse = nullptr;
    EXPECT_EQ(c.disables, request_numbers(dtmf::kDevice));
    loop.advance(1000);
    for (const Step& function : {kDtmfOn, kIvaOn, kRejectOn, kEchoOn}) {
        bool kept = false;
        for (const Step& step : c.sharer) kept = kept || step.inDriver == function.inDriver;
        EXPECT_EQ(kept, dtmf().timeslot(kTs + 1).*function.inDriver);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TonecClean,
    ::testing::Values(
        CleanCase{"Nothing", {}, {}},
        CleanCase{"Dtmf", {kDtmfOn}, {dtmf::kDisableDetector}},
        CleanCase{"IvaAndRejection", {kIvaOn, kRejectOn}, {dtmf::kIvaOff, dtmf::kRejectionOff}},
        CleanCase{"EchoCanceller", {kEchoOn}, {dtmf::kEchoCancelOff}},
        CleanCase{"All",
                  {kDtmfOn, kIvaOn, kRejectOn, kEchoOn},
                  {dtmf::kDisableDetector, dtmf::kIvaOff, dtmf::kRejectionOff,
                   dtmf::kEchoCancelOff}},
        CleanCase{"DtmfAfterIva", {kIvaOn, kDtmfOn}, {dtmf::kDisableDetector, dtmf::kIvaOff}},
        CleanCase{"IvaOffLeavesDtmfOn", {kDtmfOn, kIvaOn, kIvaOff}, {dtmf::kDisableDetector}},
        CleanCase{"WhatASharerHasOnStays",
                  {kDtmfOn, kIvaOn, kRejectOn, kEchoOn},
                  {dtmf::kDisableDetector},
                  {kIvaOn, kRejectOn, kEchoOn}},
        CleanCase{"AllRefused",
                  {kDtmfOn, kIvaOn, kRejectOn, kEchoOn},
                  {dtmf::kDisableDetector, dtmf::kIvaOff, dtmf::kRejectionOff,
                   dtmf::kEchoCancelOff},
                  {},
                  true},
        CleanCase{"WhatASharerHasOnStaysRefused",
                  {kDtmfOn, kIvaOn, kRejectOn, kEchoOn},
                  {dtmf::kDisableDetector},
                  {kIvaOn, kRejectOn, kEchoOn},
                  true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TonecReceiverTest, DestroyedWhileATonePlaysSwitchesItOff) {
    struct Case {
        const char* name;
        void (*start)(test::ReceiverProbe&);
        unsigned playMs;
    };
    const Case cases[] = {
        {"ringback tone", [](test::ReceiverProbe& r) { r.activateAudibleCall(); }, 500},
        {"ringback silence", [](test::ReceiverProbe& r) { r.activateAudibleCall(); }, 2000},
        {"digit", [](test::ReceiverProbe& r) { r.translateDTMF(Digits("12")); }, 30},
        {"constant tone", [](test::ReceiverProbe& r) { r.enableToneGenerator(1000, 0, 7, 0); }, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            test::ReceiverProbe receiver{kTs + 2};
            c.start(receiver);
            Play(c.playMs, kTs + 2);
            receiver.Hardware::TonecReceiver::CleanBeforeDestroy();
        }
        EXPECT_EQ((Runs{{kOff, 5000}}), Play(5000, kTs + 2));
    }
}

// The timeslot has one generator: a receiver whose tone replaced the one
// another receiver of the timeslot has on gives it back when its own ends
// (destroyed, its digits done, or switched off), and the earlier one's
// leaving leaves the later tone playing.
TEST_F(TonecReceiverTest, AToneAnotherReceiverOfTheTimeslotHasOnPlaysAgainWhenTheOneThatReplacedItEnds) {
    const Tone kSharers{1000, 0, 7, 0};
    const Tone kLater{2000, 0, 7, 0};
    struct Case {
        const char* name;
        void (*end)(std::unique_ptr<test::ReceiverProbe>& earlier,
                    std::unique_ptr<test::ReceiverProbe>& later);
        Tone left;
    };
    const Case cases[] = {
        {"destroyed",
         [](auto&, auto& later) {
             later->Hardware::TonecReceiver::CleanBeforeDestroy();
             later.reset();
         },
         kSharers},
        {"switched off", [](auto&, auto& later) { later->disableToneGenerator(true); }, kSharers},
        {"its digits done", [](auto&, auto& later) { later->translateDTMF(Digits("1")); },
         kSharers},
        {"the earlier one destroyed",
         [](auto& earlier, auto&) {
             earlier->Hardware::TonecReceiver::CleanBeforeDestroy();
             earlier.reset();
         },
         kLater},
    };
    unsigned ts = kTs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto earlier = std::make_unique<test::ReceiverProbe>(++ts);
        auto later = std::make_unique<test::ReceiverProbe>(ts);
        ASSERT_TRUE(earlier->enableToneGenerator(1000, 0, 7, 0));
        ASSERT_TRUE(later->enableToneGenerator(2000, 0, 7, 0));
        c.end(earlier, later);
        Play(500, ts);
        EXPECT_EQ(c.left, dtmf().tone(ts));
    }
}

TEST_F(TonecReceiverTest, CleanBeforeDestroyLeavesAnIdleGeneratorAlone) {
    probe.translateDTMF(Digits("1"));
    Play(200);
    clear();
    probe.Hardware::TonecReceiver::CleanBeforeDestroy();
    EXPECT_TRUE(request_numbers(dtmf::kDevice).empty());
}

// --- absent device ---

TEST_F(TonecReceiverTest, AbsentDeviceFailsEveryRequestAndConfigureRetriesTheOpen) {
    dtmf().absent = true;
    Hardware::TonecReceiverService::reset_for_test();
    const std::string badFd = " errno=\"Bad file descriptor\"";
    EXPECT_FALSE(probe.enableDTMF(true));
    EXPECT_TRUE(test::Logged(errors, "open tonec fail, DTMF proceeding disabled: No such file"));
    EXPECT_TRUE(test::Logged(errors, "DTMF_ENABLE_DETECTOR fail: timeslot=5 id=1" + badFd));
    EXPECT_FALSE(probe.echoCancel(true));
    EXPECT_TRUE(test::Logged(errors, "CHANNEL_LMS_ON fail: timeslot=5" + badFd));
    EXPECT_FALSE(probe.enableDTMFReject(false));
    EXPECT_TRUE(test::Logged(errors, "DTMF_REJECTION_DISABLE fail: timeslot=5" + badFd));
    EXPECT_FALSE(probe.enableIVA(true));
    EXPECT_TRUE(test::Logged(errors, "IVA_DETECTOR_ENABLE fail: timeslot=5" + badFd));
    EXPECT_FALSE(probe.enableSilence());
    EXPECT_TRUE(test::Logged(errors, "DTMF_DIAL fail: timeslot=5" + badFd));
    TERM::SelcalCommand selcal;
    selcal.set_signs("ABCD");
    EXPECT_FALSE(probe.translateSelcal(selcal));
    EXPECT_TRUE(test::Logged(errors, "SELCAL_DIAL fail: timeslot=5" + badFd));
    LGCP::IVAParams iva;
    EXPECT_FALSE(probe.configureIVA(iva));
    EXPECT_TRUE(test::Logged(errors, "configure IVA fail: (interface not opened) timeslot=5"));
    LGCP::DTMFParams params;
    EXPECT_FALSE(probe.configureDTMF(params));
    EXPECT_TRUE(test::Logged(errors, "configure DTMF fail: (interface not opened) timeslot=5"));

    dtmf().absent = false;
    params.get_threshold().set_twist(8);
    params.get_threshold().set_ratio(6);
    params.get_threshold().set_noise(4);
    params.get_level().set_silence(2);
    clear();
    ASSERT_TRUE(probe.configureDTMF(params));
    EXPECT_TRUE(
        test::Logged(progress, "DTMF_CONFIGURE_DETECTOR ts=5 twist=8 ratio=6 noise=4 silence=2"));
    const auto& config = dtmf().timeslot(kTs).config;
    EXPECT_EQ((std::vector<uint32_t>{8, 6, 2, 4}),
              (std::vector<uint32_t>{config.twist, config.ratio, config.silence, config.noise}));
    ASSERT_TRUE(probe.enableDTMF(true));
    ASSERT_TRUE(dtmf().detect(kTs, 2, 3));
    loop.pump();
    EXPECT_EQ(Strings{"tonec code=2 timestamp=3"}, probe.calls) << "events are read once open";
}

TEST_F(TonecReceiverTest, SwitchesReachTheDriverAndTheirLogs) {
    LGCP::IVAParams iva;
    iva.set_det_lvl_dB(-30);
    ASSERT_TRUE(probe.configureIVA(iva));
    ASSERT_TRUE(probe.enableIVA(true));
    ASSERT_TRUE(probe.echoCancel(true));
    ASSERT_TRUE(probe.enableDTMFReject(true));
    const auto& ts = dtmf().timeslot(kTs);
    EXPECT_EQ(-30, ts.ivaLevel);
    EXPECT_TRUE(ts.iva && ts.echoCancel && ts.rejection);
    EXPECT_TRUE(probe.detectorEnabled()) << "IVA enabling switches the detector on";
    EXPECT_TRUE(test::Logged(progress, "IVA_CONFIGURE_DETECTOR ts=5 det_lvl_dB=-30"));
    EXPECT_TRUE(test::Logged(progress, "IVA_DETECTOR_ENABLE[5] ok"));
    EXPECT_TRUE(test::Logged(progress, "CHANNEL_LMS_ON[5] ok"));
    EXPECT_TRUE(test::Logged(progress, "DTMF_REJECTION_ENABLE[5] ok"));
    for (const auto& call : Board::instance().journal(dtmf::kDevice)) {
        if (call.request != dtmf::kConfigureIva) {
            EXPECT_EQ(kTs, call.value) << "by value";
        }
    }
}

}  // namespace
