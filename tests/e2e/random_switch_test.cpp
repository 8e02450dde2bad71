// A random controller on the server in-process (every service and slot
// factory, the simulated board, virtual time) that wires a small board at
// random with a fixed seed: E1 timeslots and BRI channels (cabled in pairs),
// PSTN slots of every link mode, two HDLC slots, a data call, two map slots
// on the shared bus, a mixer channel's input and output, an RTP stream. It
// creates, connects (new links, repeated ones, reconnections, cut-overs made
// and aborted, links moved to a far end), disconnects, activates and
// destroys, ends D channels and data calls, cuts the controller and connects
// another; the switch's driver refuses in bursts between quiet periods.
//
// After every step an oracle written here, from the slot graph alone (the
// live slots, their links, the order the links were made in, the channel
// numbers, the D channels that ended), says what every channel of the
// switch must carry, and the test checks that
//   1. every command is answered once, and a failure leaves the graph as
//      it was (but a reconnection whose new and old paths were both
//      refused may drop the link);
//   2. what the switch wants of each channel is what the oracle says;
//   3. the switch's record of what the driver has is the fabric, and
//      nothing stays owed while the driver refuses nothing;
//   4. each D channel is open exactly when the oracle says;
//   5. once refusals stop and the refresh has run, the fabric is what the
//      oracle says, and every link with a live far end over the cables is
//      up (where the fabric carried both since they started);
//   6. a command that fails stops and starts no link layer;
//   7. after the day a cut leaves nothing switched, and a second day with
//      the same seed answers and switches as the first.
// Each kind of fault is reported once: how often it came, the seed and
// step where it came first, and the commands before it.

#include <errno.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "board/drivers/hal.h"
#include "board/drivers/mcc.h"
#include "board/sim/hal_model.h"
#include "board/sim/mcc_model.h"
#include "board/sim/sim_board.h"
#include "hardware/hw_mux.h"
#include "server/services.h"
#include "server/slot_factories.h"
#include "signalling/hdlc.h"
#include "signalling/hdlc_slot.h"
#include "signalling/pstn_slot.h"
#include "slots/slot.h"
#include "slots/slots.h"
#include "tests/support/controller_inputs.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/mixer_voice_commands.h"
#include "tests/support/signalling_commands.h"
#include "tests/support/slot_commands.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

namespace {

namespace hal = board::hal;
namespace mcc = board::mcc;
namespace sim = board::sim;
using Alternative = LGCP::Command::Alternative;
using Cause = LGCP::ErrorCause::NamedNumber;
using sim::Board;
using sim::HalModel;

HalModel& Fabric() {
    return *Board::instance().model_as<HalModel>(hal::kDevice);
}

// ---- What a channel carries: off, driven with a byte (silence), or a
// source channel's content.

struct Carries {
    enum Kind { off, driven, source };
    Kind kind = off;
    int from = -1;
};

// Every channel of the fabric.
std::vector<Carries> FabricNow() {
    const HalModel& fabric = Fabric();
    std::vector<Carries> now(hal::kChannels);
    for (int channel = 0; channel < hal::kChannels; ++channel) {
        const HalModel::ChannelState& state = fabric.channel(channel);
        if (state.output == HalModel::Output::Driven) now[channel] = {Carries::driven};
        if (state.output == HalModel::Output::Source) now[channel] = {Carries::source, state.value};
    }
    return now;
}

// ---- The switch as this test reads it, in this one place: what it wants
// of a channel, what it records that the driver has, and whether it owes
// the driver a request there.
struct SwitchView {
    static Carries of(const HwMux::Setting& setting) {
        switch (setting.kind) {
            case HwMux::Setting::Kind::off: return {Carries::off};
            case HwMux::Setting::Kind::byte: return {Carries::driven};
            case HwMux::Setting::Kind::source: break;
        }
        return {Carries::source, setting.value};
    }
    static Carries has(int channel) { return of(HwMux::instance().has(channel)); }
    static Carries wanted(int channel) { return of(HwMux::instance().wanted(channel)); }
    static bool owes(int channel) { return !HwMux::instance().settled(channel); }
};

// ---- The board the controller wires: few numbers, so that links collide.

enum class Kind {
    trunk,
    briLine,
    pri,
    ss7,
    cas,
    briUser,
    briNetwork,
    hdlc,
    dataCall,
    map,
    mixerIn,
    mixerOut,
    rtp
};

struct Planned {
    unsigned number;
    Kind kind;
    const char* name;
};

const Planned kBoard[] = {
    {10, Kind::trunk, "trunk"},
    {11, Kind::trunk, "trunk"},
    {12, Kind::briLine, "BRI line"},
    {13, Kind::briLine, "BRI line"},
    {20, Kind::pri, "PRI"},
    {21, Kind::pri, "PRI"},
    {22, Kind::ss7, "SS7"},
    {23, Kind::cas, "CAS"},
    {24, Kind::briUser, "BRI user"},
    {25, Kind::briNetwork, "BRI network"},
    {26, Kind::hdlc, "HDLC"},
    {27, Kind::hdlc, "HDLC"},
    {28, Kind::ss7, "SS7"},
    {30, Kind::dataCall, "data call"},
    {40, Kind::map, "map"},
    {41, Kind::mixerIn, "mixer input"},
    {42, Kind::mixerOut, "mixer output"},
    {43, Kind::rtp, "RTP"},
    {44, Kind::map, "map"},
};

// Line channels cabled to each other: trunk 1 and 2 timeslot 16, BRI lines
// 1 and 2 channel 1.
int CabledTo(int channel) {
    static const std::map<int, int> kCables{{48, 80}, {80, 48}, {5, 9}, {9, 5}};
    const auto it = kCables.find(channel);
    return it == kCables.end() ? -1 : it->second;
}

const Planned& PlannedAt(unsigned number) {
    for (const Planned& planned : kBoard)
        if (planned.number == number) return planned;
    static const Planned none{0, Kind::rtp, "?"};
    return none;
}

LGCP::Command Creation(unsigned number) {
    using LGCP::IsdnType;
    using test::Side;
    switch (number) {
        case 10:
            return test::create_trunk(1, 16);  // channel 48
        case 11:
            return test::create_trunk(2, 16);  // channel 80
        case 12:
            return test::create_trunk_bri(1, 1);  // channel 5
        case 13:
            return test::create_trunk_bri(2, 1);  // channel 9
        case 20:
            return test::create_pstn_isdn(IsdnType::pri, 1, Side::user);
        case 21:
            return test::create_pstn_isdn(IsdnType::pri, 2, Side::network);
        case 22:
            return test::create_pstn_ss7(2, 1);
        case 28:
            return test::create_pstn_ss7(3, 2);
        case 23:
            return test::create_pstn_cas(2);
        case 24:
            return test::create_pstn_isdn(IsdnType::bri, 1, Side::user);
        case 25:
            return test::create_pstn_isdn(IsdnType::bri, 2, Side::network);
        case 26:
            return test::create_hdlc(2, 0x1234);
        case 27:
            return test::create_hdlc(3, 0x5678);
        case 30:
            return test::create_mcc(LGCP::MccType::data, LGCP::MccMode::standard);
        case 40:
            return test::create_map(test::BusChannel{1, 2}, test::BusChannel{1, 3});
        case 44:
            return test::create_map(test::BusChannel{2, 5}, test::BusChannel{2, 6});
        case 41:
            return test::create_mixer_in(0, {3});
        case 42:
            return test::create_mixer_out(0, {3});
        default: {
            const test::CommandForm& rtp = test::form("rtp");
            return rtp.build(rtp.usual());
        }
    }
}

std::string SlotName(const Slot& slot) {
    return std::to_string(slot.number()) + ":" + PlannedAt(slot.number()).name;
}

// ---- The steps of a controller's day

enum class Refusing { none, next, all, offs, breaks };

struct Step {
    enum Op {
        create,
        connect,
        disconnect,
        activate,
        destroy,
        cut,          // the controller goes, another connects
        endDChannel,  // the driver hangs up the D channel's HDLC channel
        endDataCall,  // and the data call's channel
        refuse,       // the driver refuses switch requests from now
        pass,         // one loop pass
        wait,         // virtual time
        settle,       // 16 passes, two seconds and 16 passes
    };
    Op op;
    unsigned slot = 0;    // connect: the source
    unsigned target = 0;  // connect: the destination
    Refusing refusing = Refusing::none;
    int count = 0;  // refuse: requests (next) or steps; wait: ms

