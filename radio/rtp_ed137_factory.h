#pragma once
// The factory of the RTP slots with the ED-137 radio extension.

#include "slots/slot_factory.h"

class RtpED137Factory : public SlotFactory {
public:
    static RtpED137Factory& instance() {
        static RtpED137Factory factory;
        return factory;
    }

    const char* GetName() const override { return "RTP Ext ED137"; }
    Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}

private:
    RtpED137Factory() = default;
};
