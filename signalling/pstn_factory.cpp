#include "signalling/pstn_factory.h"

#include "signalling/pstn_slot.h"

Slot* PstnFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::PstnParams* pstn = params.get_pstn();
    return pstn ? new PstnSlot(*pstn) : nullptr;
}

void PstnFactory::SelfSignal(const LGCP::Signal& signal) { PassTrunkStatus(*this, signal); }

// The slots' trunks are E1 trunks. BRI lines are numbered 0 to 7 on their
// own and report every second, a line with nothing plugged in as
// `lossCarrier`: matched by number alone, BRI line N would take the link on
// E1 trunk N out of service.
void PassTrunkStatus(const SlotFactory& factory, const LGCP::Signal& signal) {
    const ACP::TrunkStatus* status = signal.get_trunkStatus();
    if (!status || status->get_type().getValue() != ACP::TrunkType::e1) return;
    const unsigned trunk = static_cast<unsigned>(status->get_trunk().getValue());
    const ACP::TrunkState::NamedNumber state = status->get_state().getValue();
    for (Slot* slot : factory.slots()) slot->OnTrunkStatus(trunk, state);
}
