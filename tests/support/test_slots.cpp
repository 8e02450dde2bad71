#include "tests/support/test_slots.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "hardware/hw_mux.h"
#include "signalling/hdlc_slot.h"
#include "signalling/pstn_slot.h"
#include "slots/map_factory.h"
#include "slots/mixer.h"
#include "slots/slots.h"
#include "slots/trunk_factory.h"

namespace test {

namespace hal = board::hal;

// ---- TestSlotFactory

TestSlotFactory& TestSlotFactory::instance() {
    static TestSlotFactory factory;
    return factory;
}

Slot* TestSlotFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::CreateSpiTdmParams* spiTdm = params.get_spi_tdm();
    if (!spiTdm) return nullptr;
    auto found = scripts.find(spiTdm->get_channel().getValue());
    const SlotScript script = found != scripts.end() ? found->second : SlotScript();
    if (script.decline) return nullptr;
    if (script.invalid) return invalidParams("the script refuses");
    const int pair = static_cast<int>(serial_++ % (hal::kBusChannels / 2));
    const int transmit = script.transmit.value_or(hal::kBusBase + 2 * pair);
    const int receive = script.receive.value_or(hal::kBusBase + 2 * pair + 1);
    auto* slot = new ScriptedSlot(script, transmit, receive);
    if (script.sideList) side.push_back(slot);
    return slot;
}

void TestSlotFactory::reset() {
    scripts.clear();
    journal.clear();
    serial_ = 0;
}

std::vector<std::string> TestSlotFactory::journaled(const std::string& text) const {
    std::vector<std::string> lines;
    for (const std::string& line : journal)
        if (line.find(text) != std::string::npos) lines.push_back(line);
    return lines;
}

// ---- ScriptedSlot

ScriptedSlot::ScriptedSlot(const SlotScript& script, int transmit, int receive)
    : script_(script), transmit_(transmit), receive_(receive) {
    if (!script.holds) return;
    HoldChannel(transmit, script.share);
    HoldChannel(receive, script.share);
}

// Leaves the side list alone: a slot dropped without IForcedRelease stays
// there, freed, for the sanitizer to find.
ScriptedSlot::~ScriptedSlot() {
    note("deleted");
}

bool ScriptedSlot::note(const char* hook, bool result, const Slot* other) {
    std::ostringstream line;
    line << hook << ' ' << *this;
    if (other) line << ' ' << *other;
    TestSlotFactory::instance().journal.push_back(line.str());
    return result;
}

void ScriptedSlot::LeaveSideList() {
    TestSlotFactory::instance().side.remove(this);
}

void ScriptedSlot::IAfterCreate() {
    note("IAfterCreate");
    if (script_.announce) OnChangeOutputStream(true);
}

bool ScriptedSlot::IBeforeDestroy() {
    note("IBeforeDestroy");
    if (script_.shutdown == Shutdown::AtOnce) {
        LeaveSideList();
        return true;
    }
    shuttingDown_ = true;
    if (script_.shutdown == Shutdown::OnTimer)
        timer_.set(script_.shutdownMs, &ScriptedSlot::finish, this);
    return false;
}

void ScriptedSlot::finish() {
    note("finish");
    LeaveSideList();
    on_release();
}

void ScriptedSlot::IForcedRelease() {
    note("IForcedRelease");
    LeaveSideList();
}

bool ScriptedSlot::IActivate(const TERM::TermActivateParams&) {
    return note("IActivate", !script_.refuse);
}
bool ScriptedSlot::IDeactivate() {
    return note("IDeactivate", !script_.refuse);
}
bool ScriptedSlot::IUserData(const std::vector<char>&) {
    return note("IUserData", !script_.refuse);
}
bool ScriptedSlot::Ioctl(const LGCP::IoctlParams&) {
    return note("Ioctl", !script_.refuse);
}

bool ScriptedSlot::IHwConnectTransmitter(Slot& destination) {
    note("IHwConnectTransmitter", true, &destination);
    return Slot::IHwConnectTransmitter(destination);
}

