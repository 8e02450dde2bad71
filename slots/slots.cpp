#include "slots/slots.h"

#include "slots/slot_factory.h"

using Alternative = LGCP::Command::Alternative;

Slots* Slots::instance() {
    static Slots registry;
    return &registry;
}

bool Slots::OnCommand(const LGCP::Command& command) {
    return IsSlotPresent() ? OnSlotCommand(command) : OnBaseCommand(command);
}

bool Slots::OnBaseCommand(const LGCP::Command& command) {
    if (!command.is_query()) return false;
    CmdQuery();
    return true;
}

bool Slots::OnSlotCommand(const LGCP::Command& command) {
    switch (command.selection()) {
        case Alternative::connect:
        case Alternative::disconnect:
        case Alternative::create:
        case Alternative::destroy:
        case Alternative::activate:
        case Alternative::deactivate:
        case Alternative::userData:
        case Alternative::ioctl:
            Error(LGCP::ErrorCause::insufficientResources);
            return true;
        default:
            return false;
    }
}

void Slots::CmdQuery() {
    Success();
    UpdateHardwareResources();
}

void Slots::OnSignal(const LGCP::Signal& signal) {
    if (!signal.is_trunkStatus()) return;
    for (SlotFactory* factory = firstFactory; factory; factory = factory->next())
        factory->SelfSignal(signal);
}

void Slots::UpdateHardwareResources() {
    LGCP::Signal signal;
    LGCP::Resources& resources = signal.select_query();
    resources.set_mux(true);
    for (SlotFactory* factory = firstFactory; factory; factory = factory->next())
        factory->Query(resources);
    SendSignal(signal);
}
