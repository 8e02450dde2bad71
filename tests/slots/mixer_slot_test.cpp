// Mixer inputs and outputs through the controller's commands, and what the
// simulated mixer, switch and receiver devices hold afterwards.
#include <errno.h>
#include <fcntl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "board/devio.h"
#include "board/sim/dsp_model.h"
#include "board/sim/dtmf_model.h"
#include "runtime/fd.h"
#include "slots/mixer.h"
#include "tests/board/byte_view.h"
#include "tests/support/case_name.h"
#include "tests/slots/mixer_voice_fixture.h"

namespace {

using board::mixer::kUnityGain;
using board::sim::MixerModel;
using board::sim::Op;
using test::create_mixer_in;
using test::create_mixer_out;
using test::MixChannel;
using Lines = std::vector<std::string>;
using Sum = MixerModel::Sum;
using Cause = LGCP::ErrorCause::NamedNumber;
using Select = std::function<void(LGCP::IoctlParams&)>;

const std::string kUnit0 = "unit 0: 32 32 64 770 17 24";
const std::string kUnit1 = "unit 1: 32 32 64 770 17 24";

// The `nth` mixer request of this number from now on fails.
void fail(uint32_t request, int nth) {
    board::sim::Board::instance().model_as<MixerModel>(board::mixer::kDevice)->fail_nth(request, nth,
                                                                                         EIO);
}

class MixerSlots : public test::MixerVoiceTest {
protected:
    void query() { ASSERT_EQ((Lines{kUnit0, kUnit1}), query_mixers()); }
    LGCP::Command destroy() { return test::command(Alternative::destroy); }
    // The mixer requests since the journal was last cleared.
    size_t mixer_requests() { return sim().journal(board::mixer::kDevice).size(); }
    // Each ioctl sent to `slot` is answered success.
    void ioctls(unsigned slot, std::initializer_list<Select> selects) {
        for (const Select& select : selects) {
            LGCP::Command command;
            select(command.select_ioctl());
            EXPECT_EQ(std::nullopt, outcome(command, slot)) << slot;
        }
    }
    // Every `op` on `device` fails with `error` until sim().refuse is reset.
    static void refuse_all(Op op, const std::string& device, int error) {
        sim().refuse = [=](Op o, const std::string& path, uint32_t, const void*) {
            return o == op && path == device ? error : 0;
        };
    }
    static board::sim::DtmfModel& tones() {
        return *sim().model_as<board::sim::DtmfModel>(board::dtmf::kDevice);
    }
};

TEST_F(MixerSlots, CreatesWaitForTheFirstQuery_WhichClearsTheSumsOfEachNewUnit) {
    EXPECT_EQ(Cause::insufficientResources, outcome(create_mixer_in(0, {1}), 10));
    EXPECT_EQ(Cause::insufficientResources, outcome(create_mixer_out(0, {2}), 11));

    // What another program left in the driver before the server knew the unit.
    board::mixer::mix_rx_record stray{{1, board::mixer::kTdm, 7}, {1, board::mixer::kTdm, 3}, 9};
    ASSERT_EQ(0, Mixer::mixer_ctl(board::mixer::MIX_RX_ADD, &stray));
    query();
    EXPECT_EQ(Sum{}, mixer().sum(1, 7));
    EXPECT_EQ(std::nullopt, outcome(create_mixer_in(1, {1}), 10));
}

TEST_F(MixerSlots, KnowsAHundredUnitsAtMost) {
    for (int unit = 2; unit <= 100; ++unit) ASSERT_TRUE(mixer().add_unit(unit, 8, 16));
    const Lines units = query_mixers();
    ASSERT_EQ(100u, units.size());
    EXPECT_EQ("unit 99: 8 8 16 770 17 24", units.back());
    EXPECT_EQ(Cause::insufficientResources, outcome(create_mixer_in(100, {1}), 10));
    EXPECT_EQ(std::nullopt, outcome(create_mixer_in(99, {7}), 10));
}

TEST_F(MixerSlots, InputsJoinTheirSummatorAtUnityAndLeaveItWhenDestroyed) {
    query();
    make(create_mixer_out(0, {5}), 10);
    EXPECT_EQ((Sum{{5, kUnityGain}}), mixer().sum(0, 5));  // it hears itself
    make(create_mixer_in(0, {1}, MixChannel{5}), 11);
    EXPECT_EQ((Sum{{1, kUnityGain}, {5, kUnityGain}}), mixer().sum(0, 5));

    EXPECT_EQ(std::nullopt, outcome(destroy(), 11));
    EXPECT_EQ((Sum{{5, kUnityGain}}), mixer().sum(0, 5));
    EXPECT_EQ(1u, disables_on_switch(mixer().timeslot(0, 1)));
}

TEST_F(MixerSlots, OutputsHearExactlyTheirInputs_UntilDestroyed) {
    query();
    const Lines created = heard(create_mixer_out(0, {6}, {{{1}, 100}, {{2}, -200}}), 10);
    EXPECT_EQ((Lines{"10 success"}), created);
    EXPECT_EQ((Sum{{1, 100}, {2, -200}}), mixer().sum(0, 6));

    EXPECT_EQ(std::nullopt, outcome(destroy(), 10));
    EXPECT_EQ(Sum{}, mixer().sum(0, 6));
    EXPECT_EQ(1u, disables_on_switch(mixer().timeslot(0, 6)));
}

TEST_F(MixerSlots, AChannelHasOneOutput_ASecondIsDeclinedAndTheFirstKeepsItsSum) {
    query();
    make(create_mixer_out(0, {6}, {{{1}, 100}}), 10);
    EXPECT_EQ(Cause::insufficientResources, outcome(create_mixer_out(0, {6}, {{{2}, 50}}), 11));
    EXPECT_EQ((Sum{{1, 100}}), mixer().sum(0, 6));
    EXPECT_NE(std::string::npos, errors.str().find("mixer [0]: channel 6 has an output already"));

    EXPECT_EQ(std::nullopt, outcome(destroy(), 10));
    make(create_mixer_out(0, {6}, {{{2}, 50}}), 11);
    EXPECT_EQ((Sum{{2, 50}}), mixer().sum(0, 6));
}

// A release takes from the sums only the pairs its slot put there: not
// those an input added to an output's sum, nor an input's pair that a later
// output's sum has put in its place (creating an output sets its sum anew).
TEST_F(MixerSlots, AReleaseTakesOnlyThePairsItsSlotPutInTheSums) {
    query();
    make(create_mixer_out(0, {4}), 10);
    make(create_mixer_in(0, {2}, MixChannel{4}), 11);
    EXPECT_EQ(std::nullopt, outcome(destroy(), 10));
    EXPECT_EQ((Sum{{2, kUnityGain}}), mixer().sum(0, 4));
    make(create_mixer_out(0, {4}, {{{2}, 100}}), 12);
    EXPECT_EQ((Sum{{2, 100}}), mixer().sum(0, 4));

    EXPECT_EQ(std::nullopt, outcome(destroy(), 11));
    EXPECT_EQ((Sum{{2, 100}}), mixer().sum(0, 4));
    EXPECT_EQ(std::nullopt, outcome(destroy(), 12));
    EXPECT_EQ(Sum{}, mixer().sum(0, 4));
}

// Input 11 leaves the conference of output 10, the driver refusing the
// removal, or its node missing when it is opened: it is owed, and done
// before the next call on channel 2 (input 12, of another conference),
// which only its own conference hears. Without a next call (12 leaves,
// refused too), it is done within a second. A pair the driver answers it
// no longer has (ENOENT from the removal itself) is done: nothing is owed.
TEST_F(MixerSlots, ARemovalTheDriverRefusedIsDoneBeforeTheChannelsNextCall) {
    // The driver loses channel 2 from the sum of `summator`.
    const auto lose = [](int32_t summator) {
        board::mixer::mix_rx_record record{{0, board::mixer::kTdm, summator},
                                           {0, board::mixer::kTdm, 2}, 0};
        Fd device(board::open(board::mixer::kDevice, O_RDONLY));
        ASSERT_EQ(0, board::ioctl(device.get(), board::mixer::MIX_RX_REMOVE, &record));
    };
    struct Case {
        const char* what;
        std::function<void(int32_t summator)> refuse;  // over once the leaver is gone
        Sum left;  // in output 10's sum once input 11 is gone
        size_t removesAtNextCall;
    };
    const Case cases[] = {
        {"the driver refuses", [](int32_t) { fail(board::mixer::MIX_RX_REMOVE, 1); },
         {{2, kUnityGain}, {4, kUnityGain}}, 1},
        {"the node is missing", [](int32_t) { mixer().absent = true; },
         {{2, kUnityGain}, {4, kUnityGain}}, 1},
        {"the driver has no such pair", lose, {{4, kUnityGain}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        query();
        make(create_mixer_out(0, {4}), 10);
        make(create_mixer_in(0, {2}, MixChannel{4}), 11);
        c.refuse(4);
        EXPECT_EQ(std::nullopt, outcome(destroy(), 11));
        mixer().absent = false;
        EXPECT_EQ(c.left, mixer().sum(0, 4));
        sim().clear_journal();
        make(create_mixer_in(0, {2}, MixChannel{6}), 12);
        size_t removes = 0;
        for (const auto& call : sim().journal(board::mixer::kDevice))
            removes += call.op == Op::Ioctl && call.request == board::mixer::MIX_RX_REMOVE;
        EXPECT_EQ(c.removesAtNextCall, removes);
        EXPECT_EQ((Sum{{4, kUnityGain}}), mixer().sum(0, 4));
        EXPECT_EQ((Sum{{2, kUnityGain}}), mixer().sum(0, 6));
        c.refuse(6);
        EXPECT_EQ(std::nullopt, outcome(destroy(), 12));
        mixer().absent = false;
        server.advance(1000);
        EXPECT_EQ(Sum{}, mixer().sum(0, 6));
        EXPECT_EQ(std::nullopt, outcome(destroy(), 10));
        EXPECT_TRUE(mixer().unit(0)->sums.empty());
    }
}

// ---- The switch guard: who may change what flows into a mixer channel's
// timeslot. The slots of one channel (inputs and output) share it; a slot
// whose timeslot the driver gave another call may not change what flows
// into it, nor read it: what it would read is that call's.

// A controller's step on channel 3 of unit 0 and the answer it gets (none:
// success). Slots 10 (the output), 11 and 12 (inputs), 20 (the party's
// trunk, timeslot 1, or `to`), 30 (another call the driver gave the
// timeslot), 40 and 41 (parties the driver gave one channel in turn) and 50
// (an output of unit 1 cascaded into channel 3). A party or unit 1 may lose
// its hardware; the driver may refuse the next connect, or every silence
// until it accepts again.
enum class Do {
    in, out, cascade, trunk, party, otherCall, connect, disconnect, destroy, lose, refuse,
    refuseSilences, accept
};
struct Step {
    Do what;
    unsigned slot;
    unsigned to = 0;  // connect: the destination; in: the summator
    std::optional<Cause> answer = std::nullopt;
};

struct GuardCase {
    const char* what;
    std::vector<Step> steps;
    const char* said;     // the refusal line that appears; "": none
    int timeslotCarries;  // the channel switched into the timeslot at the end; -1 none
};

constexpr unsigned kTrunkChannel = 1;  // trunk 0, timeslot 1
constexpr Step kOutput{Do::out, 10}, kInput{Do::in, 11, 4}, kTrunk{Do::trunk, 20};
constexpr Step kTrunkToInput{Do::connect, 20, 11}, kOutputToTrunk{Do::connect, 10, 20};
constexpr Step kSecondInput{Do::in, 12, 5};
constexpr const char* kHeldLine = "holds: refused";
constexpr const char* kOneSourceLine = "one source at a time";

const GuardCase kGuard[] = {
    {"leg wired both ways, output made first",
     {kOutput, kInput, kTrunk, kTrunkToInput, kOutputToTrunk}, "", kTrunkChannel},
    {"leg wired both ways, input made first",
     {kInput, kOutput, kTrunk, kOutputToTrunk, kTrunkToInput}, "", kTrunkChannel},
    {"the input muted after the output exists",
     {kInput, kTrunk, kTrunkToInput, kOutput, kOutputToTrunk, {Do::disconnect, 11}}, "", -1},
    {"two inputs on one channel, one unwired",
     {kInput, kSecondInput, kTrunk, kTrunkToInput, {Do::connect, 20, 12}, {Do::disconnect, 12}},
     "", kTrunkChannel},
    {"the output destroyed while its input lives",
     {kOutput, kInput, kTrunk, kTrunkToInput, kOutputToTrunk, {Do::destroy, 10}}, "",
     kTrunkChannel},
    {"an output may not read a timeslot another call holds",
     {kOutput, {Do::otherCall, 30}, kTrunk, {Do::connect, 10, 20, Cause::connectFail}}, kHeldLine,
     -1},
    {"an input asks for a timeslot another call holds",
     {kInput, {Do::otherCall, 30}, kTrunk, {Do::connect, 20, 11, Cause::connectFail}}, kHeldLine,
     -1},
    {"an input unwires a timeslot another call has taken from it",
     {kInput, kTrunk, kTrunkToInput, {Do::otherCall, 30}, {Do::disconnect, 11}}, "", -1},
    {"a second input's connect the driver refuses leaves the first input its release",
     {kInput, kSecondInput, kTrunk, kTrunkToInput, {Do::refuse, 0},
      {Do::connect, 20, 12, Cause::connectFail}, {Do::disconnect, 11}},
     "", -1},
    {"a second source into the inputs is refused and a mute silences the first",
     {kInput, kSecondInput, kTrunk, {Do::trunk, 21, 2}, kTrunkToInput,
      {Do::connect, 21, 12, Cause::connectFail}, {Do::disconnect, 11}},
     kOneSourceLine, -1},
    {"a mute the driver refuses leaves the timeslot to another source",
     {kInput, kSecondInput, kTrunk, {Do::trunk, 21, 2}, kTrunkToInput, {Do::refuseSilences, 0},
      {Do::disconnect, 11}, {Do::connect, 21, 12}, {Do::accept, 0}},
     "", 2},
    {"a party in two inputs loses its channel to the next call",
     {kOutput, kTrunk, kOutputToTrunk, kInput, kSecondInput, {Do::party, 40},
      {Do::connect, 40, 11}, {Do::connect, 40, 12}, {Do::lose, 40}, {Do::party, 41}},
     "", -1},
    {"a cascaded unit goes from two inputs",
     {kOutput, kTrunk, kOutputToTrunk, kInput, kSecondInput, {Do::cascade, 50},
      {Do::connect, 50, 11}, {Do::connect, 50, 12}, {Do::lose, 50}},
     "", -1},
};

class MixerGuard : public MixerSlots, public ::testing::WithParamInterface<GuardCase> {
protected:
    LGCP::Command command(const Step& step) {
        switch (step.what) {
            case Do::in: return create_mixer_in(0, {3}, MixChannel{int(step.to)});
            case Do::out: return create_mixer_out(0, {3});
            case Do::cascade: return create_mixer_out(1, {3});
            case Do::trunk: return test::create_trunk(0, step.to ? step.to : kTrunkChannel);
            case Do::party: return test::create_command(kParty);
            case Do::otherCall: return test::create_command(kOtherCall);
            case Do::connect: return test::connect_command(step.to);
            case Do::disconnect: return test::command(Alternative::disconnect);
            case Do::destroy:
            case Do::lose:
            case Do::refuse:
            case Do::refuseSilences:
            case Do::accept: break;
        }
        return destroy();
    }
    // The party's channel ends, or unit 1 goes from the driver.
    void lose(unsigned slot) {
        if (slot != 50) return test::scripted(slot)->LetGoOfHardware(Slot::Loss::abort, 0);
        mixer().remove_unit(1);
        EXPECT_EQ((Lines{kUnit0}), query_mixers());
    }
    static constexpr int kOtherCall = 9;  // the script of slot 30
    static constexpr int kParty = 8;      // of slots 40 and 41
};

TEST_P(MixerGuard, LetsTheSlotsOfAChannelShareItsTimeslot) {
    query();
    const int ts = mixer().timeslot(0, 3);
    factory.scripts[kOtherCall].receive = ts;
    factory.scripts[kOtherCall].holds = true;
    factory.scripts[kParty].transmit = factory.scripts[kParty].receive = 8400;
    factory.scripts[kParty].holds = true;
    for (const Step& step : GetParam().steps) {
        if (step.what == Do::lose) {
            lose(step.slot);
            continue;
        }
        if (step.what == Do::refuse) {
            sim().fail_next(Op::Ioctl, board::hal::kDevice, EIO, board::hal::kMuxConnect);
            continue;
        }
        if (step.what == Do::refuseSilences || step.what == Do::accept) {
            const bool refusing = step.what == Do::refuseSilences;
            sim().refuse = [=](Op, const std::string&, uint32_t request, const void*) {
                return refusing && request == board::hal::kMuxWriteByte ? EIO : 0;
            };
            continue;
        }
        EXPECT_EQ(step.answer, outcome(command(step), step.slot))
            << "slot " << step.slot << ", step " << int(step.what) << "\n" << errors.str();
    }
    for (const std::string line : {kHeldLine, kOneSourceLine})
        EXPECT_EQ(GetParam().said == line, errors.str().find(line) != std::string::npos)
            << errors.str();
    const auto& carried = fabric().channel(ts);
    const bool carries = carried.output == board::sim::HalModel::Output::Source;
    EXPECT_EQ(GetParam().timeslotCarries, carries ? carried.value : -1);
    expect_sound();
}

INSTANTIATE_TEST_SUITE_P(Cases, MixerGuard, ::testing::ValuesIn(kGuard), test::CaseName());

struct DeclineCase {
    const char* what;
    LGCP::Command command;
    std::function<void()> arrange;
    Cause cause;
    bool asksTheDriver;  // before it declines
};

const DeclineCase kDeclines[] = {
    {"input on an rtp channel", create_mixer_in(0, {1, true}), nullptr,
     Cause::insufficientResources, false},
    {"input on the channel after the last", create_mixer_in(0, {32}), nullptr,
     Cause::insufficientResources, false},
    {"input of another unit", create_mixer_in(5, {1}), nullptr, Cause::insufficientResources,
     false},
    {"input to an rtp summator", create_mixer_in(0, {1}, MixChannel{5, true}), nullptr,
     Cause::invalidParams, false},
    {"input to summator -1", create_mixer_in(0, {1}, MixChannel{-1}), nullptr,
     Cause::invalidParams, false},
    {"input to summator 32", create_mixer_in(0, {1}, MixChannel{32}), nullptr,
     Cause::invalidParams, false},
    {"input without a timeslot", create_mixer_in(0, {1}),
     [] { fail(board::mixer::MIX_TDM, 1); }, Cause::insufficientResources, true},
    {"input whose echo canceller is refused", create_mixer_in(0, {1}, MixChannel{5}, true),
     [] {
         board::sim::Board::instance().fail_next(Op::Ioctl, board::dtmf::kDevice, EIO,
                                                 board::dtmf::kEchoCancelOn);
     },
     Cause::insufficientResources, true},
    {"output on an rtp channel", create_mixer_out(0, {6, true}), nullptr,
     Cause::insufficientResources, false},
    {"output with an rtp input", create_mixer_out(0, {6}, {{{1}, 1}, {{2, true}, 1}}), nullptr,
     Cause::insufficientResources, false},
    {"output with input 40", create_mixer_out(0, {6}, {{{1}, 1}, {{40}, 1}}), nullptr,
     Cause::invalidParams, false},
    {"output whose third input fails",
     create_mixer_out(0, {6}, {{{1}, 1}, {{2}, 1}, {{3}, 1}}),
     [] { fail(board::mixer::MIX_RX_ADD, 3); }, Cause::insufficientResources, true},
    {"output without a timeslot", create_mixer_out(0, {6}, {{{1}, 1}}),
     [] { fail(board::mixer::MIX_TDM, 1); }, Cause::insufficientResources, true},
    {"output whose third input fails, the clear after it refused",
     create_mixer_out(0, {6}, {{{1}, 1}, {{2}, 1}, {{3}, 1}}),
     [] {
         fail(board::mixer::MIX_RX_ADD, 3);
         fail(board::mixer::MIX_RX_CLEAR, 2);
     },
     Cause::insufficientResources, true},
    {"output without a timeslot, the clear after it refused",
     create_mixer_out(0, {6}, {{{1}, 1}}),
     [] {
         fail(board::mixer::MIX_TDM, 1);
         fail(board::mixer::MIX_RX_CLEAR, 2);
     },
     Cause::insufficientResources, true},
};

class MixerDeclines : public MixerSlots, public ::testing::WithParamInterface<DeclineCase> {};

TEST_P(MixerDeclines, LeaveNoSumBehind) {
    query();
    if (GetParam().arrange) GetParam().arrange();
    sim().clear_journal();
    EXPECT_EQ(GetParam().cause, outcome(GetParam().command, 10)) << errors.str();
    EXPECT_EQ(GetParam().asksTheDriver, mixer_requests() > 0);
    for (const auto& unit : mixer().units()) EXPECT_TRUE(unit.sums.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, MixerDeclines, ::testing::ValuesIn(kDeclines), test::CaseName());

// The add is owed, and done within a second.
TEST_F(MixerSlots, AnInputWhoseAddFailsIsCreatedAllTheSame) {
    query();
    fail(board::mixer::MIX_RX_ADD, 1);
    EXPECT_EQ(std::nullopt, outcome(create_mixer_in(0, {1}, MixChannel{5}), 10));
    EXPECT_NE(std::string::npos, errors.str().find("mixer [0]: MIX_RX_ADD fail : "));
    EXPECT_EQ(Sum{}, mixer().sum(0, 5));
    server.advance(1000);
    EXPECT_EQ((Sum{{1, kUnityGain}}), mixer().sum(0, 5));
}

TEST_F(MixerSlots, AUnitGoneAbortsItsSlots_WhichTakeItWithThem) {
    query();
    make(create_mixer_out(1, {4}), 10);
    make(create_mixer_in(1, {2}, MixChannel{4}), 11);
    mixer().remove_unit(1);

    controller.send(test::command(Alternative::query), 1);
    EXPECT_EQ((Lines{"success", "10 abort 0", "11 abort 0", "query"}), heard());
    EXPECT_EQ((Lines{kUnit0}), query_mixers());
    EXPECT_EQ(Cause::insufficientResources, outcome(create_mixer_in(1, {3}), 12));
    EXPECT_EQ(std::nullopt, outcome(destroy(), 11));
    EXPECT_EQ(std::nullopt, outcome(destroy(), 10));  // the unit's mixer goes (ASan)
    mixer().add_unit(1);
    EXPECT_EQ((Lines{kUnit0, kUnit1}), query_mixers());
}

// A query whose walk of the units ends short of the driver's end of the
// list learns nothing: its device did not open (no descriptor free), or the
// driver refused a request for the next unit (the list ends with ENODEV).
// Every unit and conference stays: the next party joins, a party that
// leaves is taken from the sum, and the next query walks again.
TEST_F(MixerSlots, AWalkEndedShortOfTheListLeavesTheConferences) {
    struct Case {
        const char* name;
        std::function<void()> refuse;
        std::string line;
    } cases[] = {
        {"open", [] { sim().fail_next(Op::Open, board::mixer::kDevice, EMFILE); },
         "mixer: device \"/dev/mixer\" open fail: Too many open files, the units stay\n"},
        {"first unit", [] { mixer().fail_nth(board::mixer::MIX_NEXT, 1, EINTR); },
         "mixer: next unit request fail: Interrupted system call, the units stay\n"},
        {"second unit", [] { mixer().fail_nth(board::mixer::MIX_NEXT, 2, EIO); },
         "mixer: next unit request fail: Input/output error, the units stay\n"},
        {"after the last", [] { mixer().fail_nth(board::mixer::MIX_NEXT, 3, EAGAIN); },
         "mixer: next unit request fail: Resource temporarily unavailable, the units stay\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        query();
        make(create_mixer_out(1, {4}), 10);
        make(create_mixer_in(1, {2}, MixChannel{4}), 11);
        errors.clear();
        c.refuse();
        controller.send(test::command(Alternative::query), 1);
        EXPECT_EQ((Lines{"success", "query"}), heard());
        EXPECT_NE(std::string::npos, errors.str().find(c.line)) << errors.str();
        EXPECT_EQ(std::nullopt, outcome(create_mixer_in(1, {3}, MixChannel{4}), 12));
        EXPECT_EQ((Sum{{2, kUnityGain}, {3, kUnityGain}, {4, kUnityGain}}), mixer().sum(1, 4));
        EXPECT_EQ(std::nullopt, outcome(destroy(), 11));
        EXPECT_EQ((Sum{{3, kUnityGain}, {4, kUnityGain}}), mixer().sum(1, 4));
        EXPECT_EQ(std::nullopt, outcome(destroy(), 12));
        EXPECT_EQ(std::nullopt, outcome(destroy(), 10));
        EXPECT_EQ(Sum{}, mixer().sum(1, 4));
    }
    query();
}

// ---- Ioctls: each kind takes its own alternatives.

enum class Kind { input, output };

struct IoctlCase {
    const char* what;
    Select select;
    Kind kind;
    uint32_t request;  // seen by "/dev/dtmf" or "/dev/dsp"; 0: none
    bool success;
    // The record the request carries for the timeslot; null: not compared.
    std::function<test::Bytes(uint32_t timeslot)> record = nullptr;
    const char* refusedBy = nullptr;  // the device that refuses the request
};

namespace dtmf = board::dtmf;
namespace dsp = board::dsp;
const auto kEcho = [](LGCP::IoctlParams& p) { p.set_echoSuppressor(true); };
const auto kDtmfOn = [](LGCP::IoctlParams& p) { p.set_dtmf_enable(true); };
const auto kDtmfOff = [](LGCP::IoctlParams& p) { p.select_dtmf_disable(); };
const auto kVadOn = [](LGCP::IoctlParams& p) { p.set_vad_enable(true); };
const auto kRejectOff = [](LGCP::IoctlParams& p) { p.select_dtmf_reject_disable(); };
const auto kIvaParams = [](LGCP::IoctlParams& p) { p.select_iva_params(); };
const auto kRxGain = [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-6); };
const auto kDelays = [](LGCP::IoctlParams& p) {
    LGCP::Delays& delays = p.select_delays();
    delays.set_tx(30);
    delays.set_selcal(5);
};
const auto kToneOn = [](LGCP::IoctlParams& p) {
    p.select_tone_gen_enable().set_freq(1000);
    p.get_tone_gen_enable()->set_amp(7);
};
const auto kToneOff = [](LGCP::IoctlParams& p) { p.select_tone_gen_disable(); };
const auto kMute = [](LGCP::IoctlParams& p) { p.select_mute_enable(); };
const auto kToneFilter = [](LGCP::IoctlParams& p) {
    LGCP::ToneFilter& filter = p.select_tone_filter();
    filter.set_freq(2100);
    filter.set_enable(true);
    filter.set_duration_th_msec(400);
    filter.set_det_level_dB(30);
};

dsp::dsproc_configure configure(uint32_t timeslot, uint32_t function) {
    dsp::dsproc_configure record{};
    record.timeslot = timeslot;
    record.function = function;
    return record;
}
test::Bytes rx_gain_record(uint32_t timeslot) {
    dsp::dsproc_configure record = configure(timeslot, dsp::kRxGain);
    record.params.rx_gain.gain_dB = -6;
    return test::bytes_of(record);
}
test::Bytes tone_filter_record(uint32_t timeslot) {
    dsp::dsproc_configure record = configure(timeslot, dsp::kToneFilter);
    record.params.tone_filter.freq = 2100;
    record.params.tone_filter.enable = 1;
    record.params.tone_filter.dur_th_msec = 400;
    record.params.tone_filter.det_lvl_dB = 30;
    return test::bytes_of(record);
}

const IoctlCase kIoctls[] = {
    {"echo canceller", kEcho, Kind::input, dtmf::kEchoCancelOn, true},
    {"echo canceller", kEcho, Kind::output, 0, false},
    {"dtmf detector", kDtmfOn, Kind::input, dtmf::kEnableDetector, true},
    {"dtmf detector", kDtmfOn, Kind::output, 0, false},
    {"dtmf disable without digits", kDtmfOff, Kind::output, 0, false},
    {"dtmf disable", kDtmfOff, Kind::input, 0, false},
    {"vad", kVadOn, Kind::input, dsp::kEnable, true},
    {"vad", kVadOn, Kind::output, dsp::kEnable, true},
    {"rejection off", kRejectOff, Kind::output, dtmf::kRejectionOff, true},
    {"rejection off", kRejectOff, Kind::input, 0, false},
    {"iva params", kIvaParams, Kind::input, dtmf::kConfigureIva, true},
    {"iva params", kIvaParams, Kind::output, 0, false},
    {"rx gain", kRxGain, Kind::input, dsp::kConfigure, true, rx_gain_record},
    {"rx gain", kRxGain, Kind::output, 0, false},
    {"delays", kDelays, Kind::input, dsp::kConfigure, true},
    {"delays", kDelays, Kind::output, dsp::kConfigure, true},
    {"tone on", kToneOn, Kind::output, dtmf::kToneGenerator, true},
    {"tone on", kToneOn, Kind::input, 0, false},
    {"tone off", kToneOff, Kind::output, dtmf::kToneGenerator, true},
    {"tone off", kToneOff, Kind::input, 0, false},
    {"tone filter", kToneFilter, Kind::input, dsp::kConfigure, true, tone_filter_record},
    {"tone filter", kToneFilter, Kind::output, dsp::kConfigure, true, tone_filter_record},
    {"rx gain refused", kRxGain, Kind::input, dsp::kConfigure, false, nullptr, dsp::kDevice},
    {"delays refused", kDelays, Kind::input, dsp::kConfigure, false, nullptr, dsp::kDevice},
    {"tone filter refused", kToneFilter, Kind::output, dsp::kConfigure, false, nullptr,
     dsp::kDevice},
    {"tone on refused", kToneOn, Kind::output, dtmf::kToneGenerator, false, nullptr, dtmf::kDevice},
    {"tone off refused", kToneOff, Kind::output, dtmf::kToneGenerator, false, nullptr,
     dtmf::kDevice},
    {"mute", kMute, Kind::input, 0, false},
    {"mute", kMute, Kind::output, 0, false},
};

class MixerIoctls : public MixerSlots, public ::testing::WithParamInterface<IoctlCase> {};

TEST_P(MixerIoctls, ReachTheReceiverOfTheTimeslot) {
    query();
    const bool input = GetParam().kind == Kind::input;
    make(input ? create_mixer_in(0, {3}) : create_mixer_out(0, {3}), 10);
    sim().clear_journal();
    LGCP::Command command;
    GetParam().select(command.select_ioctl());
    if (GetParam().refusedBy)
        sim().fail_next(Op::Ioctl, GetParam().refusedBy, EIO, GetParam().request);

    EXPECT_EQ(GetParam().success ? std::nullopt : std::optional<Cause>(Cause::unsupported),
              outcome(command, 10));
    std::vector<uint32_t> requests;
    test::Bytes record;
    for (const char* device : {dtmf::kDevice, dsp::kDevice})
        for (const auto& call : sim().journal(device))
            if (call.op == Op::Ioctl) {
                requests.push_back(call.request);
                record = call.data;
            }
    if (GetParam().request)
        EXPECT_EQ((std::vector<uint32_t>{GetParam().request}), requests);
    else
        EXPECT_TRUE(requests.empty());
    if (GetParam().record) {
        EXPECT_EQ(test::hex_text(GetParam().record(mixer().timeslot(0, 3))),
                  test::hex_text(record));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MixerIoctls, ::testing::ValuesIn(kIoctls), [](const auto& info) {
    return test::CaseName()(info) + (info.param.kind == Kind::input ? "_input" : "_output");
});

TEST_F(MixerSlots, DelaysDropTheSelcalDelay) {
    query();
    make(create_mixer_out(0, {3}), 10);
    const int ts = mixer().timeslot(0, 3);
    LGCP::Command command;
    kDelays(command.select_ioctl());
    EXPECT_EQ(std::nullopt, outcome(command, 10));
    auto& dsp = *sim().model_as<board::sim::DspModel>(dsp::kDevice);
    const auto* delays = dsp.timeslot(ts).configure(dsp::kDelays);
    ASSERT_TRUE(delays);
    EXPECT_EQ(0u, delays->params.delays.rx);
    EXPECT_EQ(30u, delays->params.delays.tx);
    EXPECT_EQ(0u, delays->params.delays.selcal);
    EXPECT_NE(std::string::npos, errors.str().find("mixer [0]: error: selcal delay isn't "
                                                   "supported for mixer!!! Set to zero."));
}

TEST_F(MixerSlots, AToneOfAnOutputStopsWithTheOutput) {
    query();
    make(create_mixer_out(0, {3}), 10);
    LGCP::Command tone;
    kToneOn(tone.select_ioctl());
    EXPECT_EQ(std::nullopt, outcome(tone, 10));
    auto& tones = *sim().model_as<board::sim::DtmfModel>(dtmf::kDevice);
    const int ts = mixer().timeslot(0, 3);
    EXPECT_EQ((board::sim::DtmfModel::Tone{1000, 0, 7, 0}), tones.tone(ts));
    EXPECT_EQ(std::nullopt, outcome(destroy(), 10));
    EXPECT_EQ((board::sim::DtmfModel::Tone{0, 0, 0, 0}), tones.tone(ts));
}

using Tone = board::sim::DtmfModel::Tone;
const Tone kTone{1000, 0, 7, 0}, kNoTone{0, 0, 0, 0};

// The destroys of channel 3's slots are answered success though the tone
// device refuses every switch-off: what they left on (the output's tone,
// the input's echo canceller, rejection and detector) is owed, and off
// before the next slot of the channel is heard.
TEST_F(MixerSlots, WhatSlotsThatWentLeftOnTheToneDeviceStopsBeforeTheChannelsNextSlot) {
    query();
    make(create_mixer_out(0, {3}), 10);
    make(create_mixer_in(0, {3}), 11);
    ioctls(10, {kToneOn});
    ioctls(11, {kEcho, kDtmfOn, [](LGCP::IoctlParams& p) { p.set_dtmf_reject_enable(true); }});
    refuse_all(Op::Ioctl, dtmf::kDevice, EIO);
    for (unsigned slot : {10u, 11u}) EXPECT_EQ(std::nullopt, outcome(destroy(), slot));
    sim().refuse = nullptr;
    const int ts = mixer().timeslot(0, 3);
    const auto& left = tones().timeslot(ts);
    EXPECT_TRUE(left.echoCancel && left.rejection && left.enabled);
    EXPECT_EQ(kTone, tones().tone(ts));
    make(create_mixer_out(0, {3}), 12);
    EXPECT_FALSE(left.echoCancel || left.rejection || left.enabled);
    EXPECT_EQ(kNoTone, tones().tone(ts));
}

// While the tone device cannot be opened (no descriptor free) a tone is
// unsupported; the next request opens the device.
TEST_F(MixerSlots, ATonesRequestOpensTheToneDeviceThatCouldNotBeOpened) {
    query();
    make(create_mixer_out(0, {3}), 10);
    LGCP::Command tone;
    kToneOn(tone.select_ioctl());
    refuse_all(Op::Open, dtmf::kDevice, EMFILE);
    EXPECT_EQ(Cause::unsupported, outcome(tone, 10));
    sim().refuse = nullptr;
    EXPECT_EQ(std::nullopt, outcome(tone, 10));
    EXPECT_EQ(kTone, tones().tone(mixer().timeslot(0, 3)));
}

// Output 10 and input 11 of channel 3 filter 2100 Hz with settings of their
// own, and the driver runs the output's, the latest. When the output leaves
// the frequency (destroyed, or switching its filter off), the input's run.
TEST_F(MixerSlots, AFrequencyTwoSlotsFilterRunsWithTheSettingsOfTheOneThatStays) {
    const auto settings = [](int durationMs, int levelDB) {
        return [=](LGCP::IoctlParams& p) {
            kToneFilter(p);
            p.get_tone_filter()->set_duration_th_msec(durationMs);
            p.get_tone_filter()->set_det_level_dB(levelDB);
        };
    };
    query();
    const int ts = mixer().timeslot(0, 3);
    const auto running = [&] {
        const auto& model = *sim().model_as<board::sim::DspModel>(dsp::kDevice);
        const auto& filter = model.timeslot(ts).filters.at(2100);
        return std::make_pair(int{filter.dur_th_msec}, int{int8_t(filter.det_lvl_dB)});
    };
    for (const bool destroyed : {true, false}) {
        SCOPED_TRACE(destroyed ? "destroyed" : "switched off");
        make(create_mixer_out(0, {3}), 10);
        make(create_mixer_in(0, {3}), 11);
        ioctls(11, {settings(100, -30)});
        ioctls(10, {settings(40, -20)});
        EXPECT_EQ(std::make_pair(40, -20), running());
        if (destroyed)
            EXPECT_EQ(std::nullopt, outcome(destroy(), 10));
        else
            ioctls(10, {[](LGCP::IoctlParams& p) {
                       kToneFilter(p);
                       p.get_tone_filter()->set_enable(false);
                   }});
        EXPECT_EQ(std::make_pair(100, -30), running());
        for (unsigned slot : {10u, 11u}) outcome(destroy(), slot);  // those left
    }
}

// The slots of a unit that went are aborted; until the controller destroys
// them, the unit's return may give their channels and timeslots to new slots,
// whose sums, switch paths, tones and digits the old ones must leave alone.
TEST_F(MixerSlots, SlotsOfAUnitThatWentLeaveWhatItsReturnGivesOthersAlone) {
    query();
    make(create_mixer_out(1, {4}), 10);
    make(create_mixer_in(1, {2}, MixChannel{4}), 11);
    make(test::create_trunk(0, 5), 15);
    connect(15, 11);
    LGCP::Command tone, dtmf;
    kToneOn(tone.select_ioctl());
    kDtmfOn(dtmf.select_ioctl());
    EXPECT_EQ(std::nullopt, outcome(tone, 10));
    EXPECT_EQ(std::nullopt, outcome(dtmf, 11));
    mixer().remove_unit(1);
    EXPECT_EQ((Lines{kUnit0}), query_mixers());
    EXPECT_EQ(Cause::unsupported, outcome(tone, 10));
    mixer().add_unit(1);
    query();
    make(create_mixer_out(1, {4}, {{{2}, 100}}), 12);
    EXPECT_EQ(std::nullopt, outcome(tone, 12));
    make(create_mixer_in(1, {2}), 13);
    make(test::create_trunk(0, 3), 14);
    connect(14, 13);  // the new input's timeslot is the old one's
    factory.scripts[1].priority = 1;  // as a PSTN slot makes the path itself
    create(16, 1);
    EXPECT_EQ(Cause::connectFail, outcome(test::connect_command(11), 16));
    EXPECT_EQ(std::nullopt, outcome(dtmf, 13));
    auto& tones = *sim().model_as<board::sim::DtmfModel>(dtmf::kDevice);
    ASSERT_TRUE(tones.detect(mixer().timeslot(1, 2), 5, 99));
    EXPECT_EQ((Lines{"13 tonec 99"}), heard());

    EXPECT_EQ(std::nullopt, outcome(destroy(), 11));
    EXPECT_EQ(std::nullopt, outcome(destroy(), 10));
    EXPECT_EQ((Sum{{2, 100}}), mixer().sum(1, 4));
    expect_sound();
    EXPECT_EQ((board::sim::DtmfModel::Tone{1000, 0, 7, 0}), tones.tone(mixer().timeslot(1, 4)));
    EXPECT_EQ(std::string::npos, errors.str().find("holds: refused")) << errors.str();
}

// The slots of channel 3: a one-party leg's output 10 (made first, so the
// older receiver of the timeslot) and input 11, or inputs 11 and 12. Input
// 11 switches on DTMF, IVA, VAD and a 2100 Hz filter, then the other slot
// IVA, VAD and (an input) DTMF; then one of them may switch its detectors
// off, and one may filter 1000 Hz before 11 switches 2100 Hz off. A digit
// (timestamp 99), an IVA code (98), voice activity and the tones of the
// filters the driver runs reach every slot that has the function on,
// whichever enabling the driver names, and the driver keeps on what a slot
// that stays has on.
struct SharerCase {
    const char* what;
    unsigned other;  // 10: the output; 12: a second input
    unsigned off;    // the slot that switches its detectors off; 0: none
    Lines heard;
    // The input that switches IVA on without DTMF, on a channel whose
    // earlier call had DTMF on; 0: none.
    unsigned ivaAlone = 0;
    unsigned filters1000 = 0;  // the slot that filters 1000 Hz; 0: none
    bool flags = false;        // voice activity comes in a flags record
};

const SharerCase kSharers[] = {
    {"leg", 10, 0, {"11 tonec 99", "11 tonec 98", "11 vad", "11 tone 2100"}},
    {"leg, the output switches off", 10, 10,
     {"11 tonec 99", "11 tonec 98", "11 vad", "11 tone 2100"}},
    {"leg, the input switches off", 10, 11, {"11 tone 2100"}},
    {"two inputs", 12, 0,
     {"11 tonec 99", "12 tonec 99", "11 tonec 98", "12 tonec 98", "11 vad", "12 vad",
      "11 tone 2100"}},
    {"two inputs, the first switches off", 12, 11,
     {"12 tonec 99", "12 tonec 98", "12 vad", "11 tone 2100"}},
    {"two inputs, the second switches off", 12, 12,
     {"11 tonec 99", "11 tonec 98", "11 vad", "11 tone 2100"}},
    {"used channel, leg, the input with iva alone", 10, 0,
     {"11 tonec 98", "11 vad", "11 tone 2100"}, 11},
    {"used channel, two inputs, the second with iva alone", 12, 0,
     {"11 tonec 99", "11 tonec 98", "12 tonec 98", "11 vad", "12 vad", "11 tone 2100"}, 12},
    {"leg, the input filters two frequencies", 10, 0,
     {"11 tonec 99", "11 tonec 98", "11 vad", "11 tone 1000"}, 0, 11},
    {"leg, the output filters 1000 Hz", 10, 0,
     {"11 tonec 99", "11 tonec 98", "11 vad", "10 tone 1000"}, 0, 10},
    {"leg, the output switches off, voice in a flags record", 10, 10,
     {"11 tonec 99", "11 tonec 98", "11 vad", "11 tone 2100"}, 0, 0, true},
};

class MixerSharers : public MixerSlots, public ::testing::WithParamInterface<SharerCase> {};

TEST_P(MixerSharers, TheEventsOfAChannelReachEachSlotThatAskedForThem) {
    const SharerCase& c = GetParam();
    const auto iva = [](bool on) { return [on](LGCP::IoctlParams& p) { p.set_iva_enable(on); }; };
    const Select dtmfOff = [](LGCP::IoctlParams& p) { p.set_dtmf_enable(false); };
    const Select vadOff = [](LGCP::IoctlParams& p) { p.select_vad_disable(); };
    const Select filterOff = [](LGCP::IoctlParams& p) {
        kToneFilter(p);
        p.get_tone_filter()->set_enable(false);
    };
    const Select filter1000 = [](LGCP::IoctlParams& p) {
        kToneFilter(p);
        p.get_tone_filter()->set_freq(1000);
    };
    const auto hasDtmf = [&](unsigned slot) { return slot != c.ivaAlone && slot != c.off; };
    query();
    if (c.ivaAlone) {
        make(create_mixer_in(0, {3}), 13);
        ioctls(13, {kDtmfOn});
        ASSERT_EQ(std::nullopt, outcome(destroy(), 13));
    }
    if (c.other == 10) make(create_mixer_out(0, {3}), 10);
    make(create_mixer_in(0, {3}, MixChannel{4}), 11);
    if (c.other == 12) make(create_mixer_in(0, {3}, MixChannel{5}), 12);
    if (c.ivaAlone != 11) ioctls(11, {kDtmfOn});
    ioctls(11, {iva(true), kVadOn, kToneFilter});
    ioctls(c.other, {iva(true), kVadOn});
    if (c.other == 12 && c.ivaAlone != 12) ioctls(12, {kDtmfOn});
    if (c.off == 10) ioctls(10, {kToneFilter, iva(false), vadOff, filterOff});
    if (c.off > 10) ioctls(c.off, {dtmfOff, iva(false), vadOff});
    if (c.filters1000) {
        ioctls(c.filters1000, {filter1000});
        ioctls(11, {filterOff});
    }

    const int ts = mixer().timeslot(0, 3);
    auto& tones = *sim().model_as<board::sim::DtmfModel>(dtmf::kDevice);
    auto& processing = *sim().model_as<board::sim::DspModel>(dsp::kDevice);
    tones.detect(ts, 5, 99);
    tones.detect(ts, 0x300, 98);  // IVA code 3
    if (c.flags)
        processing.flags(ts, dsp::kFlagVadRx, dsp::kFlagVadRx);
    else
        processing.vad(ts, 1, 1, 0);
    EXPECT_EQ(!c.filters1000, processing.tone_filter(ts, 2100, 1)) << "the driver's filters";
    EXPECT_EQ(c.filters1000 != 0, processing.tone_filter(ts, 1000, 1));
    EXPECT_EQ(c.heard, heard());
    EXPECT_EQ(hasDtmf(11) || (c.other == 12 && hasDtmf(12)), tones.timeslot(ts).enabled)
        << "an input's DTMF";
    EXPECT_TRUE(tones.timeslot(ts).iva && processing.timeslot(ts).on(dsp::kVad));
}

INSTANTIATE_TEST_SUITE_P(Cases, MixerSharers, ::testing::ValuesIn(kSharers), test::CaseName());

// The output of channel 3 goes while its input lives: what the input
// switched on for the timeslot stays, also what both had on.
TEST_F(MixerSlots, AnOutputsDestroyLeavesTheDetectorsAndFiltersItsInputHasOn) {
    query();
    make(create_mixer_out(0, {3}), 10);
    make(create_mixer_in(0, {3}, MixChannel{4}), 11);
    LGCP::Command iva, vad, filter;
    iva.select_ioctl().set_iva_enable(true);
    kVadOn(vad.select_ioctl());
    kToneFilter(filter.select_ioctl());
    for (unsigned slot : {10u, 11u})
        for (const LGCP::Command* command : {&iva, &vad, &filter})
            EXPECT_EQ(std::nullopt, outcome(*command, slot)) << slot;

    EXPECT_EQ(std::nullopt, outcome(destroy(), 10));
    const int ts = mixer().timeslot(0, 3);
    const auto& tones = sim().model_as<board::sim::DtmfModel>(dtmf::kDevice)->timeslot(ts);
    auto& processing = *sim().model_as<board::sim::DspModel>(dsp::kDevice);
    EXPECT_TRUE(tones.iva);
    EXPECT_TRUE(processing.timeslot(ts).on(dsp::kVad));
    EXPECT_TRUE(processing.timeslot(ts).on(dsp::kToneFilter));
    ASSERT_TRUE(processing.vad(ts, 1, 1, 0));
    EXPECT_EQ((Lines{"11 vad"}), heard());
}

TEST_F(MixerSlots, ToneEventsOfAnInputReachTheController_ThoseOfAnOutputDoNot) {
    query();
    make(create_mixer_in(0, {1}), 10);
    make(create_mixer_out(0, {2}), 11);
    LGCP::Command iva;
    iva.select_ioctl().set_iva_enable(true);
    EXPECT_EQ(std::nullopt, outcome(iva, 10));
    EXPECT_EQ(std::nullopt, outcome(iva, 11));
    auto& tones = *sim().model_as<board::sim::DtmfModel>(dtmf::kDevice);
    ASSERT_TRUE(tones.detect(mixer().timeslot(0, 1), 0x310, 1234));
    ASSERT_TRUE(tones.detect(mixer().timeslot(0, 2), 0x310, 5678));
    EXPECT_EQ((Lines{"10 tonec 1234"}), heard());
}

}  // namespace
