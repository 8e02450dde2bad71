#include "slots/ext_factory.h"

#include "board/drivers/hal.h"
#include "hardware/hw_mux.h"

namespace hal = board::hal;

void ExtSlot::IAfterCreate() {
    OnChangeOutputStream(true);
}

bool ExtSlot::IBeforeDestroy() {
    MuxSwitchOff(*this, receive_);
    return true;
}

// The receive channel carries silence until a source is connected; an
// activation of an active slot leaves its source switched in.
bool ExtSlot::IActivate(const TERM::TermActivateParams&) {
    if (inputActive()) return true;
    OnChangeInputStream(true);
    HwMux::instance().Disconnect(receive_);
    return true;
}

// Also drops the source.
bool ExtSlot::IDeactivate() {
    OnChangeInputStream(false);
    MuxSwitchOff(*this, receive_);
    return true;
}

// The controller's values go to the switch, which must stay on the buses.
Slot* ExtFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::ExtParams* p = params.get_ext();
    if (!p) return nullptr;
    const int transmitter = p->get_transmitter().getValue();
    const int receiver = p->get_receiver().getValue();
    auto onBuses = [](int logical) { return logical >= 0 && logical < hal::kBusChannels; };
    if (!onBuses(transmitter) || !onBuses(receiver))
        return invalidParams("transmitter or receiver outside 0..2047");
    return new ExtSlot(hal::kBusBase + transmitter, hal::kBusBase + receiver);
}
