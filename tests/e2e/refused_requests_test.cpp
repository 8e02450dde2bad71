// A controller's scenarios on the server in-process (tests/e2e/controllers_day.h),
// each run once per sample of the requests it makes of a group of devices,
// with those requests refused (tests/support/refusal_sweep.h): one alone,
// two at once, or every one from a request to the end of the day, then
// recovery; with each errno the server reads apart. Whatever was refused:
// every answer says what was done, and after each refused request the live
// slots' switch paths, receivers, channels, sessions and modems agree with
// what the controller asked and was told, apart only from what the server
// still owes; once the refusals are over and
// the day has settled for longer than every retry period, nothing is owed;
// after the clean-up (the slots destroyed, or the controller cut), no slot
// is left, the switch carries no path, names no owner and owes nothing, no
// device keeps a channel, session, sum, tone or function, the trunks' clock
// mask is what the answers said, nothing crashed (the sanitizers watch freed
// owners), and the same day on the same server goes as it should.

#include <errno.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "board/drivers/dsp.h"
#include "board/drivers/dsp_data.h"
#include "board/drivers/dtmf.h"
#include "board/drivers/e1_cas.h"
#include "board/drivers/hal.h"
#include "board/drivers/maintenance.h"
#include "board/drivers/mcc.h"
#include "board/drivers/mctl.h"
#include "board/drivers/mixer.h"
#include "board/drivers/rtp.h"
#include "board/drivers/rtp_ext.h"
#include "board/drivers/voice.h"
#include "board/sim/hal_model.h"
#include "board/sim/netif_model.h"
#include "board/sim/sim_board.h"
#include "tests/e2e/controllers_day.h"
#include "tests/support/case_name.h"
#include "tests/support/controller_inputs.h"
#include "tests/support/hardware_commands.h"
#include "tests/support/refusal_sweep.h"
#include "tests/support/value_notation.h"

