// Voice-processing receivers on the simulated DSP.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/hardware/receiver_probe.h"

namespace {

using board::sim::Board;
using board::sim::Op;
using Strings = std::vector<std::string>;
namespace dsp = board::dsp;

constexpr unsigned kTs = 12;

// An enable or disable record issued: {request, id, mask}.
struct Switch {
    uint32_t request, id, mask;
    bool operator==(const Switch& o) const {
        return request == o.request && id == o.id && mask == o.mask;
    }
};

void PrintTo(const Switch& s, std::ostream* os) {
    *os << std::hex << "{0x" << s.request << std::dec << ", id " << s.id << ", mask " << s.mask
        << "}";
}

class DSProcReceiverTest : public test::ReceiverTest {
protected:
    std::vector<Switch> switches() const {
        std::vector<Switch> out;
        for (const auto& call : Board::instance().journal(dsp::kDevice)) {
            if (call.request != dsp::kEnable && call.request != dsp::kDisable) continue;
            dsp::dsproc_enable record;
            std::memcpy(&record, call.data.data(), sizeof record);
            out.push_back({call.request, record.id, record.mask});
        }
        return out;
    }
    const dsp::dsproc_configure* configured(uint32_t function, unsigned ts = kTs) {
        return dsp().timeslot(ts).configure(function);
    }
    void deliver(uint32_t ts, uint32_t id, uint32_t type, uint32_t a, uint32_t b = 0,
                 uint32_t c = 0) {
        dsp::dsproc_event record{ts, id, type, a, b, c};
        dsp().deliver_raw(&record, sizeof record);
        loop.pump();
    }

