#pragma once
// The factory of the PSTN signalling slots; it passes trunk state to them.

#include "slots/slot_factory.h"

class PstnFactory : public SlotFactory {
public:
    static PstnFactory& instance() {
        static PstnFactory factory;
        return factory;
    }

    const char* GetName() const override { return "PSTN"; }
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    void Query(LGCP::Resources&) override {}
    // E1 trunk state reaches every slot made here.
    void SelfSignal(const LGCP::Signal& signal) override;

private:
    PstnFactory() = default;
};

// Offers the state of an E1 trunk's `trunkStatus` signal to every slot of
// `factory`.
void PassTrunkStatus(const SlotFactory& factory, const LGCP::Signal& signal);
