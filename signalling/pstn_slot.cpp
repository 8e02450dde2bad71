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
    channel_->mode = mode_ == ss7_or_cas ? HDLC::ss7 : mode_ == pri ? HDLC::pri : HDLC::bri;
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

bool PstnSlot::IAccepts(Slot& peer, bool asSource) {
    if (!asSource || mode_ > pri) return true;
    const int trunk = peer.GetTrunk();
    if (trunk < 0 || trunk > 3) {
        std::cerr << "pstn-slot: invalid trunk number: " << trunk << std::endl;
        return false;
    }
    const int timeslot = peer.GetTrunkTimeSlot();
    if (timeslot < 0 || timeslot > 31) {
        std::cerr << "pstn-slot: invalid timeslot: " << timeslot << std::endl;
        return false;
    }
    channel_->trunk = static_cast<unsigned>(trunk);
    channel_->timeslot = static_cast<unsigned>(timeslot);
    return true;
}

PstnSlot::Wants PstnSlot::IWants() {
    Slot* source = LiveSource();
    if (mode_ <= pri) {
        if (!source) return {};
        return {true, source->IGetTransmitChannel(), source->IGetReceiveChannel(), linkMade()};
    }
    Slot* destination = LastReceiver();
    if (!source || !destination) return {};
    return {true, source->IGetTransmitChannel(), destination->IGetReceiveChannel(),
            destination->linkMade()};
}

// ---- Commands

// A channel that knows not where to receive from and transmit to (never
// wired, or unwired since) is not opened: it would switch into nothing, or
// into a call the driver gave its peer's channel to since.
bool PstnSlot::IActivate(const TERM::TermActivateParams&) {
    if (Reopen()) return true;
    std::cerr << "pstn-slot: " << *this << " wired to no channel, activate refused" << std::endl;
    return false;
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
    if (ended()) {
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

void PstnSlot::IMoveLink() {
    if (ss7_) deactivate();
    activate();
}

bool PstnSlot::link_up() const {
    if (ss7_) return ss7_->state_id() == SS7::SLC::State::worked;
    if (!isdn_) return false;
    const unsigned state = isdn_->full_state().state;
    return state == ISDN::multiple_frame_established || state == ISDN::timer_recovery;
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
    ChannelEnded();
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