    test::ReceiverProbe probe{kTs};
};

// --- function states and ids ---

TEST_F(DSProcReceiverTest, FirstSwitchOffSendsADisableOnlyForFunctionsNeverSet) {
    EXPECT_TRUE(probe.enableVAD(false));
    EXPECT_TRUE(probe.enableVAD(false));
    EXPECT_TRUE(probe.enableBSS(false));
    EXPECT_TRUE(probe.enableNG(false));
    EXPECT_TRUE(probe.enableSD(false));
    EXPECT_EQ((std::vector<Switch>{{dsp::kDisable, 0, dsp::kVad}, {dsp::kDisable, 0, dsp::kSd}}),
              switches());
    EXPECT_TRUE(test::Logged(errors, "DSPROC_DISABLE VAD done: timeslot=12"));
    EXPECT_EQ(0, probe.vad().state);
}

TEST_F(DSProcReceiverTest, OneIdCounterServesEveryFunctionOfEveryReceiver) {
    test::ReceiverProbe other{kTs + 1};
    ASSERT_TRUE(probe.enableVAD(true));
    ASSERT_TRUE(other.enableBSS(true));
    ASSERT_TRUE(probe.enableSD(true));
    ASSERT_TRUE(other.enableNG(true));
    EXPECT_EQ(1u, dsp().timeslot(kTs).id(dsp::kVad));
    EXPECT_EQ(2u, dsp().timeslot(kTs + 1).id(dsp::kBss));
    EXPECT_EQ(3u, dsp().timeslot(kTs).id(dsp::kSd));
    EXPECT_EQ(4u, dsp().timeslot(kTs + 1).id(dsp::kNg));
    EXPECT_EQ(3u, probe.sd().id);
    EXPECT_TRUE(test::Logged(errors, "DSPROC_ENABLE NG done: timeslot=13 id=4"));
    EXPECT_TRUE(probe.enableVAD(true));
    EXPECT_EQ(4u, switches().size()) << "a function already on issues nothing";
}

TEST_F(DSProcReceiverTest, FailedEnableUsesAnIdAndKeepsTheState) {
    Board::instance().fail_next(Op::Ioctl, dsp::kDevice, EBUSY, dsp::kEnable);
    EXPECT_FALSE(probe.enableBSS(true));
    EXPECT_TRUE(test::Logged(
        errors, "DSPROC_ENABLE BSS fail: timeslot=12 id=1 errno=\"Device or resource busy\""));
    EXPECT_EQ(0, probe.bss().state);
    ASSERT_TRUE(probe.enableBSS(true));
    EXPECT_EQ(2u, probe.bss().id);
}

TEST_F(DSProcReceiverTest, MuteEnablesEachDirectionUnderANewIdAndDisablesBoth) {
    ASSERT_TRUE(probe.enableVAD(true));
    ASSERT_TRUE(probe.enableMute(true, false));
    ASSERT_TRUE(probe.enableMute(true, false));
    ASSERT_TRUE(probe.enableMute(false, false));
    EXPECT_EQ((std::vector<Switch>{{dsp::kEnable, 1, dsp::kVad},
                                   {dsp::kEnable, 2, dsp::kMuteFirst},
                                   {dsp::kDisable, 0, dsp::kMuteFirst | dsp::kMuteSecond}}),
              switches());
    EXPECT_TRUE(test::Logged(errors, "DSPROC_ENABLE MUTE done: timeslot=12 id=2"));
    EXPECT_TRUE(test::Logged(errors, "DSPROC_DISABLE MUTE done: timeslot=12"));
}

// --- configuration ---

TEST_F(DSProcReceiverTest, VadConfigurationFollowsTheDriverVersion) {
    LGCP::VADParams v2;
    TERM::VADParamsV2& p = v2.select_v2();
    p.set_voice_th_msec(300);
    p.set_silence_th_msec(1200);
    p.set_e_th_dB(45);
    LGCP::VADParams v1;
    v1.select_v1();

    ASSERT_TRUE(probe.configureVAD(v2));
    const dsp::dsproc_configure* record = configured(dsp::kVad);
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(300, record->params.vad_v2.voice_th_msec);
    EXPECT_EQ(1200, record->params.vad_v2.silence_th_msec);
    EXPECT_EQ(45, record->params.vad_v2.e_th_dB);
    EXPECT_TRUE(test::Logged(progress, "DSPROC_CONFIGURE VAD ts=12"));

    clear();
    EXPECT_FALSE(probe.configureVAD(v1));
    EXPECT_TRUE(
        test::Logged(errors, "DSPROC_CONFIGURE VAD: params not specified for v2:  timeslot=12"));
    EXPECT_EQ(std::vector<uint32_t>{dsp::kVersion}, request_numbers(dsp::kDevice));

    dsp().version = 1;
    for (const LGCP::VADParams* params : {&v1, &v2}) {
        ASSERT_TRUE(probe.configureVAD(*params));
        const auto& words = configured(dsp::kVad)->params.vad_v1;
        EXPECT_EQ((std::vector<uint32_t>{3, 127, 0}),
                  (std::vector<uint32_t>{words.word0, words.word1, words.word2}));
    }
}

TEST_F(DSProcReceiverTest, DelaysGainAndToneFilterReachTheDriverAsLaidOut) {
    ASSERT_TRUE(probe.configureDelays(10, 20, 30));
    ASSERT_TRUE(probe.configureToneFilter(2100, 1, 400, -20));
    ASSERT_TRUE(probe.configureSD());
    const auto& delays = configured(dsp::kDelays)->params.delays;
    EXPECT_EQ((std::vector<uint32_t>{10, 20, 30}),
              (std::vector<uint32_t>{delays.rx, delays.tx, delays.selcal}));
    const auto& filter = configured(dsp::kToneFilter)->params.tone_filter;
    EXPECT_EQ(2100, filter.freq);
    EXPECT_EQ(1, filter.enable);
    EXPECT_EQ(400, filter.dur_th_msec);
    EXPECT_EQ(0xEC, filter.det_lvl_dB);
    ASSERT_NE(nullptr, configured(dsp::kSd));
    EXPECT_TRUE(test::Logged(progress, "DSPROC_CONFIGURE DELAYS ts=12 rx=10 tx=20 selcal=30"));
    EXPECT_TRUE(test::Logged(
        progress,
        "DSPROC_CONFIGURE TONE FILTER ts=12 freq=2100, en=1, dur_th_msec=400, det_lvl_dB=-20"));
    EXPECT_TRUE(test::Logged(progress, "DSPROC_CONFIGURE SD ts=12"));
}

// The board's plain char is unsigned: the gain must stay a signed byte.
TEST_F(DSProcReceiverTest, NegativeReceiveGainIsOneSignedByte) {
    ASSERT_TRUE(probe.configureRxGain(-6));
    const auto calls = Board::instance().journal(dsp::kDevice);
    ASSERT_EQ(1u, calls.size());
    ASSERT_EQ(20u, calls[0].data.size());
    EXPECT_EQ(0xFA, calls[0].data[8]);
    EXPECT_EQ(64u, configured(dsp::kRxGain)->function);
    EXPECT_TRUE(test::Logged(progress, "DSPROC_CONFIGURE RX GAIN ts=12 gain_dB=-6\n"));
}

TEST_F(DSProcReceiverTest, CleanBeforeDestroySwitchesOffWhatIsOnAndEveryToneFilter) {
    ASSERT_TRUE(probe.enableVAD(true));
    ASSERT_TRUE(probe.enableBSS(true));
    ASSERT_TRUE(probe.enableSD(true));
    ASSERT_TRUE(probe.enableMute(false, true));
    ASSERT_TRUE(probe.configureDelays(0, 5, 0));
    ASSERT_TRUE(probe.configureRxGain(3));
    ASSERT_TRUE(probe.configureToneFilter(1000, 1, 100, -10));
    clear();
    probe.Hardware::DSProcReceiver::CleanBeforeDestroy();
    EXPECT_EQ((std::vector<Switch>{{dsp::kDisable, 0, dsp::kVad},
                                   {dsp::kDisable, 0, dsp::kBss},
                                   {dsp::kDisable, 0, dsp::kToneFilter}}),
              switches());
    const auto& ts = dsp().timeslot(kTs);
    EXPECT_EQ(0u, ts.configure(dsp::kDelays)->params.delays.tx);
    EXPECT_EQ(0, ts.configure(dsp::kRxGain)->params.rx_gain.gain_dB);
    EXPECT_TRUE(ts.on(dsp::kSd) && ts.on(dsp::kMuteSecond)) << "SD and mute stay as they are";
    EXPECT_FALSE(ts.on(dsp::kToneFilter));
    EXPECT_TRUE(test::Logged(progress, "DISABLE ALL TONE done:  ts=12"));
}

// What the driver refuses to switch off or zero at the clean-up stays owed
// to the timeslot, tried again every second until it is done; what a
// receiver of the timeslot switches on since (VAD, a 3000 Hz filter) is its
// own and stays, as does the 2100 Hz filter of a receiver that shares the
// timeslot. The leaving one's 1000 Hz filter, which no other receiver has,
// goes though neither filter of another frequency ended it.
TEST_F(DSProcReceiverTest, CleanBeforeDestroyOwesWhatTheDriverRefusedUntilItIsDone) {
    test::ReceiverProbe sharer{kTs};
    ASSERT_TRUE(sharer.configureToneFilter(2100, 1, 100, -10));
    ASSERT_TRUE(probe.enableVAD(true));
    ASSERT_TRUE(probe.enableBSS(true));
    ASSERT_TRUE(probe.configureRxGain(3) && probe.configureDelays(0, 5, 0));
    ASSERT_TRUE(probe.configureToneFilter(1000, 1, 100, -10));
    Board::instance().refuse = [](Op, const std::string&, uint32_t request, const void*) {
        return request == dsp::kDisable || request == dsp::kConfigure ? EIO : 0;
    };
    probe.Hardware::DSProcReceiver::LetGo();
    loop.advance(1000);
    const std::string refused = "DSPROC_DISABLE owed fail:";
    ASSERT_NE(std::string::npos, errors.str().find(refused));
    EXPECT_EQ(errors.str().find(refused), errors.str().rfind(refused)) << "once a second";
    const auto& ts = dsp().timeslot(kTs);
    EXPECT_TRUE(ts.on(dsp::kVad) && ts.on(dsp::kBss) && ts.filters.count(1000));
    EXPECT_EQ(3, configured(dsp::kRxGain)->params.rx_gain.gain_dB);
    Board::instance().refuse = nullptr;
    test::ReceiverProbe next{kTs};
    ASSERT_TRUE(next.enableVAD(true));
    ASSERT_TRUE(next.configureToneFilter(3000, 1, 100, -10));
    loop.advance(1000);
    EXPECT_TRUE(ts.on(dsp::kVad));
    EXPECT_FALSE(ts.on(dsp::kBss));
    EXPECT_EQ(0, configured(dsp::kRxGain)->params.rx_gain.gain_dB);
    EXPECT_EQ(0u, configured(dsp::kDelays)->params.delays.tx);
    std::vector<uint32_t> filters;
    for (const auto& filter : ts.filters) filters.push_back(filter.first);
    EXPECT_EQ((std::vector<uint32_t>{2100, 3000}), filters);
}

// The driver's switch-off of a filter ends every filter of the timeslot, a
// sharer's 2100 Hz one with it, which the driver then refuses to switch on
// again for three seconds: it is tried every second until the driver takes
// it, and the sharer hears its tone; a filter the sharer has given up
// (switched off or gone) is asked no more. Two ways in: the other receiver
// of the timeslot switches its 1000 Hz filter off, or a gone one's owed
// switch-off is done.
TEST_F(DSProcReceiverTest, ASharersFilterTheDriverRefusedToSwitchOnAgainIsTriedUntilItIsOn) {
    const auto refuseSwitchOn = [](Op, const std::string&, uint32_t request, const void* arg) {
        const auto* record = static_cast<const dsp::dsproc_configure*>(arg);
        return request == dsp::kConfigure && record->function == dsp::kToneFilter &&
                       record->params.tone_filter.enable
                   ? EIO
                   : 0;
    };
    enum class Sharer { stays, switchesOff, goes };
    struct Case {
        const char* name;
        bool departed;  // the 1000 Hz receiver goes, its switch-off refused once
        Sharer sharer;
    };
    const Case cases[] = {{"the other switches off", false, Sharer::stays},
                          {"a gone one's switch-off is paid", true, Sharer::stays},
                          {"the sharer switches it off", false, Sharer::switchesOff},
                          {"the sharer goes", true, Sharer::goes}};
    unsigned ts = kTs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++ts;
        auto sharer = std::make_unique<test::ReceiverProbe>(ts);
        test::ReceiverProbe other{ts};
        ASSERT_TRUE(sharer->configureToneFilter(2100, 1, 100, -10));
        ASSERT_TRUE(other.configureToneFilter(1000, 1, 100, -10));
        const auto switchOns = [&] {
            unsigned n = 0;
            for (const auto& r : requests<dsp::dsproc_configure>(dsp::kDevice, dsp::kConfigure))
                n += r.timeslot == ts && r.params.tone_filter.freq == 2100 &&
                     r.params.tone_filter.enable;
            return n;
        };
        if (c.departed) {
            Board::instance().fail_next(Op::Ioctl, dsp::kDevice, EIO, dsp::kDisable);
            other.Hardware::DSProcReceiver::LetGo();
            Board::instance().refuse = refuseSwitchOn;
            loop.advance(1000);
        } else {
            Board::instance().refuse = refuseSwitchOn;
            ASSERT_TRUE(other.configureToneFilter(1000, 0, 0, 0));
        }
        const auto& state = dsp().timeslot(ts);
        EXPECT_TRUE(state.filters.empty());
        clear();
        loop.advance(2000);
        EXPECT_EQ(2u, switchOns()) << "one try a second";
        if (c.sharer == Sharer::switchesOff) {
            ASSERT_TRUE(sharer->configureToneFilter(2100, 0, 0, 0));
        }
        if (c.sharer == Sharer::goes) {
            sharer->Hardware::DSProcReceiver::CleanBeforeDestroy();
            sharer.reset();
        }
        Board::instance().refuse = nullptr;
        clear();
        loop.advance(3000);
        if (c.sharer != Sharer::stays) {
            EXPECT_EQ(0u, switchOns()) << "nothing asked for a filter no one has";
            EXPECT_TRUE(state.filters.empty());
            continue;
        }
        EXPECT_EQ(1u, switchOns()) << "once the driver took it, asked no more";
        EXPECT_EQ(1u, state.filters.count(2100));
        ASSERT_TRUE(dsp().tone_filter(ts, 2100, 1));
        loop.pump();
        EXPECT_EQ((Strings{"tone frequency=2100 presence=1"}), sharer->calls);
    }
}

