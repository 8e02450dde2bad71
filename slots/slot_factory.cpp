#include "slots/slot_factory.h"

#include <iostream>

#include "slots/slot.h"

SlotFactory* firstFactory = nullptr;

namespace {
// Set while a creation walks the chain when a factory named invalid values.
bool invalidNamed = false;
}  // namespace

SlotFactory::SlotFactory() : next_(firstFactory) {
    firstFactory = this;
}

SlotFactory::~SlotFactory() {
    slots_.clear();
}

Slot* SlotFactory::NewSlot(const LGCP::CreateParams& params) {
    Slot* slot = INewSlot(params);
    if (!slot) return nullptr;
    slot->factory_ = this;
    slots_.push_back(slot);
    return slot;
}

void SlotFactory::Remove(Slot* slot) {
    slots_.remove(slot);
}

Slot* SlotFactory::invalidParams(const char* reason) {
    std::cerr << GetName() << ": invalid create parameters: " << reason << std::endl;
    invalidNamed = true;
    return nullptr;
}

Slot* SlotFactory::CreateSlot(const LGCP::CreateParams& params,
                              LGCP::ErrorCause::NamedNumber& cause) {
    invalidNamed = false;
    for (SlotFactory* factory = firstFactory; factory; factory = factory->next()) {
        if (Slot* slot = factory->NewSlot(params)) return slot;
    }
    cause =
        invalidNamed ? LGCP::ErrorCause::invalidParams : LGCP::ErrorCause::insufficientResources;
    return nullptr;
}
