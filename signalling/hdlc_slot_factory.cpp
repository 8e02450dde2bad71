#include "signalling/hdlc_slot_factory.h"

#include <iostream>

#include "runtime/trace_ctl.h"
#include "signalling/hdlc_slot.h"
#include "signalling/pstn_factory.h"

Slot* HdlcSlotFactory::INewSlot(const LGCP::CreateParams& params) {
    if (traces.hdlc) std::clog << "\n\nHdlcSlotFactory.INewSlot\n\n" << std::endl;
    const LGCP::HdlcParams* hdlc = params.get_hdlcParams();
    if (!hdlc) return nullptr;
    const int address = hdlc->get_address().getValue();
    if (address < 0 || address > 0xFFFF) return invalidParams("address outside 0..65535");
    return new HdlcSlot(*hdlc);
}

void HdlcSlotFactory::SelfSignal(const LGCP::Signal& signal) { PassTrunkStatus(*this, signal); }
