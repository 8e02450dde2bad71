#pragma once
// The factory of the data-channel slots of the multi-channel controller.

#include "slots/slot_factory.h"

class MccFactory : public SlotFactory {
public:
    static MccFactory& instance() {
        static MccFactory factory;
        return factory;
    }

    const char* GetName() const override { return "MCC"; }
    Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}

private:
    MccFactory() = default;
};
