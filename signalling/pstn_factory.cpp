#include "signalling/pstn_factory.h"

#include "signalling/pstn_slot.h"

Slot* PstnFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::PstnParams* pstn = params.get_pstn();
    return pstn ? new PstnSlot(*pstn) : nullptr;
}

void PstnFactory::SelfSignal(const LGCP::Signal& signal) { PassTrunkStatus(*this, signal); }

void PassTrunkStatus(const SlotFactory& factory, const LGCP::Signal& signal) {
    const ACP::TrunkStatus* status = signal.get_trunkStatus();
    if (!status) return;
    const unsigned trunk = static_cast<unsigned>(status->get_trunk().getValue());
    const ACP::TrunkState::NamedNumber state = status->get_state().getValue();
    for (Slot* slot : factory.slots()) slot->OnTrunkStatus(trunk, state);
}
