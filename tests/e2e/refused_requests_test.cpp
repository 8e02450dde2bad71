// A controller's scenario on the server in-process (every service and slot
// factory, the simulated board, virtual time), run once per driver request
// it makes with that one request refused (tests/support/refusal_sweep.h).
// Whatever was refused, once the refusals are over and the scenario has
// cleaned up (its slots destroyed, or the controller cut): every command
// was answered once, no slot is left, the switch carries no path and its
// record names no owner and owes nothing, and nothing crashed (the
// sanitizers watch the freed owners).

#include <errno.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
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
#include "slots/slots.h"
#include "tests/support/case_name.h"
#include "tests/support/controller_inputs.h"
#include "tests/support/hardware_commands.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/loopback.h"
#include "tests/support/mixer_voice_commands.h"
#include "tests/support/refusal_sweep.h"
#include "tests/support/rtp_commands.h"
#include "tests/support/signalling_commands.h"
#include "tests/support/slot_commands.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

namespace {

namespace hal = board::hal;
using Alternative = LGCP::Command::Alternative;
using board::sim::Board;
using board::sim::HalModel;
using LGCP::IsdnType;
using test::Side;

// One run: a fresh server with a connected controller that has queried
// the board's resources.
class Day {
public:
    Day() {
        CreateSlotFactories();
        HwMux::instance().IsOpened();
        server_.board().write_file("/usr/local/voice/hello", std::string(800, '\x55'));
        server_.board().write_file(std::string("/usr/local/voice/") + test::forms::kPhrase,
                                   std::string(800, '\x55'));
        reconnect();
    }

    // A controller connects and queries the board's resources.
    void reconnect() {
        controller_ = std::make_unique<test::TestController>(server_);
        connected_ = controller_->connect();
        send(test::command(Alternative::query));
    }

    // Sends a command and takes its answer: true for success. The signals
    // that come are dropped.
    bool send(const LGCP::Command& command, std::optional<unsigned> slot = {}) {
        controller_->send(command, ++seq_, slot);
        const auto answer = controller_->receive_until(test::is_response);
        if (!answer)
            unanswered_ << seq_ << ' ';
        else if (!test::is_success(*answer))
            failed_ << "#" << seq_ << " slot " << (slot ? int(*slot) : -1) << ' '
                    << *answer->get_pdu().get_response() << "; ";
        if (controller_->receive_until(test::is_response, 3)) answeredTwice_ << seq_ << ' ';
        return answer && test::is_success(*answer);
    }
    void make(unsigned slot, const LGCP::Command& create) {
        send(create, slot);
        made_.push_back(slot);
    }
    // A command of the table's forms, with its usual values.
    void make(unsigned slot, const char* form) { make(slot, usual(form)); }
    bool send(const char* form, unsigned slot) { return send(usual(form), slot); }
    static LGCP::Command usual(const char* form) {
        const test::CommandForm& f = test::form(form);
        return f.build(f.usual());
    }
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
    // The controller goes: the server destroys every slot.
    void cut() {
        controller_->close();
        server_.pump(5);
        run(1000);  // slots slow to finish are dropped
        made_.clear();
    }
    // What the scenario left: its slots destroyed, newest first.
    void clean_up() {
        for (auto slot = made_.rbegin(); slot != made_.rend(); ++slot)
            if (Slots::instance()->at(*slot)) destroy(*slot);
        made_.clear();
    }

    // Trunks 2 and 0 slaves of the bus clock, then 2 its master: the TCLK
    // mask the answers say the driver has.
    void set_trunk_modes() {
        uint32_t mask = tclk;
        for (auto [trunk, mode] : {std::pair{2, LGCP::TrunkMode::slave},
                                   {0, LGCP::TrunkMode::slave},
                                   {2, LGCP::TrunkMode::master}}) {
            LGCP::Command command;
            command.set_trunkCfg(test::trunk_cfg(trunk, mode));
            const uint32_t bit = 1u << trunk;
            if (send(command)) mask = mode == LGCP::TrunkMode::slave ? mask | bit : mask & ~bit;
        }
        tclk = mask;
    }
    // What the driver's TCLK mask should be.
    uint32_t tclk = 0;

