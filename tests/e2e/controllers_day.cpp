#include "tests/e2e/controllers_day.h"

#include <dirent.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <set>
#include <tuple>

#include "board/drivers/dsp.h"
#include "board/drivers/dsp_data.h"
#include "board/drivers/dtmf.h"
#include "board/drivers/hal.h"
#include "board/drivers/maintenance.h"
#include "board/drivers/mcc.h"
#include "board/drivers/mctl.h"
#include "board/drivers/mixer.h"
#include "board/drivers/rtp.h"
#include "board/drivers/rtp_ext.h"
#include "board/sim/dsp_data_model.h"
#include "board/sim/dsp_model.h"
#include "board/sim/dtmf_model.h"
#include "board/sim/hal_model.h"
#include "board/sim/maintenance_model.h"
#include "board/sim/mcc_model.h"
#include "board/sim/mctl_model.h"
#include "board/sim/mixer_model.h"
#include "board/sim/rtp_ext_model.h"
#include "board/sim/rtp_model.h"
#include "board/sim/sim_board.h"
#include "hardware/hw_mux.h"
#include "monitoring/monitoring_ctl.h"
#include "radio/rtp_ext_slot.h"
#include "runtime/child_wait.h"
#include "server/services.h"
#include "server/slot_factories.h"
#include "slots/dsp_modem_slot.h"
#include "slots/modem_factory.h"
#include "slots/rtp_slot.h"
#include "slots/slot.h"
#include "slots/slots.h"
#include "tests/support/controller_inputs.h"
#include "tests/support/deadline.h"
#include "tests/support/hardware_commands.h"
#include "tests/support/loopback.h"
#include "tests/support/stand_ins.h"
#include "tests/support/test_slots.h"

