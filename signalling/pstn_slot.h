#pragma once
// The PSTN signalling slot: one signalling data link on an E1 timeslot or a
// BRI D channel, over an HDLC channel of its own. The link is an SS7 MTP
// level 2 link, an ISDN Q.921 link (PRI either side, BRI user side), the
// network side of a BRI line, or none (CAS: the channel alone). The
// controller wires the slot to the trunk slot of its timeslot, which opens
// the channel and starts the link; layer-3 messages pass as user data, and
// the link statistics go out as `ioctl` signals every 3 seconds.
//
// In SS7, CAS and PRI mode the channel is open while the slot is wired from
// its trunk: it hears the timeslot and transmits into it (while no other
// slot feeds the timeslot). In BRI mode it is open while the slot is wired
// both ways: it hears its source's D channel and transmits into the
// receiver wired last.

#include <memory>
#include <vector>

#include "link/protocol.h"
#include "runtime/log_throttle.h"
#include "runtime/timer.h"
#include "signalling/d_channel_slot.h"
#include "signalling/hdlc.h"
#include "signalling/lapd.h"

namespace ISDN {
class LAPD_NT;
}
namespace SS7 {
class SLC;
}

class PstnSlot : public DChannelSlot, public ProtocolsFamily, public ISDN::LAPD::Notify {
public:
    // 0 SS7 or CAS, 1 ISDN PRI, 2 ISDN BRI user side, 3 BRI network side.
    enum LinkMode { ss7_or_cas = 0, pri = 1, bri_user = 2, bri_network = 3 };
    static constexpr unsigned update_ms = 3000;

    explicit PstnSlot(const LGCP::PstnParams& params);
    ~PstnSlot() override;

    void OnTrunkStatus(unsigned trunk, const ACP::TrunkState::NamedNumber& state) override;
    bool IActivate(const TERM::TermActivateParams& params) override;
    bool IDeactivate() override;
    bool IUserData(const std::vector<char>& data) override;
    bool Ioctl(const LGCP::IoctlParams& params) override;
    const char* GetName() const override { return "pstn"; }

    // The protocol family's owner.
    void on_activated(Protocol* link) override;
    void on_deactivated(Protocol* link, Smart_pointer<Internal_protocol_status> status) override;
    void on_message(Packet& p) override;

    // The channel's reports, for the link.
    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    void on_hdlc_ready() override;
    void OnLAPD_FlowStatusChange(ISDN::LAPD* link) override;

    int link_mode() const { return mode_; }
    // The link carries data: LAPD established (PRI, BRI user side), MTP2
    // in service.
    bool link_up() const;
    const HDLC& channel() const { return *channel_; }

    static const TimerSpec<PstnSlot>::Spec TUpdatespec;

protected:
    HDLC& Channel() override { return *channel_; }
    Wants IWants() override;
    // A trunk's timeslot (SS7, CAS, PRI), or any channel (BRI).
    bool IAccepts(Slot& peer, bool asSource) override;
    // CAS has no link: nothing follows.
    void IStartLink() override { activate(); }
    void IStopLink() override { deactivate(); }
    // On another line a LAPD link establishes itself anew (SABME: a DISC
    // would end what the new far end establishes with it), the network
    // side of a BRI line checks its terminals, an SS7 link aligns again.
    void IMoveLink() override;

private:
    void MakeSS7Link(const LGCP::SS7Params& params);
    void MakeIsdnLink(const LGCP::IsdnParams& params);
    void OnUpdateTimer();
    void SendLinkStatistics();  // ISDN when changed, SS7 always

    HDLC* channel_;
    int mode_ = ss7_or_cas;
    unsigned trunkIndex_ = 0;
    SS7::SLC* ss7_ = nullptr;
    ISDN::LAPD* isdn_ = nullptr;
    ISDN::LAPD_NT* network_ = nullptr;
    HDLC::Notify* linkNotify_ = nullptr;
    // A controller that sends on after the channel ended, or more than the
    // link carries, gets a line a second.
    LogThrottle refused_;
    LogThrottle tooLong_;
    ACP::TrunkState::NamedNumber lastTrunkState_ = ACP::TrunkState::unknown;
    TimerSpec<PstnSlot>::SpecTimer<TUpdatespec> updateTimer_;
};