bool ScriptedSlot::IHwConnectReceiver(Slot& source) {
    note("IHwConnectReceiver", true, &source);
    return Slot::IHwConnectReceiver(source);
}

bool ScriptedSlot::IHwDisconnectTransmitter(Slot& destination) {
    note("IHwDisconnectTransmitter", true, &destination);
    return Slot::IHwDisconnectTransmitter(destination);
}

bool ScriptedSlot::IHwDisconnectReceiver(Slot& source) {
    note("IHwDisconnectReceiver", true, &source);
    return Slot::IHwDisconnectReceiver(source);
}

bool ScriptedSlot::IOnOutputStream() {
    return note("IOnOutputStream", script_.output);
}
bool ScriptedSlot::IOnInputStream() {
    return note("IOnInputStream", script_.input);
}
void ScriptedSlot::IOnOutputRelease() {
    note("IOnOutputRelease");
}

void ScriptedSlot::IOnInputRelease() {
    note("IOnInputRelease");
    if (script_.onInputRelease) script_.onInputRelease(*this);
}

void ScriptedSlot::IReleaseHardware() {
    note("IReleaseHardware");
    transmit_ = receive_ = -1;
}

// ---- Helpers

ScriptedSlot* scripted(unsigned number) {
    return dynamic_cast<ScriptedSlot*>(Slots::instance()->at(number));
}

LGCP::Command create_command(int script) {
    LGCP::Command command;
    command.select_create().select_spi_tdm().set_channel(script);
    return command;
}

namespace {

bool listed_once(const std::list<Slot*>& list, const Slot* slot) {
    return std::count(list.begin(), list.end(), slot) == 1;
}

// Calls `visit(entry, owner, factory, holds)` for every channel entry of the
// trunk and map factories in the chain: `entry` names it, `owner` is the
// slot it names (null when none) and `holds(slot)` whether a slot holds its
// channel.
template <class Visit>
void each_channel_entry(Visit visit) {
    for (SlotFactory* factory = firstFactory; factory; factory = factory->next()) {
        if (auto* trunks = dynamic_cast<TrunkFactory*>(factory)) {
            for (unsigned ts = 0; ts < trunks->timeslots(); ++ts) {
                std::ostringstream entry;
                entry << trunks->GetName() << ' ' << trunks->trunk() << " timeslot " << ts;
                visit(entry.str(), trunks->at(ts), factory, [=](Slot& slot) {
                    auto* trunk = dynamic_cast<TrunkSlot*>(&slot);
                    return trunk && trunk->GetTimeSlot() == static_cast<int>(ts);
                });
            }
        }
        if (auto* maps = dynamic_cast<MapFactory*>(factory)) {
            for (int ch = hal::kBusBase; ch < hal::kChannels; ++ch) {
                visit(
                    "map channel " + std::to_string(ch), maps->owner(ch), factory, [=](Slot& slot) {
                        return slot.IGetTransmitChannel() == ch || slot.IGetReceiveChannel() == ch;
                    });
            }
        }
    }
}

// Entries that name no live slot of their factory, or one that does not
// hold their channel.
std::string channel_table_faults(const std::set<const Slot*>& alive) {
    std::ostringstream faults;
    each_channel_entry(
        [&](const std::string& entry, Slot* owner, SlotFactory* factory, auto holds) {
            if (!owner) return;
            if (!alive.count(owner) || owner->factory() != factory)
                faults << entry << " names a slot that is gone; ";
            else if (!holds(*owner))
                faults << entry << " names " << *owner << ", which does not hold it; ";
        });
    return faults.str();
}

}  // namespace

