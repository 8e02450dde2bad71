#include "slots/slots.h"

#include <iostream>
#include <utility>

#include "runtime/mux_time.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

using Alternative = LGCP::Command::Alternative;
using Cause = LGCP::ErrorCause;

namespace {
// How long the controller's departure waits for delayed shutdowns.
constexpr int kTeardownPauseMs = 1000;
// Why the hook of the command being answered refused its values, if it did.
const char* invalidReason = nullptr;
}  // namespace

bool RefuseInvalid(const char* reason) {
    invalidReason = reason;
    return false;
}

Slots* Slots::instance() {
    static Slots registry;
    return &registry;
}

Slot* Slots::at(unsigned number) const {
    return number < kTableSize ? table_[number] : nullptr;
}

// ---- Commands

bool Slots::OnCommand(const LGCP::Command& command) {
    return IsSlotPresent() ? OnSlotCommand(command) : OnBaseCommand(command);
}

bool Slots::OnBaseCommand(const LGCP::Command& command) {
    if (!command.is_query()) return false;
    CmdQuery();
    return true;
}

bool Slots::OnSlotCommand(const LGCP::Command& command) {
    invalidReason = nullptr;
    switch (command.selection()) {
        case Alternative::connect:
            CmdConnect(command.get_connect()->getValue());
            break;
        case Alternative::disconnect:
            if (Slot* slot = Addressed())
                Disconnect(*slot) ? Success() : Error(Cause::disconnectFail);
            break;
        case Alternative::create:
            CmdCreate(*command.get_create());
            break;
        case Alternative::destroy:
            CmdDestroy();
            break;
        case Alternative::activate:
            if (Slot* slot = Addressed())
                AnswerHook(*slot, slot->IActivate(*command.get_activate()));
            break;
        case Alternative::deactivate:
            if (Slot* slot = Addressed()) AnswerHook(*slot, slot->IDeactivate());
            break;
        case Alternative::userData:
            if (Slot* slot = Addressed())
                AnswerHook(*slot, slot->IUserData(*command.get_userData()));
            break;
        case Alternative::ioctl:
            if (Slot* slot = Addressed()) AnswerHook(*slot, slot->Ioctl(*command.get_ioctl()));
            break;
        default:
            return false;
    }
    return true;
}

Slot* Slots::Addressed() {
    Slot* slot = at(GetSlot());
    if (!slot) Error(Cause::slotNotExists);
    return slot;
}

void Slots::AnswerHook(const Slot& slot, bool done) {
    const char* invalid = std::exchange(invalidReason, nullptr);
    if (done) return Success();
    if (!invalid) return Error(Cause::unsupported);
    std::cerr << slot << ": invalid parameters: " << invalid << std::endl;
    Error(Cause::invalidParams);
}

void Slots::CmdQuery() {
    Success();
    UpdateHardwareResources();
}

// A slot being destroyed is wired to nothing new: it would be deleted with
// the link in place.
void Slots::CmdConnect(unsigned target) {
    if (target >= kTableSize) return Error(Cause::invalidSlot);
    Slot* source = at(GetSlot());
    Slot* destination = at(target);
    if (!source || !destination) return Error(Cause::slotNotExists);
    if (source->destroying() || destination->destroying()) return Error(Cause::destroyInProgress);
    Connect(*source, *destination) ? Success() : Error(Cause::connectFail);
}

void Slots::CmdCreate(const LGCP::CreateParams& params) {
    const unsigned number = GetSlot();
    if (Slot* old = table_[number]) {
        if (old->destroying()) return Error(Cause::destroyInProgress);
        Destroy(old);  // replaced without an answer of its own
        if (table_[number]) return Error(Cause::slotIdBusy);
    }
    Cause::NamedNumber cause;
    Slot* slot = SlotFactory::CreateSlot(params, cause);
    if (!slot) return Error(cause);
    slot->number_ = number;
    live_.push_back(slot);
    table_[number] = slot;
    Success();
    slot->IAfterCreate();
}

void Slots::CmdDestroy() {
    Slot* slot = Addressed();
    if (!slot) return;
    if (slot->destroying()) return Error(Cause::destroyInProgress);
    if (Destroy(slot)) return Success();
    slot->delayedSeq_ = delayResponse();
    slot->answerOwed_ = true;
}

