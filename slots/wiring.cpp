// Connect and Disconnect: the graph of sources and receivers and the
// hardware paths under it change together.
#include <iostream>

#include "hardware/hw_mux.h"
#include "slots/slot.h"

bool MuxConnect(Slot& source, Slot& destination) {
    const int tx = source.IGetTransmitChannel();
    const int rx = destination.IGetReceiveChannel();
    if (!HwMux::instance().Connect(tx, rx)) return false;
    std::clog << "mux: slot " << source << " [" << tx << "] -> " << destination << " [" << rx << "]"
              << std::endl;
    return true;
}

bool MuxDisconnect(Slot& destination) {
    const int rx = destination.IGetReceiveChannel();
    if (!HwMux::instance().Disconnect(rx)) return false;
    std::clog << "mux: disconnect slot " << destination << " [" << rx << "]" << std::endl;
    return true;
}

bool llConnect(Slot& source, Slot& destination) {
    if (source.GetConnectionPriority() > destination.GetConnectionPriority())
        return source.IHwConnectTransmitter(destination);
    return destination.IHwConnectReceiver(source);
}

bool llDisconnect(Slot& destination) {
    Slot* source = destination.source();
    if (!source) return false;
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

bool Connect(Slot& source, Slot& destination) {
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