std::string graph_faults() {
    const std::list<Slot*>& live = Slots::instance()->live();
    const std::set<const Slot*> alive(live.begin(), live.end());
    std::ostringstream faults;
    for (const Slot* slot : live) {
        if (Slots::instance()->at(slot->number()) != slot) faults << *slot << " not in the table; ";
        if (!slot->factory() || !listed_once(slot->factory()->slots(), slot))
            faults << *slot << " not listed once by its factory; ";
        if (const Slot* source = slot->source()) {
            const Slot::Receivers& list = source->receivers();
            if (!alive.count(source))
                faults << *slot << " fed by a dead slot; ";
            else if (std::count(list.begin(), list.end(), slot) != 1)
                faults << *slot << " not once among its source's receivers; ";
        }
        const Slot::Receivers& receivers = slot->receivers();
        if (!std::is_sorted(receivers.begin(), receivers.end()) ||
            std::adjacent_find(receivers.begin(), receivers.end()) != receivers.end())
            faults << *slot << " receivers unsorted or repeated; ";
        for (const Slot* receiver : receivers)
            if (!alive.count(receiver) || receiver->source() != slot)
                faults << *slot << " lists a receiver it does not feed; ";
    }
    for (unsigned n = 0; n <= CtrlSrv::Server::max_slot; ++n)
        if (const Slot* slot = Slots::instance()->at(n); slot && !alive.count(slot))
            faults << "table entry " << n << " holds no live slot; ";
    faults << channel_table_faults(alive);
    return faults.str();
}

namespace {

// The channel switched into `rx`; -1 when it carries none.
int carried(const board::sim::HalModel& fabric, int rx) {
    const auto& state = fabric.channel(rx);
    return state.output == board::sim::HalModel::Output::Source ? state.value : -1;
}

// The HDLC channel through which a PSTN or HDLC slot switches its links'
// channels itself; null for any other slot.
const HDLC* d_channel(const Slot& slot) {
    if (const auto* pstn = dynamic_cast<const PstnSlot*>(&slot)) return &pstn->channel();
    if (const auto* hdlc = dynamic_cast<const HdlcSlot*>(&slot)) return &hdlc->channel();
    return nullptr;
}

// The controller channel of an open D channel that transmits into `rx`;
// -1 for any other.
int d_feeds(const HDLC* channel, int rx) {
    return channel && channel->is_open() && channel->feeds() == rx ? channel->controller_channel()
                                                                    : -1;
}

// What the graph has flow into a slot's receive channel (-1: nothing) and
// who switches it: the slot, from its live source's transmit channel, or
// the HDLC channel of a D-channel source, from its controller channel.
struct Feed {
    int channel;
    const HwMux::Owner* owner;
};
Feed fed(Slot& slot) {
    Slot* source = slot.source();
    if (!source || source->hardwareLost()) return {-1, &slot};
    if (const HDLC* channel = d_channel(*source))
        return {d_feeds(channel, slot.IGetReceiveChannel()), channel};
    return {source->IGetTransmitChannel(), &slot};
}

// A channel that `receivers` receive on: each receiver whose path the
// switch's record names carries what it is fed; one fed whose path it does
// not name lost it to another receiver (the controller named the channel
// twice), or has none; without any, it carries nothing, or an open D
// channel of a slot that a receiver without another live source feeds (a
// PRI link transmits where it receives from). The slots of one mixer
// channel share one source: each that is fed carries it.
std::string channel_faults(const board::sim::HalModel& fabric, int rx,
                           const std::vector<Slot*>& receivers) {
    const int in = carried(fabric, rx);
    const HwMux::Owners& owners = HwMux::instance().owners(rx);
    auto owns = [&](const HwMux::Owner* owner) {
        return std::find(owners.begin(), owners.end(), owner) != owners.end();
    };
    bool owned = false;
    for (Slot* slot : receivers) {
        owned = owned || owns(fed(*slot).owner);
        const Slot* source = slot->source();
        for (const Slot* listener : slot->receivers()) {
            if (source && !source->hardwareLost() && source != listener) continue;
            const HDLC* channel = d_channel(*listener);
            owned = owned || (d_feeds(channel, rx) >= 0 && owns(channel));
        }
    }
    std::ostringstream faults;
    for (Slot* slot : receivers) {
        const Feed feed = fed(*slot);
        const bool mixer = dynamic_cast<const Mixer::TdmChannel*>(slot) != nullptr;
        if (owns(feed.owner) && (feed.channel < 0 || feed.channel != in))
            faults << *slot << " [" << rx << "] owns a path from [" << in << "] without "
                   << (feed.channel < 0 ? "a live source" : "it as its source") << "; ";
        else if (feed.channel >= 0 && (!owned || (mixer && feed.channel != in)))
            faults << *slot << " [" << rx << "] does not carry " << *slot->source() << "; ";
    }
    if (!owned && in >= 0) faults << "[" << rx << "] carries " << in << " for no receiver; ";
    return faults.str();
}

}  // namespace