    std::string text() const {
        const std::string n = std::to_string(slot);
        switch (op) {
            case create:
                return "create " + n + " (" + PlannedAt(slot).name + ")";
            case connect:
                return "connect " + n + " -> " + std::to_string(target);
            case disconnect:
                return "disconnect " + n;
            case activate:
                return "activate " + n;
            case destroy:
                return "destroy " + n;
            case cut:
                return "the controller is cut, another connects";
            case endDChannel:
                return "the HDLC channel of " + n + " ends";
            case endDataCall:
                return "the channel of data call " + n + " ends";
            case refuse: {
                const std::string c = std::to_string(count);
                switch (refusing) {
                    case Refusing::next:
                        return "the driver refuses the next " + c + " switch requests";
                    case Refusing::all:
                        return "the driver refuses every switch request for " + c + " steps";
                    case Refusing::offs:
                        return "the driver refuses every switch-off for " + c + " steps";
                    case Refusing::breaks:
                        return "the driver refuses every switch-off and silence for " + c +
                               " steps";
                    case Refusing::none:
                        break;
                }
                return "the driver refuses nothing";
            }
            case pass:
                return "a loop pass";
            case wait:
                return std::to_string(count) + " ms pass";
            case settle:
                return "settle: 16 passes, two seconds and 16 passes";
        }
        return "?";
    }
};

// The plan of a day, from the seed alone: what the controller means to do,
// whatever the server answers.
class Planner {
public:
    explicit Planner(uint32_t seed) : random_(seed) {}

    std::vector<Step> make(size_t steps) {
        for (int i = 0; i < 4; ++i) create(any(Numbers()));
        while (plan_.size() < steps) step();
        plan_.resize(steps);
        return plan_;
    }

private:
    static std::vector<unsigned> Numbers() {
        std::vector<unsigned> all;
        for (const Planned& planned : kBoard) all.push_back(planned.number);
        return all;
    }
    static std::vector<unsigned> Of(std::initializer_list<Kind> kinds) {
        std::vector<unsigned> out;
        for (const Planned& planned : kBoard)
            if (std::find(kinds.begin(), kinds.end(), planned.kind) != kinds.end())
                out.push_back(planned.number);
        return out;
    }
    size_t pick(size_t count) {
        return std::uniform_int_distribution<size_t>(0, count - 1)(random_);
    }
    bool chance(unsigned percent) { return pick(100) < percent; }
    unsigned any(const std::vector<unsigned>& numbers) { return numbers[pick(numbers.size())]; }

    void add(const Step& step) {
        plan_.push_back(step);
        switch (step.op) {
            case Step::create:
            case Step::destroy:
                made_.erase(step.slot);
                unlink(step.slot);
                if (step.op == Step::create) made_.insert(step.slot);
                break;
            case Step::connect:
                source_[step.target] = step.slot;
                break;
            case Step::disconnect:
                source_.erase(step.slot);
                break;
            case Step::cut:
                made_.clear();
                source_.clear();
                break;
            default:
                break;
        }
        if (refusingSteps_ > 0) --refusingSteps_;
    }
    void unlink(unsigned number) {
        source_.erase(number);
        for (auto it = source_.begin(); it != source_.end();)
            it = it->second == number ? source_.erase(it) : std::next(it);
    }
    void create(unsigned number) { add({Step::create, number}); }
    void made(unsigned number) {
        if (!made_.count(number)) create(number);
    }
    void connect(unsigned source, unsigned destination) {
        add({Step::connect, source, destination});
    }
    void wire(unsigned a, unsigned b) {
        if (source_.count(b) == 0 || source_[b] != a) connect(a, b);
        if (source_.count(a) == 0 || source_[a] != b) connect(b, a);
    }
    // A number made (as planned) nine times in ten.
    unsigned some(const std::vector<unsigned>& numbers) {
        std::vector<unsigned> live;
        for (unsigned n : numbers)
            if (made_.count(n)) live.push_back(n);
        return live.empty() || chance(10) ? any(numbers) : any(live);
    }

    void step() {
        const size_t draw = pick(100);
        if (draw < 8) {
            std::vector<unsigned> missing;
            for (unsigned n : Numbers())
                if (!made_.count(n)) missing.push_back(n);
            create(missing.empty() || chance(20) ? any(Numbers()) : any(missing));
        } else if (draw < 40) {
            connect_some();
        } else if (draw < 46) {
            repeat_some();
        } else if (draw < 52) {
            add({Step::disconnect, some(Numbers())});
        } else if (draw < 57) {
            add({Step::activate, some(chance(80) ? DChannels() : Numbers())});
        } else if (draw < 63) {
            add({Step::destroy, some(Numbers())});
        } else if (draw < 64) {
            add({Step::cut});
        } else if (draw < 67) {
            add({Step::endDChannel, some(DChannels())});
        } else if (draw < 68) {
            add({Step::endDataCall, 30});
        } else if (draw < 72) {
            refuse();
        } else if (draw < 75) {
            add({Step::pass});
        } else if (draw < 78) {
            static const int kMs[] = {10, 100, 1000, 3000};
            Step wait{Step::wait};
            wait.count = kMs[pick(4)];
            add(wait);
        } else if (draw < 82) {
            add({Step::settle});
        } else if (draw < 90) {
            cut_over();
        } else if (draw < 92) {
            far_ends();
        } else if (draw < 97) {
            listener();
        } else {
            both_ways();
        }
    }

    static std::vector<unsigned> DChannels() {
        return Of({Kind::pri, Kind::ss7, Kind::cas, Kind::briUser, Kind::briNetwork, Kind::hdlc});
    }
    static std::vector<unsigned> Lines() { return Of({Kind::trunk, Kind::briLine}); }
    // A line the D channel is wired to on a board: E1 timeslots for PRI,
    // SS7 and CAS, BRI channels for BRI; now and then the other.
    unsigned line_for(unsigned dchannel) {
        const Kind kind = PlannedAt(dchannel).kind;
        const bool bri = kind == Kind::briUser || kind == Kind::briNetwork;
        if (kind == Kind::hdlc && chance(40)) return any({40, 44, 42, 30, 10, 11});
        if (chance(15)) return any(Lines());
        return any(bri ? Of({Kind::briLine}) : Of({Kind::trunk}));
    }

    void connect_some() {
        const size_t draw = pick(100);
        if (draw < 45) {
            const unsigned d = some(DChannels()), line = line_for(d);
            if (chance(55))
                connect(line, d);
            else
                connect(d, line);
        } else if (draw < 60) {
            const unsigned peer = some(Of({Kind::trunk, Kind::briLine, Kind::briUser,
                                           Kind::briNetwork, Kind::hdlc, Kind::pri}));
            if (chance(50))
                connect(30, peer);
            else
                connect(peer, 30);
        } else if (draw < 90) {
            static const std::vector<unsigned> sources{10, 11, 12, 13, 30, 40, 42, 43, 44},
                destinations{10, 11, 12, 13, 30, 40, 41, 43, 44};
            connect(some(sources), some(destinations));
        } else {
            connect(any(Numbers()), any(Numbers()));
        }
    }

    // A connect repeated for a link the plan made.
    void repeat_some() {
        if (source_.empty()) return connect_some();
        auto link = source_.begin();
        std::advance(link, pick(source_.size()));
        connect(link->second, link->first);
    }

    void refuse() {
        if (refusingSteps_ > 0) return;
        static const Refusing kModes[] = {Refusing::next, Refusing::all, Refusing::offs,
                                          Refusing::breaks};
        Step step{Step::refuse};
        step.refusing = kModes[pick(4)];
        step.count = 1 + static_cast<int>(pick(step.refusing == Refusing::next ? 4 : 6));
        add(step);
        // A quiet period follows.
        refusingSteps_ = (step.refusing == Refusing::next ? 4 : step.count) + 6;
    }

    // A second D channel wired from a line while the first stays wired
    // both ways with it; the line is handed to it, or not; then one of them
    // is destroyed, activated or rewired.
    void cut_over() {
        static const std::vector<std::vector<unsigned>> kPairs{
            {20, 21}, {20, 21}, {20, 21}, {22, 23}, {22, 28}, {20, 22}, {24, 25}};
        std::vector<unsigned> pair = kPairs[pick(kPairs.size())];
        if (chance(50)) std::swap(pair[0], pair[1]);
        const unsigned old = pair[0], heir = pair[1];
        const bool bri =
            PlannedAt(old).kind == Kind::briUser || PlannedAt(old).kind == Kind::briNetwork;
        const std::vector<unsigned> lines = bri ? Of({Kind::briLine}) : Of({Kind::trunk});
        const unsigned line = any(lines);
        const unsigned other = lines[0] == line ? lines[1] : lines[0];
        for (unsigned n : {line, old, heir}) made(n);
        wire(line, old);
        if (chance(30)) add({Step::pass});
        connect(line, heir);
        if (chance(60)) connect(heir, line);
        const std::vector<Step> endings{{Step::destroy, old},        {Step::destroy, heir},
                                        {Step::activate, old},       {Step::activate, heir},
                                        {Step::connect, old, line},  {Step::connect, line, old},
                                        {Step::connect, other, old}, {Step::disconnect, heir},
                                        {Step::disconnect, line},    {Step::disconnect, old}};
        add(endings[pick(endings.size())]);
    }