// The driver refuses to enable VAD and SD again for the receiver that
// stays when the one whose enabling it names goes: the events under the
// gone one's id are the stayer's all the same.
TEST_F(DSProcReceiverTest, AReceiverThatStaysHearsItsFunctionsWhenTheDriverRefusedTheirHandOver) {
    auto leaving = std::make_unique<test::ReceiverProbe>(kTs);
    ASSERT_TRUE(probe.enableVAD(true) && probe.enableSD(true));
    ASSERT_TRUE(leaving->enableVAD(true) && leaving->enableSD(true));
    Board::instance().refuse = [](Op, const std::string&, uint32_t request, const void*) {
        return request == dsp::kEnable ? EIO : 0;
    };
    leaving->Hardware::DSProcReceiver::CleanBeforeDestroy();
    leaving.reset();
    Board::instance().refuse = nullptr;
    ASSERT_TRUE(dsp().vad(kTs, 1, 4, 0) && dsp().sd(kTs, 1));
    loop.pump();
    EXPECT_EQ((Strings{"vad rx=4 tx=-1", "sd rx=1"}), probe.calls);
}
// A gain and delays the driver refused were never set: the clean-up has
// nothing of them to undo.
TEST_F(DSProcReceiverTest, CleanBeforeDestroyUndoesNoGainOrDelaysTheDriverRefused) {
    Board::instance().fail_next(Op::Ioctl, dsp::kDevice, EIO, dsp::kConfigure, 2);
    EXPECT_FALSE(probe.configureRxGain(3));
    EXPECT_FALSE(probe.configureDelays(0, 5, 0));
    probe.Hardware::DSProcReceiver::CleanBeforeDestroy();
    EXPECT_EQ(nullptr, configured(dsp::kRxGain));
    EXPECT_EQ(nullptr, configured(dsp::kDelays));
}

