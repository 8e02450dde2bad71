#pragma once
// The factory of the shared-bus map slots.

#include "slots/slot_factory.h"

class MapFactory : public SlotFactory {
public:
    static MapFactory& instance() {
        static MapFactory factory;
        return factory;
    }

    const char* GetName() const override { return "Map"; }
    Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}

private:
    MapFactory() = default;
};