    // A D channel wired from a line that another source feeds; then the
    // source goes, or the line is handed to the D channel.
    void listener() {
        const unsigned d = any({20, 21, 22, 23, 26, 27, 28});
        const unsigned line = any(Of({Kind::trunk}));
        const unsigned source = any({43, 40, 30, 42, line == 10 ? 11u : 10u});
        for (unsigned n : {source, line, d}) made(n);
        connect(source, line);
        connect(line, d);
        const std::vector<Step> endings{{Step::destroy, source},
                                        {Step::disconnect, line},
                                        {Step::connect, d, line},
                                        {Step::activate, d},
                                        {Step::connect, any({12, 13}), line}};
        add(endings[pick(endings.size())]);
    }

    // The two ends of a link wired over a cable, one of them moved there
    // from elsewhere or not; a connect into it from elsewhere, refused by
    // the driver or not, or from a map slot, fails or moves it; each is
    // judged once settled.
    void far_ends() {
        static const std::vector<std::vector<unsigned>> kPairs{{20, 21}, {22, 28}, {24, 25}};
        std::vector<unsigned> ends = kPairs[pick(kPairs.size())];
        const bool bri = ends[0] == 24;
        if (chance(50)) std::swap(ends[0], ends[1]);
        std::vector<unsigned> lines = bri ? Of({Kind::briLine}) : Of({Kind::trunk});
        if (chance(50)) std::swap(lines[0], lines[1]);
        const unsigned elsewhere = any(bri ? Of({Kind::trunk}) : Of({Kind::briLine}));
        for (unsigned n : {ends[0], ends[1], lines[0], lines[1], elsewhere}) made(n);
        wire(lines[1], ends[1]);
        if (chance(50)) wire(elsewhere, ends[0]);
        wire(lines[0], ends[0]);
        if (chance(50)) add({Step::settle});
        if (chance(30)) add({Step::refuse, 0, 0, Refusing::next, 1});
        if (chance(70)) connect(any({elsewhere, elsewhere, 40, 44}), ends[0]);
        add({Step::settle});
    }

    // A D channel and a peer wired both ways, then one or both go.
    void both_ways() {
        const unsigned d = any(DChannels());
        const unsigned peer = PlannedAt(d).kind == Kind::hdlc ? any({40, 44, 30, 10}) : line_for(d);
        for (unsigned n : {d, peer}) made(n);
        wire(peer, d);
        const std::vector<std::vector<Step>> endings{{{Step::destroy, d}},
                                                     {{Step::destroy, peer}},
                                                     {{Step::destroy, d}, {Step::destroy, peer}},
                                                     {{Step::disconnect, d}}};
        for (const Step& step : endings[pick(endings.size())]) add(step);
    }

    std::mt19937 random_;
    std::vector<Step> plan_;
    std::set<unsigned> made_;
    std::map<unsigned, unsigned> source_;  // destination -> source, as planned
    int refusingSteps_ = 0;
};

// ---- The oracle: what every channel must carry, from the graph alone (the
// live slots, their links and the order the links were made in, the channel
// numbers, the D channels that ended), apart from the server's switching:
// - a receive channel carries what its slot's live source sends: that
//   source's transmit channel, or the controller channel of a D-channel
//   source that is open and transmits there; a receive channel with no live
//   source is fed by the open D channel wired from it last (a listener);
// - a PRI, SS7 or CAS slot hears its source and transmits back into it; a
//   BRI slot hears its source and transmits into its receiver wired last;
//   an HDLC slot hears, and transmits into, the peer of its link made last,
//   but a peer whose transmit and receive channels differ (a map, a mixer
//   output) only over a link to it, into its receive channel, and hears its
//   transmit channel where it is wired both ways with it.
//   Each is open while so wired, unless its channel ended (until an activate
//   or a new link of it), and its controller channel carries what it hears;
// - every other channel carries no path, and a bus channel no live slot
//   names is off.

class Oracle {
public:
    enum class Family { plain, trunkSide, bri, hdlc };  // trunkSide: PRI, SS7, CAS
    struct DChannel {
        Family family = Family::plain;
        bool wired = false;  // the open condition, but for an end
        bool open = false;
        int hears = -1;
        int into = -1;        // the channel it transmits into, or would
        long order = 0;       // of the link that decides where
        int controller = -1;  // the server's controller channel; -1 closed
    };
    struct Want {
        enum Kind {
            none,
            off,
            source,
            unknown
        };  // unknown: from a channel the server did not open
        Kind kind = none;
        int from = -1;
    };
    struct Rules {
        std::vector<Want> channels;  // by channel of the fabric
        std::map<Slot*, DChannel> dchannels;
        std::set<Slot*> live;
    };

    static Family FamilyOf(Slot* slot) {
        if (auto* pstn = dynamic_cast<PstnSlot*>(slot))
            return pstn->link_mode() <= PstnSlot::pri ? Family::trunkSide : Family::bri;
        if (dynamic_cast<HdlcSlot*>(slot)) return Family::hdlc;
        return Family::plain;
    }
    static const HDLC* ChannelOf(const Slot* slot) {
        if (auto* pstn = dynamic_cast<const PstnSlot*>(slot)) return &pstn->channel();
        if (auto* hdlc = dynamic_cast<const HdlcSlot*>(slot)) return &hdlc->channel();
        return nullptr;
    }

    // A connect made a new link.
    void linked(const Slot* source, const Slot* destination) {
        order_[{source, destination}] = ++made_;
        ended_.erase(source);
        ended_.erase(destination);
    }
    // An activate answered success opens an ended channel again.
    void activated(const Slot* slot) { ended_.erase(slot); }
    void ended(const Slot* slot) { ended_.insert(slot); }
    // A slot that went, or a new one in its place.
    void forget(const Slot* slot) {
        ended_.erase(slot);
        for (auto it = order_.begin(); it != order_.end();)
            it = it->first.first == slot || it->first.second == slot ? order_.erase(it)
                                                                     : std::next(it);
    }
    void clear() {
        order_.clear();
        ended_.clear();
    }
    // Forgets links that no longer stand and slots that went.
    void prune() {
        std::set<const Slot*> registry(Slots::instance()->live().begin(),
                                       Slots::instance()->live().end());
        for (auto it = order_.begin(); it != order_.end();) {
            const auto [source, destination] = it->first;
            const bool stands = registry.count(source) && registry.count(destination) &&
                                destination->source() == source;
            it = stands ? std::next(it) : order_.erase(it);
        }
        for (auto it = ended_.begin(); it != ended_.end();)
            it = registry.count(*it) ? std::next(it) : ended_.erase(it);
    }

    Rules compute() const {
        Rules rules;
        rules.channels.assign(hal::kChannels, Want{});
        for (Slot* slot : Slots::instance()->live())
            if (!slot->hardwareLost()) rules.live.insert(slot);
        for (Slot* slot : rules.live)
            if (FamilyOf(slot) != Family::plain) rules.dchannels[slot] = dchannel(slot, rules);
        feed_receivers(rules);
        // An open D channel's controller channel carries what it hears.
        for (const auto& [slot, d] : rules.dchannels)
            if (d.open && d.controller >= 0)
                rules.channels.at(d.controller) = {Want::source, d.hears};
        // Bus channels no live slot names are off.
        std::vector<bool> named(hal::kBusChannels, false);
        for (Slot* slot : rules.live)
            for (int channel : {slot->IGetTransmitChannel(), slot->IGetReceiveChannel()})
                if (channel >= hal::kBusBase && channel < hal::kChannels)
                    named[channel - hal::kBusBase] = true;
        for (int i = 0; i < hal::kBusChannels; ++i)
            if (!named[i]) rules.channels[hal::kBusBase + i] = {Want::off};
        return rules;
    }

private:
    long order(const Slot* source, const Slot* destination) const {
        const auto it = order_.find({source, destination});
        return it == order_.end() ? 0 : it->second;
    }
    static Slot* LiveSource(const Slot* slot, const Rules& rules) {
        Slot* source = slot->source();
        return source && rules.live.count(source) ? source : nullptr;
    }