// Another receiver of the timeslot (the other slot of a mixer channel)
// lives on with VAD, the noise gate, delays, gain and a tone filter of its
// own: they stay, its delays and gain set again where the leaving one's
// replaced them; BSS, which only the leaving one had on, goes.
TEST_F(DSProcReceiverTest, CleanBeforeDestroyLeavesWhatAnotherReceiverOfTheTimeslotHasOn) {
    test::ReceiverProbe sharer{kTs};
    for (test::ReceiverProbe* r : {&probe, &sharer}) {
        ASSERT_TRUE(r->enableVAD(true));
        ASSERT_TRUE(r->enableNG(true));
        ASSERT_TRUE(r->configureDelays(0, 5, 0));
        ASSERT_TRUE(r->configureRxGain(3));
        ASSERT_TRUE(r->configureToneFilter(1000, 1, 100, -10));
    }
    ASSERT_TRUE(probe.configureDelays(0, 9, 0) && probe.configureRxGain(6));
    ASSERT_TRUE(probe.enableBSS(true));
    clear();
    probe.Hardware::DSProcReceiver::CleanBeforeDestroy();
    EXPECT_EQ((std::vector<Switch>{{dsp::kDisable, 0, dsp::kBss}}), switches());
    const auto& ts = dsp().timeslot(kTs);
    EXPECT_TRUE(ts.on(dsp::kVad) && ts.on(dsp::kNg) && ts.on(dsp::kToneFilter));
    EXPECT_EQ(5u, ts.configure(dsp::kDelays)->params.delays.tx);
    EXPECT_EQ(3, ts.configure(dsp::kRxGain)->params.rx_gain.gain_dB);
}

