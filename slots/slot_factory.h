#pragma once
// Every slot is made by a factory. Each factory is a process-wide object that
// links itself at the head of one global chain when it is constructed, so
// the chain runs from the most recently made factory to the first one.
// Creation, resource queries and trunk state walk the chain from its head:
//
//   for (SlotFactory* f = firstFactory; f; f = f->next()) f->Query(resources);
//
// A factory keeps the slots it made until they finish their destruction. A
// slot kind's factory:
//
//   Slot* TrunkFactory::INewSlot(const LGCP::CreateParams& params) {
//       const LGCP::TrunkParams* p = params.get_trunk();
//       if (!p || p->get_trunk().getValue() != trunk_) return nullptr;  // not ours
//       if (p->get_timeslot().getValue() > 31)
//           return invalidParams("timeslot out of range");  // ours, but not valid
//       return new TrunkSlot(...);                             // NewSlot lists it
//   }

#include <functional>
#include <list>

#include "messages/lgcp.h"

class Slot;

class SlotFactory {
public:
    SlotFactory();
    // Forgets the list; the slots belong to the registry.
    virtual ~SlotFactory();
    SlotFactory(const SlotFactory&) = delete;
    SlotFactory& operator=(const SlotFactory&) = delete;

    virtual const char* GetName() const = 0;
    // A new slot for parameters of this factory's kind that it can satisfy;
    // null otherwise.
    virtual Slot* INewSlot(const LGCP::CreateParams& params) = 0;
    // Looks at the hardware, at every resources query (also one that
    // comes while a count is under way): what a command after the query's
    // answer may rely on is known at once. Again before a report that
    // waited for a count, which says what the board has when it is sent.
    virtual void IQuery() {}
    // Writes the counters this factory owns, as the last IQuery left them.
    virtual void Query(LGCP::Resources& resources) = 0;
    // After IQuery: a factory that learns a counter from a program asks it
    // here and calls `ready` once Query can write it; the others are ready
    // at once.
    virtual void PrepareQuery(std::function<void()> ready) { ready(); }
    // A signal another service sent (trunk state), offered to every factory.
    virtual void SelfSignal(const LGCP::Signal&) {}

    // INewSlot; a new slot records this factory and joins its list.
    Slot* NewSlot(const LGCP::CreateParams& params);
    void Remove(Slot* slot);
    // The slots made here and not yet finished, in creation order.
    const std::list<Slot*>& slots() const { return slots_; }

    SlotFactory* next() const { return next_; }

    // Offers the parameters to every factory in chain order; the first slot
    // made wins. Without one, `cause` tells why: `invalidParams` when a
    // factory named it, otherwise `insufficientResources`.
    static Slot* CreateSlot(const LGCP::CreateParams& params, LGCP::ErrorCause::NamedNumber& cause);

protected:
    // For INewSlot: the parameters are of this factory's kind but a value is
    // one it cannot take. Logs the reason and returns null; the create
    // command is then answered `invalidParams` (unless another factory makes
    // the slot).
    Slot* invalidParams(const char* reason);

private:
    std::list<Slot*> slots_;
    SlotFactory* next_;
};

// The head of the chain; factories are never unlinked.
extern SlotFactory* firstFactory;