    // What a D-channel slot hears and where it transmits, from its live
    // links to peers with a channel.
    DChannel dchannel(Slot* slot, const Rules& rules) const {
        DChannel d;
        d.family = FamilyOf(slot);
        Slot* source = LiveSource(slot, rules);
        if (source && source->IGetTransmitChannel() < 0) source = nullptr;
        // The receiver whose link was made last, and that link's order.
        Slot* last = nullptr;
        for (Slot* receiver : slot->receivers())
            if (rules.live.count(receiver) && receiver->IGetReceiveChannel() >= 0 &&
                (!last || order(slot, receiver) > order(slot, last)))
                last = receiver;
        const long sourceOrder = source ? order(source, slot) : 0;
        const long lastOrder = last ? order(slot, last) : 0;
        switch (d.family) {
            case Family::trunkSide:  // hears its source, transmits back into it
                if (!source) break;
                d = DChannel{d.family,
                             true,
                             false,
                             source->IGetTransmitChannel(),
                             source->IGetReceiveChannel(),
                             sourceOrder};
                break;
            case Family::bri:  // hears its source, transmits into the receiver wired last
                if (!source || !last) break;
                d = DChannel{d.family,
                             true,
                             false,
                             source->IGetTransmitChannel(),
                             last->IGetReceiveChannel(),
                             lastOrder};
                break;
            case Family::hdlc: {  // the peer of the link made last
                const bool fromSource = source && (!last || sourceOrder > lastOrder);
                Slot* peer = fromSource ? source : last;
                if (!peer) break;
                const int tx = peer->IGetTransmitChannel(), rx = peer->IGetReceiveChannel();
                if (tx != rx && peer == source && source->source() == slot)
                    d = DChannel{d.family, true, false, tx, rx, order(slot, peer)};
                else if (fromSource)
                    d = DChannel{d.family, true, false, tx, tx == rx ? tx : -1, sourceOrder};
                else
                    d = DChannel{d.family, true, false, rx, rx, lastOrder};
                break;
            }
            case Family::plain:
                break;
        }
        d.open = d.wired && !ended_.count(slot);
        const HDLC* channel = ChannelOf(slot);
        d.controller = channel && channel->is_open() ? channel->controller_channel() : -1;
        return d;
    }

    // Each receive channel carries what its slot's live source sends, or
    // else what the listener wired last transmits into it; so does a channel
    // no slot receives on that a D channel would transmit into (an HDLC
    // slot serves the one channel of a line both ways).
    void feed_receivers(Rules& rules) const {
        const auto fedBy = [](const DChannel& d) {
            return d.controller >= 0 ? Want{Want::source, d.controller} : Want{Want::unknown};
        };
        std::map<int, std::vector<Slot*>> receiving;
        for (Slot* slot : rules.live)
            if (const int rx = slot->IGetReceiveChannel(); rx >= 0) receiving[rx].push_back(slot);
        for (const auto& [slot, d] : rules.dchannels)
            if (d.open && d.into >= 0) receiving[d.into];
        for (const auto& [rx, slots] : receiving) {
            Slot* fed = nullptr;  // of slots sharing the channel, the one linked last
            for (Slot* slot : slots)
                if (Slot* source = LiveSource(slot, rules);
                    source && (!fed || order(source, slot) > order(fed->source(), fed)))
                    fed = slot;
            Want& want = rules.channels.at(rx);
            if (fed) {
                Slot* source = fed->source();
                const auto d = rules.dchannels.find(source);
                if (d == rules.dchannels.end()) {
                    if (const int tx = source->IGetTransmitChannel(); tx >= 0)
                        want = {Want::source, tx};
                } else if (d->second.open && d->second.into == rx) {
                    want = fedBy(d->second);
                }
                continue;
            }
            const DChannel* listener = nullptr;
            for (const auto& [slot, d] : rules.dchannels)
                if (d.open && d.into == rx && (!listener || d.order > listener->order))
                    listener = &d;
            if (listener) want = fedBy(*listener);
        }
    }

    std::map<std::pair<const Slot*, const Slot*>, long> order_;
    std::set<const Slot*> ended_;
    long made_ = 0;
};

// Channels and what they carry, for the fault lines: the kinds of fault
// name them by class (a line, the controller channel of a D channel of a
// family, ...), the details by number and slot.
class Places {
public:
    explicit Places(const Oracle::Rules& rules) {
        for (Slot* slot : rules.live) {
            const int tx = slot->IGetTransmitChannel(), rx = slot->IGetReceiveChannel();
            const Kind kind = PlannedAt(slot->number()).kind;
            const char* cls = kind == Kind::trunk || kind == Kind::briLine
                                  ? "a line"
                                  : "a data call, map, mixer or RTP channel";
            if (tx >= 0) places_[tx] = {cls, tx == rx ? SlotName(*slot) : SlotName(*slot) + " tx"};
            if (rx >= 0 && rx != tx) places_[rx] = {cls, SlotName(*slot) + " rx"};
        }
        for (const auto& [slot, d] : rules.dchannels)
            if (d.controller >= 0)
                places_[d.controller] = {Family(d.family), "C of " + SlotName(*slot)};
    }
    static const char* Family(Oracle::Family family) {
        switch (family) {
            case Oracle::Family::trunkSide:
                return "C of a PRI/SS7/CAS slot";
            case Oracle::Family::bri:
                return "C of a BRI slot";
            default:
                return "C of an HDLC slot";
        }
    }
    std::string cls(int channel) const {
        const auto it = places_.find(channel);
        if (it != places_.end()) return it->second.first;
        return channel >= hal::kBusBase ? "a bus channel of no slot" : "a channel of no slot";
    }
    std::string name(int channel) const {
        const auto it = places_.find(channel);
        return "[" + std::to_string(channel) + "]" +
               (it == places_.end() ? "" : " " + it->second.second);
    }
    // A source channel by class: the controller channel of a D channel of
    // a family, another slot's channel, or one of no slot.
    std::string source(int channel) const {
        const std::string place = cls(channel);
        return place.rfind("C of ", 0) == 0 || place.find("no slot") != std::string::npos
                   ? place
                   : "a plain slot";
    }
    // What the switch or the fabric has where the rules want `want`, and
    // what the rules want: by class, the same class told apart.
    std::pair<std::string, std::string> classes(const Carries& c, const Oracle::Want& want) const {
        const std::string has = c.kind == Carries::source        ? source(c.from)
                                : want.kind == Oracle::Want::off ? "silence"
                                                                 : "no path";
        std::string wanted = want.kind == Oracle::Want::source ? source(want.from)
                             : want.kind == Oracle::Want::off  ? "off"
                                                               : "no path";
        if (wanted == has)
            wanted = "another " + (wanted.rfind("a ", 0) == 0 ? wanted.substr(2) : wanted);
        return {has, wanted};
    }
    std::string names(const Carries& c, const Oracle::Want& want) const {
        const auto carried = [&](bool source, int from, const char* otherwise) {
            return source ? name(from) : std::string(otherwise);
        };
        return carried(c.kind == Carries::source, c.from,
                       c.kind == Carries::off ? "off" : "silence") +
               ", the rules " +
               carried(want.kind == Oracle::Want::source, want.from,
                       want.kind == Oracle::Want::off ? "off" : "no path");
    }

private:
    std::map<int, std::pair<std::string, std::string>> places_;  // class, name
};

bool Matches(const Oracle::Want& want, const Carries& c) {
    switch (want.kind) {
        case Oracle::Want::source:
            return c.kind == Carries::source && c.from == want.from;
        case Oracle::Want::off:
            return c.kind == Carries::off;
        case Oracle::Want::none:
            return c.kind != Carries::source;
        case Oracle::Want::unknown:
            break;
    }
    return true;
}

// ---- Faults: each kind once, with how often it came and where first.

struct Where {
    uint32_t seed = 0;
    int day = 1;
    size_t step = 0;
    std::vector<std::string> context;  // the steps before, and this one
};

class Faults {
public:
    void add(const std::string& kind, const std::string& detail, const Where& where) {
        Entry& entry = seen_[kind];
        if (entry.count++ == 0) {
            entry.where = where;
            entry.detail = detail;
        }
        if (watching_ == kind) watched_ = true;
    }
    bool empty() const { return seen_.empty(); }
    size_t kinds() const { return seen_.size(); }
    // Minimising: whether the kind has come.
    void watch(const std::string& kind) {
        watching_ = kind;
        watched_ = false;
    }
    bool watched() const { return watched_; }
    std::map<std::string, Where> firsts() const {
        std::map<std::string, Where> out;
        for (const auto& [kind, entry] : seen_) out[kind] = entry.where;
        return out;
    }
    // One line per kind, with where it came first. The kinds that differ
    // only in the step they arose at (" - at ...") are grouped under one
    // line, with the commands before the first of them.
    std::string report() const {
        std::ostringstream out;
        for (auto it = seen_.begin(); it != seen_.end();) {
            const size_t at = it->first.find(kAt);
            const std::string base = it->first.substr(0, at);
            auto end = std::next(it);
            while (at != std::string::npos && end != seen_.end() &&
                   end->first.compare(0, at + kAt.size(), it->first, 0, at + kAt.size()) == 0)
                ++end;
            unsigned count = 0;
            auto first = it;
            for (auto one = it; one != end; ++one) {
                count += one->second.count;
                if (Earlier(one->second.where, first->second.where)) first = one;
            }
            out << "- " << base << " (" << count << " times)";
            if (at == std::string::npos) {
                out << "; first: " << Place(it->second) << "\n";
            } else {
                out << "\n";
                for (auto one = it; one != end; ++one)
                    out << "    at " << one->first.substr(at + kAt.size()) << " ("
                        << one->second.count << " times); first: " << Place(one->second) << "\n";
            }
            for (const std::string& line : first->second.where.context)
                out << "      " << line << "\n";
            it = end;
        }
        return out.str();
    }

