#pragma once
// The factory of the ISDN and QSIG slots and of the QSIG B-channel slots.

#include <iosfwd>

#include "runtime/fd.h"
#include "slots/slot_factory.h"

class IsdnSlot;

class IsdnFactory : public SlotFactory {
public:
    // The largest frame the controller channel receives.
    static constexpr unsigned rx_packet_size = 512;

    static IsdnFactory& instance() {
        static IsdnFactory factory;
        return factory;
    }

    const char* GetName() const override { return "ISDN"; }
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    void Query(LGCP::Resources&) override {}

    // The slot of that number among those made here, or null.
    Slot* FindSlot(unsigned number) const;
    void PutHeader(std::ostream& os) const;

private:
    IsdnFactory() = default;
    Slot* NewIsdnSlot(const LGCP::IsdnParams& params);
    Slot* NewAtsQsigSlot(const LGCP::AtsQsigParams& params);
    Slot* NewAtsQsigBSlot(const LGCP::AtsQsigBParams& params);
    // The device opened non-blocking; closed (logged "fail to open <name>
    // device: <error>") when it will not open.
    Fd OpenDevice(const char* path, const char* name);
    // Logs "<what> fail: <error>" after the header; null.
    Slot* Refuse(const char* what, int error);
    // The slot; or null (logged "watch fail: <error>", the slot deleted and
    // its device closed) when the loop could not watch its device.
    Slot* Watched(IsdnSlot* slot);
};
