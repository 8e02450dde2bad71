#pragma once
// Software T.38: a fax call relayed between a TDM channel and a T.38 peer on
// the IP network by the program "/usr/local/sbin/t38", one per call. The
// factory allocates a transparent channel of the multi-channel controller,
// hands its descriptor to the program as standard input and represents the
// call by a slot whose transmit and receive channel is the controller
// channel's timeslot. The program's end reaches the controller as `abort`.
// The count of instances for `query` is the program's answer, which the loop
// reads as it comes.

#include <functional>
#include <iosfwd>

#include "runtime/log_throttle.h"
#include "slots/child_program.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

class T38SoftSlot : public Slot {
public:
    // The program runs as `pid` on the channel `timeslot`.
    T38SoftSlot(int pid, int timeslot);

    const char* GetName() const override { return "t38 soft"; }
    // Reports both streams with the channel.
    void IAfterCreate() override;
    // Sends SIGTERM to a program that still runs; the slot finishes when
    // the program has ended, or SIGKILL has ended it 5000 ms later, so its
    // channel is free by then.
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return timeslot_; }
    int IGetReceiveChannel() override { return timeslot_; }

    // The program ended: a slot being destroyed has finished; otherwise it
    // lets go of the channel, and `abort` with the raw wait status.
    void OnT38Terminate(int status);
    void IReleaseHardware() override { timeslot_ = -1; }
    // -1 once the program has ended.
    int pid() const { return program_.pid(); }

private:
    std::ostream& PutHeader(std::ostream& os) const;

    int timeslot_;
    SlotChild program_{*this, "t38 daemon"};
};

class T38SoftFactory : public SlotFactory {
public:
    static T38SoftFactory& instance() {
        static T38SoftFactory factory;
        return factory;
    }

    const char* GetName() const override { return "T.38 soft"; }
    // Starts the program on a new channel; null when the channel or the
    // program cannot be had.
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    // Asks the program for the count; `ready` once it answered or the
    // time limit passed.
    void PrepareQuery(std::function<void()> ready) override;
    // `t38-instances`: the program's last count (0 before the first).
    void Query(LGCP::Resources& resources) override;

    std::ostream& PutHeader(std::ostream& os) const;

    // As at start-up, for a test: no count known, nothing said.
    void reset_for_test();

private:
    T38SoftFactory() = default;

    // Starts "t38 --num-of-instances"; false (logged) when it cannot run:
    // a missing program counts 0, the count known before stands otherwise.
    bool QueryNumOfInstances();
    void OnCount(bool answered, const std::string& text);
    // The count is known: the registry waiting for it hears so.
    void Counted(int instances);

    ChildAnswer count_;
    int instances_ = 0;
    // Said at every query while the program is missing.
    LogThrottle notFound_;
    // The registry's call once the count under way is known.
    std::function<void()> ready_;
};