    bool connected() const { return connected_; }
    std::string unanswered() const { return unanswered_.str(); }
    std::string answered_twice() const { return answeredTwice_.str(); }
    // The commands answered with an error since the last call.
    std::string failed() {
        std::string text = failed_.str();
        failed_.str("");
        return text;
    }

private:
    test::StreamCapture notices_{std::cout}, errors_{std::cerr}, progress_{std::clog};
    test::HardwareReset hardware_;
    test::ServerHarness server_{ControllerServices()};
    std::unique_ptr<test::TestController> controller_;
    bool connected_ = false;
    int seq_ = 0;
    std::vector<unsigned> made_;
    std::ostringstream unanswered_, answeredTwice_, failed_;
};

// What the switch carries, records or owes with no slot left; "" when nothing.
std::string switch_leftovers() {
    const auto& fabric = *Board::instance().model_as<HalModel>(hal::kDevice);
    HwMux& mux = HwMux::instance();
    std::ostringstream left;
    for (int channel = 0; channel < hal::kChannels; ++channel) {
        const HalModel::ChannelState& state = fabric.channel(channel);
        if (state.output == HalModel::Output::Source)
            left << "[" << channel << "] carries [" << state.value << "]; ";
        else if (channel >= hal::kBusBase && state.output != HalModel::Output::Off)
            left << "bus channel [" << channel << "] driven; ";
        if (mux.owed(channel) != HwMux::Owed::nothing) left << "[" << channel << "] owed; ";
    }
    for (const auto& [channel, owners] : mux.owned_paths())
        left << "[" << channel << "] has " << owners.size() << " owners; ";
    return left.str();
}

// What the devices other than the switch keep with no slot left: a channel,
// a session, a sum, a tone or a receiver function; "" when nothing.
std::string device_leftovers() {
    const Board& board = Board::instance();
    std::ostringstream left;
    for (const auto& unit : board.model_as<board::sim::MixerModel>(board::mixer::kDevice)->units())
        for (const auto& [summator, sum] : unit.sums)
            left << "unit " << unit.number << " sums " << sum.size() << " into " << summator << "; ";
    for (const auto& [ts, state] : board.model_as<board::sim::DtmfModel>(board::dtmf::kDevice)->timeslots()) {
        const auto& tone = state.generator;
        if (state.enabled || state.echoCancel || state.rejection || state.iva ||
            tone.freq1 || tone.freq2 || tone.amp1 || tone.amp2)
            left << "tone codec on [" << ts << "]; ";
    }
    for (const auto& [ts, state] : board.model_as<board::sim::DspModel>(board::dsp::kDevice)->timeslots())
        if (!state.enabled.empty() || !state.filters.empty()) left << "dsp on [" << ts << "]; ";
    const auto count = [&](const char* what, size_t n) {
        if (n) left << n << " " << what << "; ";
    };
    count("rtp streams", board.model_as<board::sim::RtpModel>(board::rtp::kDevice)->streams().size());
    count("radio sessions",
          board.model_as<board::sim::RtpExtModel>(board::rtp_ext::kDevice)->sessions().size());
    count("mcc channels", board.model_as<board::sim::MccModel>(board::mcc::kDevice)->allocations().size());
    count("qsig opens", board.model_as<board::sim::DspDataModel>(board::dsp_data::kDevice)->opens().size());
    return left.str();
}

// Trunks 1 and 2 at timeslot 16 (slots 10 and 11); PRI slot 20 wired both
// ways with trunk 1.
const LGCP::Command kPri = test::create_pstn_isdn(IsdnType::pri, 2, Side::user);
void OldPriSlot(Day& day) {
    day.make(10, test::create_trunk(1, 16));
    day.make(11, test::create_trunk(2, 16));
    day.make(20, kPri);
    day.wire(10, 20);
}

LGCP::Command DataCall() { return test::create_mcc(LGCP::MccType::data, LGCP::MccMode::standard); }

LGCP::Command Rtp() {
    return test::rtp_create_command(test::free_port(), test::free_port(), 0x1234);
}

struct Scenario {
    const char* what;
    std::function<void(Day&)> play;
    bool cut = false;  // the controller's cut cleans up
};

const Scenario kScenarios[] = {
    {"make before break, the heir wired to the trunk first",
     [](Day& day) {
         OldPriSlot(day);
         day.make(21, kPri);
         day.join(10, 21);
         day.join(21, 10);
         day.destroy(20);
     }},
    {"make before break, the heir wired from the trunk first",
     [](Day& day) {
         OldPriSlot(day);
         day.make(21, kPri);
         day.join(21, 10);
         day.join(10, 21);
         day.destroy(20);
     }},
    {"a cut-over to another trunk, aborted",
     [](Day& day) {
         OldPriSlot(day);
         day.make(21, kPri);
         day.join(10, 21);
         day.destroy(21);
         day.join(20, 10);
         day.join(11, 20);
     }},
    {"a conference with trunk and RTP parties",
     [](Day& day) {
         day.make(10, test::create_trunk(0, 1));
         day.make(40, test::create_mixer_out(0, {3}));
         day.make(41, test::create_mixer_in(0, {4}));
         day.make(42, test::create_mixer_in(0, {5}));
         day.make(43, Rtp());
         day.join(10, 41);
         day.join(43, 42);
         day.join(40, 10);
         day.join(40, 43);
         day.unjoin(41);
         day.destroy(42);
     }},
    {"a data call with its D channel",
     [](Day& day) {
         day.make(30, DataCall());
         day.make(20, test::create_pstn_isdn(IsdnType::bri, 1, Side::user));
         day.wire(30, 20);
         day.make(31, DataCall());
         day.make(22, test::create_hdlc(2, 0x1234));
         day.wire(31, 22);
         day.run(100);
         day.destroy(30);
         day.make(32, DataCall());  // given the channel of 30
     }},
    {"a data call whose channel ends",
     [](Day& day) {
         day.make(10, test::create_trunk(1, 1));
         day.make(30, DataCall());
         day.wire(10, 30);
         Board::instance().channels(board::mcc::kDevice).at(0)->hang_up();
         day.run(10);
         day.make(31, DataCall());
         day.make(11, test::create_trunk(2, 1));
         day.wire(11, 31);
     }},
    {"a voice player feeds a trunk that goes first",
     [](Day& day) {
         day.make(10, test::create_trunk(0, 1));
         day.make(50, test::create_file_player({"hello"}, 0));
         day.join(50, 10);
         day.destroy(10);
         day.destroy(50);
         day.make(51, test::create_file_player({"hello"}, 0));
     }},
    {"every slot kind wired and destroyed",
     [](Day& day) {
         day.make(10, test::create_trunk(0, 1));
         day.make(11, test::create_trunk(1, 16));
         day.make(12, test::create_trunk_bri(0, 1));
         day.make(13, test::create_map(test::BusChannel{1, 2}, test::BusChannel{1, 3}));
         day.make(14, test::create_ext(300, 301));
         day.send(test::activate(), 14);
         day.make(30, DataCall());
         day.make(43, Rtp());
         day.make(41, test::create_mixer_in(0, {4}));
         day.make(50, test::create_file_player({"hello"}, 0));
         day.make(20, test::create_pstn_ss7(2, 1));
         day.make(21, test::create_isdn(IsdnType::pri, 3, Side::user));
         day.make(22, test::create_hdlc(2, 0x1234));
         day.make(23, test::create_qsig(Side::user));
         day.make(24, test::create_qsig_b(23, 2));
         day.wire(10, 43);
         day.join(13, 41);
         day.join(50, 14);
         day.wire(11, 20);
         day.wire(12, 30);
         day.wire(13, 24);
         day.wire(22, 43);
     }},
    {"the controller cut mid-call",
     [](Day& day) {
         OldPriSlot(day);
         day.make(40, test::create_mixer_out(0, {3}));
         day.make(41, test::create_mixer_in(0, {4}));
         day.make(43, Rtp());
         day.make(12, test::create_trunk(0, 1));
         day.join(12, 41);
         day.join(40, 43);
         day.make(30, DataCall());
         day.wire(11, 30);
     },
     true},
};

// The switch requests that change what the fabric carries: the refresh's
// switch-offs of channels already off are left out.
bool ChangesTheFabric(board::sim::Op op, const std::string& path, uint32_t request,
                      const void* arg) {
    if (op != board::sim::Op::Ioctl || path != hal::kDevice || !arg) return false;
    if (request == hal::kMuxConnect || request == hal::kMuxWriteByte) return true;
    if (request != hal::kMuxDisable) return false;
    int32_t channel;
    std::memcpy(&channel, arg, sizeof channel);
    const auto& fabric = *Board::instance().model_as<HalModel>(hal::kDevice);
    return channel >= 0 && channel < hal::kChannels &&
           fabric.channel(channel).output != HalModel::Output::Off;
}

class SwitchRefusals : public ::testing::TestWithParam<Scenario> {};

TEST_P(SwitchRefusals, LeaveNothingOnceTheyAreOver) {
    const Scenario& scenario = GetParam();
    test::RefusalSweep sweep(ChangesTheFabric);
    const size_t runs = sweep.run([&] {
        auto day = std::make_unique<Day>();
        ASSERT_TRUE(day->connected());
        sweep.arm();
        scenario.play(*day);
        if (scenario.cut)
            day->cut();
        else
            day->clean_up();
        sweep.disarm();
        day->run(100);  // what was owed is done
        SCOPED_TRACE(sweep.describe());
        if (!sweep.refused()) {
            EXPECT_EQ("", day->failed());
        }
        EXPECT_EQ("", day->unanswered());
        EXPECT_EQ("", day->answered_twice());
        EXPECT_TRUE(Slots::instance()->live().empty());
        EXPECT_EQ("", switch_leftovers());
    });
    EXPECT_GT(runs, 0u);
    std::cerr << runs << " runs\n";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, SwitchRefusals, ::testing::ValuesIn(kScenarios),
                         test::CaseName());

// ---- A controller's day, every driver request refused in turn

// Every slot kind (but those that run programs), wired both ways where they
// can be, receivers and tones, a conference, a data call, a destroy of
// each kind; the controller's cut takes the rest.
void ControllersDay(Day& day) {
    day.make(10, test::create_trunk(1, 1));
    day.make(11, test::create_trunk(2, 16));
    day.make(12, test::create_trunk_bri(0, 1));
    day.make(15, test::create_trunk(0, 2));
    day.make(13, test::create_map(test::BusChannel{1, 2}, test::BusChannel{1, 3}));
    day.make(14, test::create_ext(300, 301));
    day.send(test::activate(), 14);
    day.make(30, DataCall());
    day.wire(12, 30);
    day.send(test::user_data({1, 2}), 30);
    day.make(20, kPri);
    day.wire(11, 20);
    day.make(22, "hdlc");
    day.make(31, DataCall());
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
    for (unsigned slot : {14u, 30u, 20u, 22u, 24u, 43u, 41u, 50u, 60u, 13u})
        day.destroy(slot);
}

// The devices of the board, each a sweep of its own.
struct DeviceGroup {
    const char* what;
    std::vector<const char*> devices;
    int error;
};

const DeviceGroup kDeviceGroups[] = {
    {"switch", {hal::kDevice}, EIO},
    {"trunks", {board::e1_cas::kDevice, board::maintenance::kDevice}, EIO},
    {"data channels", {board::mcc::kDevice, board::dsp_data::kDevice}, EIO},
    {"rtp", {board::rtp::kDevice, board::rtp_ext::kDevice}, EIO},
    {"voice and mixers", {board::voice::kDevice, board::mixer::kDevice}, EIO},
    {"receivers", {board::dtmf::kDevice, board::dsp::kDevice}, EIO},
    {"receivers, interrupted", {board::dtmf::kDevice, board::dsp::kDevice}, EINTR},
};

// A request of the group's devices, but a switch-off of what is off (the
// switch's refresh).
test::RequestFilter OfTheGroup(const DeviceGroup& group) {
    return [&group](board::sim::Op op, const std::string& path, uint32_t request,
                    const void* arg) {
        if (path == hal::kDevice) return ChangesTheFabric(op, path, request, arg);
        for (const char* device : group.devices)
            if (path == device) return true;
        return false;
    };
}

class DayRefusals : public ::testing::TestWithParam<DeviceGroup> {};

// Whatever was refused, every command was answered once, the clean-up
// leaves nothing, and the next day on the same server goes as a day goes.
TEST_P(DayRefusals, LeaveTheNextDayAsTheFirst) {
    test::RefusalSweep sweep(OfTheGroup(GetParam()), GetParam().error);
    const size_t runs = sweep.run([&] {
        auto day = std::make_unique<Day>();
        ASSERT_TRUE(day->connected());
        sweep.arm();
        ControllersDay(*day);
        day->cut();
        sweep.disarm();
        day->run(100);
        SCOPED_TRACE(sweep.describe());
        EXPECT_EQ("", day->unanswered());
        EXPECT_EQ("", day->answered_twice());
        EXPECT_TRUE(Slots::instance()->live().empty());
        EXPECT_EQ("", switch_leftovers());
        EXPECT_EQ("", device_leftovers());
        EXPECT_EQ(day->tclk, Board::instance()
                                 .model_as<board::sim::MaintenanceModel>(board::maintenance::kDevice)
                                 ->tclk);
        const std::string firstDay = day->failed();
        if (!sweep.refused()) {
            EXPECT_EQ("", firstDay);
        }
        day->reconnect();
        ControllersDay(*day);
        day->cut();
        EXPECT_EQ("", day->failed());
        EXPECT_EQ("", day->unanswered());
        EXPECT_EQ("", switch_leftovers());
        EXPECT_EQ("", device_leftovers());
    });
    EXPECT_GT(runs, 0u);
    std::cerr << runs << " runs\n";
}

INSTANTIATE_TEST_SUITE_P(Devices, DayRefusals, ::testing::ValuesIn(kDeviceGroups),
                         test::CaseName());

}  // namespace
