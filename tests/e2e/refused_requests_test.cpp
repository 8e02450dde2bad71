// A controller's scenario on the server in-process (every service and slot
// factory, the simulated board, virtual time), run once per request it makes
// of a group of devices, with that one request refused
// (tests/support/refusal_sweep.h). Whatever was refused, once the refusals
// are over and the scenario has cleaned up (its slots destroyed, or the
// controller cut): every command was answered once, no slot is left, the
// switch carries no path, names no owner and owes nothing, no device keeps
// a channel, session, sum, tone or function, the trunks' clock mask is what
// the answers said, nothing crashed (the sanitizers watch freed owners), and
// the same scenario on the same server goes as it should.

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
#include "board/drivers/mixer.h"
#include "board/drivers/rtp.h"
#include "board/drivers/rtp_ext.h"
#include "board/drivers/voice.h"
#include "board/sim/dsp_data_model.h"
#include "board/sim/dsp_model.h"
#include "board/sim/dtmf_model.h"
#include "board/sim/hal_model.h"
#include "board/sim/maintenance_model.h"
#include "board/sim/mcc_model.h"
#include "board/sim/mixer_model.h"
#include "board/sim/rtp_ext_model.h"
#include "board/sim/rtp_model.h"
#include "board/sim/sim_board.h"
#include "hardware/hw_mux.h"
#include "server/services.h"
#include "server/slot_factories.h"
#include "slots/slot.h"
#include "slots/slots.h"
#include "tests/support/case_name.h"
#include "tests/support/controller_inputs.h"
#include "tests/support/hardware_commands.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/refusal_sweep.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

namespace {

namespace hal = board::hal;
namespace sim = board::sim;
using Alternative = LGCP::Command::Alternative;
using LGCP::IsdnType;
using sim::Board;
using sim::HalModel;
using test::Side;

template <class Model>
Model& model(const char* device) {
    return *Board::instance().model_as<Model>(device);
}

// What the switch carries, records or owes with no slot left.
std::string SwitchLeftovers() {
    const HalModel& fabric = model<HalModel>(hal::kDevice);
    const HwMux& mux = HwMux::instance();
    std::ostringstream left;
    for (int channel = 0; channel < hal::kChannels; ++channel) {
        const HalModel::ChannelState& state = fabric.channel(channel);
        if (state.output == HalModel::Output::Source)
            left << "[" << channel << "] carries [" << state.value << "]; ";
        else if (channel >= hal::kBusBase && state.output != HalModel::Output::Off)
            left << "bus channel [" << channel << "] driven; ";
        if (!mux.settled(channel)) left << "[" << channel << "] owed; ";
    }
    for (const auto& [channel, owners] : mux.owned_paths())
        left << "[" << channel << "] has " << owners.size() << " owners; ";
    return left.str();
}

// What the other devices keep with no slot left.
std::string DeviceLeftovers() {
    std::ostringstream left;
    for (const auto& unit : model<sim::MixerModel>(board::mixer::kDevice).units())
        for (const auto& [summator, sum] : unit.sums)
            left << "unit " << unit.number << " sums " << sum.size() << " into " << summator << "; ";
    for (const auto& [ts, state] : model<sim::DtmfModel>(board::dtmf::kDevice).timeslots()) {
        const auto& tone = state.generator;
        if (state.enabled || state.echoCancel || state.rejection || state.iva || tone.freq1 ||
            tone.freq2 || tone.amp1 || tone.amp2)
            left << "tone codec on [" << ts << "]; ";
    }
    for (const auto& [ts, state] : model<sim::DspModel>(board::dsp::kDevice).timeslots())
        if (!state.enabled.empty() || !state.filters.empty()) left << "dsp on [" << ts << "]; ";
    const auto count = [&](const char* what, size_t n) {
        if (n) left << n << " " << what << "; ";
    };
    count("rtp streams", model<sim::RtpModel>(board::rtp::kDevice).streams().size());
    count("radio sessions", model<sim::RtpExtModel>(board::rtp_ext::kDevice).sessions().size());
    count("mcc channels", model<sim::MccModel>(board::mcc::kDevice).allocations().size());
    count("qsig opens", model<sim::DspDataModel>(board::dsp_data::kDevice).opens().size());
    return left.str();
}

// One run: a fresh server with a connected controller that has queried
// the board's resources.
class Day {
public:
    Day() {
        CreateSlotFactories();
        HwMux::instance().IsOpened();
        server_.board().write_file(std::string("/usr/local/voice/") + test::forms::kPhrase,
                                   std::string(800, '\x55'));
        reconnect();
    }

    // A controller connects (the last one gone) and queries the board's
    // resources.
    void reconnect() {
        if (controller_) cut();
        controller_ = std::make_unique<test::TestController>(server_);
        connected_ = controller_->connect();
        send(test::command(Alternative::query));
    }
    bool connected() const { return connected_; }

