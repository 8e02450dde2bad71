#pragma once
// MCC slots: a raw data channel of the board's multi-channel controller
// ("/dev/mcc/ctl"), which the controller wires to a trunk timeslot and
// exchanges user data with. Each slot holds one open of the device with
// its channel allocated: every userData command is written as one packet,
// and every packet the channel receives goes to the controller as one
// userData signal.

#include <iosfwd>
#include <vector>

#include "board/drivers/mcc.h"
#include "runtime/fd.h"
#include "runtime/log_throttle.h"
#include "runtime/multiplexer.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

class MccSlot : public Slot {
public:
    // Takes the allocated channel's descriptor and its TDM channel. Out of
    // descriptors the loop cannot watch it: watched() is then false, with
    // errno set (the last step).
    MccSlot(Fd channel, int timeslot);
    bool watched() const { return event_.fd() >= 0; }

    // One packet; false when the driver did not take all of it, or the
    // channel ended.
    bool IUserData(const std::vector<char>& data) override;
    void IReleaseHardware() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return timeslot_; }
    int IGetReceiveChannel() override { return timeslot_; }
    const char* GetName() const override { return "MCC"; }

private:
    void OnEvent(int fd, short revents);
    // Sends the packets waiting on the channel, each as one signal; the
    // slot lets go of a channel that ended.
    void DoRead(short revents);
    void ChannelEnded(const char* why);

    Fd channel_;
    int timeslot_;
    Event event_;
    // A controller that sends faster than the line, or on after the channel
    // ended, would have a line written for each packet.
    LogThrottle refused_;
    LogThrottle writeFailed_;
};

class MccFactory : public SlotFactory {
public:
    // The largest packet a channel receives; a read takes at most kReadSize.
    static constexpr unsigned kRxPacketSize = 512;
    static constexpr unsigned kReadSize = 1024;

    static MccFactory& instance() {
        static MccFactory factory;
        return factory;
    }

    const char* GetName() const override { return "MCC"; }
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    // The controller's free data, BRI and transparent channels (0 when the
    // device cannot be opened; as before when that is for want of a
    // descriptor, or when the driver refuses the request).
    void IQuery() override;
    void Query(LGCP::Resources& resources) override;

    void PutHeader(std::ostream& os) const;

private:
    MccFactory() = default;

    board::mcc::mcc_resources free_{};
};