    // What a kind says of the step a fault arose at.
    static inline const std::string kAt = " - at ";

private:
    struct Entry {
        unsigned count = 0;
        Where where;
        std::string detail;
    };
    static bool Earlier(const Where& one, const Where& other) {
        return std::tie(one.seed, one.day, one.step) < std::tie(other.seed, other.day, other.step);
    }
    static std::string Place(const Entry& entry) {
        return "seed " + std::to_string(entry.where.seed) + ", day " +
               std::to_string(entry.where.day) + ", step " + std::to_string(entry.where.step) +
               ": " + entry.detail;
    }
    std::map<std::string, Entry> seen_;
    std::string watching_;
    bool watched_ = false;
};

// ---- The server in-process with a controller, and the driver's refusals.

class Rig {
public:
    Rig() {
        CreateSlotFactories();
        HwMux::instance().IsOpened();
        Board::instance().refuse = [this](sim::Op op, const std::string& path, uint32_t request,
                                          const void* arg) {
            return Refuse(op, path, request, arg);
        };
        for (int line : {48, 5}) Fabric().frames.cable(line, {CabledTo(line)});
        connect();
    }
    // Every slot goes before the server does.
    ~Rig() {
        Board::instance().refuse = nullptr;
        if (controller_) cut();
    }

    struct Answer {
        unsigned count = 0;  // answers with the command's seq
        bool other = false;  // an answer with another seq
        std::optional<Cause> error;
        bool success() const { return count == 1 && !error; }
        std::string text() const {
            if (count == 0) return "no answer";
            if (!error) return "success";
            LGCP::ErrorCause named;
            named.setValue(*error);
            std::ostringstream out;
            out << named;
            return out.str();
        }
    };

    Answer send(const LGCP::Command& command, std::optional<unsigned> slot) {
        const int seq = ++seq_ & 0xFFFF;
        controller_->send(command, seq, slot);
        Answer answer;
        for (unsigned passes : {test::TestController::default_passes, 3u}) {
            const auto message = controller_->receive_until(test::is_response, passes);
            if (!message) break;
            if (test::seq_of(*message) != seq) {
                answer.other = true;
                continue;
            }
            if (answer.count++ == 0) answer.error = test::error_of(*message);
        }
        return answer;
    }
    // A controller connects and queries the board's resources.
    void connect() {
        controller_ = std::make_unique<test::TestController>(server_);
        connected_ = controller_->connect();
        send(test::command(Alternative::query), std::nullopt);
    }
    bool connected() const { return connected_; }
    // The controller goes: the server destroys every slot.
    void cut() {
        controller_->close();
        server_.pump(5);
        server_.advance(1000);  // slots slow to finish are dropped
        controller_.reset();
    }
    void pump(unsigned passes) { server_.pump(passes); }
    // Frames on the board arrive before the clock moves: a line's delay is
    // far below a link's timers.
    void advance(unsigned ms) { server_.loop().advance_settled(ms); }

    // The server's error lines since the last call.
    std::string errors() {
        const std::string text = errors_.str();
        errors_.clear();
        notices_.clear();
        progress_.clear();
        return text;
    }

    // Refusals
    void refuse(Refusing mode, int count) {
        refusing_ = mode;
        left_ = count;
    }
    // A step is over: refusals counted in steps count it.
    void stepped() {
        if (refusing_ != Refusing::none && refusing_ != Refusing::next && --left_ <= 0)
            refusing_ = Refusing::none;
    }
    bool refusing() const { return refusing_ != Refusing::none; }
    unsigned refused() const { return refused_; }
    // Whether a whole loop pass, which tries again what the switch owes,
    // has run since the driver last refused.
    bool passed_since_refusal() { return server_.loop().clock().polls() > refusedAtPoll_ + 1; }

private:
    // A request of the switch that changes a path or a bus channel: a
    // connect; a silence or switch-off of a bus channel (but the refresh's
    // of one that is off), or of another channel that carries a path. A
    // channel without a path carries none whether off or silent, and the
    // server may have a quiet channel either way from one day to the next
    // (off at the first, silence after), so a request that only swaps the
    // two is neither refused nor counted.
    static bool SwitchRequest(sim::Op op, const std::string& path, uint32_t request,
                              const void* arg) {
        if (op != sim::Op::Ioctl || path != hal::kDevice || !arg) return false;
        if (request == hal::kMuxConnect) return true;
        if (request != hal::kMuxWriteByte && request != hal::kMuxDisable) return false;
        int32_t channel;
        std::memcpy(&channel, arg, sizeof channel);
        if (channel < 0 || channel >= hal::kChannels) return false;
        const HalModel::Output output = Fabric().channel(channel).output;
        if (channel < hal::kBusBase) return output == HalModel::Output::Source;
        return request == hal::kMuxWriteByte || output != HalModel::Output::Off;
    }
    int Refuse(sim::Op op, const std::string& path, uint32_t request, const void* arg) {
        if (refusing_ == Refusing::none || !SwitchRequest(op, path, request, arg)) return 0;
        switch (refusing_) {
            case Refusing::next:
                if (--left_ <= 0) refusing_ = Refusing::none;
                break;
            case Refusing::offs:
                if (request != hal::kMuxDisable) return 0;
                break;
            case Refusing::breaks:
                if (request == hal::kMuxConnect) return 0;
                break;
            default:
                break;
        }
        ++refused_;
        refusedAtPoll_ = server_.loop().clock().polls();
        return EIO;
    }

    test::StreamCapture notices_{std::cout}, errors_{std::cerr}, progress_{std::clog};
    test::HardwareReset hardware_;
    test::ServerHarness server_{ControllerServices()};
    std::unique_ptr<test::TestController> controller_;
    bool connected_ = false;
    int seq_ = 0;
    Refusing refusing_ = Refusing::none;
    int left_ = 0;
    unsigned refused_ = 0;
    unsigned refusedAtPoll_ = 0;
};

// The graph: the registry's slots and their links.
struct Graph {
    std::set<const Slot*> slots;
    std::set<std::pair<const Slot*, const Slot*>> links;

    static Graph Now() {
        Graph graph;
        for (const Slot* slot : Slots::instance()->live()) {
            graph.slots.insert(slot);
            if (slot->source()) graph.links.insert({slot->source(), slot});
        }
        return graph;
    }
    bool operator==(const Graph& other) const {
        return slots == other.slots && links == other.links;
    }
    // Without a slot and its links.
    Graph without(const Slot* slot) const {
        Graph graph = *this;
        graph.slots.erase(slot);
        for (auto it = graph.links.begin(); it != graph.links.end();)
            it = it->first == slot || it->second == slot ? graph.links.erase(it) : std::next(it);
        return graph;
    }
};

// The MCC channel the driver gave on `timeslot`, null when none.
sim::Channel* MccChannelOn(int timeslot) {
    auto& model = *Board::instance().model_as<sim::MccModel>(mcc::kDevice);
    for (sim::Channel* channel : Board::instance().channels(mcc::kDevice))
        if (model.ioctl_value(*channel, mcc::MCC_TIMESLOT, 0) == timeslot) return channel;
    return nullptr;
}

// How often each D channel's link layer started, and whether it runs.
using LinkStates = std::map<const Slot*, std::pair<unsigned, bool>>;
LinkStates LinkStatesNow() {
    LinkStates states;
    for (const Slot* slot : Slots::instance()->live())
        if (const auto* d = dynamic_cast<const DChannelSlot*>(slot))
            states[slot] = {d->link_starts(), d->link_running()};
    return states;
}

// Whether the fabric carries the channel's line both ways.
bool FabricCarriesLine(const HDLC& channel, const std::vector<Carries>& fabric) {
    const int c = channel.controller_channel(), hears = channel.heard(), feeds = channel.feeds();
    const auto from = [&](int rx, int tx) {
        return fabric[rx].kind == Carries::source && fabric[rx].from == tx;
    };
    return c >= 0 && hears >= 0 && feeds >= 0 && from(c, hears) && from(feeds, c);
}

// ---- One seed: the plan played on a server, checked after every step,
// then a cut and the same plan again.

constexpr size_t kContext = 12;

class Player {
public:
    Player(uint32_t seed, Faults& faults) : seed_(seed), faults_(faults) {}

