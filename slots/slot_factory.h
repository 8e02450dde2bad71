#pragma once
// Every slot is made by a factory. Each factory is a process-wide object that
// links itself at the head of one global chain when it is constructed, so
// the chain runs from the most recently made factory to the first one.
// Creation, resource queries and trunk state walk the chain from its head:
//
//   for (SlotFactory* f = firstFactory; f; f = f->next()) f->Query(resources);

namespace LGCP {
class CreateParams;
class Resources;
class Signal;
}  // namespace LGCP

class Slot;

class SlotFactory {
public:
    SlotFactory();
    virtual ~SlotFactory() = default;
    SlotFactory(const SlotFactory&) = delete;
    SlotFactory& operator=(const SlotFactory&) = delete;

    virtual const char* GetName() const = 0;
    // A new slot for parameters of this factory's kind that it can satisfy;
    // null otherwise.
    virtual Slot* INewSlot(const LGCP::CreateParams& params) = 0;
    // Writes the counters this factory owns.
    virtual void Query(LGCP::Resources& resources) = 0;
    // A signal another service sent (trunk state), offered to every factory.
    virtual void SelfSignal(const LGCP::Signal&) {}

    SlotFactory* next() const { return next_; }

private:
    SlotFactory* next_;
};

// The head of the chain; factories are never unlinked.
extern SlotFactory* firstFactory;