    // Sends a command and takes its answer: true for success. The signals
    // that come are dropped.
    bool send(const LGCP::Command& command, std::optional<unsigned> slot = {}) {
        controller_->send(command, ++seq_, slot);
        const auto answer = controller_->receive_until(test::is_response);
        if (!answer)
            faults_ << "#" << seq_ << " unanswered; ";
        else if (!test::is_success(*answer))
            failed_ << "#" << seq_ << " slot " << (slot ? int(*slot) : -1) << ' '
                    << *answer->get_pdu().get_response() << "; ";
        if (controller_->receive_until(test::is_response, 3))
            faults_ << "#" << seq_ << " answered twice; ";
        return answer && test::is_success(*answer);
    }
    // A command of the table's forms, with its usual values.
    bool send(const char* form, unsigned slot) { return send(usual(form), slot); }
    void make(unsigned slot, const LGCP::Command& create) {
        send(create, slot);
        made_.push_back(slot);
    }
    void make(unsigned slot, const char* form) { make(slot, usual(form)); }
    void join(unsigned source, unsigned destination) {
        send(test::connect_command(destination), source);
    }
    void wire(unsigned a, unsigned b) {
        join(a, b);
        join(b, a);
    }
    void unjoin(unsigned slot) { send(test::command(Alternative::disconnect), slot); }
    void destroy(unsigned slot) { send(test::command(Alternative::destroy), slot); }
    void run(unsigned ms) { server_.advance(ms); }

    // Trunks 2 and 0 slaves of the bus clock, then 2 its master; the TCLK
    // mask the driver must have is what the answers say.
    void set_trunk_modes() {
        for (auto [trunk, mode] : {std::pair{2, LGCP::TrunkMode::slave},
                                   {0, LGCP::TrunkMode::slave},
                                   {2, LGCP::TrunkMode::master}}) {
            LGCP::Command command;
            command.set_trunkCfg(test::trunk_cfg(trunk, mode));
            const uint32_t bit = 1u << trunk;
            if (send(command)) tclk_ = mode == LGCP::TrunkMode::slave ? tclk_ | bit : tclk_ & ~bit;
        }
    }

    // The controller goes: the server destroys every slot.
    void cut() {
        controller_->close();
        server_.pump(5);
        run(1000);  // slots slow to finish are dropped
        made_.clear();
    }
    // What the scenario made, destroyed newest first.
    void clean_up() {
        for (auto slot = made_.rbegin(); slot != made_.rend(); ++slot)
            if (Slots::instance()->at(*slot)) destroy(*slot);
        made_.clear();
    }

    // What is wrong once the scenario has cleaned up; "" when nothing.
    std::string leftovers() {
        std::ostringstream left;
        left << faults_.str() << SwitchLeftovers() << DeviceLeftovers();
        faults_.str("");
        for (const Slot* slot : Slots::instance()->live()) left << "live " << *slot << "; ";
        const uint32_t tclk = model<sim::MaintenanceModel>(board::maintenance::kDevice).tclk;
        if (tclk != tclk_) left << "TCLK mask " << tclk << ", answered " << tclk_ << "; ";
        return left.str();
    }
    // The commands answered with an error since the last call.
    std::string failed() {
        const std::string text = failed_.str();
        failed_.str("");
        return text;
    }

private:
    static LGCP::Command usual(const char* form) {
        const test::CommandForm& f = test::form(form);
        return f.build(f.usual());
    }