TEST_F(DSProcReceiverTest, AbsentDeviceFailsEveryRequestAndEachRetriesTheOpen) {
    dsp().absent = true;
    Hardware::DSProcReceiverService::reset_for_test();
    const std::string badFd = " errno=\"Bad file descriptor\"";
    EXPECT_FALSE(probe.enableVAD(true));
    EXPECT_TRUE(test::Logged(errors, "open dsproc fail, VAD proceeding disabled: No such file"));
    EXPECT_TRUE(test::Logged(errors, "DSPROC_ENABLE VAD fail: timeslot=12 id=1" + badFd));
    EXPECT_FALSE(probe.enableMute(true, true));
    EXPECT_TRUE(test::Logged(errors, "DSPROC_ENABLE MUTE fail: timeslot=12 id=2" + badFd));
    EXPECT_FALSE(probe.enableSD(false));
    EXPECT_TRUE(test::Logged(errors, "DSPROC_DISABLE SD fail: timeslot=12" + badFd));
    struct Case {
        bool (*call)(test::ReceiverProbe&);
        const char* line;
    };
    const Case cases[] = {
        {[](test::ReceiverProbe& r) { return r.configureVAD(LGCP::VADParams()); },
         "configure VAD fail: (interface not opened) timeslot=12"},
        {[](test::ReceiverProbe& r) { return r.configureSD(); },
         "configure SD fail: (interface not opened) timeslot=12"},
        {[](test::ReceiverProbe& r) { return r.configureDelays(1, 2, 3); },
         "configure Delays fail: (interface not opened) timeslot=12"},
        {[](test::ReceiverProbe& r) { return r.configureRxGain(1); },
         "Configure Rx gain fail: (interface not opened) timeslot=12"},
        {[](test::ReceiverProbe& r) { return r.configureToneFilter(1, 1, 1, 1); },
         "Configure Tone Filter fail: (interface not opened) timeslot=12"},
        {[](test::ReceiverProbe& r) { return r.disableToneAll(); },
         "Disable All Tone fail: (interface not opened) timeslot=12"},
    };
    for (const Case& c : cases) {
        errors.clear();
        loop.advance(1000);  // the open's line comes once a second
        EXPECT_FALSE(c.call(probe));
        EXPECT_TRUE(test::Logged(errors, "open dsproc fail, VAD proceeding disabled"));
        EXPECT_TRUE(test::Logged(errors, c.line));
    }
    dsp().absent = false;
    ASSERT_TRUE(probe.enableVAD(true)) << "any request opens the device";
    EXPECT_TRUE(probe.configureSD());
    ASSERT_TRUE(dsp().vad(kTs, 1, 1, 0));
    loop.pump();
    EXPECT_EQ(Strings{"vad rx=1 tx=-1"}, probe.calls) << "events are read once open";
}

