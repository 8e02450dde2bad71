#pragma once
// The factory of the HDLC data slots.

#include "slots/slot_factory.h"

class HdlcSlotFactory : public SlotFactory {
public:
    static HdlcSlotFactory& instance() {
        static HdlcSlotFactory factory;
        return factory;
    }

    const char* GetName() const override { return "HdlcSlotFactory"; }
    // Declines an address that does not fit the frame's 16 bits.
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    void Query(LGCP::Resources&) override {}
    void SelfSignal(const LGCP::Signal& signal) override;

private:
    HdlcSlotFactory() = default;
};