// ---- Destruction

bool Slots::Destroy(Slot* slot) {
    if (slot->destroying()) return false;
    Disconnect(*slot);
    slot->DisconnectReceivers("mux internal error: expected slots not exists.");
    if (!slot->receivers().empty())
        std::cerr << "mux internal error: unexpected slots exists." << std::endl;
    slot->destroying_ = true;
    if (!slot->BeforeDestroy()) return false;
    int_destroy(slot);
    return true;
}

void Slots::on_release(Slot* slot) {
    if (slot->answerOwed_) delayedSuccess(slot->number_, slot->delayedSeq_);
    int_destroy(slot);
}

void Slots::int_destroy(Slot* slot) {
    if (slot->source() || !slot->receivers().empty()) {
        // A hook wired it again while it was being unwired: no slot may
        // keep a pointer to it.
        std::cerr << "slot: internal error!!! " << *slot << " deleted while connected" << std::endl;
        slot->LogicalDisconnect();
        while (!slot->receivers().empty()) slot->receivers().front()->LogicalDisconnect();
    }
    HandBackChannels(*slot);
    live_.remove(slot);
    unfinished_.remove(slot);
    if (at(slot->number_) == slot) table_[slot->number_] = nullptr;
    delete slot;
}

// Also out of its factory's list, which would otherwise keep a freed slot.
void Slots::ForceRelease(Slot* slot) {
    slot->LeaveFactory();
    slot->IForcedRelease();
    int_destroy(slot);
}

// The reports owed were asked for the controller gone: a count still under
// way reports to none, unless the next controller asks meanwhile.
void Slots::OnDisconnect() {
    reportsOwed_ = 0;
    while (!live_.empty()) {
        Slot* slot = live_.front();
        if (!slot->destroying() && Destroy(slot)) continue;
        live_.remove(slot);
        unfinished_.push_back(slot);
    }
    if (unfinished_.empty()) return;
    // The whole process waits, through the loop's clock (tests do not).
    Mux::clock().poll(nullptr, 0, kTeardownPauseMs);
    // Release hooks may finish other slots: take them one at a time.
    while (!unfinished_.empty()) ForceRelease(unfinished_.front());
}

void Slots::reset_for_test() {
    for (Slot* slot : live_) slot->LogicalDisconnect();
    unfinished_.splice(unfinished_.end(), live_);
    while (!unfinished_.empty()) ForceRelease(unfinished_.front());
}

// ---- Signals

void Slots::OnSignal(const LGCP::Signal& signal) {
    if (!signal.is_trunkStatus()) return;
    for (SlotFactory* factory = firstFactory; factory; factory = factory->next())
        factory->SelfSignal(signal);
}

// Only the report waits for a count: the hardware is looked at now, also
// while a count asked for earlier is under way, so that a create on the
// query's answer finds what the look found. A factory may be ready before
// PrepareQuery returns: the count starts at 1 so that the report waits for
// the whole chain.
void Slots::UpdateHardwareResources() {
    ++reportsOwed_;
    LookAtHardware();
    if (unready_) return;
    unready_ = 1;
    for (SlotFactory* factory = firstFactory; factory; factory = factory->next()) {
        ++unready_;
        factory->PrepareQuery([this] { FactoryReady(); });
    }
    if (--unready_ == 0) SendReports();  // every factory was ready at once
}

// The report waited: the creates and destroys meanwhile changed what the
// board has, and the report says what it has when it is sent.
void Slots::FactoryReady() {
    if (--unready_) return;
    LookAtHardware();
    SendReports();
}

void Slots::LookAtHardware() {
    for (SlotFactory* factory = firstFactory; factory; factory = factory->next()) factory->IQuery();
}

void Slots::SendReports() {
    LGCP::Signal signal;
    LGCP::Resources& resources = signal.select_query();
    resources.set_mux(true);
    for (SlotFactory* factory = firstFactory; factory; factory = factory->next())
        factory->Query(resources);
    for (; reportsOwed_; --reportsOwed_) SendSignal(signal);
}
