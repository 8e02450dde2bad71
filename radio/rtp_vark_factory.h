#pragma once
// The factory of the RTP slots with the VARK radio extension.

#include "slots/slot_factory.h"

class RtpVARKFactory : public SlotFactory {
public:
    static RtpVARKFactory& instance() {
        static RtpVARKFactory factory;
        return factory;
    }

    const char* GetName() const override { return "RTP Ext VARK"; }
    Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}

private:
    RtpVARKFactory() = default;
};