// An open D channel hears a channel of its slot's live links: its source's
// transmit channel, or for an HDLC slot also a receiver's receive channel;
// a slot without such a link has its channel closed.
std::string d_channel_faults(const board::sim::HalModel& fabric, Slot& slot, const HDLC& channel) {
    std::vector<int> links;
    Slot* source = slot.source();
    if (source && !source->hardwareLost() && source->IGetTransmitChannel() >= 0)
        links.push_back(source->IGetTransmitChannel());
    if (dynamic_cast<const HdlcSlot*>(&slot))
        for (Slot* receiver : slot.receivers())
            if (!receiver->hardwareLost() && receiver->IGetReceiveChannel() >= 0)
                links.push_back(receiver->IGetReceiveChannel());
    const int in = carried(fabric, channel.controller_channel());
    if (std::count(links.begin(), links.end(), in)) return "";
    std::ostringstream fault;
    fault << slot << " D channel [" << channel.controller_channel() << "] hears [" << in << "], ";
    if (links.empty())
        fault << "open with no link; ";
    else
        fault << "not [" << links.front() << "]; ";
    return fault.str();
}

std::string switch_faults(const board::sim::HalModel& fabric,
                          const std::function<bool(int channel)>& excused) {
    const auto judged = [&](int channel) { return !excused || !excused(channel); };
    std::map<int, std::vector<Slot*>> receiving;
    std::set<int> dChannels;  // what the open D channels receive on
    std::string faults;
    for (Slot* slot : Slots::instance()->live()) {
        const int rx = slot->IGetReceiveChannel();
        if (rx >= 0 && rx < hal::kChannels) receiving[rx].push_back(slot);
        const HDLC* channel = d_channel(*slot);
        if (!channel || !channel->is_open()) continue;
        dChannels.insert(channel->controller_channel());
        if (judged(channel->controller_channel()))
            faults += d_channel_faults(fabric, *slot, *channel);
    }
    for (const auto& [rx, receivers] : receiving)
        if (judged(rx)) faults += channel_faults(fabric, rx, receivers);
    // Where no live slot receives, a path is left from a slot that went.
    for (int rx = 0; rx < hal::kChannels; ++rx) {
        const int in = carried(fabric, rx);
        if (in >= 0 && !receiving.count(rx) && !dChannels.count(rx) && judged(rx))
            faults += "[" + std::to_string(rx) + "] carries " + std::to_string(in) +
                      " for no live slot; ";
    }
    return faults;
}

std::string leftovers() {
    std::ostringstream left;
    for (const Slot* slot : Slots::instance()->live()) left << "live " << *slot << "; ";
    for (unsigned n = 0; n <= CtrlSrv::Server::max_slot; ++n)
        if (Slots::instance()->at(n)) left << "table entry " << n << "; ";
    for (SlotFactory* factory = firstFactory; factory; factory = factory->next())
        for (const Slot* slot : factory->slots())
            left << factory->GetName() << " lists " << *slot << "; ";
    for (const Slot* slot : TestSlotFactory::instance().side) left << "side list " << *slot << "; ";
    each_channel_entry([&](const std::string& entry, Slot* owner, SlotFactory*, auto) {
        if (owner) left << entry << "; ";
    });
    return left.str();
}

}  // namespace test
