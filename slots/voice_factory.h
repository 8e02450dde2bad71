#pragma once
// The factory of the voice play and record slots.

#include "slots/slot_factory.h"

class VoiceFactory : public SlotFactory {
public:
    static VoiceFactory& instance() {
        static VoiceFactory factory;
        return factory;
    }

    const char* GetName() const override { return "Voice/mcc"; }
    Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}

private:
    VoiceFactory() = default;
};
