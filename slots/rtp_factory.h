#pragma once
// The factory of the RTP slots.

#include "slots/slot_factory.h"

class RtpFactory : public SlotFactory {
public:
    static RtpFactory& instance() {
        static RtpFactory factory;
        return factory;
    }

    const char* GetName() const override { return "RTP"; }
    Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}

private:
    RtpFactory() = default;
};
