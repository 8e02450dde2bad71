#pragma once
// The slot registry: the only holder of slots and the controller-facing
// service of the slot commands. A command that names a slot number
// (connect, disconnect, create, destroy, activate, deactivate, userData,
// ioctl) acts on the slot of that number and is answered once: at once, or,
// for a destroy whose slot finishes later, when the slot calls on_release.
// Without a slot number it takes `query` and answers with the board's free
// resources, which every factory reports in chain order. Trunk state that
// other services signal goes to every factory. When the controller goes,
// every slot is destroyed; slots that do not finish within a second are
// dropped (IForcedRelease) so that every number is free for the next
// controller.

#include <array>
#include <list>

#include "link/ctrl_server.h"

class Slot;

class Slots : public CtrlSrv::Service {
public:
    static Slots* instance();

    void OnConnect() override {}
    // Destroys every slot and forgets the resources reports owed.
    void OnDisconnect() override;
    bool OnCommand(const LGCP::Command& command) override;
    void OnSignal(const LGCP::Signal& signal) override;

    // Unwires the slot and starts its destruction: true when it finished
    // and the slot is deleted; false when it ends later through on_release
    // (or is already being destroyed). Answers nothing.
    bool Destroy(Slot* slot);
    // From Slot::on_release: answers a waiting destroy and deletes the slot.
    void on_release(Slot* slot);

    // Every factory looks at its hardware at once; the free resources go to
    // the controller as a `query` signal once every factory is ready to
    // report them, looked at again when that took a while. A request while
    // they are being prepared is answered with the same report.
    void UpdateHardwareResources();

    // The slot at a number (0..1023), null when none.
    Slot* at(unsigned number) const;
    // Every live slot, in creation order.
    const std::list<Slot*>& live() const { return live_; }
    // Drops every slot at once, unwired without the switch and each told
    // IForcedRelease: for tests.
    void reset_for_test();

private:
    static constexpr unsigned kTableSize = CtrlSrv::Server::max_slot + 1;

    Slots() = default;

    bool OnBaseCommand(const LGCP::Command& command);
    bool OnSlotCommand(const LGCP::Command& command);
    void CmdQuery();
    void CmdConnect(unsigned target);
    void CmdCreate(const LGCP::CreateParams& params);
    void CmdDestroy();
    // The addressed slot; answers `slotNotExists` when there is none.
    Slot* Addressed();
    // Answers `unsupported` when the slot's hook refused, `invalidParams`
    // when it refused with RefuseInvalid.
    void AnswerHook(const Slot& slot, bool done);

    // Out of the lists and the table, its channels handed back
    // (HandBackChannels), and deleted.
    void int_destroy(Slot* slot);
    // Deletes a slot whose shutdown has not finished.
    void ForceRelease(Slot* slot);
    // One more factory is ready; the last has the hardware looked at again
    // and sends the reports owed.
    void FactoryReady();
    // Every factory's IQuery.
    void LookAtHardware();
    // The counters as the factories have them, to every report owed.
    void SendReports();

    std::array<Slot*, kTableSize> table_{};
    std::list<Slot*> live_;
    // Slots left unfinished by the controller's departure, until dropped.
    std::list<Slot*> unfinished_;
    // Resources reports asked for, and the factories not yet ready for them.
    unsigned reportsOwed_ = 0;
    unsigned unready_ = 0;
};
