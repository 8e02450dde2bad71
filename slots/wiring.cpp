// Connect and Disconnect: the graph of sources and receivers and the
// hardware paths under it change together. The switch requests of the slots
// name the slot they are made for, so that what flows into a channel a
// driver gave another live call is left alone, and the switch knows whose
// paths it carries.
#include <algorithm>
#include <iostream>
#include <iterator>
#include <map>
#include <vector>

#include "hardware/hw_mux.h"
#include "slots/slot.h"

// ---- The channels drivers gave to slots

namespace {

// The live slots that hold a channel: the one call the driver gave it to,
// or the slots that share it by design under one `share` (those of one
// mixer channel, its inputs and outputs).
struct Holding {
    const void* share = nullptr;
    std::vector<Slot*> slots;
};

std::map<int, Holding>& Holders() {
    static std::map<int, Holding> holders;
    return holders;
}

// The link llConnect is making: for the guard its sides are wired already.
struct Link {
    const Slot* source = nullptr;
    const Slot* destination = nullptr;
};
Link& UnderWay() {
    static Link link;
    return link;
}

// A link put back as it was after its replacement failed: what the driver
// refuses of its path is owed, not refused.
bool& Restoring() {
    static bool restoring = false;
    return restoring;
}

// Whether `a` and `b` are wired, or being wired, to each other.
bool Wired(const Slot& a, const Slot& b) {
    const Link& making = UnderWay();
    return a.source() == &b || b.source() == &a ||
           (making.source == &a && making.destination == &b) ||
           (making.source == &b && making.destination == &a);
}

// Whether `slot` may change what flows into the channel, or read it: false,
// with one line, when the driver gave it to another live call (the slot
// asking lost it; what it would read is that call's). With `forLinks`, the
// slot switches into its links' channels itself: a holder it is wired with
// admits it too.
bool Admitted(const Slot& slot, int channel, bool forLinks = false) {
    const auto held = Holders().find(channel);
    if (held == Holders().end()) return true;
    const std::vector<Slot*>& holders = held->second.slots;
    for (const Slot* holder : holders)
        if (holder == &slot || (forLinks && Wired(slot, *holder))) return true;
    std::cerr << "mux: " << slot << " asks for [" << channel << "], which " << *holders.front()
              << " holds: refused" << std::endl;
    return false;
}

// The channel goes back to the driver with `slot`: no other slot holds it.
bool LastHolder(const Slot& slot, int channel) {
    const auto held = Holders().find(channel);
    if (held == Holders().end()) return false;
    const std::vector<Slot*>& holders = held->second.slots;
    return holders.size() == 1 && holders.front() == &slot;
}

// One source feeds a channel at a time: false, with one line, when a slot
// sharing the channel with `slot` receives another source than `tx` on it.
// The same source may feed them all.
bool OneSource(const Slot& slot, int tx, int rx) {
    const HwMux& mux = HwMux::instance();
    const auto held = Holders().find(rx);
    if (held == Holders().end() || mux.claimed(rx) == tx) return true;
    const std::vector<Slot*>& sharers = held->second.slots;
    for (const HwMux::Owner* owner : mux.owners(rx)) {
        if (owner == &slot || std::find(sharers.begin(), sharers.end(), owner) == sharers.end())
            continue;
        std::cerr << "mux: " << slot << " asks for [" << tx << "] into [" << rx
                  << "], which carries [" << mux.claimed(rx) << "] for " << *owner
                  << ": one source at a time" << std::endl;
        return false;
    }
    return true;
}

}  // namespace

void Slot::HoldChannel(int channel, const void* share) {
    if (channel < 0) return;
    // What receivers of it that went still owe the tone and DSP drivers
    // there is done before this call is heard.
    Hardware::TonecReceiverService::settle(static_cast<unsigned>(channel));
    Hardware::DSProcReceiverService::settle(static_cast<unsigned>(channel));
    Holding& holding = Holders()[channel];
    std::vector<Slot*>& holders = holding.slots;
    const bool holds = std::find(holders.begin(), holders.end(), this) != holders.end();
    if (share && holding.share == share && !holders.empty()) {
        if (!holds) holders.push_back(this);
        return;
    }
    holding = Holding{share, {this}};
    // What an earlier call left switched from or into it is not this call's.
    if (!holds) HwMux::instance().TakeOver(channel);
}

namespace {

// `slot` holds the channel of `held` no more; the entry after it.
std::map<int, Holding>::iterator LeaveHolding(std::map<int, Holding>::iterator held,
                                              const Slot& slot) {
    std::vector<Slot*>& slots = held->second.slots;
    slots.erase(std::remove(slots.begin(), slots.end(), &slot), slots.end());
    return slots.empty() ? Holders().erase(held) : std::next(held);
}

}  // namespace

