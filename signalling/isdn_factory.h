#pragma once
// The factory of the ISDN and QSIG slots.

#include "slots/slot_factory.h"

class IsdnFactory : public SlotFactory {
public:
    static IsdnFactory& instance() {
        static IsdnFactory factory;
        return factory;
    }

    const char* GetName() const override { return "ISDN"; }
    Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}

private:
    IsdnFactory() = default;
};
