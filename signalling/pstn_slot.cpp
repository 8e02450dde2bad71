#include "signalling/pstn_slot.h"

#include <iostream>

#include "signalling/lapd_nt.h"
#include "signalling/link_reports.h"
#include "signalling/message_size.h"
#include "signalling/mtp2.h"

namespace {

// The creation parameter `trunk` less one, in unsigned arithmetic: every
// INTEGER the controller may send has one (beyond 1..4 it matches no trunk).
unsigned TrunkIndex(int trunk) { return static_cast<unsigned>(trunk) - 1u; }

}  // namespace

const TimerSpec<PstnSlot>::Spec PstnSlot::TUpdatespec{&PstnSlot::OnUpdateTimer, nullptr,
                                                      PstnSlot::update_ms};

PstnSlot::PstnSlot(const LGCP::PstnParams& params) : channel_(new HDLC) {
    channel_->notify = this;
    if (const LGCP::SS7Params* ss7 = params.get_ss7())
        MakeSS7Link(*ss7);
    else if (const LGCP::IsdnParams* isdn = params.get_isdn())
        MakeIsdnLink(*isdn);
    else if (const LGCP::CasParams* cas = params.get_cas())
        channel_->link = static_cast<unsigned>(cas->get_trunk().getValue());
    updateTimer_.set(this);
}

void PstnSlot::MakeSS7Link(const LGCP::SS7Params& params) {
    const int trunk = params.get_trunk().getValue();
    trunkIndex_ = TrunkIndex(trunk);
    channel_->link = static_cast<unsigned>(trunk);
    ss7_ = new SS7::SLC;
    ss7_->set_trunk(static_cast<unsigned>(trunk));
    ss7_->set_slc(static_cast<unsigned>(params.get_slc().getValue()));
    ss7_->set_dpc(static_cast<unsigned>(params.get_dpc().getValue()));
    ss7_->set_opc(static_cast<unsigned>(params.get_opc().getValue()));
    ss7_->set_emergency(params.get_emergency().getValue());
    ss7_->set_hdlc(channel_);
    linkNotify_ = ss7_;
    add_protocol_tail(ss7_);
}

void PstnSlot::MakeIsdnLink(const LGCP::IsdnParams& params) {
    const int trunk = params.get_trunk().getValue();
    const unsigned log = static_cast<unsigned>(params.get_log().getValue());
    const bool bri = params.get_type().getValue() == LGCP::IsdnType::bri;
    const bool network = params.get_side().is_network();
    if (bri && network) {
        // The network side of a BRI line, serving its terminals' TEIs: no
        // trunk of its own.
        mode_ = bri_network;
        network_ = new ISDN::LAPD_NT;
        network_->set_log(log);
        network_->set_hdlc(channel_);
        add_protocol_tail(network_);
        return;
    }
    mode_ = bri ? bri_user : pri;
    trunkIndex_ = TrunkIndex(trunk);
    channel_->link = static_cast<unsigned>(trunk);
    isdn_ = new ISDN::LAPD;
    isdn_->set_side(network ? ISDN::Side::network : ISDN::Side::user);
    isdn_->set_trunk(static_cast<unsigned>(trunk));
    isdn_->set_log_level(log);
    isdn_->set_notify(this);
    isdn_->set_hdlc(channel_);
    if (bri) isdn_->change_to_bri();
    linkNotify_ = isdn_;
    add_protocol_tail(isdn_);
}

PstnSlot::~PstnSlot() {
    delete channel_;
    delete ss7_;
    delete isdn_;
    delete network_;
}

// ---- Wiring: the trunk slot gives the channel its timeslot.

bool PstnSlot::IHwConnectReceiver(Slot& source) {
    if (mode_ > pri && source.IGetTransmitChannel() < 0) return true;  // nothing to hear
    if (mode_ == ss7_or_cas || mode_ == pri) {
        const int trunk = source.GetTrunk();
        if (trunk < 0 || trunk > 3) {
            std::cerr << "pstn-slot: invalid trunk number: " << trunk << std::endl;
            return false;
        }
        const int timeslot = source.GetTrunkTimeSlot();
        if (timeslot < 0 || timeslot > 31) {
            std::cerr << "pstn-slot: invalid timeslot: " << timeslot << std::endl;
            return false;
        }
        channel_->trunk = static_cast<unsigned>(trunk);
        channel_->timeslot = static_cast<unsigned>(timeslot);
    }
    channel_->mode = mode_ == ss7_or_cas ? HDLC::ss7 : mode_ == pri ? HDLC::pri : HDLC::bri;
    channel_->sourceChannel = source.IGetTransmitChannel();
    // A BRI channel also needs to know where it transmits.
    if (mode_ <= pri || channel_->briDestination != -1) iactivate();
    return true;
}

// In PRI, SS7 and CAS mode the channel transmits where it receives from:
// an open channel makes that path again, which another owner may have
// switched over since its last link there went. A BRI channel transmits
// into the peer wired last: one open with no source wired moves its path
// there. A peer without a channel changes nothing.
bool PstnSlot::IHwConnectTransmitter(Slot& destination) {
    const int channel = destination.IGetReceiveChannel();
    if (mode_ <= pri) return channel != channel_->sourceChannel || channel_->Renew();
    if (channel < 0) return true;
    const int before = channel_->briDestination;
    channel_->briDestination = channel;
    if (channel_->sourceChannel != -1) {
        iactivate();
        return true;
    }
    if (channel_->Renew()) return true;
    channel_->briDestination = before;
    return false;
}

bool PstnSlot::IHwRenew(Slot& peer) {
    return channel_->Renew(MayRenewInto(*this, peer, channel_->destination()));
}