    test::StreamCapture notices_{std::cout}, errors_{std::cerr}, progress_{std::clog};
    test::HardwareReset hardware_;
    test::ServerHarness server_{ControllerServices()};
    std::unique_ptr<test::TestController> controller_;
    bool connected_ = false;
    int seq_ = 0;
    uint32_t tclk_ = 0;
    std::vector<unsigned> made_;
    std::ostringstream faults_, failed_;
};

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

// ---- A controller's day: every slot kind but those that run programs,
// wired both ways where they can be, receivers and tones, a conference, a
// data call, a query, trunk modes, a bus test, a destroy of each kind; the
// controller's cut takes the rest.
void ControllersDay(Day& day) {
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
    day.make(43, "rtp");
    day.wire(10, 43);
    day.make(40, "mixer output");
    day.make(41, "mixer input");
    day.make(42, test::create_mixer_in(0, {3}));
    day.join(15, 41);
    day.join(40, 15);
    for (const char* ioctl : {"translateDTMF", "dtmf digit", "tone filter", "vad v2", "rx gain"})
        day.send(ioctl, 41);
    day.send("tone generator", 40);
    day.make(50, "file player");
    day.join(50, 42);
    day.make(51, "recorder");
    day.join(40, 51);
    day.make(60, "vark radio");
    day.send("selcal", 60);
    day.make(61, "ed137 radio");
    day.send("ed137 rx", 61);
    day.send(test::command(Alternative::query));
    day.set_trunk_modes();
    for (auto mode : {LGCP::BpcTestMode::Alternative::write, LGCP::BpcTestMode::Alternative::disconnect})
        day.send(test::bus_test(3, 0, 3, 7, mode));
    day.run(100);
    for (unsigned slot : {14u, 30u, 20u, 22u, 24u, 43u, 41u, 50u, 60u, 13u}) day.destroy(slot);
}

// ---- The sweeps

struct DeviceGroup {
    std::vector<const char*> devices;
    int error;
};

const DeviceGroup kSwitch{{hal::kDevice}, EIO},
    kTrunks{{board::e1_cas::kDevice, board::maintenance::kDevice}, EIO},
    kDataChannels{{board::mcc::kDevice, board::dsp_data::kDevice}, EIO},
    kRtp{{board::rtp::kDevice, board::rtp_ext::kDevice}, EIO},
    kVoiceAndMixers{{board::voice::kDevice, board::mixer::kDevice}, EIO},
    kReceivers{{board::dtmf::kDevice, board::dsp::kDevice}, EIO},
    kReceiversInterrupted{{board::dtmf::kDevice, board::dsp::kDevice}, EINTR};

// A request to one of the group's devices; of the switch, one that changes
// what the fabric carries (not the refresh's switch-off of what is off).
test::RequestFilter OfTheGroup(const DeviceGroup& group) {
    return [&group](sim::Op op, const std::string& path, uint32_t request, const void* arg) {
        bool ours = false;
        for (const char* device : group.devices) ours = ours || path == device;
        if (!ours || path != hal::kDevice) return ours;
        if (op != sim::Op::Ioctl || !arg) return false;
        if (request == hal::kMuxConnect || request == hal::kMuxWriteByte) return true;
        int32_t channel;
        std::memcpy(&channel, arg, sizeof channel);
        return request == hal::kMuxDisable && channel >= 0 && channel < hal::kChannels &&
               model<HalModel>(hal::kDevice).channel(channel).output != HalModel::Output::Off;
    };
}

struct Sweep {
    const char* what;
    void (*play)(Day&);
    bool cut;  // the controller's cut cleans up, or the scenario's destroys
    const DeviceGroup& group;
};

const Sweep kSweeps[] = {
    {"make before break, the heir wired to the trunk first", MakeBeforeBreakToTheHeir, false,
     kSwitch},
    {"make before break, the heir wired from the trunk first", MakeBeforeBreakFromTheHeir, false,
     kSwitch},
    {"a cut-over to another trunk aborted", CutOverAborted, false, kSwitch},
    {"a conference with trunk and RTP parties", Conference, false, kSwitch},
    {"a data call with its D channel", DataCallWithItsDChannel, false, kSwitch},
    {"a data call whose channel ends", DataCallWhoseChannelEnds, false, kSwitch},
    {"a voice player feeds a trunk that goes first", PlayerOfAGoneTrunk, false, kSwitch},
    {"the controller cut mid-call", CutMidCall, true, kSwitch},
    {"a day, the switch", ControllersDay, true, kSwitch},
    {"a day, the trunks", ControllersDay, true, kTrunks},
    {"a day, the data channels", ControllersDay, true, kDataChannels},
    {"a day, rtp", ControllersDay, true, kRtp},
    {"a day, voice and mixers", ControllersDay, true, kVoiceAndMixers},
    {"a day, the receivers", ControllersDay, true, kReceivers},
    {"a day, the receivers interrupted", ControllersDay, true, kReceiversInterrupted},
};

class Refusals : public ::testing::TestWithParam<Sweep> {};

TEST_P(Refusals, LeaveNothingAndTheNextRunAsTheFirst) {
    const Sweep& sweep = GetParam();
    test::RefusalSweep refusals(OfTheGroup(sweep.group), sweep.group.error);
    auto play = [&](Day& day) {
        sweep.play(day);
        if (sweep.cut)
            day.cut();
        else
            day.clean_up();
    };
    const size_t runs = refusals.run([&] {
        auto day = std::make_unique<Day>();
        ASSERT_TRUE(day->connected());
        refusals.arm();
        play(*day);
        refusals.disarm();
        day->run(100);  // what was owed is done
        SCOPED_TRACE(refusals.describe());
        EXPECT_EQ("", day->leftovers());
        const std::string failed = day->failed();
        if (!refusals.refused()) {
            EXPECT_EQ("", failed);
        }
        day->reconnect();
        play(*day);
        EXPECT_EQ("", day->failed());
        EXPECT_EQ("", day->leftovers());
    });
    EXPECT_GT(runs, 0u);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Refusals, ::testing::ValuesIn(kSweeps), test::CaseName());

}  // namespace