    // Plays the plan, the end of the day and, with `secondDay`, the plan
    // again on the same server. Stops early once a watched fault came.
    void play(const std::vector<Step>& plan, bool secondDay) {
        Rig rig;
        rig_ = &rig;
        if (!rig.connected()) {
            fault("no controller gets in", "");
            return;
        }
        for (day_ = 1; day_ <= (secondDay ? 2 : 1); ++day_) {
            if (day_ == 2) {
                rig.connect();
                history_.clear();
            }
            for (step_ = 0; step_ < plan.size() && !faults_.watched(); ++step_)
                perform(plan[step_]);
            if (faults_.watched()) break;
            end_of_day();
        }
        rig_ = nullptr;
    }

private:
    // ---- Steps

    void perform(const Step& step) {
        Rig& rig = *rig_;
        const unsigned refusedBefore = rig.refused();
        const Graph before = Graph::Now();
        std::string outcome;
        settled_ = false;
        ++performed_;
        refusedAtStart_ = refusedBefore;
        at_ = At(step.op);
        current_ = "#" + std::to_string(step_) + " " + step.text();
        switch (step.op) {
            case Step::create:
                outcome = create(step.slot, before);
                break;
            case Step::connect:
                outcome = connect(step.slot, step.target, before);
                break;
            case Step::disconnect:
                outcome = command(test::command(Alternative::disconnect), step.slot, before);
                break;
            case Step::activate:
                outcome = activate(step.slot, before, oracle_.compute());
                break;
            case Step::destroy:
                outcome = command(test::command(Alternative::destroy), step.slot, before);
                break;
            case Step::cut:
                rig.cut();
                oracle_.clear();
                links_.clear();
                rig.connect();
                if (!rig.connected()) fault("no controller gets in after a cut", "");
                break;
            case Step::endDChannel:
                outcome = end_dchannel(step.slot);
                break;
            case Step::endDataCall:
                outcome = end_data_call(step.slot);
                break;
            case Step::refuse:
                rig.refuse(step.refusing, step.count);
                break;
            case Step::pass:
                rig.pump(1);
                break;
            case Step::wait:
                rig.advance(static_cast<unsigned>(step.count));
                break;
            case Step::settle:
                settled_ = !rig.refusing();
                rig.pump(16);
                rig.advance(2000);  // a link timer's round
                rig.pump(16);       // the answers to what the link timers sent last
                settled_ = settled_ && !rig.refusing() && rig.refused() == refusedBefore;
                break;
        }
        refusedInStep_ = rig.refused() - refusedBefore;
        const std::string refused =
            refusedInStep_ ? " (" + std::to_string(refusedInStep_) + " refused)" : "";
        rig.stepped();
        history_.push_back(current_ + (outcome.empty() ? "" : " -> " + outcome) + refused);
        current_.clear();
        rig.errors();
        oracle_.prune();
        const std::vector<Carries> fabric = FabricNow();
        check(fabric);
        record(outcome, fabric);
    }

    // The step a fault arises at, as its kind says it.
    static const char* At(Step::Op op) {
        static const char* const kAt[] = {"a create",          "a connect",        "a disconnect",
                                          "an activate",       "a destroy",        "a cut",
                                          "a D channel's end", "a data call's end"};
        return static_cast<size_t>(op) < std::size(kAt) ? kAt[op] : "the passing of time";
    }

    std::string create(unsigned number, const Graph& before) {
        Slot* old = Slots::instance()->at(number);
        const Rig::Answer answer = answered(rig_->send(Creation(number), number));
        Slot* now = Slots::instance()->at(number);
        if (now != old || answer.success()) {
            oracle_.forget(old);
            oracle_.forget(now);
        }
        // The slot it replaces goes, whatever the answer.
        if (!answer.success() && !(Graph::Now() == before.without(old)) &&
            !(Graph::Now() == before))
            fault("a create answered as failed changes the graph beyond its number",
                  "slot " + std::to_string(number) + ": " + answer.text());
        return answer.text();
    }

    std::string connect(unsigned s, unsigned d, const Graph& before) {
        Slot* source = Slots::instance()->at(s);
        Slot* destination = Slots::instance()->at(d);
        Slot* old = destination ? destination->source() : nullptr;
        const LinkStates links = LinkStatesNow();
        const Rig::Answer answer = answered(rig_->send(test::connect_command(d), s));
        const std::string lines = rig_->errors();
        if (answer.success()) {
            const bool made = source && destination && Slots::instance()->at(d) == destination &&
                              destination->source() == source;
            at_ = old == source ? "a repeated connect" : old ? "a reconnection" : "a new link";
            if (!made)
                fault("a connect answered success leaves the link unmade", "");
            else if (old != source)
                oracle_.linked(source, destination);
        } else {
            at_ = "a failed connect";
        }
        if (!answer.success() && answer.count == 1 && !(Graph::Now() == before)) {
            // A reconnection whose new path and old path the driver both
            // refused drops the link, and says so.
            Graph dropped = before;
            if (old) dropped.links.erase({old, destination});
            const bool lost = old && old != source && Graph::Now() == dropped &&
                              lines.find("lost its path") != std::string::npos &&
                              rig_->refused() > refusedAtStart_;
            if (!lost)
                fault("a connect answered " + answer.text() + " changes the graph",
                      std::to_string(s) + " -> " + std::to_string(d));
        }
        leaves_links(answer, before, links, std::to_string(s) + " -> " + std::to_string(d));
        return answer.text();
    }

    // A command answered as failed, the graph as it was, stops and starts
    // no link layer.
    void leaves_links(const Rig::Answer& answer, const Graph& before, const LinkStates& links,
                      const std::string& detail) {
        if (answer.count == 1 && answer.error && Graph::Now() == before && LinkStatesNow() != links)
            fault(std::string("a command answered ") + answer.text() + " stops or starts a link",
                  at_ + ": " + detail);
    }

    // A command on one slot whose failure changes nothing.
    std::string command(const LGCP::Command& command, unsigned number, const Graph& before) {
        const LinkStates links = LinkStatesNow();
        const Rig::Answer answer = answered(rig_->send(command, number));
        if (answer.count == 1 && answer.error && !(Graph::Now() == before)) {
            fault("a " + Describe(command) + " answered " + answer.text() + " changes the graph",
                  "slot " + std::to_string(number));
        }
        leaves_links(answer, before, links, Describe(command) + " " + std::to_string(number));
        return answer.text();
    }

    static std::string Describe(const LGCP::Command& command) {
        switch (command.selection()) {
            case Alternative::disconnect:
                return "disconnect";
            case Alternative::destroy:
                return "destroy";
            case Alternative::activate:
                return "activate";
            default:
                return "command";
        }
    }

    // A D channel wired is opened again and answered success; one not
    // wired is refused.
    std::string activate(unsigned number, const Graph& before, const Oracle::Rules& rules) {
        Slot* slot = Slots::instance()->at(number);
        const std::string text = command(test::activate(), number, before);
        const auto d = rules.dchannels.find(slot);
        if (d == rules.dchannels.end()) return text;
        const bool success = text == "success";
        if (success) oracle_.activated(slot);
        if (success != d->second.wired)
            fault(std::string("an activate of a ") + (d->second.wired ? "wired " : "unwired ") +
                      PlannedAt(number).name + " slot is answered " + text,
                  "slot " + std::to_string(number));
        return text;
    }

    std::string end_dchannel(unsigned number) {
        Slot* slot = Slots::instance()->at(number);
        const HDLC* channel = slot ? Oracle::ChannelOf(slot) : nullptr;
        if (!channel || !channel->is_open()) return "no channel open";
        sim::Channel* open = MccChannelOn(channel->controller_channel());
        if (!open) return "no such MCC channel";
        open->hang_up();
        oracle_.ended(slot);
        // The frames that came before the end are read first.
        for (int pass = 0; pass < 32 && channel->is_open(); ++pass) rig_->pump(1);
        return "ended";
    }

    std::string end_data_call(unsigned number) {
        Slot* slot = Slots::instance()->at(number);
        if (!slot || slot->hardwareLost() || slot->IGetTransmitChannel() < 0) return "no data call";
        sim::Channel* open = MccChannelOn(slot->IGetTransmitChannel());
        if (!open) return "no such MCC channel";
        open->hang_up();
        for (int pass = 0; pass < 32 && !slot->hardwareLost(); ++pass) rig_->pump(1);
        return "ended";
    }

    Rig::Answer answered(const Rig::Answer& answer) {
        if (answer.count == 0) fault("a command is not answered", "");
        if (answer.count > 1) fault("a command is answered twice", "");
        if (answer.other) fault("an answer with another command's seq comes", "");
        return answer;
    }

