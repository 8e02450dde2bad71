#pragma once
// Pass-through slots: a transmit and a receive channel on the shared buses,
// given by the controller as logical channels (bus * 128 + channel). The
// output is there from creation; the input only while the slot is
// activated.

#include "slots/slot.h"
#include "slots/slot_factory.h"

class ExtSlot : public Slot {
public:
    ExtSlot(int transmit, int receive) : transmit_(transmit), receive_(receive) {}

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IActivate(const TERM::TermActivateParams& params) override;
    bool IDeactivate() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return inputActive(); }
    int IGetTransmitChannel() override { return transmit_; }
    int IGetReceiveChannel() override { return receive_; }
    const char* GetName() const override { return "bri"; }

private:
    int transmit_;
    int receive_;
};

class ExtFactory : public SlotFactory {
public:
    static ExtFactory& instance() {
        static ExtFactory factory;
        return factory;
    }

    const char* GetName() const override { return "Ext"; }
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    void Query(LGCP::Resources&) override {}

private:
    ExtFactory() = default;
};