// Either receiver device, hung up, is read once and closed with one line;
// the next configure request opens it again (kTs serves both), and its
// events reach their receiver again.
TEST_F(DSProcReceiverTest, ADeviceThatEndsIsClosedOnceAndAConfigureOpensItAgain) {
    struct Case {
        const char* device;
        int (*fd)();
        bool (*configure)(test::ReceiverProbe&);
        const char* logged;
        bool (*report)(test::ReceiverProbe&);  // switches a detector on, the device reports
        const char* delivered;
    };
    const Case cases[] = {
        {board::dtmf::kDevice, [] { return Hardware::TonecReceiverService::instance().fd(); },
         [](test::ReceiverProbe& r) { return r.configureDTMF(LGCP::DTMFParams()); },
         "fail to read from tonec: hung up\n",
         [](test::ReceiverProbe& r) { return r.enableDTMF(true) && dtmf().detect(kTs, 3, 10); },
         "tonec code=3 timestamp=10"},
        {dsp::kDevice, [] { return Hardware::DSProcReceiverService::instance().fd(); },
         [](test::ReceiverProbe& r) { return r.configureSD(); },
         "fail to read from dsproc: hung up\n",
         [](test::ReceiverProbe& r) { return r.enableVAD(true) && dsp().vad(kTs, 1, 1, 0); },
         "vad rx=1 tx=-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        errors.clear();
        Board::instance().channels(c.device).at(0)->hang_up();
        EXPECT_EQ(1u, loop.ready_passes(50));
        EXPECT_EQ(c.logged, errors.str());
        EXPECT_EQ(-1, c.fd());
        EXPECT_TRUE(Board::instance().channels(c.device).empty());
        EXPECT_TRUE(c.configure(probe));
        EXPECT_TRUE(held_close_on_exec(c.device));
        probe.calls.clear();
        ASSERT_TRUE(c.report(probe));
        loop.pump();
        EXPECT_EQ(Strings{c.delivered}, probe.calls);
    }
}

// Either receiver device, ended while a receiver listens, is opened again
// within a second without a request of any slot, tried every second while
// the open fails; the driver kept the timeslot's functions, so the events
// are heard again. With nobody listening it stays closed for the next
// request.
TEST_F(DSProcReceiverTest, ADeviceThatEndsWhileAReceiverListensIsOpenedAgainWithinASecond) {
    struct Case {
        const char* name;
        const char* device;
        bool* absent;
        bool (*listen)(test::ReceiverProbe&, bool on);
        bool (*report)();
        const char* heard;
    };
    const Case cases[] = {
        {"DTMF", board::dtmf::kDevice, &dtmf().absent,
         [](test::ReceiverProbe& r, bool on) { return r.enableDTMF(on); },
         [] { return dtmf().detect(kTs, 3, 10); }, "tonec code=3 timestamp=10"},
        {"IVA", board::dtmf::kDevice, &dtmf().absent,
         [](test::ReceiverProbe& r, bool on) { return r.enableIVA(on); },
         [] { return dtmf().detect(kTs, 0x100, 11); }, "tonec code=256 timestamp=11"},
        {"VAD", dsp::kDevice, &dsp().absent, [](test::ReceiverProbe& r, bool on) { return r.enableVAD(on); },
         [] { return dsp().vad(kTs, 1, 1, 0); }, "vad rx=1 tx=-1"},
        {"BSS", dsp::kDevice, &dsp().absent, [](test::ReceiverProbe& r, bool on) { return r.enableBSS(on); },
         [] { return dsp().bss(kTs, 0.5f); }, "bss score=0.5"},
        {"SD", dsp::kDevice, &dsp().absent, [](test::ReceiverProbe& r, bool on) { return r.enableSD(on); },
         [] { return dsp().sd(kTs, 4); }, "sd rx=4"},
        {"tone filter", dsp::kDevice, &dsp().absent,
         [](test::ReceiverProbe& r, bool on) {
             return on ? r.configureToneFilter(1020, 1, 40, -30) : r.disableToneAll();
         },
         [] { return dsp().tone_filter(kTs, 1020, 1); }, "tone frequency=1020 presence=1"},
    };
    const auto ended = [](const char* device) {
        Board::instance().channels(device).at(0)->hang_up();
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.listen(probe, true));
        clear();
        ended(c.device);
        loop.pump();
        ASSERT_TRUE(Board::instance().channels(c.device).empty());
        loop.advance(1000);
        EXPECT_EQ(1u, Board::instance().channels(c.device).size()) << "opened again";

        // An open that fails is tried every second while the receiver listens.
        ended(c.device);
        loop.pump();
        *c.absent = true;
        loop.advance(3000);
        EXPECT_TRUE(Board::instance().channels(c.device).empty());
        *c.absent = false;
        loop.advance(1000);
        ASSERT_EQ(1u, Board::instance().channels(c.device).size());
        EXPECT_TRUE(request_numbers(c.device).empty()) << "no slot asked for anything";
        probe.calls.clear();
        ASSERT_TRUE(c.report());
        loop.pump();
        EXPECT_EQ(Strings{c.heard}, probe.calls);

        ASSERT_TRUE(c.listen(probe, false));
        clear();
        ended(c.device);
        loop.advance(3000);
        EXPECT_TRUE(Board::instance().channels(c.device).empty()) << "nobody listens";
        EXPECT_TRUE(c.listen(probe, true)) << "a request opens it";
        EXPECT_EQ(1u, Board::instance().channels(c.device).size());
        ASSERT_TRUE(c.listen(probe, false));
    }
}