    // The end of the day: refusals over, the refresh runs; the controller
    // is cut, and nothing stays switched.
    void end_of_day() {
        rig_->refuse(Refusing::none, 0);
        Step settle{Step::settle};
        perform(settle);
        ++step_;
        rig_->cut();
        oracle_.clear();
        links_.clear();
        rig_->pump(16);
        rig_->advance(1000);
        history_.push_back("#" + std::to_string(step_) + " the controller is cut, the day ends");
        const std::vector<Carries> fabric = FabricNow();
        for (int channel = 0; channel < hal::kChannels; ++channel) {
            const Carries c = fabric[channel];
            if (c.kind == Carries::source)
                fault("a path stays after the day's cut",
                      "[" + std::to_string(channel) + "] <- [" + std::to_string(c.from) + "]");
            else if (channel >= hal::kBusBase && c.kind != Carries::off)
                fault("a bus channel stays driven after the day's cut",
                      "[" + std::to_string(channel) + "]");
            if (SwitchView::owes(channel) || SwitchView::wanted(channel).kind == Carries::source)
                fault("the switch wants or owes a channel after the day's cut",
                      "[" + std::to_string(channel) + "]");
        }
        record("cut", fabric);
    }

    // ---- Checks after every step

    // A fault is reported where it arises: a channel or slot found wrong
    // the same way after the step before is not again. The kind says at
    // what step it arose, and whether the driver refused in it.
    void check(const std::vector<Carries>& fabric) {
        const Oracle::Rules rules = oracle_.compute();
        const Places places(rules);
        const std::string at = Faults::kAt + at_ + (refusedInStep_ ? ", the driver refusing" : "");
        std::set<std::string> standing, kinds;
        const auto arises = [&](const std::string& kind, const std::string& detail, bool where) {
            const std::string key = kind + "|" + detail;
            standing.insert(key);
            if (standing_.count(key)) return;
            const std::string named = where ? kind + at : kind;
            if (kinds.insert(named).second) fault(named, detail);
        };
        const auto against = [&](const char* what, int channel, const Carries& c,
                                 const Oracle::Want& want) {
            const auto [has, wanted] = places.classes(c, want);
            arises(std::string(what) + " " + places.cls(channel) + ": " + has +
                       ", the rules: " + wanted,
                   places.name(channel) + " " + places.names(c, want), true);
        };
        const bool quiet = rig_->passed_since_refusal();
        for (int channel = 0; channel < hal::kChannels; ++channel) {
            const Oracle::Want& want = rules.channels[channel];
            const Carries wanted = SwitchView::wanted(channel), has = SwitchView::has(channel),
                          on = fabric[channel];
            const bool wantsRight = Matches(want, wanted);
            if (!wantsRight) against("the switch wants of", channel, wanted, want);
            if (has.kind != on.kind || (has.kind == Carries::source && has.from != on.from)) {
                const Oracle::Want as{
                    on.kind == Carries::source ? Oracle::Want::source : Oracle::Want::none,
                    on.from};
                const auto [recorded, driver] = places.classes(has, as);
                arises("the switch records of " + places.cls(channel) + ": " + recorded +
                           ", the fabric has: " + driver,
                       places.name(channel), true);
            }
            if (quiet && SwitchView::owes(channel))
                arises("the switch owes " + places.cls(channel) +
                           " though the driver refused nothing lately",
                       places.name(channel), true);
            // Once the refresh has run the fabric itself is checked where
            // the switch wants what the rules say, each settling on its own.
            if (settled_ && wantsRight && !Matches(want, on)) {
                const auto [has, wanted] = places.classes(on, want);
                const std::string kind = "once settled the fabric gives " + places.cls(channel) +
                                         ": " + has + ", the rules: " + wanted;
                if (kinds.insert(kind).second)
                    fault(kind, places.name(channel) + " " + places.names(on, want));
            }
        }
        for (const auto& [slot, d] : rules.dchannels) {
            const bool open = d.controller >= 0;
            if (open == d.open) continue;
            const std::string family = d.family == Oracle::Family::trunkSide ? "PRI/SS7/CAS"
                                       : d.family == Oracle::Family::bri     ? "BRI"
                                                                             : "HDLC";
            arises("the HDLC channel of " + std::string(d.wired ? "a wired " : "an unwired ") +
                       family + " slot is " + (open ? "open" : "closed") +
                       (d.wired && !d.open ? " after it ended" : ""),
                   SlotName(*slot), true);
        }
        follow_links(fabric);
        if (settled_)
            for (const auto& [a, b] : FarEnds())
                if (!dynamic_cast<const PstnSlot*>(a)->link_up())
                    arises(std::string("once settled the link of a ") +
                               PlannedAt(a->number()).name + " slot with a live far end is down",
                           SlotName(*a) + " with " + SlotName(*b), false);
        standing_ = std::move(standing);
    }

    // ---- The link layers

    // A running link layer, and whether the fabric carried its line at
    // every step since it started.
    struct Link {
        unsigned starts = 0;
        bool carried = false;
        long started = 0;  // the step it started at
    };

    void follow_links(const std::vector<Carries>& fabric) {
        std::map<const Slot*, Link> now;
        for (const auto& [slot, state] : LinkStatesNow()) {
            if (!state.second) continue;
            Link link{state.first, FabricCarriesLine(*Oracle::ChannelOf(slot), fabric),
                      performed_};
            const auto was = links_.find(slot);
            if (was != links_.end() && was->second.starts == link.starts)
                link = Link{link.starts, link.carried && was->second.carried, was->second.started};
            now[slot] = link;
        }
        links_ = std::move(now);
    }

    // The link layers whose far end over a cable runs the other side of the
    // link, the fabric carrying both since they started, the one to judge
    // first. A LAPD link is judged where it started after its far end: the
    // far end answers its SABME, but one that started first may have given
    // up meanwhile (its last SABME answered, its own left unanswered), and
    // a BRI network side asks nothing of a terminal.
    std::vector<std::pair<const Slot*, const Slot*>> FarEnds() const {
        std::vector<std::pair<const Slot*, const Slot*>> pairs;
        for (const auto& [a, la] : links_) {
            for (const auto& [b, lb] : links_) {
                const Kind ka = PlannedAt(a->number()).kind, kb = PlannedAt(b->number()).kind;
                const bool later = la.started >= lb.started;
                const bool sides = (ka == Kind::ss7 && kb == Kind::ss7 && a != b) ||
                                   (ka == Kind::pri && kb == Kind::pri && a != b && later) ||
                                   (ka == Kind::briUser && kb == Kind::briNetwork && later);
                const HDLC* ca = Oracle::ChannelOf(a);
                const HDLC* cb = Oracle::ChannelOf(b);
                if (sides && la.carried && lb.carried && CabledTo(ca->feeds()) == cb->heard() &&
                    CabledTo(cb->feeds()) == ca->heard())
                    pairs.push_back({a, b});
            }
        }
        return pairs;
    }

    // ---- The second day against the first

    // What the step answered, and what the fabric carries after it: its
    // paths and the bus channels it drives (a channel off and one driven
    // with silence carry alike). A channel the switch owes is left out: the
    // requests of one command go in the order of the slots in memory, so
    // what a refused channel still carries may differ from day to day.
    struct Seen {
        std::string answer;
        std::map<int, Carries> fabric;
        std::set<int> owed;
    };

    void record(const std::string& outcome, const std::vector<Carries>& fabric) {
        Seen seen{outcome, {}, {}};
        for (int channel = 0; channel < hal::kChannels; ++channel) {
            if (SwitchView::owes(channel)) seen.owed.insert(channel);
            if (fabric[channel].kind == Carries::source ||
                (channel >= hal::kBusBase && fabric[channel].kind != Carries::off))
                seen.fabric[channel] = fabric[channel];
        }
        if (day_ == 1) return days_.push_back(std::move(seen));
        const size_t index = dayTwo_++;
        if (index >= days_.size() || compared_) return;
        const Seen& first = days_[index];
        if (first.answer != seen.answer) {
            compared_ = true;
            fault("the second day answers otherwise than the first",
                  "first \"" + first.answer + "\", second \"" + seen.answer + "\"");
            return;
        }
        const auto text = [](const std::map<int, Carries>& on, int channel) {
            const auto it = on.find(channel);
            if (it == on.end()) return std::string("nothing");
            return it->second.kind == Carries::driven ? std::string("silence")
                                                      : "[" + std::to_string(it->second.from) + "]";
        };
        std::set<int> channels;
        for (const Seen* day : {&first, static_cast<const Seen*>(&seen)})
            for (const auto& [channel, carries] : day->fabric) channels.insert(channel);
        for (int channel : channels) {
            if (first.owed.count(channel) || seen.owed.count(channel)) continue;
            const std::string one = text(first.fabric, channel), two = text(seen.fabric, channel);
            if (one == two) continue;
            compared_ = true;
            fault("the second day switches otherwise than the first",
                  "[" + std::to_string(channel) + "] first " + one + ", second " + two);
            return;
        }
    }

