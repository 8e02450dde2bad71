#pragma once
// ISDN slots without the PSTN slot's channel object. An `IsdnSlot` runs one
// Q.921 link on a multi-channel controller channel of its own and is itself
// the link's HDLC device; an `AtsQsigSlot` does the same on a QSIG
// signalling channel of "/dev/dsp-data"; an `AtsQsigBSlot` is one B channel
// of a QSIG slot, a plain TDM endpoint. The devices are opened at creation;
// activate and deactivate only start and stop the link.

#include <cstdint>
#include <vector>

#include "link/protocol.h"
#include "runtime/fd.h"
#include "runtime/log_throttle.h"
#include "runtime/multiplexer.h"
#include "runtime/owed.h"
#include "signalling/hdlc.h"
#include "signalling/lapd.h"
#include "slots/slot.h"

class IsdnSlot : public Slot,
                 public ProtocolsFamily,
                 public ISDN::LAPD::Notify,
                 public GenericHDLC {
public:
    // Takes a duplicate of the device's descriptor, the TDM number of its
    // signalling channel, and the link (which the slot's family owns). Out
    // of descriptors the loop cannot watch the device: is_open() is then
    // false, with errno set (the last step).
    IsdnSlot(const Fd& device, int channel, ISDN::LAPD* link, const char* eventName);

    // Refused once the device is closed, as is user data.
    bool IActivate(const TERM::TermActivateParams& params) override;
    bool IDeactivate() override;
    bool IUserData(const std::vector<char>& data) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    const char* GetName() const override { return "MCC"; }
    void IReleaseHardware() override;

    // The protocol family's owner: the link's frames go to the device
    // through hdlc_transmit, not through the family.
    void on_activated(Protocol* link) override;
    void on_deactivated(Protocol* link, Smart_pointer<Internal_protocol_status> status) override;
    void on_message(Packet& p) override;
    void transmit(Packet&) override {}
    void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {}

    // The link's HDLC device.
    bool hdlc_transmit(Packet& frame) override;
    bool is_open() const override { return event_.fd() >= 0; }
    bool is_ready() const override { return ready_; }

    void OnEvent(int fd, short revents);
    ISDN::LAPD& link() const { return *link_; }

protected:
    int device() const { return event_.fd(); }
    // Closes the device.
    void Release() { event_.Release(); }

private:
    // One frame up to the link. A device that ended (runtime/descriptor_end.h)
    // is closed, logged once. Closing it frees the channel in the driver
    // (the MCC allocation; a QSIG device's signalling and B channels), for
    // the next slot: the slot lets go of it at once, and says `deactivated`
    // unless its link had. The link then fails by its own timers.
    void ReadFrame(short revents);
    void SendIsdnStatistics();

    int channel_;
    Event event_;
    ISDN::LAPD* link_;
    bool ready_ = false;
    // The link was activated, or asked to be, and has not said `deactivated`
    // since.
    bool deactivationOwed_ = false;
    // A controller that sends on after the device closed, or more than the
    // link carries, gets a line a second.
    LogThrottle refused_;
    LogThrottle tooLong_;
};

class AtsQsigBSlot;

class AtsQsigSlot : public IsdnSlot {
public:
    AtsQsigSlot(const Fd& device, int channel, ISDN::LAPD* link);
    // Its B-channel slots can no longer reach it.
    ~AtsQsigSlot() override;

    const char* GetName() const override { return "ATS-QSIG"; }
    bool IBeforeDestroy() override;

    // A slot for B channel `index`; null (logged) when the device refuses,
    // or refuses again the removal it still owes of that B channel.
    AtsQsigBSlot* NewBChannel(unsigned index);
    // The driver frees the B channels with the device: their slots let go,
    // and no removal is owed any more.
    void IReleaseHardware() override;

private:
    friend class AtsQsigBSlot;

    void RemoveBChannel(AtsQsigBSlot& b);
    // The driver's removal of B channel `index`; true once it has none
    // (done, or it answers that it has no such B channel).
    bool Remove(int32_t index);
    void LetGoOfBChannels();

    std::vector<AtsQsigBSlot*> bChannels_;
    // The B channels whose removal the driver refused at their slot's
    // destroy, until it has done it: also before the index is added again.
    Owed<int32_t> removals_{[this](int32_t index) { return Remove(index); }};
    LogThrottle removeRefused_;
};

class AtsQsigBSlot : public Slot {
public:
    AtsQsigBSlot(AtsQsigSlot& signalling, unsigned index, int channel);
    ~AtsQsigBSlot() override;

    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    const char* GetName() const override { return "ATS-QSIG-B"; }
    // Asks the signalling slot that made it, while that slot lives, to
    // remove the B channel.
    bool IBeforeDestroy() override;

    unsigned index() const { return index_; }
    void IReleaseHardware() override { channel_ = -1; }

private:
    friend class AtsQsigSlot;
    AtsQsigSlot* signalling_;  // null once that slot is gone
    unsigned index_;
    int channel_;
};