// A read of 0 from either receiver device ends the burst, not the device:
// the event after it comes in the next pass.
TEST_F(DSProcReceiverTest, AReadOf0EndsTheBurstNotTheDevice) {
    struct Case {
        const char* device;
        bool (*enable)(test::ReceiverProbe&);
        bool (*event)();
        const char* heard;
    };
    const Case cases[] = {
        {board::dtmf::kDevice, [](test::ReceiverProbe& r) { return r.enableDTMF(true); },
         [] { return dtmf().detect(kTs, 3, 10); }, "tonec code=3 timestamp=10"},
        {dsp::kDevice, [](test::ReceiverProbe& r) { return r.enableVAD(true); },
         [] { return dsp().vad(kTs, 1, 1, 0); }, "vad rx=1 tx=-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        ASSERT_TRUE(c.enable(probe));
        Board::instance().model(c.device)->drained_reads_zero = true;
        Board::instance().channels(c.device).at(0)->deliver("", 0);
        ASSERT_TRUE(c.event());
        probe.calls.clear();
        errors.clear();
        EXPECT_EQ(2u, loop.ready_passes(50));
        EXPECT_EQ(Strings{c.heard}, probe.calls);
        EXPECT_EQ("", errors.str());
    }
}

// --- routing ---

struct RouteCase {
    const char* name;
    void (*setup)(test::ReceiverProbe&);
    dsp::dsproc_event record;  // id kOwn: the id of the record's function
    Strings delivered;
    // On std::clog with the trace switch on: the lines after the event's
    // first one, exactly.
    const char* traced;
};
constexpr uint32_t kOwn = 0xFFFFFFFF;

class DSProcRouting : public DSProcReceiverTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(DSProcRouting, EventReachesTheReceiverOfItsTimeslot) {
    const RouteCase& c = GetParam();
    c.setup(probe);
    dsp::dsproc_event record = c.record;
    if (record.id == kOwn)
        record.id = record.type == dsp::kVad  ? probe.vad().id
                    : record.type == dsp::kSd ? probe.sd().id
                                              : probe.bss().id;
    for (bool traced : {false, true}) {
        SCOPED_TRACE(traced ? "traced" : "quiet");
        traces.events = traced;
        probe.calls.clear();
        clear();
        dsp().deliver_raw(&record, sizeof record);
        loop.pump();
        EXPECT_EQ(c.delivered, probe.calls);
        if (!traced) {
            EXPECT_EQ("", progress.str());
        } else {
            EXPECT_EQ("dsproc event:  timeslot=12 id=" + std::to_string(record.id) +
                          " type=" + std::to_string(record.type) + "\n" + c.traced,
                      progress.str());
        }
        EXPECT_EQ("", errors.str());
    }
}

void Nothing(test::ReceiverProbe&) {}
void VadOn(test::ReceiverProbe& r) { ASSERT_TRUE(r.enableVAD(true)); }
void VadOff(test::ReceiverProbe& r) { ASSERT_TRUE(r.enableVAD(false)); }
void SdOn(test::ReceiverProbe& r) { ASSERT_TRUE(r.enableSD(true)); }
void SdOff(test::ReceiverProbe& r) { ASSERT_TRUE(r.enableSD(false)); }
void BssOn(test::ReceiverProbe& r) { ASSERT_TRUE(r.enableBSS(true)); }

INSTANTIATE_TEST_SUITE_P(
    Cases, DSProcRouting,
    ::testing::Values(
        RouteCase{"VadTxOnly",
                  VadOn,
                  {kTs, kOwn, dsp::kVad, 2, 7, 1},
                  {"vad rx=-1 tx=1"},
                  "dsproc vad event:  dir_mask=2 vad_rx=7 vad_tx=1\n"},
        RouteCase{"VadBothDirections",
                  VadOn,
                  {kTs, kOwn, dsp::kVad, 3, 0, 1},
                  {"vad rx=0 tx=1"},
                  "dsproc vad event:  dir_mask=3 vad_rx=0 vad_tx=1\n"},
        RouteCase{"VadStaleId",
                  VadOn,
                  {kTs, 40, dsp::kVad, 1, 1, 1},
                  {},
                  "dsproc vad event:  dir_mask=1 vad_rx=1 vad_tx=1\n"
                  "ignore spurious dsproc vad event:  timeslot=12 id=40 type=1 rid=1\n"},
        RouteCase{"VadOff",
                  VadOff,
                  {kTs, 0, dsp::kVad, 1, 1, 1},
                  {},
                  "dsproc vad event:  dir_mask=1 vad_rx=1 vad_tx=1\n"
                  "ignore spurious dsproc vad event (dsproc disabled):  timeslot=12 id=0 type=1\n"},
        RouteCase{"VadNeverSetTakesIdZero",
                  Nothing,
                  {kTs, 0, dsp::kVad, 1, 4, 0},
                  {"vad rx=4 tx=-1"},
                  "dsproc vad event:  dir_mask=1 vad_rx=4 vad_tx=0\n"},
        RouteCase{"SdOwnId",
                  SdOn,
                  {kTs, kOwn, dsp::kSd, 9, 0, 0},
                  {"sd rx=9"},
                  "dsproc sd event:  sd_rx=9\n"},
        RouteCase{"SdStaleId", SdOn, {kTs, 40, dsp::kSd, 9, 0, 0}, {}, "dsproc sd event:  sd_rx=9\n"},
        RouteCase{"SdOff", SdOff, {kTs, 0, dsp::kSd, 9, 0, 0}, {}, "dsproc sd event:  sd_rx=9\n"},
        RouteCase{"BssAnyId",
                  BssOn,
                  {kTs, 40, dsp::kBss, 0, 0, 0},
                  {"bss score=0"},
                  "dsproc bss event:  score=0\n"},
        RouteCase{"BssOff",
                  Nothing,
                  {kTs, 0, dsp::kBss, 0, 0, 0},
                  {},
                  "dsproc bss event:  score=0\n"
                  "ignore spurious dsproc bss event (dsproc disabled):  timeslot=12 id=0 type=16\n"},
        RouteCase{"ToneFilter",
                  [](test::ReceiverProbe& r) { ASSERT_TRUE(r.configureToneFilter(2100, 1, 9, 9)); },
                  {kTs, 40, dsp::kToneFilter, 2100, 1, 0},
                  {"tone frequency=2100 presence=1"},
                  ""},
        RouteCase{"ToneFilterOfAnotherFrequency",
                  [](test::ReceiverProbe& r) { ASSERT_TRUE(r.configureToneFilter(1000, 1, 9, 9)); },
                  {kTs, 40, dsp::kToneFilter, 2100, 1, 0},
                  {},
                  ""},
        RouteCase{"Flags",
                  Nothing,
                  {kTs, 40, dsp::kFlags, 0xE0000000u, 0x60000000u, 0},
                  {"flags flags=3758096384 mask=1610612736"},
                  "dsproc flags event:  flags=e0000000, mask=60000000\n"},
        RouteCase{"UnknownType", VadOn, {kTs, kOwn, 1024, 1, 1, 1}, {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DSProcReceiverTest, UnknownTimeslotIsReportedOnlyWhenTraced) {
    deliver(99, 1, dsp::kVad, 1, 1, 1);
    EXPECT_EQ("", errors.str());
    EXPECT_EQ("", progress.str());
    traces.events = true;
    deliver(99, 1, dsp::kVad, 1, 1, 1);
    EXPECT_TRUE(test::Logged(errors, "receive dsproc event from unknown timeslot 99"));
    EXPECT_TRUE(probe.calls.empty());
}

// Of two receivers on a timeslot (a mixer channel's output and input) the
// one whose enabling of the record's function the record names gets it; the
// first constructed gets a record that names neither.
TEST_F(DSProcReceiverTest, OfTwoReceiversOnATimeslotTheOneTheRecordNamesGetsIt) {
    test::ReceiverProbe second{kTs};
    ASSERT_TRUE(second.enableVAD(true));
    ASSERT_TRUE(second.enableSD(true));
    EXPECT_TRUE(dsp().vad(kTs, 1, 4, 0));
    EXPECT_TRUE(dsp().sd(kTs, 3));
    loop.pump();
    EXPECT_EQ((Strings{"vad rx=4 tx=-1", "sd rx=3"}), second.calls);
    deliver(kTs, 0, dsp::kFlags, 1, dsp::kFlagVadRx | 2);  // VAD bits are the VAD user's
    deliver(kTs, second.vad().id + 100, dsp::kVad, 1, 5, 0);
    EXPECT_EQ(Strings{"flags flags=1 mask=2"}, probe.calls) << "the older one's checks hold";
    EXPECT_EQ((Strings{"vad rx=4 tx=-1", "sd rx=3", "flags flags=1 mask=536870912"}), second.calls);
}

// The driver puts the latest enable id of a timeslot's function in its
// events: the one that stays hears them whichever of two users leaves, by a
// destroy or by switching its functions off; the noise gate stays on too. A
// filter of a second frequency, the leaving one's alone, ends with it.
TEST_F(DSProcReceiverTest, OfTwoUsersOfAFunctionOnATimeslotTheOneThatStaysHearsIt) {
    const auto own1000 = [](test::ReceiverProbe& r) {
        return r.configureToneFilter(1000, 1, 50, -30);
    };
    test::ForEachWayOneOfTwoLeaves(
        20,
        [](test::ReceiverProbe& r) {
            return r.enableVAD(true) && r.enableBSS(true) && r.enableSD(true) &&
                   r.enableNG(true) && r.configureToneFilter(2100, 1, 50, -30);
        },
        [&](test::ReceiverProbe& r) {
            return own1000(r) && r.disableVAD() && r.disableBSS() && r.disableSD() &&
                   r.disableNG() && r.configureToneFilter(1000, 0, 50, -30) &&
                   r.configureToneFilter(2100, 0, 50, -30);
        },
        [&](test::ReceiverProbe& r) {
            ASSERT_TRUE(own1000(r));
            r.Hardware::DSProcReceiver::CleanBeforeDestroy();
        },
        [&](unsigned ts, const test::ReceiverProbe& staying, const test::ReceiverProbe* leaving) {
            EXPECT_FALSE(dsp().tone_filter(ts, 1000, 1));
            ASSERT_TRUE(dsp().vad(ts, 1, 4, 0) && dsp().bss(ts, 0.5f) && dsp().sd(ts, 1) &&
                        dsp().tone_filter(ts, 2100, 1));
            loop.pump();
            EXPECT_EQ((Strings{"vad rx=4 tx=-1", "bss score=0.5", "sd rx=1",
                               "tone frequency=2100 presence=1"}),
                      staying.calls);
            EXPECT_TRUE(!leaving || leaving->calls.empty());
            EXPECT_TRUE(dsp().timeslot(ts).on(dsp::kNg));
        });
}

TEST_F(DSProcReceiverTest, ModelEventsArriveWithTheirValues) {
    ASSERT_TRUE(probe.enableBSS(true));
    ASSERT_TRUE(probe.enableSD(true));
    ASSERT_TRUE(probe.configureToneFilter(1020, 1, 50, -30));
    EXPECT_TRUE(dsp().bss(kTs, 0.75f));
    EXPECT_TRUE(dsp().sd(kTs, 1));
    EXPECT_TRUE(dsp().tone_filter(kTs, 1020, 1));
    EXPECT_FALSE(dsp().vad(kTs, 1, 1, 1)) << "VAD is off";
    loop.pump();
    EXPECT_EQ((Strings{"bss score=0.75", "sd rx=1", "tone frequency=1020 presence=1"}),
              probe.calls);
    ASSERT_TRUE(probe.disableToneAll());
    EXPECT_FALSE(dsp().tone_filter(kTs, 1020, 1));
}

TEST_F(DSProcReceiverTest, ShortRecordIsReportedAndTheNextOneStillArrives) {
    const uint8_t shortRecord[20] = {};
    dsp().deliver_raw(shortRecord, sizeof shortRecord);
    EXPECT_TRUE(dsp().flags(kTs, 4, 4));
    loop.pump(2);
    EXPECT_TRUE(test::Logged(errors, "fail to read from dsproc: short record of 20 bytes"));
    EXPECT_EQ(Strings{"flags flags=4 mask=4"}, probe.calls);
}

}  // namespace