namespace day {

namespace {

namespace hal = board::hal;
namespace sim = board::sim;
using Alternative = LGCP::Command::Alternative;
using Ioctl = LGCP::IoctlParams::Alternative;
using sim::Board;
using sim::HalModel;

// Longer than every retry period: the refused requests a second, the
// monitoring's checks 2 s.
constexpr unsigned kSettleMs = 2500;
// A command whose answer waits for a program (a modem's destroy waits for
// pppd to end) is waited for this long in real time.
constexpr int kProgramWaitMs = 5000;

template <class Model>
Model& model(const char* device) {
    return *Board::instance().model_as<Model>(device);
}

bool within(int channel, int first, int count) {
    return channel >= first && channel < first + count;
}

// The timeslot of a slot's tone and voice-processing receivers.
int receiver_timeslot(Slot& slot) {
    const int rx = slot.IGetReceiveChannel();
    return rx >= 0 ? rx : slot.IGetTransmitChannel();
}

// The open of "/dev/rtp" whose stream is on `channel`, or null.
const sim::Channel* rtp_open(int channel) {
    auto& rtp = model<sim::RtpModel>(board::rtp::kDevice);
    for (const sim::Channel* open : Board::instance().channels(board::rtp::kDevice))
        if (const auto* stream = rtp.stream_of(*open); stream && stream->channel == channel)
            return open;
    return nullptr;
}

// The header-extension session attached to the stream on `channel`, or null.
sim::RtpExtModel::Session* radio_session(int channel) {
    const sim::Channel* open = rtp_open(channel);
    if (!open) return nullptr;
    for (auto* session : model<sim::RtpExtModel>(board::rtp_ext::kDevice).sessions())
        if (session->rtp == open && session->attach) return session;
    return nullptr;
}

// ---- What the drivers hold

// Whether the driver that hands out `channel` holds it for a call; true for
// channels no driver hands out (trunks, buses, mixers, extension numbers).
bool held_by_its_driver(int channel) {
    Board& board = Board::instance();
    if (within(channel, sim::RtpModel::kPoolBase,
               model<sim::RtpModel>(board::rtp::kDevice).pool_size))
        return model<sim::RtpModel>(board::rtp::kDevice).on_channel(channel) != nullptr;
    auto& modems = model<sim::MctlModel>(board::mctl::kDevice);
    if (within(channel, sim::MctlModel::kFirstChannel, modems.pool())) {
        const auto opens = board.channels(board::mctl::kDevice);
        const sim::Channel* holder = modems.modem(channel - sim::MctlModel::kFirstChannel).holder;
        return std::find(opens.begin(), opens.end(), holder) != opens.end();
    }
    if (within(channel, sim::MccModel::kPoolBase, board::mcc::kTypes * sim::MccModel::kPoolSpan)) {
        for (const auto& allocation : model<sim::MccModel>(board::mcc::kDevice).allocations())
            if (allocation.timeslot == channel) return true;
        return false;
    }
    if (within(channel, sim::NetIfModel::kHdlcChannelBase,
               sim::DspDataModel::kFirstChannel - sim::NetIfModel::kHdlcChannelBase)) {
        for (const auto& interface : board.netifs().interfaces())
            if (interface.hdlc && interface.hdlc->channel() == channel) return true;
        return false;
    }
    if (within(channel, sim::DspDataModel::kFirstChannel,
               sim::DspDataModel::kLastChannel + 1 - sim::DspDataModel::kFirstChannel)) {
        for (const auto& open : model<sim::DspDataModel>(board::dsp_data::kDevice).opens())
            if (open.signalling == channel || std::count(open.b.begin(), open.b.end(), channel))
                return true;
        return false;
    }
    return true;
}

// How much of each kind the drivers hold: a create answered with an
// error must not leave more.
using Census = std::array<size_t, 6>;
const char* const kCensusNames[] = {"rtp streams", "radio sessions",  "mcc channels",
                                    "qsig opens",  "qsig B channels", "modems"};

Census census() {
    Board::instance().drop_closed();
    size_t bChannels = 0;
    const auto opens = model<sim::DspDataModel>(board::dsp_data::kDevice).opens();
    for (const auto& open : opens)
        bChannels += std::count_if(open.b.begin(), open.b.end(), [](int b) { return b >= 0; });
    return {model<sim::RtpModel>(board::rtp::kDevice).streams().size(),
            model<sim::RtpExtModel>(board::rtp_ext::kDevice).sessions().size(),
            model<sim::MccModel>(board::mcc::kDevice).allocations().size(),
            opens.size(),
            bChannels,
            static_cast<size_t>(model<sim::MctlModel>(board::mctl::kDevice).held())};
}

// What the receivers of a timeslot have, as text. (A radio's filter is
// judged by what its keyings asked: one the driver refused is owed, and may
// be set by a later command that fails for another reason.)
std::string receivers_of(int ts) {
    std::ostringstream os;
    const auto& tones =
        model<sim::DtmfModel>(board::dtmf::kDevice).timeslot(static_cast<uint32_t>(ts));
    const auto tone = model<sim::DtmfModel>(board::dtmf::kDevice).tone(static_cast<uint32_t>(ts));
    os << "dtmf " << tones.enabled << tones.echoCancel << tones.rejection << tones.iva << " tone "
       << tone[0] << '/' << tone[1] << '/' << tone[2] << '/' << tone[3];
    const auto& dsp = model<sim::DspModel>(board::dsp::kDevice).timeslot(static_cast<uint32_t>(ts));
    os << " dsp";
    for (const auto& [function, id] : dsp.enabled) os << ' ' << function << '#' << id;
    os << " filters";
    for (const auto& filter : dsp.filters) os << ' ' << filter.first;
    return os.str();
}

const sim::DspModel::Timeslot& dsp_of(Slot& slot) {
    return model<sim::DspModel>(board::dsp::kDevice)
        .timeslot(static_cast<uint32_t>(receiver_timeslot(slot)));
}

const sim::DtmfModel::Timeslot& tones_of(Slot& slot) {
    return model<sim::DtmfModel>(board::dtmf::kDevice)
        .timeslot(static_cast<uint32_t>(receiver_timeslot(slot)));
}

// "" while the state holds, else what the slot lacks.
std::string unless(bool holds, const char* what) {
    return holds ? std::string() : what;
}

// Receiver state that no live slot of that timeslot asked for.
std::string receivers_for_nobody() {
    std::set<int> listening;
    for (Slot* slot : Slots::instance()->live())
        if (!slot->hardwareLost()) listening.insert(receiver_timeslot(*slot));
    std::ostringstream left;
    for (const auto& [ts, state] : model<sim::DtmfModel>(board::dtmf::kDevice).timeslots()) {
        const auto& tone = state.generator;
        if ((state.enabled || state.echoCancel || state.rejection || state.iva || tone.freq1 ||
             tone.freq2 || tone.amp1 || tone.amp2) &&
            !listening.count(static_cast<int>(ts)))
            left << "tone codec on [" << ts << "] for no slot; ";
    }
    for (const auto& [ts, state] : model<sim::DspModel>(board::dsp::kDevice).timeslots())
        if ((!state.enabled.empty() || !state.filters.empty()) &&
            !listening.count(static_cast<int>(ts)))
            left << "dsp on [" << ts << "] for no slot; ";
    return left.str();
}

// What a slot the server keeps whole may lack only while it owes it:
// a radio's extension session, a wired stream's input, a modem's set-up.
std::string owed_parts(Slot& slot) {
    std::ostringstream missing;
    const int channel = slot.IGetTransmitChannel();
    if (auto* rtp = dynamic_cast<RtpSlot*>(&slot)) {
        const auto* stream = model<sim::RtpModel>(board::rtp::kDevice).on_channel(channel);
        Slot* source = slot.source();
        if (stream && source && !source->hardwareLost() && source->IGetTransmitChannel() >= 0 &&
            !stream->input)
            missing << slot << " wired without its stream's input; ";
        if (dynamic_cast<RtpExtSlot*>(rtp) && !radio_session(channel))
            missing << slot << " without its radio session; ";
    }
    if (dynamic_cast<DspModemSlot*>(&slot) && channel >= 0) {
        const auto& modem = model<sim::MctlModel>(board::mctl::kDevice)
                                .modem(channel - sim::MctlModel::kFirstChannel);
        if (modem.resets == 0) missing << slot << " with its modem not set up; ";
    }
    return missing.str();
}

// The processes this one started that have not ended: each holds copies of
// the descriptors it was started with (all of them until its exec), so
// the drivers keep those channels until it ends. A program's own children
// hold them too, and outlive it for a moment: this process adopts them
// (KeepDescendants), so that they are listed here until they end.
void KeepDescendants() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

std::vector<int> RunningChildren() {
    std::vector<int> running;
    DIR* tasks = ::opendir("/proc/self/task");
    while (dirent* task = tasks ? ::readdir(tasks) : nullptr) {
        if (task->d_name[0] == '.') continue;
        std::ifstream children(std::string("/proc/self/task/") + task->d_name + "/children");
        for (int pid; children >> pid;) {
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            std::getline(stat, line);
            const size_t end = line.rfind(") ");
            if (end != std::string::npos && end + 2 < line.size() && line[end + 2] != 'Z')
                running.push_back(pid);
        }
    }
    if (tasks) ::closedir(tasks);
    return running;
}

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

std::string DeviceLeftovers() {
    std::ostringstream left;
    for (const auto& unit : model<sim::MixerModel>(board::mixer::kDevice).units())
        for (const auto& [summator, sum] : unit.sums)
            left << "unit " << unit.number << " sums " << sum.size() << " into " << summator
                 << "; ";
    left << receivers_for_nobody();
    const Census held = census();
    for (size_t i = 0; i < held.size(); ++i)
        if (held[i]) left << held[i] << ' ' << kCensusNames[i] << "; ";
    for (const auto& interface : Board::instance().netifs().interfaces())
        if (interface.hdlc && (interface.flags & IFF_UP)) left << interface.name << " up; ";
    return left.str();
}

// The server's services in their order, all but its monitoring service.
std::vector<CtrlSrv::Service*> ServicesButMonitoring() {
    std::vector<CtrlSrv::Service*> services = ControllerServices();
    services.erase(std::remove(services.begin(), services.end(), &MonitoringCtl::instance()),
                   services.end());
    return services;
}

}  // namespace

// What a command's judgement compares with.
struct Day::Before {
    Slot* at = nullptr;      // the slot the command is sent to
    Slot* fed = nullptr;     // a connect's destination
    Slot* source = nullptr;  // of that destination, or of the slot disconnected
    Census held{};
    std::string receivers;  // of the slot's timeslot
};

Day::Day(const test::RefusalSweep& sweep) : sweep_(sweep) {
    static const std::string authPort = std::to_string(test::free_port());
    ::setenv("BOARD_AUTH_PORT", authPort.c_str(), 1);
    KeepDescendants();
    CreateSlotFactories();
    server_ = std::make_unique<test::ServerHarness>(ServicesButMonitoring());
    // The server's own monitoring service would keep the timers and device
    // of an earlier board: each day has one of its own, bound last.
    server_->add<MonitoringCtl>();
    // No journal is read: the switch's refresh alone makes a request of
    // "/dev/hal" per channel and pass.
    Board::instance().set_journaled(false);
    HwMux::instance().IsOpened();
    ModemFactory::instance().reset_for_test();
    ChildWait::Activate();
    server_->board().write_file(std::string("/usr/local/voice/") + test::forms::kPhrase,
                                std::string(800, '\x55'));
    reconnect();
}

void Day::install_programs() {
    using namespace test::stand_in;
    const test::BoardRoot& root = server_->board();
    for (const char* program : {"/usr/local/sbin/pppd", "/usr/local/sbin/fax"})
        root.write_program(program, obeys_hup());
    root.write_program("/usr/local/sbin/t38", t38(runs(), "6"));
}

Day::~Day() {
    controller_.reset();
    Slots::instance()->reset_for_test();
    ModemFactory::instance().reset_for_test();
    ChildWait::Deactivate();
}

void Day::reconnect() {
    if (controller_) cut();
    tclk_ = 0;  // every trunk a master for a new controller
    controller_ = std::make_unique<test::TestController>(*server_);
    connected_ = controller_->connect();
    send(test::command(Alternative::query));
}

// ---- Commands

std::optional<LGCP::Message> Day::answer() {
    test::Deadline deadline(kProgramWaitMs);
    for (unsigned pass = 0;; ++pass) {
        while (auto message = controller_->receive(1)) {
            if (test::is_response(*message)) return message;
            if (auto slot = test::slot_of(*message)) ++signals_[*slot];
        }
        if (pass < test::TestController::default_passes) continue;
        if (deadline.passed()) return std::nullopt;
        ::usleep(500);  // a program is awaited
    }
}

bool Day::send(const LGCP::Command& command, std::optional<unsigned> slot) {
    const Before was = before(command, slot);
    const size_t refusals = sweep_.refusals_made();
    controller_->send(command, ++seq_, slot);
    const auto reply = answer();
    const bool success = reply && test::is_success(*reply);
    if (!reply)
        faults_ << "#" << seq_ << " unanswered; ";
    else if (!success)
        failed_ << "#" << seq_ << " slot " << (slot ? int(*slot) : -1) << ' '
                << *reply->get_pdu().get_response() << "; ";
    for (unsigned pass = 0; pass < 3; ++pass)
        while (auto message = controller_->receive(1)) {
            if (test::is_response(*message))
                faults_ << "#" << seq_ << " answered twice; ";
            else if (auto n = test::slot_of(*message))
                ++signals_[*n];
        }
    if (reply) judge_answer(command, slot, was, success);
    if (sweep_.refusals_made() != refusals) judge(false);
    return success;
}

bool Day::send(const char* form, unsigned slot) {
    const test::CommandForm& f = test::form(form);
    return send(f.build(f.usual()), slot);
}

void Day::make(unsigned slot, const LGCP::Command& create) {
    send(create, slot);
    made_.push_back(slot);
}

void Day::make(unsigned slot, const char* form) {
    const test::CommandForm& f = test::form(form);
    make(slot, f.build(f.usual()));
}

void Day::join(unsigned source, unsigned destination) {
    send(test::connect_command(destination), source);
}

void Day::wire(unsigned a, unsigned b) {
    join(a, b);
    join(b, a);
}

void Day::unjoin(unsigned slot) {
    send(test::command(Alternative::disconnect), slot);
}

void Day::destroy(unsigned slot) {
    send(test::command(Alternative::destroy), slot);
}

void Day::key(unsigned slot, const LGCP::Command& keying, bool filtered) {
    keying_ = filtered;
    // A keying answered failed may still be done: the radio asks the
    // driver again at its next tick for what it refused.
    if (!send(keying, slot)) asked_.erase({slot, "radio filter"});
    keying_.reset();
}

void Day::show_framer_up() {
    for (bool line : {true, false}) {
        LGCP::DisplayParams display;
        LGCP::FramerInfo& framer = display.select_framer();
        framer.set_e1(1);
        if (line)
            framer.get_info().set_line(true);
        else
            framer.get_info().set_link(true);
        send(test::forms::display(display));
    }
    // Two LEDs per framer e: the link's at bit 2e, lit while the link is
    // down, and the line's at 2e + 1.
    leds_ = 1u << 3;
}

void Day::set_trunk_modes() {
    for (auto [trunk, mode] : {std::pair{2, LGCP::TrunkMode::slave},
                               {0, LGCP::TrunkMode::slave},
                               {2, LGCP::TrunkMode::master}}) {
        LGCP::Command command;
        command.set_trunkCfg(test::trunk_cfg(trunk, mode));
        send(command);
    }
}

void Day::run(unsigned ms) {
    const size_t refusals = sweep_.refusals_made();
    server_->advance(ms);
    while (auto message = controller_->receive(1))
        if (auto n = test::slot_of(*message)) ++signals_[*n];
    if (sweep_.refusals_made() != refusals) judge(false);
}

// ---- Events

// A record the driver delivered is read and told. A read the driver
// refused with EAGAIN or EINTR leaves it to the next; one refused otherwise
// ends the device (reopened within a second), and the record with it.
void Day::hear(unsigned n, const char* what, const std::function<bool(unsigned)>& report) {
    Slot* slot = Slots::instance()->at(n);
    if (!slot || slot->hardwareLost()) return;
    const size_t refusals = sweep_.refusals_made();
    const unsigned before = signals_[n];
    // The driver reports only what is on: what a refused command left off
    // is not heard.
    if (!report(static_cast<unsigned>(receiver_timeslot(*slot)))) return;
    for (unsigned pass = 0;
         pass < 2 * test::TestController::default_passes && signals_[n] == before; ++pass)
        if (auto message = controller_->receive(1))
            if (auto at = test::slot_of(*message)) ++signals_[*at];
    const test::Refusal& refusal = sweep_.refusal();
    const bool passing = refusal.error == EAGAIN || refusal.error == EINTR;
    const bool lost =
        sweep_.refusals_made() != refusals && (!passing || (refusal.lasting && sweep_.armed()));
    if (signals_[n] == before && !lost) faults_ << what << " on " << *slot << " not heard; ";
}

void Day::hear_again() {
    for (const auto& [key, asked] : asked_)
        if (key.second == "dtmf" && Slots::instance()->at(key.first) == asked.slot &&
            asked.missing(*asked.slot).empty())
            hear_dtmf(key.first);
}

void Day::hear_dtmf(unsigned slot) {
    hear(slot, "a DTMF digit",
         [](unsigned ts) { return model<sim::DtmfModel>(board::dtmf::kDevice).detect(ts, 5, 99); });
}

void Day::hear_tone(unsigned slot) {
    hear(slot, "a 2100 Hz tone", [](unsigned ts) {
        return model<sim::DspModel>(board::dsp::kDevice).tone_filter(ts, 2100, 1);
    });
}

void Day::hear_voice(unsigned slot) {
    hear(slot, "voice",
         [](unsigned ts) { return model<sim::DspModel>(board::dsp::kDevice).vad(ts, 1, 1, 0); });
}

// ---- The day's end

void Day::settle() {
    for (unsigned round = 0; round < 4; ++round) {
        const size_t refusals = sweep_.refusals_made();
        server_->advance(kSettleMs);
        if (sweep_.refusals_made() == refusals) break;
    }
    while (auto message = controller_->receive(1))
        if (auto n = test::slot_of(*message)) ++signals_[*n];
}

void Day::cut() {
    controller_->close();
    server_->pump(5);
    server_->advance(1000);  // slots slow to finish are dropped
    // Those that wait for a program end with it.
    for (test::Deadline deadline(kProgramWaitMs);
         !Slots::instance()->live().empty() && !deadline.passed(); ::usleep(500))
        server_->pump();
    made_.clear();
}

void Day::clean_up() {
    for (auto slot = made_.rbegin(); slot != made_.rend(); ++slot)
        if (Slots::instance()->at(*slot)) destroy(*slot);
    made_.clear();
}

// ---- Judgement

Day::Before Day::before(const LGCP::Command& command, std::optional<unsigned> slot) const {
    Before was;
    was.held = census();
    if (!slot) return was;
    was.at = Slots::instance()->at(*slot);
    if (command.is_connect()) {
        was.fed = Slots::instance()->at(command.get_connect()->getValue());
        was.source = was.fed ? was.fed->source() : nullptr;
    } else if (was.at) {
        was.source = was.at->source();
        was.receivers = receivers_of(receiver_timeslot(*was.at));
    }
    return was;
}

void Day::judge_answer(const LGCP::Command& command, std::optional<unsigned> slot,
                       const Before& was, bool success) {
    Slot* now = slot ? Slots::instance()->at(*slot) : nullptr;
    const std::string seq = "#" + std::to_string(seq_) + " ";
    switch (command.selection()) {
        case Alternative::create:
            if (success && (!now || now->destroying()))
                faults_ << seq << "create answered success, no slot " << *slot << "; ";
            if (!success && now && now != was.at)
                faults_ << seq << "create answered failed, yet " << *now << " is live; ";
            if (success && now) note_created(*command.get_create(), *slot);
            if (!success) {
                const Census held = census();
                for (size_t i = 0; i < held.size(); ++i)
                    if (held[i] > was.held[i])
                        faults_ << seq << "create answered failed, yet " << kCensusNames[i]
                                << " went from " << was.held[i] << " to " << held[i] << "; ";
            }
            break;
        case Alternative::connect:
            if (!was.fed || !was.at || now != was.at ||
                Slots::instance()->at(command.get_connect()->getValue()) != was.fed)
                break;
            // A source may end its output at once (a short phrase played):
            // its receivers are let go, and the controller hears it.
            if (success && was.fed->source() != was.at && was.at->outputActive())
                faults_ << seq << "connect answered success, " << *was.fed << " not fed by "
                        << *was.at << "; ";
            if (!success && was.fed->source() != was.source)
                faults_ << seq << "connect answered failed, yet " << *was.fed
                        << " has another source; ";
            break;
        case Alternative::disconnect:
            if (!now) break;
            if (success && now->source())
                faults_ << seq << "disconnect answered success, " << *now << " still fed; ";
            if (!success && now->source() != was.source)
                faults_ << seq << "disconnect answered failed, yet " << *now
                        << " lost its source; ";
            break;
        case Alternative::destroy:
            if (success && now)
                faults_ << seq << "destroy answered success, " << *now << " still live; ";
            if (!success && was.at && now != was.at)
                faults_ << seq << "destroy answered failed, yet the slot is gone; ";
            break;
        case Alternative::ioctl:
            if (!now) break;
            if (success) {
                note_asked(command, *slot);
            } else if (receivers_of(receiver_timeslot(*now)) != was.receivers) {
                faults_ << seq << "ioctl answered failed, yet " << *now << " went from {"
                        << was.receivers << "} to {" << receivers_of(receiver_timeslot(*now))
                        << "}; ";
            }
            break;
        case Alternative::trunkCfg: {
            if (success) {
                const auto& cfg = *command.get_trunkCfg();
                const uint32_t bit = 1u << cfg.get_trunk().getValue();
                tclk_ = cfg.get_mode().getValue() == LGCP::TrunkMode::slave ? tclk_ | bit
                                                                            : tclk_ & ~bit;
            }
            const uint32_t tclk = model<sim::MaintenanceModel>(board::maintenance::kDevice).tclk;
            if (tclk != tclk_)
                faults_ << seq << "TCLK mask " << tclk << ", answered " << tclk_ << "; ";
            break;
        }
        default:
            break;
    }
}

void Day::note_asked(const LGCP::Command& command, unsigned n) {
    const LGCP::IoctlParams& p = *command.get_ioctl();
    using Check = std::function<std::string(Slot&)>;
    auto configured = [&](uint32_t code, const char* what) -> Check {
        return [=](Slot& s) { return unless(dsp_of(s).configure(code), what); };
    };
    std::string kind;
    Check check;
    switch (p.selection()) {
        case Ioctl::tone_filter: {
            const uint32_t freq = static_cast<uint32_t>(p.get_tone_filter()->get_freq().getValue());
            const bool on = p.get_tone_filter()->get_enable().getValue();
            kind = "tone filter " + std::to_string(freq);
            check = [=](Slot& s) {
                return unless(dsp_of(s).filters.count(freq) == on, "its tone filter");
            };
            break;
        }
        case Ioctl::vad_params:
            kind = "vad params";
            check = configured(board::dsp::kVad, "its VAD set-up");
            break;
        case Ioctl::vad_enable: {
            const bool on = p.get_vad_enable()->getValue();
            kind = "vad";
            check = [=](Slot& s) {
                return unless(dsp_of(s).on(board::dsp::kVad) == on, "its VAD on or off");
            };
            break;
        }
        case Ioctl::rx_gain:
            kind = "rx gain";
            check = configured(board::dsp::kRxGain, "its gain");
            break;
        case Ioctl::delays:
            kind = "delays";
            check = configured(board::dsp::kDelays, "its delays");
            break;
        case Ioctl::dtmf_enable: {
            const bool on = p.get_dtmf_enable()->getValue();
            kind = "dtmf";
            check = [=](Slot& s) {
                return unless(tones_of(s).enabled == on, "its DTMF detector on or off");
            };
            break;
        }
        case Ioctl::tone_gen_enable: {
            const uint16_t freq =
                static_cast<uint16_t>(p.get_tone_gen_enable()->get_freq().getValue());
            const uint16_t amp =
                static_cast<uint16_t>(p.get_tone_gen_enable()->get_amp().getValue());
            kind = "tone generator";
            check = [=](Slot& s) {
                const auto tone = model<sim::DtmfModel>(board::dtmf::kDevice)
                                      .tone(static_cast<uint32_t>(receiver_timeslot(s)));
                return unless(tone == sim::DtmfModel::Tone{freq, 0, amp, 0}, "its tone");
            };
            break;
        }
        case Ioctl::rtpExt: {
            if (!keying_) return;
            const bool filtered = *keying_;
            kind = "radio filter";
            // An owed session is judged once the day has settled.
            check = [=](Slot& s) {
                const auto* session = radio_session(s.IGetTransmitChannel());
                return unless(!session || bool(session->filter) == filtered, "its radio's filter");
            };
            break;
        }
        case Ioctl::selcal:
            kind = "selcal";
            check = [=](Slot& s) {
                return unless(tones_of(s).selcalDialled, "its SELCAL dialled");
            };
            break;
        default:
            return;
    }
    asked_[{n, kind}] = {Slots::instance()->at(n), kind, check, kind == "radio filter"};
}

void Day::note_created(const LGCP::CreateParams& create, unsigned n) {
    const auto ask = [&](const std::string& kind, bool owed,
                         std::function<std::string(Slot&)> check) {
        asked_[{n, kind}] = {Slots::instance()->at(n), kind, std::move(check), owed};
    };
    if (const LGCP::MixerInParams* in = create.get_mixerIn()) {
        if (in->get_ecm())
            ask("echo canceller", false,
                [](Slot& s) { return unless(tones_of(s).echoCancel, "its echo canceller"); });
        const LGCP::MixerChannel* summator = in->get_summator();
        if (summator && summator->get_tdm() && in->get_channel().get_tdm()) {
            const int unit = in->get_unit().getValue(), into = summator->get_tdm()->getValue(),
                      channel = in->get_channel().get_tdm()->getValue();
            ask("sum", true, [=](Slot&) {
                const auto sum = model<sim::MixerModel>(board::mixer::kDevice).sum(unit, into);
                return unless(sum.count(channel), "its place in the sum");
            });
        }
    }
    const LGCP::CreateRtpParams* rtp = create.get_rtp();
    const TERM::RtpRadioRequest* radio = rtp ? rtp->get_codecRTP().get_radio() : nullptr;
    if (!radio) return;
    for (auto [function, on, what] :
         {std::tuple{board::dsp::kBss, radio->get_bss_enable(), "its BSS"},
          {board::dsp::kNg, radio->get_ng_enable(), "its noise gate"}})
        if (on)
            ask(what, false, [function = function, on = on->getValue(), what = what](Slot& s) {
                return unless(dsp_of(s).on(function) == on, what);
            });
    if (const ASN1::INTEGER* rx = radio->get_rx_delay())
        ask("delays", false, [rx = static_cast<uint32_t>(rx->getValue())](Slot& s) {
            const auto* delays = dsp_of(s).configure(board::dsp::kDelays);
            return unless(delays && delays->params.delays.rx == rx, "its delays");
        });
}

void Day::judge(bool strict) {
    faults_ << test::graph_faults();
    const HalModel& fabric = model<HalModel>(hal::kDevice);
    const HwMux& mux = HwMux::instance();
    if (strict) {
        faults_ << test::switch_faults(fabric);
        for (int channel = 0; channel < hal::kChannels; ++channel)
            if (!mux.settled(channel)) faults_ << "[" << channel << "] still owed; ";
    } else {
        faults_ << test::switch_faults(fabric, [&](int channel) { return !mux.settled(channel); });
    }
    for (Slot* slot : Slots::instance()->live()) {
        if (slot->hardwareLost()) continue;
        for (int channel : {slot->IGetTransmitChannel(), slot->IGetReceiveChannel()})
            if (channel >= 0 && !held_by_its_driver(channel))
                faults_ << *slot << " on [" << channel << "], which its driver does not hold; ";
        if (strict) faults_ << owed_parts(*slot);
    }
    for (auto it = asked_.begin(); it != asked_.end();) {
        Slot* slot = it->second.slot;
        if (Slots::instance()->at(it->first.first) != slot || slot->hardwareLost()) {
            it = asked_.erase(it);
            continue;
        }
        const std::string missing = strict || !it->second.owed ? it->second.missing(*slot) : "";
        if (!missing.empty())
            faults_ << *slot << " asked for " << it->second.what << ", lacks " << missing << "; ";
        ++it;
    }
    if (strict) {
        const uint32_t tclk = model<sim::MaintenanceModel>(board::maintenance::kDevice).tclk;
        if (tclk != tclk_) faults_ << "TCLK mask " << tclk << ", answered " << tclk_ << "; ";
        faults_ << receivers_for_nobody();
        if (leds_ && model<HalModel>(hal::kDevice).leds != *leds_)
            faults_ << "framer LEDs " << int(model<HalModel>(hal::kDevice).leds) << ", displayed "
                    << int(*leds_) << "; ";
    }
}

std::string Day::faults() {
    const std::string text = faults_.str();
    faults_.str("");
    return text;
}

std::string Day::leftovers() {
    std::ostringstream left;
    // The programs that were told to end are waited for.
    for (test::Deadline deadline(kProgramWaitMs); !RunningChildren().empty() && !deadline.passed();
         ::usleep(500))
        server_->pump();
    for (int pid : RunningChildren()) left << "program " << pid << " still runs; ";
    left << faults() << SwitchLeftovers() << DeviceLeftovers();
    const uint32_t tclk = model<sim::MaintenanceModel>(board::maintenance::kDevice).tclk;
    if (tclk != tclk_) left << "TCLK mask " << tclk << ", answered " << tclk_ << "; ";
    for (const Slot* slot : Slots::instance()->live()) left << "live " << *slot << "; ";
    return left.str();
}

std::string Day::failed() {
    const std::string text = failed_.str();
    failed_.str("");
    return text;
}

}  // namespace day
