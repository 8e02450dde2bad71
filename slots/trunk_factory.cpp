#include "slots/trunk_factory.h"

#include <iostream>

#include "slots/slots.h"

// ---- TrunkSlot

void TrunkSlot::IAfterCreate() {
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool TrunkSlot::IBeforeDestroy() {
    LeaveTable();
    return true;
}

void TrunkSlot::IForcedRelease() {
    LeaveTable();
}

void TrunkSlot::LeaveTable() {
    if (auto* owner = dynamic_cast<TrunkFactory*>(factory())) owner->ReleaseTrunkSlot(this);
}

// ---- TrunkFactory

TrunkFactory::TrunkFactory(unsigned trunk, unsigned baseChannel, unsigned timeslots)
    : trunk_(trunk), baseChannel_(baseChannel), timeslots_(timeslots) {}

const LGCP::TrunkParams* TrunkFactory::ParamsOf(const LGCP::CreateParams& params) const {
    return params.get_trunk();
}

Slot* TrunkFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::TrunkParams* p = ParamsOf(params);
    if (!p || p->get_trunk().getValue() != trunk_) return nullptr;
    const unsigned timeslot = p->get_timeslot().getValue();
    if (timeslot >= timeslots_) return nullptr;

    if (TrunkSlot* old = table_[timeslot]) {
        std::cerr << "trunk-slot: two slots require the same timeslot, remove old." << std::endl
                  << " old slot " << *old << std::endl;
        Slots::instance()->Destroy(old);  // its release clears the entry
    }
    TrunkSlot* slot = MakeSlot(static_cast<int>(baseChannel_ + timeslot));
    table_[timeslot] = slot;
    return slot;
}

// Only the slot's own entry: a newer slot may hold the timeslot already.
void TrunkFactory::ReleaseTrunkSlot(TrunkSlot* slot) {
    const int timeslot = slot->GetTimeSlot();
    if (timeslot >= 0 && static_cast<unsigned>(timeslot) < timeslots_ && table_[timeslot] == slot)
        table_[timeslot] = nullptr;
}

// ---- TrunkFactories

TrunkFactories& TrunkFactories::instance() {
    static TrunkFactories factories;
    return factories;
}