void LetGoOfChannels(const Slot& slot) {
    for (auto held = Holders().begin(); held != Holders().end();) held = LeaveHolding(held, slot);
}

void LetGoOfChannel(const Slot& slot, int channel) {
    const auto held = Holders().find(channel);
    if (held != Holders().end()) LeaveHolding(held, slot);
}

// ---- The switch

bool MuxMayConnect(Slot& source, Slot& destination) {
    const int tx = source.IGetTransmitChannel();
    const int rx = destination.IGetReceiveChannel();
    return Admitted(source, tx) && Admitted(destination, rx) && OneSource(destination, tx, rx);
}

bool MuxConnect(Slot& source, Slot& destination) {
    if (!MuxMayConnect(source, destination)) return false;
    const int tx = source.IGetTransmitChannel();
    const int rx = destination.IGetReceiveChannel();
    HwMux& mux = HwMux::instance();
    if (Restoring())
        mux.Claim(tx, rx, destination);
    else if (!mux.Connect(tx, rx, destination))
        return false;
    std::clog << "mux: slot " << source << " [" << tx << "] -> " << destination << " [" << rx << "]"
              << std::endl;
    return true;
}

// What the destination switched is its own to break, also in a channel the
// driver has given another call since: a path that call switched is not
// the destination's, and stays. A silence the driver refuses is owed.
bool MuxDisconnect(Slot& destination) {
    const int rx = destination.IGetReceiveChannel();
    if (HwMux::instance().Release(destination, rx) == HwMux::Released::broken)
        std::clog << "mux: disconnect slot " << destination << " [" << rx << "]" << std::endl;
    return true;
}

bool MuxAdmitsForLinks(const Slot& slot, int channel) {
    return Admitted(slot, channel, true);
}

// A channel handed back is the driver's again: held no more, it is handed
// back once (HandBackChannels skips it).
bool MuxSwitchOff(Slot& slot, int channel) {
    if (channel < 0 || !Admitted(slot, channel)) return false;
    HwMux& mux = HwMux::instance();
    if (!LastHolder(slot, channel)) return mux.SwitchOff(slot, channel) != HwMux::Released::failed;
    Holders().erase(channel);
    return mux.HandBack(channel);
}

void HandBackChannels(Slot& slot) {
    std::vector<int> held;
    for (const auto& holding : Holders())
        if (LastHolder(slot, holding.first)) held.push_back(holding.first);
    for (int channel : held) MuxSwitchOff(slot, channel);
}

// ---- Wiring

namespace {

bool SourceWorks(Slot& source, Slot& destination) {
    return source.GetConnectionPriority() > destination.GetConnectionPriority();
}

}  // namespace

bool llConnect(Slot& source, Slot& destination) {
    if (source.hardwareLost() || destination.hardwareLost()) return false;
    const Link outer = UnderWay();
    UnderWay() = Link{&source, &destination};
    const bool made = SourceWorks(source, destination) ? source.IHwConnectTransmitter(destination)
                                                       : destination.IHwConnectReceiver(source);
    UnderWay() = outer;
    return made;
}

bool llMayConnect(Slot& source, Slot& destination) {
    Slot& works = SourceWorks(source, destination) ? source : destination;
    return works.IHwMayConnect(source, destination);
}

bool llDisconnect(Slot& destination) {
    Slot* source = destination.source();
    if (!source) return false;
    if (source->hardwareLost() || destination.hardwareLost()) return true;
    if (destination.GetConnectionPriority() > source->GetConnectionPriority())
        return destination.IHwDisconnectReceiver(*source);
    return source->IHwDisconnectTransmitter(destination);
}