namespace {

namespace hal = board::hal;
namespace sim = board::sim;
using Alternative = LGCP::Command::Alternative;
using day::Day;
using LGCP::IsdnType;
using sim::Board;
using sim::HalModel;
using test::Shape;
using test::Side;

// ---- Scenarios of the switch

const LGCP::Command kPri = test::create_pstn_isdn(IsdnType::pri, 2, Side::user);
const LGCP::Command kDataCall = test::create_mcc(LGCP::MccType::data, LGCP::MccMode::standard);

// Trunks 1 and 2 at timeslot 16 (slots 10 and 11); PRI slot 20 wired both
// ways with trunk 1, and its heir 21.
void OldPriSlotAndHeir(Day& day) {
    day.make(10, test::create_trunk(1, 16));
    day.make(11, test::create_trunk(2, 16));
    day.make(20, kPri);
    day.wire(10, 20);
    day.make(21, kPri);
}

void MakeBeforeBreakToTheHeir(Day& day) {
    OldPriSlotAndHeir(day);
    day.join(10, 21);
    day.join(21, 10);
    day.destroy(20);
}

void MakeBeforeBreakFromTheHeir(Day& day) {
    OldPriSlotAndHeir(day);
    day.join(21, 10);
    day.join(10, 21);
    day.destroy(20);
}

void CutOverAborted(Day& day) {
    OldPriSlotAndHeir(day);
    day.join(10, 21);
    day.destroy(21);
    day.join(20, 10);
    day.join(11, 20);
}

void Conference(Day& day) {
    day.make(10, test::create_trunk(0, 1));
    day.make(40, test::create_mixer_out(0, {3}));
    day.make(41, test::create_mixer_in(0, {4}));
    day.make(42, test::create_mixer_in(0, {5}));
    day.make(43, "rtp");
    day.join(10, 41);
    day.join(43, 42);
    day.join(40, 10);
    day.join(40, 43);
    day.unjoin(41);
    day.destroy(42);
}

// The data call 32 is given the channel of 30.
void DataCallWithItsDChannel(Day& day) {
    day.make(30, kDataCall);
    day.make(20, test::create_pstn_isdn(IsdnType::bri, 1, Side::user));
    day.wire(30, 20);
    day.make(31, kDataCall);
    day.make(22, test::create_hdlc(2, 0x1234));
    day.wire(31, 22);
    day.run(100);
    day.destroy(30);
    day.make(32, kDataCall);
}

void DataCallWhoseChannelEnds(Day& day) {
    day.make(10, test::create_trunk(1, 1));
    day.make(30, kDataCall);
    day.wire(10, 30);
    Board::instance().channels(board::mcc::kDevice).at(0)->hang_up();
    day.run(10);
    day.make(31, kDataCall);
    day.make(11, test::create_trunk(2, 1));
    day.wire(11, 31);
}

// The player 51 is given the channel of 50.
void PlayerOfAGoneTrunk(Day& day) {
    day.make(10, test::create_trunk(0, 1));
    day.make(50, "file player");
    day.join(50, 10);
    day.destroy(10);
    day.destroy(50);
    day.make(51, "file player");
}

void CutMidCall(Day& day) {
    OldPriSlotAndHeir(day);
    day.make(40, test::create_mixer_out(0, {3}));
    day.make(41, test::create_mixer_in(0, {4}));
    day.make(43, "rtp");
    day.make(12, test::create_trunk(0, 1));
    day.join(12, 41);
    day.join(40, 43);
    day.make(30, kDataCall);
    day.wire(11, 30);
}

// ---- A controller's day

LGCP::Command rtp_ext(const std::string& modifier) {
    LGCP::Command command;
    command.select_ioctl().set_rtpExt(test::value_of<TERM::RadioModifier>(modifier));
    return command;
}

// The position at 127.0.0.2 keys the VARK radio at the most urgent
// priority (the driver then passes that position only), or lets go.
LGCP::Command vark_key(bool ptt) {
    return rtp_ext(std::string("vark : { addr { session-addr \"127.0.0.3\", session-ssrc 5 }, "
                               "params wm-trans : { flags { prio 0, ptt ") +
                   (ptt ? "TRUE" : "FALSE") +
                   ", bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, rv "
                   "FALSE, resv FALSE, selcall 0, li 0 }, ip \"127.0.0.2\", ssrc 5 } }");
}

// The ED-137 radio keyed by the same position with an emergency PTT.
LGCP::Command ed137_key() {
    return rtp_ext(
        "ed-137 : { addr { session-addr \"127.0.0.2\", session-ssrc 9 }, params rx : { "
        "header { ptt emergency-ptt-on, squ squ-off, ptt-id 3, ptt-mute FALSE, "
        "ptt-summation FALSE, sct FALSE } } }");
}

// A radio on local ports of its own, with its status and voice processing:
// a VARK radio, and an ED-137 radio that transmits and receives (which lets
// a keying position filter what it hears).
LGCP::Command radio(const char* status, unsigned short local) {
    static const unsigned short remote = test::free_udp_pair();
    LGCP::Command command = test::rtp_create_command(remote, local, 5);
    TERM::RtpRadioRequest& radio = command.get_create()->get_rtp()->get_codecRTP().include_radio();
    radio.set_status(test::value_of<TERM::RadioStatus>(status));
    radio.set_bss_enable(true);
    radio.set_ng_enable(true);
    radio.set_rx_delay(40);
    radio.set_tx_delay(20);
    return command;
}
const char kVarkRadio[] =
    "vark : { flags { prio 15, ptt FALSE, bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh "
    "FALSE, pwr FALSE, rv FALSE, resv FALSE, selcall 0, li 0 }, freq { channel 1, frequency "
    "\"121.500000\" }, remote { no 1, ch 2 }, squelshe on, rte a1b, standby-state-channel active, "
    "standby-group 3, standby-state-receiver standby }";
const char kEd137Radio[] =
    "ed-137 : { header { ptt ptt-off, squ squ-off, ptt-id 3, ptt-mute FALSE, ptt-summation FALSE, "
    "sct FALSE }, radio-response { type radio-txrx, txrxmode txrx, sigtime 1, "
    "r2s-keepalive-period 200, r2s-keepalive-multiplier 10, ptt-id 3 } }";

LGCP::Command usual(const char* form) {
    const test::CommandForm& f = test::form(form);
    return f.build(f.usual());
}

LGCP::Command ioctl(void (*fill)(LGCP::IoctlParams&)) {
    LGCP::Command command;
    fill(command.select_ioctl());
    return command;
}

// A fax modem whose transfer program starts at once (a receiver's waits a
// second).
LGCP::Command fax_modem() {
    LGCP::Command command = test::forms::modem<test::forms::Modem::fax>({});
    command.get_create()->get_modem()->include_execargs().push_back(ASN1::IA5String("send"));
    return command;
}

// A DSP modem answering a data call, with a parameter of its own.
LGCP::Command data_modem() {
    LGCP::Command command = test::forms::modem<test::forms::Modem::data>({});
    TERM::DDModemParam& param = command.get_create()->get_modem()->include_dmp().append();
    param.set_offset(3);
    param.set_value(7);
    return command;
}

// The morning: trunks, a map and an extension, a BRI data call, PRI and
// HDLC D channels with a data call, a QSIG trunk with its three B channels,
// RTP, a conference with receivers, tones and their events, a voice player
// and a recorder.
void Morning(Day& day) {
    day.make(10, test::create_trunk(1, 1));
    day.make(11, test::create_trunk(2, 16));
    day.make(12, test::create_trunk_bri(0, 1));
    day.make(15, test::create_trunk(0, 2));
    day.make(13, test::create_map(test::BusChannel{1, 2}, test::BusChannel{1, 3}));
    day.make(14, test::create_ext(300, 301));
    day.send(test::activate(), 14);
    day.make(30, kDataCall);
    day.wire(12, 30);
    day.send(test::user_data({1, 2}), 30);
    day.make(20, kPri);
    day.wire(11, 20);
    day.make(22, "hdlc");
    day.make(31, kDataCall);
    day.wire(31, 22);
    day.make(23, test::create_qsig(Side::user));
    day.make(24, test::create_qsig_b(23, 2));
    day.wire(13, 24);
    day.make(25, test::create_qsig_b(23, 1));
    day.make(16, test::create_trunk(3, 5));
    day.wire(16, 25);
    day.make(26, test::create_qsig_b(23, 3));
    day.make(43, "rtp");
    day.wire(10, 43);
    day.join(26, 43);
    day.make(40, "mixer output");
    day.make(41, test::create_mixer_in(0, {1}, test::MixChannel{2}));
    day.make(42, test::create_mixer_in(0, {3}, test::MixChannel{2}, true));
    day.join(15, 41);
    day.join(40, 15);
    for (const char* ioctl : {"translateDTMF", "dtmf digit", "tone filter", "vad v2", "rx gain"})
        day.send(ioctl, 41);
    day.send(ioctl([](LGCP::IoctlParams& p) { p.set_dtmf_enable(true); }), 41);
    day.send(ioctl([](LGCP::IoctlParams& p) { p.set_vad_enable(true); }), 41);
    day.hear_dtmf(41);
    day.hear_tone(41);
    day.hear_voice(41);
    day.send("tone generator", 40);
    day.make(50, "file player");
    day.join(50, 42);
    day.make(51, "recorder");
    day.join(40, 51);
}

// The afternoon: radios wired to trunks and keyed, the slots that start
// programs (a data modem, a fax modem, a digital modem on an HDLC
// interface, T.38), the monitoring's displays, a query, trunk modes, a bus
// test; a destroy of each kind.
void Afternoon(Day& day) {
    day.install_programs();
    static const unsigned short varkPorts = test::free_udp_pair(),
                                ed137Ports = test::free_udp_pair();
    day.make(60, radio(kVarkRadio, varkPorts));
    day.send("selcal", 60);
    day.make(17, test::create_trunk(1, 5));
    day.wire(17, 60);
    day.key(60, vark_key(true), true);
    day.make(61, radio(kEd137Radio, ed137Ports));
    day.send("ed137 rx", 61);
    day.make(18, test::create_trunk(1, 6));
    day.wire(18, 61);
    day.key(61, ed137_key(), true);
    const LGCP::Command programs[] = {data_modem(), fax_modem(),
                                      test::forms::modem<test::forms::Modem::digital>({}),
                                      usual("t38soft")};
    for (unsigned i = 0; i < 4; ++i) {
        day.make(70 + i, programs[i]);
        day.make(80 + i, test::create_trunk(1, 7 + i));
        day.wire(80 + i, 70 + i);
    }
    day.send(usual("board status"));
    day.send(usual("phone status"));
    day.show_framer_up();
    day.send(test::command(Alternative::query));
    day.set_trunk_modes();
    for (auto mode :
         {LGCP::BpcTestMode::Alternative::write, LGCP::BpcTestMode::Alternative::disconnect})
        day.send(test::bus_test(3, 0, 3, 7, mode));
    day.run(2100);  // the monitoring looks at the board
    day.key(60, vark_key(false), false);
    day.hear_dtmf(41);
    for (unsigned slot : {14u, 30u, 20u, 22u, 24u, 43u, 42u, 50u, 60u, 13u, 70u, 73u, 25u})
        day.destroy(slot);
}

void ControllersDay(Day& day) {
    Morning(day);
    Afternoon(day);
}

// The controller is cut after the morning; a second controller's day
// follows.
void CutMidDay(Day& day) {
    Morning(day);
    day.reconnect();
    ControllersDay(day);
}

// ---- Device groups

// Whether a request of "/dev/hal" changes what the switch carries (not
// the refresh's switch-off of what is off).
bool ChangesTheSwitch(uint32_t request, const void* arg) {
    if (request == hal::kMuxConnect || request == hal::kMuxWriteByte) return true;
    if (request != hal::kMuxDisable || !arg) return false;
    int32_t channel;
    std::memcpy(&channel, arg, sizeof channel);
    return channel >= 0 && channel < hal::kChannels &&
           Board::instance().model_as<HalModel>(hal::kDevice)->channel(channel).output !=
               HalModel::Output::Off;
}

bool OfTheSwitch(uint32_t request) {
    return request == hal::kMuxConnect || request == hal::kMuxWriteByte ||
           request == hal::kMuxDisable || request == hal::kMuxReadByte;
}

struct DeviceGroup {
    const char* what;
    std::vector<const char*> devices;
    // Of "/dev/hal": the switch's changes, or every other request (the
    // monitoring's LEDs, power and DIP switch, the clock, the SPI bus).
    enum class Hal { none, theSwitch, theRest } hal = Hal::none;
};

const DeviceGroup kSwitch{"the switch", {}, DeviceGroup::Hal::theSwitch},
    kTrunks{"the trunks", {board::e1_cas::kDevice, board::maintenance::kDevice}},
    kDataChannels{"the data channels", {board::mcc::kDevice, board::dsp_data::kDevice}},
    kRtp{"rtp", {board::rtp::kDevice, board::rtp_ext::kDevice}},
    kVoiceAndMixers{"voice and mixers", {board::voice::kDevice, board::mixer::kDevice}},
    kReceivers{"the receivers", {board::dtmf::kDevice, board::dsp::kDevice}},
    kModems{"the modems", {board::mctl::kDevice}},
    kInterfaces{"the interfaces", {sim::NetIfModel::kPath}},
    kBoard{"the board's LEDs, clock and status", {}, DeviceGroup::Hal::theRest},
    kEveryDevice{"every device",
                 {board::e1_cas::kDevice, board::maintenance::kDevice, board::mcc::kDevice,
                  board::dsp_data::kDevice, board::rtp::kDevice, board::rtp_ext::kDevice,
                  board::voice::kDevice, board::mixer::kDevice, board::dtmf::kDevice,
                  board::dsp::kDevice, board::mctl::kDevice, sim::NetIfModel::kPath},
                 DeviceGroup::Hal::theSwitch};

const DeviceGroup* const kGroups[] = {&kSwitch, &kTrunks,         &kDataChannels,
                                      &kRtp,    &kVoiceAndMixers, &kReceivers,
                                      &kModems, &kInterfaces,     &kBoard};

// Errors that some requests return as the driver's answer, not as a
// refusal: ENOENT from a removal says the pair or the B channel is not
// there; ENODEV ends an enumeration, or says an interface or the SPI bus
// is absent. The sweeps do not refuse those requests with that error.
struct Answer {
    int error;
    const char* path;
    uint32_t request;  // 0: any
};
const Answer kAnswers[] = {
    {ENOENT, board::mixer::kDevice, board::mixer::MIX_RX_REMOVE},
    {ENOENT, board::dsp_data::kDevice, board::dsp_data::kRemoveBChannel},
    {ENODEV, board::mixer::kDevice, board::mixer::MIX_NEXT},
    {ENODEV, board::mctl::kDevice, board::mctl::kEnumerate},
    {ENODEV, sim::NetIfModel::kPath, 0},
    {ENODEV, hal::kDevice, hal::kSpiRead},
    {ENODEV, hal::kDevice, hal::kSpiWrite},
};

test::RequestFilter OfTheGroup(const DeviceGroup& group, int error) {
    return [&group, error](sim::Op op, const std::string& path, uint32_t request, const void* arg) {
        for (const Answer& answer : kAnswers)
            if (answer.error == error && path == answer.path &&
                (answer.request == 0 || answer.request == request))
                return false;
        if (path == hal::kDevice) {
            if (group.hal == DeviceGroup::Hal::theSwitch)
                return op == sim::Op::Ioctl && ChangesTheSwitch(request, arg);
            return group.hal == DeviceGroup::Hal::theRest &&
                   (op != sim::Op::Ioctl || !OfTheSwitch(request));
        }
        for (const char* device : group.devices)
            if (path == device) return true;
        return false;
    };
}

// ---- The sweeps

// The points of refusal of the day's sweeps in CI, chosen to keep them near
// two minutes of CPU under the sanitizers (a day and its next day take
// about half a second): for one refusal, every nineteenth request, the
// second and the last; for a lasting one, every twenty-ninth, the second
// and the last; two at once, every twenty-ninth and the second (with the
// next, the one after, or the third after, in turn); lasting across a cut,
// every forty-first and the second; with each other errno, every
// hundredth request of every device and the second. The switch scenarios
// are refused at every request, and the exhaustive sweep (by hand) refuses
// every request in every way.
const test::Sampling kEvery{1, {}, true}, kOnce{19, {1, -1}}, kLasting{29, {1, -1}},
    kPairs{29, {1}}, kAcrossACut{41, {1}}, kErrors{100, {1}};

struct Sweep {
    std::string what;
    void (*play)(Day&);
    bool cut;  // the controller's cut cleans up, or the scenario's destroys
    const DeviceGroup* group = &kSwitch;
    Shape shape = Shape::once;
    int error = EIO;
    test::Sampling sampling = kEvery;
};

std::vector<Sweep> CiSweeps() {
    std::vector<Sweep> sweeps = {
        {"make before break, the heir wired to the trunk first", MakeBeforeBreakToTheHeir, false},
        {"make before break, the heir wired from the trunk first", MakeBeforeBreakFromTheHeir,
         false},
        {"a cut-over to another trunk aborted", CutOverAborted, false},
        {"a conference with trunk and RTP parties", Conference, false},
        {"a data call with its D channel", DataCallWithItsDChannel, false},
        {"a data call whose channel ends", DataCallWhoseChannelEnds, false},
        {"a voice player feeds a trunk that goes first", PlayerOfAGoneTrunk, false},
        {"the controller cut mid-call", CutMidCall, true},
    };
    for (const DeviceGroup* group : kGroups) {
        const std::string of = std::string(", ") + group->what;
        sweeps.push_back({"a day" + of, ControllersDay, true, group, Shape::once, EIO, kOnce});
        sweeps.push_back(
            {"a day, lasting" + of, ControllersDay, true, group, Shape::lasting, EIO, kLasting});
        sweeps.push_back(
            {"a day, two at once" + of, ControllersDay, true, group, Shape::pairs, EIO, kPairs});
        sweeps.push_back({"a cut mid-day, lasting" + of, CutMidDay, true, group, Shape::lasting,
                          EIO, kAcrossACut});
    }
    for (int error : {EAGAIN, EINTR, ENOENT, ENODEV, EBUSY})
        sweeps.push_back({std::string("a day, every device, ") + test::error_name(error),
                          ControllersDay, true, &kEveryDevice, Shape::once, error, kErrors});
    return sweeps;
}

// By hand, a group at a time: every request refused in every way.
std::vector<Sweep> ExhaustiveSweeps(const DeviceGroup& group) {
    std::vector<Sweep> sweeps;
    const std::pair<Shape, const char*> shapes[] = {
        {Shape::once, "once"}, {Shape::lasting, "lasting"}, {Shape::pairs, "two at once"}};
    for (int error : {EIO, EAGAIN, EINTR, ENOENT, ENODEV, EBUSY})
        for (auto [shape, how] : shapes)
            for (auto [play, day] :
                 {std::pair{ControllersDay, "a day"}, {CutMidDay, "a cut mid-day"}})
                sweeps.push_back({std::string(day) + ", " + how + ", " + group.what + ", " +
                                      test::error_name(error),
                                  play, true, &group, shape, error, kEvery});
    return sweeps;
}

void Play(const Sweep& sweep) {
    test::RefusalSweep refusals(OfTheGroup(*sweep.group, sweep.error),
                                test::refuse_each(sweep.sampling, sweep.shape, sweep.error));
    auto clean_up = [&](Day& day) {
        if (sweep.cut)
            day.cut();
        else
            day.clean_up();
    };
    const size_t runs = refusals.run([&] {
        auto day = std::make_unique<Day>(refusals);
        ASSERT_TRUE(day->connected());
        refusals.arm();
        sweep.play(*day);
        // The end of the day: a lasting refusal ends here, and what was
        // owed is done once the day has settled.
        if (sweep.shape == Shape::lasting) refusals.disarm();
        day->settle();
        SCOPED_TRACE(refusals.describe());
        EXPECT_EQ("", day->faults()) << "during the day";
        day->judge(true);
        day->hear_again();
        EXPECT_EQ("", day->faults()) << "once settled";
        clean_up(*day);
        refusals.disarm();
        day->settle();
        EXPECT_EQ("", day->leftovers()) << "after the clean-up";
        const std::string failed = day->failed();
        if (!refusals.refused()) {
            EXPECT_EQ("", failed);
        }
        day->reconnect();
        sweep.play(*day);
        day->settle();
        day->judge(true);
        clean_up(*day);
        day->settle();
        EXPECT_EQ("", day->failed()) << "the next day";
        EXPECT_EQ("", day->leftovers()) << "the next day";
    });
    std::cout << sweep.what << ": " << refusals.requests() << " requests, " << runs
              << " refused runs" << std::endl;
    EXPECT_GT(runs, 0u);
}

void PrintTo(const Sweep& sweep, std::ostream* os) {
    *os << sweep.what;
}

class Refusals : public ::testing::TestWithParam<Sweep> {};

TEST_P(Refusals, LeaveNothingAndTheNextRunAsTheFirst) {
    Play(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Refusals, ::testing::ValuesIn(CiSweeps()), test::CaseName());

void PrintTo(const DeviceGroup* group, std::ostream* os) {
    *os << group->what;
}

class ExhaustiveRefusals : public ::testing::TestWithParam<const DeviceGroup*> {};

TEST_P(ExhaustiveRefusals, DISABLED_LeaveNothingAndTheNextRunAsTheFirst) {
    for (const Sweep& sweep : ExhaustiveSweeps(*GetParam())) {
        SCOPED_TRACE(sweep.what);
        Play(sweep);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryRequest, ExhaustiveRefusals, ::testing::ValuesIn(kGroups),
                         test::CaseName());

}  // namespace