// The slot's channel made the path into the destination (in PRI, SS7 and
// CAS mode when the slot's source was wired): it leaves it, unless another
// owner has switched into it since. Unwired, the slot forgets the peer's
// channel, which the driver may give to the next call.
bool PstnSlot::IHwDisconnectTransmitter(Slot& destination) {
    if (mode_ > pri) deactivate();
    const int channel = destination.IGetReceiveChannel();
    channel_->LeaveDestination(channel);
    if (mode_ > pri && channel_->briDestination == channel) channel_->briDestination = -1;
    return true;
}

bool PstnSlot::IHwDisconnectReceiver(Slot& source) {
    deactivate();
    Slot::IHwDisconnectReceiver(source);
    if (channel_->sourceChannel == source.IGetTransmitChannel()) channel_->sourceChannel = -1;
    return true;
}

void PstnSlot::iactivate() {
    if (channel_->activate()) {
        channelEnded_ = false;
        activate();  // CAS has no link: nothing follows
    } else {
        OnDeactivated();
    }
}

// ---- Commands

// A channel that knows not where to receive from and transmit to (never
// wired, or unwired since) is not opened: it would switch into nothing, or
// into a call the driver gave its peer's channel to since.
bool PstnSlot::IActivate(const TERM::TermActivateParams&) {
    if (!channel_->wired()) {
        std::cerr << "pstn-slot: " << *this << " wired to no channel, activate refused"
                  << std::endl;
        return false;
    }
    iactivate();
    return true;
}

bool PstnSlot::IDeactivate() {
    deactivate();
    return true;
}

// Refused without a link (CAS); while the channel is closed after it ended;
// on SS7 when the payload is too short for an MSU (it would leave as a
// fill-in or status unit); and when it is longer than one frame of the link
// carries.
bool PstnSlot::IUserData(const std::vector<char>& data) {
    if (!top()) return false;
    if (channelEnded_) {
        if (refused_.admit())
            std::cerr << "pstn-slot: " << *this << " channel closed, userData refused" << refused_
                      << std::endl;
        return false;
    }
    if (ss7_ && data.size() < SS7::SLC::shortest_msu) return false;
    if (!message_fits(*this, data.size(), ss7_ ? SS7::SLC::longest_msu : ISDN::LAPD::N201,
                      tooLong_))
        return false;
    Packet p;
    prepare_head(p);
    p.put(data.data(), static_cast<unsigned>(data.size()));
    message(p);
    return true;
}

bool PstnSlot::Ioctl(const LGCP::IoctlParams& params) {
    if (!ss7_) return false;
    if (params.is_ss7RqBSN()) {
        LGCP::IoctlResponse report;
        report.set_ss7BSN(static_cast<int>(ss7_->BSNT()));
        OnIoctlResponse(report);
        return true;
    }
    if (const LGCP::SS7L2Log* log = params.get_ss7Log()) {
        SS7::SLC::Trace& trace = ss7_->trace();
        trace.state = log->get_state().getValue();
        trace.raw_receive = log->get_raw_receive().getValue();
        trace.raw_transmit = log->get_raw_transmit().getValue();
        trace.mtp_transmit = log->get_mtp_transmit().getValue();
        trace.mtp_receive = log->get_mtp_receive().getValue();
        trace.mtp_activate = log->get_mtp_activate().getValue();
        trace.timers = log->get_timers().getValue();
        trace.msu_processing = log->get_msu_processing().getValue();
        return true;
    }
    return false;
}

void PstnSlot::OnTrunkStatus(unsigned trunk, const ACP::TrunkState::NamedNumber& state) {
    if (!ss7_ || trunk != trunkIndex_ || state == lastTrunkState_) return;
    lastTrunkState_ = state;
    ss7_->OnTrunkHardStatus(state == ACP::TrunkState::normal);
}

// ---- The link's reports

void PstnSlot::SendLinkStatistics() {
    LGCP::IoctlResponse report;
    if (isdn_ && IsdnLinkReport(*isdn_, report)) OnIoctlResponse(report);
    if (ss7_) OnIoctlResponse(SS7LinkReport(*ss7_));
}

void PstnSlot::OnUpdateTimer() {
    updateTimer_.set(this);
    OnIoctlResponse(HdlcLinkReport(*channel_));
    SendLinkStatistics();
}

void PstnSlot::on_activated(Protocol*) {
    SendLinkStatistics();
    OnActivated();
}

void PstnSlot::on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status>) {
    SendLinkStatistics();
    OnUpdateTimer();
    OnDeactivated();
}

void PstnSlot::on_message(Packet& p) {
    const unsigned char* data = p.data();
    OnUserData(std::vector<char>(data, data + p.length()));
}

void PstnSlot::OnLAPD_FlowStatusChange(ISDN::LAPD* link) {
    OnIoctlResponse(IsdnFlowReport(*link));
}

// ---- The channel's reports go to the link.

void PstnSlot::on_hdlc_receive(Packet& frame) {
    if (mode_ == bri_network)
        receive(frame);
    else if (linkNotify_)
        linkNotify_->on_hdlc_receive(frame);
}

// Without a link layer to report it (CAS, the network side of a BRI line)
// the slot says so itself, as when the channel does not open.
void PstnSlot::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
    channelEnded_ = true;
    if (linkNotify_)
        linkNotify_->on_hdlc_error(cause);
    else
        OnDeactivated();
}

void PstnSlot::on_hdlc_ready() {
    if (linkNotify_)
        linkNotify_->on_hdlc_ready();
    else if (network_)
        network_->on_hdlc_ready();
}

bool PstnSlot::hdlc_admits(int channel) { return MuxAdmitsForLinks(*this, channel); }

void PstnSlot::hdlc_holds(int channel) { HoldChannel(channel); }

void PstnSlot::hdlc_gives_back(int channel) { LetGoOfChannel(*this, channel); }
