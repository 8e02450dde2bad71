#include "slots/slot.h"

#include <algorithm>
#include <iomanip>
#include <iostream>

#include "slots/slot_factory.h"
#include "slots/slots.h"

// The switch forgets the slot's claims as its owner goes.
Slot::~Slot() {
    receivers_.clear();
    LetGoOfChannels(*this);
}

bool Slot::IHwConnectTransmitter(Slot& destination) {
    return MuxConnect(*this, destination);
}
bool Slot::IHwConnectReceiver(Slot& source) {
    return MuxConnect(source, *this);
}
bool Slot::IHwMayConnect(Slot& source, Slot& destination) {
    return MuxMayConnect(source, destination);
}
bool Slot::IHwDisconnectTransmitter(Slot& destination) {
    return MuxDisconnect(destination);
}
bool Slot::IHwDisconnectReceiver(Slot&) {
    return MuxDisconnect(*this);
}

void Slot::Put(std::ostream& os) const {
    if (number_ <= CtrlSrv::Server::max_slot) {
        os << std::setfill('0') << std::setw(2) << number_ << std::setfill(' ');
    } else if (number_ == kNoNumber) {
        os << "na";
    } else {
        os << 'i' << number_;
    }
    os << ':' << GetName();
}

std::ostream& operator<<(std::ostream& os, const Slot& slot) {
    slot.Put(os);
    return os;
}

// ---- Signals

void Slot::SendSignal(const LGCP::Signal& signal) {
    Slots::instance()->SendSignal(number_, signal);
}

namespace {

// A signal whose alternative `fill` selects and sets.
template <class Fill>
LGCP::Signal Make(Fill fill) {
    LGCP::Signal signal;
    fill(signal);
    return signal;
}

}  // namespace

void Slot::OnTonecEvent(const LGCP::TonecEvent& e) {
    SendSignal(Make([&](LGCP::Signal& s) { s.set_tonec(e); }));
}
void Slot::OnModem(const TERM::ModemProceeding& p) {
    SendSignal(Make([&](LGCP::Signal& s) { s.set_modemProceeding(p); }));
}
void Slot::OnActivated() {
    SendSignal(Make([](LGCP::Signal& s) { s.select_activated(); }));
}
void Slot::OnDeactivated() {
    SendSignal(Make([](LGCP::Signal& s) {
        s.select_deactivated().setValue(LGCP::DeactivateCause::networkError);
    }));
}
void Slot::OnAbort(int cause) {
    SendSignal(Make([&](LGCP::Signal& s) { s.select_abort().setValue(cause); }));
}
void Slot::OnUserData(const std::vector<char>& data) {
    SendSignal(Make([&](LGCP::Signal& s) { s.set_userData(data); }));
}
void Slot::OnIoctlResponse(const LGCP::IoctlResponse& r) {
    SendSignal(Make([&](LGCP::Signal& s) { s.set_ioctl(r); }));
}
void Slot::OnRtpRadioEvent(const TERM::RtpRadioRequest& r) {
    SendSignal(Make([&](LGCP::Signal& s) { s.set_rtpExt(r); }));
}
void Slot::OnVADEvent(const LGCP::VADEvent& e) {
    SendSignal(Make([&](LGCP::Signal& s) { s.set_vad(e); }));
}
void Slot::OnSDEvent(const LGCP::SDEvent& e) {
    SendSignal(Make([&](LGCP::Signal& s) { s.set_sd(e); }));
}
void Slot::OnRtpEvent(const LGCP::RtpEvent& e) {
    SendSignal(Make([&](LGCP::Signal& s) { s.set_rtp(e); }));
}

// ---- Streams

void Slot::OnChangeInputStream(bool on) {
    if (inputStream_ == on) return;
    LGCP::Signal signal;
    if (on) {
        signal.select_receiver().set_active(IGetReceiveChannel());
    } else {
        signal.select_receiver().select_inactive();
        Disconnect(*this);
    }
    inputStream_ = on;
    SendSignal(signal);
}

void Slot::OnChangeOutputStream(bool on) {
    if (outputStream_ == on) return;
    LGCP::Signal signal;
    if (on) {
        signal.select_transmitter().set_active(IGetTransmitChannel());
    } else {
        signal.select_transmitter().select_inactive();
        DisconnectReceivers("mux: internal error: expected slots not exists.");
    }
    outputStream_ = on;
    SendSignal(signal);
}

// Release hooks may rewire the graph, so every step reads the list afresh.
// A hook that disconnected a sibling empties it early: only this loop
// stops, the server serves on.
void Slot::DisconnectReceivers(const char* shortLine) {
    for (size_t count = receivers_.size(); count > 0; --count) {
        if (receivers_.empty()) {
            std::cerr << shortLine << std::endl;
            return;
        }
        Disconnect(*receivers_.front());
    }
}

// ---- Hardware the slot lost

void Slot::LetGoOfHardware(Loss loss, int cause) {
    if (hardwareLost_) return;
    BreakPathsOfLinks();
    const int transmit = IGetTransmitChannel();
    const int receive = IGetReceiveChannel();
    MuxSwitchOff(*this, transmit);
    if (receive != transmit) MuxSwitchOff(*this, receive);
    IReleaseHardware();
    hardwareLost_ = true;
    LetGoOfChannels(*this);
    FollowLinksWithout(*this);
    if (loss == Loss::abort) OnAbort(cause);
}

// A hook may rewire the graph: each receiver is taken from a copy and only
// while it is still one.
void Slot::BreakPathsOfLinks() {
    if (source_) llDisconnect(*this);
    const Receivers receivers = receivers_;
    for (Slot* receiver : receivers)
        if (receiver->source() == this) llDisconnect(*receiver);
}

// ---- Destruction

void Slot::LeaveFactory() {
    if (factory_) factory_->Remove(this);
}

bool Slot::BeforeDestroy() {
    inBeforeDestroy_ = true;
    const bool finished = IBeforeDestroy() || releasedEarly_;
    inBeforeDestroy_ = false;
    if (!finished) return false;
    if (factory_)
        LeaveFactory();
    else
        std::cerr << "slot: internal error!!! BeforeDestroy() not connected to factory"
                  << std::endl;
    return true;
}

void Slot::on_release() {
    if (!destroying_) return;
    if (inBeforeDestroy_) {
        releasedEarly_ = true;  // BeforeDestroy reports it finished
        return;
    }
    LeaveFactory();
    Slots::instance()->on_release(this);
}

// ---- The graph

void Slot::LogicalConnect(Slot& source, uint64_t made) {
    LogicalDisconnect();
    source_ = &source;
    linkMade_ = made ? made : ++links_;
    Receivers& list = source.receivers_;
    auto at = std::lower_bound(list.begin(), list.end(), this, std::less<Slot*>());
    if (at == list.end() || *at != this) list.insert(at, this);
}

void Slot::LogicalDisconnect() {
    if (!source_) return;
    Receivers& list = source_->receivers_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    source_ = nullptr;
}