    // With the steps before, and the step under way.
    void fault(const std::string& kind, const std::string& detail) {
        Where where{seed_, day_, step_, {}};
        const size_t from = history_.size() > kContext ? history_.size() - kContext : 0;
        where.context.assign(history_.begin() + static_cast<long>(from), history_.end());
        if (!current_.empty()) where.context.push_back(current_ + " (under way)");
        faults_.add(kind, detail, where);
    }

    uint32_t seed_;
    Faults& faults_;
    Rig* rig_ = nullptr;
    Oracle oracle_;
    int day_ = 1;
    size_t step_ = 0;
    std::vector<std::string> history_;
    unsigned refusedAtStart_ = 0, refusedInStep_ = 0;
    bool settled_ = false;
    // What the step was, for the kinds of fault it gives rise to.
    std::string at_;
    std::string current_;  // the step under way
    // The faults found after the last step.
    std::set<std::string> standing_;
    std::vector<Seen> days_;
    size_t dayTwo_ = 0;
    bool compared_ = false;
    std::map<const Slot*, Link> links_;
    long performed_ = 0;  // steps of every day
};

// ---- Minimising: the fewest steps of a plan that still show a kind.

std::vector<Step> Minimise(uint32_t seed, const std::vector<Step>& plan, const std::string& kind,
                           const Where& where) {
    const bool secondDay = where.day == 2 || kind.find("second day") != std::string::npos;
    const auto shows = [&](const std::vector<Step>& candidate) {
        Faults faults;
        faults.watch(kind);
        Player(seed, faults).play(candidate, secondDay);
        return faults.watched();
    };
    std::vector<Step> shortest = plan;
    if (where.day == 1 && where.step + 1 < plan.size()) shortest.resize(where.step + 1);
    if (!shows(shortest)) {
        shortest = plan;
        if (!shows(shortest)) return shortest;
    }
    for (size_t chunk = std::max<size_t>(shortest.size() / 2, 1);;
         chunk = std::max<size_t>(chunk / 2, 1)) {
        bool removed = false;
        for (size_t at = 0; at < shortest.size();) {
            std::vector<Step> shorter = shortest;
            const size_t end = std::min(at + chunk, shorter.size());
            shorter.erase(shorter.begin() + static_cast<long>(at),
                          shorter.begin() + static_cast<long>(end));
            if (!shorter.empty() && shows(shorter)) {
                shortest = shorter;
                removed = true;
            } else {
                at += chunk;
            }
        }
        if (chunk == 1 && !removed) break;
    }
    return shortest;
}

std::string Text(const std::vector<Step>& plan) {
    std::string text;
    for (size_t i = 0; i < plan.size(); ++i)
        text += "      " + std::to_string(i) + ". " + plan[i].text() + "\n";
    return text;
}

// Plays the seeds; the report of what they found, "" when nothing. The
// kinds of fault that contain `minimise` ("1": every kind) are shown with
// the fewest steps of their first plan that still show them, each also on
// the standard error stream as it is found.
std::string PlaySeeds(uint32_t first, unsigned seeds, size_t steps, const std::string& minimise) {
    Faults faults;
    for (uint32_t seed = first; seed < first + seeds; ++seed)
        Player(seed, faults).play(Planner(seed).make(steps), true);
    if (faults.empty()) return "";
    std::string report = std::to_string(faults.kinds()) + " kinds of fault:\n" + faults.report();
    if (minimise.empty() || minimise == "0") return report;
    report += "\nminimised:\n";
    for (const auto& [kind, where] : faults.firsts()) {
        if (minimise != "1" && kind.find(minimise) == std::string::npos) continue;
        const std::vector<Step> shortest =
            Minimise(where.seed, Planner(where.seed).make(steps), kind, where);
        const std::string text =
            "- " + kind + " (seed " + std::to_string(where.seed) + "):\n" + Text(shortest);
        std::cerr << text << std::flush;
        report += text;
    }
    return report;
}

unsigned FromEnvironment(const char* name, unsigned otherwise) {
    const char* value = std::getenv(name);
    return value && *value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : otherwise;
}

std::string Minimising() {
    const char* value = std::getenv("RANDOM_SWITCH_MINIMISE");
    return value ? value : "";
}

TEST(RandomSwitch, FollowsTheGraphThroughRefusals) {
    const std::string report = PlaySeeds(1, 5, 250, Minimising());
    EXPECT_TRUE(report.empty()) << report;
}

// Plans the seeds found faults with, shortened, each played as it stands.
struct FoundPlan {
    const char* name;
    std::vector<Step> steps;
};

const FoundPlan kFoundPlans[] = {
    {"a listener takes the trunk back when the other's channel ends",
     {{Step::create, 21}, {Step::create, 11}, {Step::connect, 11, 21}, {Step::create, 22},
      {Step::connect, 11, 22}, {Step::endDChannel, 22}}},
    {"a failed connect leaves an ended channel closed",
     {{Step::create, 21}, {Step::create, 11}, {Step::create, 30}, {Step::connect, 11, 21},
      {Step::endDChannel, 21}, {Step::connect, 30, 21}}},
    {"a new link opens an ended channel for good",
     {{Step::create, 10}, {Step::create, 21}, {Step::connect, 10, 21}, {Step::endDChannel, 21},
      {Step::create, 20}, {Step::connect, 21, 10}, {Step::connect, 20, 10}}},
    {"a listener takes the trunk back when the other's link moves",
     {{Step::create, 11}, {Step::create, 10}, {Step::create, 26}, {Step::create, 22},
      {Step::connect, 22, 10}, {Step::create, 21}, {Step::connect, 11, 21},
      {Step::connect, 11, 26}, {Step::connect, 26, 10}}},
    {"an HDLC slot wired from a map slot drives not its transmit channel",
     {{Step::create, 40}, {Step::create, 26}, {Step::connect, 40, 26}}},
    {"an HDLC slot wired from a mixer output feeds not its input, whatever else does",
     {{Step::create, 42}, {Step::create, 41}, {Step::create, 26}, {Step::create, 43},
      {Step::connect, 42, 26}, {Step::connect, 43, 41}, {Step::disconnect, 41}}},
    {"a link up moved, both ends one after the other, to another pair of lines comes up there",
     {{Step::create, 10}, {Step::create, 11}, {Step::create, 12}, {Step::create, 13},
      {Step::create, 20}, {Step::create, 21}, {Step::connect, 10, 20}, {Step::connect, 11, 21},
      {Step::settle}, {Step::connect, 13, 21}, {Step::connect, 12, 20}}},
    {"an SS7 slot whose trunk a listener took has it back: the link aligns again",
     {{Step::create, 22}, {Step::create, 28}, {Step::create, 10}, {Step::create, 11},
      {Step::connect, 10, 28}, {Step::connect, 11, 22}, {Step::create, 23},
      {Step::connect, 11, 23}, {Step::connect, 22, 11}}},
    {"an SS7 slot that fed nothing heard nothing, and aligns once it feeds its trunk",
     {{Step::create, 22}, {Step::create, 23}, {Step::create, 10}, {Step::connect, 10, 22},
      {Step::connect, 23, 10}, {Step::create, 28}, {Step::create, 11}, {Step::connect, 11, 28},
      {Step::connect, 22, 10}}},
    {"a connect into a live link that the driver refuses leaves it running",
     {{Step::create, 11}, {Step::create, 22}, {Step::connect, 11, 22}, {Step::create, 10},
      {Step::create, 28}, {Step::connect, 10, 28}, {Step::settle},
      {Step::refuse, 0, 0, Refusing::next, 1}, {Step::connect, 11, 28}}},
};

TEST(RandomSwitch, PlansOfFaultsFound) {
    for (const FoundPlan& plan : kFoundPlans) {
        Faults faults;
        Player(1, faults).play(plan.steps, false);
        EXPECT_TRUE(faults.empty()) << plan.name << ":\n" << faults.report();
    }
}

// By hand: RANDOM_SWITCH_SEEDS seeds from RANDOM_SWITCH_FIRST_SEED, of
// RANDOM_SWITCH_STEPS steps. RANDOM_SWITCH_MINIMISE=1 minimises the first
// plan of each kind of fault, =<text> of the kinds that contain the text
// (in either test).
TEST(RandomSwitch, DISABLED_ManySeeds) {
    const std::string report = PlaySeeds(
        FromEnvironment("RANDOM_SWITCH_FIRST_SEED", 1), FromEnvironment("RANDOM_SWITCH_SEEDS", 200),
        FromEnvironment("RANDOM_SWITCH_STEPS", 1000), Minimising());
    EXPECT_TRUE(report.empty()) << report;
}

}  // namespace
