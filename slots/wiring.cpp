// Connect and Disconnect: the graph of sources and receivers and the
// hardware paths under it change together. The switch requests of the slots
// name the slot they are made for, so that a channel a driver gave another
// live slot is left alone.
#include <iostream>
#include <iterator>
#include <map>

#include "hardware/hw_mux.h"
#include "slots/slot.h"

// ---- The channels drivers gave to slots

namespace {

// Channel -> the live slot that holds it.
std::map<int, const Slot*>& Holders() {
    static std::map<int, const Slot*> holders;
    return holders;
}

// False, with one line, when another live slot holds the channel: the slot
// asking lost it, and the driver gave it to that one.
bool Admitted(const Slot& slot, int channel) {
    const auto held = Holders().find(channel);
    if (held == Holders().end() || held->second == &slot) return true;
    std::cerr << "mux: " << slot << " asks for [" << channel << "], which " << *held->second
              << " holds: refused" << std::endl;
    return false;
}

}  // namespace

void Slot::HoldChannel(int channel) {
    if (channel >= 0) Holders()[channel] = this;
}

void LetGoOfChannels(const Slot& slot) {
    auto& holders = Holders();
    for (auto it = holders.begin(); it != holders.end();)
        it = it->second == &slot ? holders.erase(it) : std::next(it);
}

// ---- The switch

bool MuxConnect(Slot& source, Slot& destination) {
    const int tx = source.IGetTransmitChannel();
    const int rx = destination.IGetReceiveChannel();
    if (!Admitted(source, tx) || !Admitted(destination, rx)) return false;
    if (!HwMux::instance().Connect(tx, rx)) return false;
    std::clog << "mux: slot " << source << " [" << tx << "] -> " << destination << " [" << rx << "]"
              << std::endl;
    return true;
}

bool MuxDisconnect(Slot& destination) {
    const int rx = destination.IGetReceiveChannel();
    if (!Admitted(destination, rx)) return false;
    if (!HwMux::instance().Disconnect(rx)) return false;
    std::clog << "mux: disconnect slot " << destination << " [" << rx << "]" << std::endl;
    return true;
}

bool MuxSwitchOff(Slot& slot, int channel) {
    return channel >= 0 && Admitted(slot, channel) && HwMux::instance().Disable(channel);
}

// ---- Wiring

bool llConnect(Slot& source, Slot& destination) {
    if (source.hardwareLost() || destination.hardwareLost()) return false;
    if (source.GetConnectionPriority() > destination.GetConnectionPriority())
        return source.IHwConnectTransmitter(destination);
    return destination.IHwConnectReceiver(source);
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

// The end of a link: the destination has lost `source`.
void AfterLinkRemoved(Slot& source, Slot& destination) {
    destination.IOnInputRelease();
    if (source.receivers().empty()) source.IOnOutputRelease();
}

// A reconnection failed after the old path was released: the old source
// feeds the destination again, or, when even that fails, the link goes too,
// so that the graph never shows a path the switch does not carry.
void RestoreOrDrop(Slot& old, Slot& destination) {
    if (llConnect(old, destination)) return;
    std::cerr << "slot " << destination << " lost its path from " << old << std::endl;
    destination.LogicalDisconnect();
    AfterLinkRemoved(old, destination);
}

}  // namespace

// A slot that lost its hardware is wired to nothing, also to what it is
// linked with already.
bool Connect(Slot& source, Slot& destination) {
    for (const Slot* side : {&source, &destination}) {
        if (!side->hardwareLost()) continue;
        std::cerr << "slot " << *side << " lost its hardware: no connect from " << source << " to "
                  << destination << std::endl;
        return false;
    }
    if (destination.source() == &source) return true;
    if (source.receivers().empty()) {
        if (!source.IOnOutputStream()) {
            std::cerr << "slot " << source << " don't have output stream to " << destination
                      << std::endl;
            return false;
        }
        source.OnChangeOutputStream(true);
    }
    Slot* old = destination.source();
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

    if (llConnect(source, destination)) {
        if (old) {
            destination.LogicalDisconnect();
            if (old->receivers().empty()) old->IOnOutputRelease();
        }
        destination.LogicalConnect(source);
        return true;
    }
    if (old)
        RestoreOrDrop(*old, destination);
    else
        destination.IOnInputRelease();
    if (source.receivers().empty()) source.IOnOutputRelease();
    return false;
}

bool Disconnect(Slot& destination) {
    Slot* source = destination.source();
    if (!source) return true;
    const bool released = llDisconnect(destination);
    destination.LogicalDisconnect();
    AfterLinkRemoved(*source, destination);
    return released;
}