namespace {

// The slots whose paths may follow from the links of `slots` (a slot whose
// source changed, its sources before and after, a slot that feeds its
// links no more), once each: each of them and its peers, and the peers of
// those. A D channel transmits into a peer's channel while no other slot
// feeds it, so when one changes where it transmits, the other slots wired
// with that peer (its source, its receivers) may take the channel over.
std::vector<Slot*> Around(std::initializer_list<Slot*> slots) {
    std::vector<Slot*> around;
    auto add = [&](Slot* slot) {
        if (slot && std::find(around.begin(), around.end(), slot) == around.end())
            around.push_back(slot);
    };
    auto addWithPeers = [&](Slot* slot) {
        add(slot);
        add(slot->source());
        for (Slot* receiver : slot->receivers()) add(receiver);
    };
    for (Slot* slot : slots) {
        if (!slot) continue;
        addWithPeers(slot);
        if (Slot* source = slot->source()) addWithPeers(source);
        for (Slot* receiver : slot->receivers()) addWithPeers(receiver);
    }
    return around;
}

// Every slot around a change follows its links, the link's own ends `a`
// and `b` first (what they make takes over from what the others leave).
// False, the others left as they are, when one of those had a make
// refused: the command fails, and the graph it puts back is followed.
bool FollowLinks(const std::vector<Slot*>& around, Slot* a = nullptr, Slot* b = nullptr) {
    for (Slot* own : {a, b})
        if (own && !own->IFollowLinks(true)) return false;
    for (Slot* slot : around)
        if (slot != a && slot != b) slot->IFollowLinks(false);
    return true;
}

// Once a command's graph stands, each link layer around it runs on what
// its channel carries now.
void SettleLinks(const std::vector<Slot*>& around) {
    for (Slot* slot : around) slot->ISettleLink();
}

// The graph stands: the slots around `slots` follow their links.
void FollowAround(std::initializer_list<Slot*> slots) {
    const std::vector<Slot*> around = Around(slots);
    FollowLinks(around);
    SettleLinks(around);
}

// The end of a link: the destination has lost `source`.
void AfterLinkRemoved(Slot& source, Slot& destination) {
    destination.IOnInputRelease();
    if (source.receivers().empty()) source.IOnOutputRelease();
}

// A reconnection failed after the old path was released: the old source
// feeds the destination again over the link as it was, its path owed where
// the driver refuses it; only where a side refuses it (not the driver)
// does the link go too, so that the graph never shows a path the switch
// does not carry or owe.
void RestoreOrDrop(Slot& old, Slot& destination, uint64_t made) {
    if (destination.source() != &old) destination.LogicalConnect(old, made);
    if (old.hardwareLost()) return;  // the link had no path to put back
    Restoring() = true;
    const bool restored = llConnect(old, destination);
    Restoring() = false;
    if (restored) return;
    std::cerr << "slot " << destination << " lost its path from " << old << std::endl;
    destination.LogicalDisconnect();
    AfterLinkRemoved(old, destination);
}

}  // namespace

void FollowLinksWithout(Slot& slot) { FollowAround({&slot}); }

// A slot that lost its hardware is wired to nothing, also to what it is
// linked with already.
bool Connect(Slot& source, Slot& destination) {
    for (const Slot* side : {&source, &destination}) {
        if (!side->hardwareLost()) continue;
        std::cerr << "slot " << *side << " lost its hardware: no connect from " << source << " to "
                  << destination << std::endl;
        return false;
    }
    // Repeated for a link that stands, it changes nothing in the graph; a
    // slot whose paths follow its links makes again what another owner has
    // switched over them since.
    if (destination.source() == &source) {
        const std::vector<Slot*> around = Around({&destination, &source});
        const bool made = FollowLinks(around, &source, &destination);
        SettleLinks(around);
        return made;
    }
    if (!llMayConnect(source, destination)) return false;
    if (source.receivers().empty()) {
        if (!source.IOnOutputStream()) {
            std::cerr << "slot " << source << " don't have output stream to " << destination
                      << std::endl;
            return false;
        }
        source.OnChangeOutputStream(true);
    }
    Slot* old = destination.source();
    const uint64_t oldLink = destination.linkMade();
    if (!old) {
        if (!destination.IOnInputStream()) {
            std::cerr << "slot " << destination << " don't have input stream from " << source
                      << std::endl;
            return false;
        }
        destination.OnChangeInputStream(true);
    } else {
        llDisconnect(destination);
    }

    // The graph changes first for the slots that follow their links.
    if (llConnect(source, destination)) {
        destination.LogicalConnect(source);
        const std::vector<Slot*> around = Around({&destination, old, &source});
        if (FollowLinks(around, &source, &destination)) {
            if (old && old->receivers().empty()) old->IOnOutputRelease();
            source.ILinked();
            destination.ILinked();
            SettleLinks(around);
            return true;
        }
        destination.LogicalDisconnect();
    }
    if (old)
        RestoreOrDrop(*old, destination, oldLink);
    else
        destination.IOnInputRelease();
    if (source.receivers().empty()) source.IOnOutputRelease();
    FollowAround({&destination, old, &source});
    return false;
}

// Without a source, a silence the driver refused before is tried again, and
// the answer says whether it is done.
bool Disconnect(Slot& destination) {
    Slot* source = destination.source();
    if (!source) {
        const int rx = destination.hardwareLost() ? -1 : destination.IGetReceiveChannel();
        return rx < 0 || HwMux::instance().Settle(rx);
    }
    const bool released = llDisconnect(destination);
    destination.LogicalDisconnect();
    AfterLinkRemoved(*source, destination);
    FollowAround({&destination, source});
    return released;
}
