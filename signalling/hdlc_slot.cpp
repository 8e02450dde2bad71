#include "signalling/hdlc_slot.h"

#include <iostream>

#include "runtime/ext_output.h"
#include "runtime/trace_ctl.h"
#include "signalling/link_reports.h"
#include "signalling/pool_reserve.h"

namespace {

constexpr unsigned kHeaderSize = 3;  // address, control
constexpr unsigned kMoreOffset = 4;  // the body's second byte
constexpr uint8_t kMoreBit = 0x80;

}  // namespace

// The trunk index, `trunk` less one, is taken in unsigned arithmetic:
// defined for every INTEGER the controller may send.
HdlcSlot::HdlcSlot(const LGCP::HdlcParams& params)
    : trunkIndex_(static_cast<unsigned>(params.get_trunk().getValue()) - 1u),
      address_(static_cast<uint16_t>(params.get_address().getValue())) {
    channel_.notify = this;
    channel_.mode = HDLC::pri;  // a data channel
    channel_.link = static_cast<unsigned>(params.get_trunk().getValue());
    if (traces.hdlc)
        std::clog << ext::header(this) << "trunk=" << trunkIndex_ << ", address=" << address_
                  << std::endl;
    updateTimer_.set(update_ms, &HdlcSlot::OnUpdateTimer, this);
    pending_.select_hdlcPackages();
}

void HdlcSlot::PutHeader(std::ostream& os) const { os << "HdlcSlot[" << trunkIndex_ << "/*]: "; }

// ---- Wiring: the channel receives from and transmits to one TDM channel.

// The peer of the link made last gives the channel. A peer whose two
// channels differ is fed only over the link to it, into its receive
// channel: its transmit channel is one the board takes in (a bus channel
// another board drives, a mixer output whose channel is its input's).
HdlcSlot::Wants HdlcSlot::IWants() {
    Slot* source = LiveSource();
    Slot* receiver = LastReceiver();
    const bool fromSource = source && (!receiver || linkMade() > receiver->linkMade());
    if (!fromSource && !receiver) return {};
    Slot& peer = fromSource ? *source : *receiver;
    const int tx = peer.IGetTransmitChannel(), rx = peer.IGetReceiveChannel();
    if (tx != rx && &peer == source && peer.source() == this)  // wired both ways
        return {true, tx, rx, peer.linkMade()};
    if (fromSource) return {true, tx, tx == rx ? tx : -1, linkMade()};
    return {true, rx, rx, peer.linkMade()};
}

void HdlcSlot::IStartLink() {
    if (traces.hdlc)
        std::clog << ext::header(this) << "HDLC activated successfully, params.tdm = "
                  << channel_.heard() << std::endl;
}

// Not wired, or unwired since, the channel would switch into nothing, or
// into a call the driver gave its peer's channel to since: not opened.
bool HdlcSlot::IActivate(const TERM::TermActivateParams&) {
    if (Reopen()) return true;
    std::clog << ext::header(this) << "wired to no channel, activate refused" << std::endl;
    return false;
}

// ---- Sending

// A package that does not fit is counted by the send counter all the same.
bool HdlcSlot::enqueue(const std::vector<char>& body) {
    const auto control = static_cast<unsigned char>((sendCounter_++ << 5) | peerCounter_);
    if (queue_.full() || !pool_has_room()) return false;
    Packet frame;
    frame.reserve_head(0);
    frame.put16_b(address_);
    frame.put(control);
    frame.put(body.data(), static_cast<unsigned>(body.size()));
    if (traces.hdlc)
        std::clog << ext::header(this) << "enqueue package: \n" << frame.text() << std::endl;
    queue_.put(frame);
    return true;
}

// The packages that fit leave in order; those that do not are counted and
// the command is refused, so the controller knows they were lost. A channel
// that ended takes none until the slot opens it again.
bool HdlcSlot::Ioctl(const LGCP::IoctlParams& params) {
    const auto* packages = params.get_hdlcPackages();
    if (!packages) return false;
    if (ended()) {
        if (refused_.admit())
            std::clog << ext::header(this) << "channel closed, packages refused" << refused_
                      << std::endl;
        return false;
    }
    unsigned dropped = 0;
    for (const LGCP::HdlcPackage& package : *packages)
        if (!enqueue(package.get_body())) ++dropped;
    if (dropped && queueFull_.admit())
        std::clog << ext::header(this) << "send queue full: " << dropped << " of "
                  << packages->size() << " packages dropped" << queueFull_ << std::endl;
    if (!queue_.empty() && channel_.is_ready()) on_hdlc_ready();
    return dropped == 0;
}

// A frame the channel failed (open and ready, yet refused: a write error)
// is dropped; a busy or closed channel keeps it first for the next time.
void HdlcSlot::on_hdlc_ready() {
    Packet frame;
    while (queue_.preview(&frame)) {
        if (!channel_.hdlc_transmit(frame) && (!channel_.is_open() || !channel_.is_ready()))
            return;
        queue_.get(nullptr);
        if (traces.hdlc) std::clog << ext::header(this) << "on_hdlc_ready " << frame.text() << std::endl;
    }
}

// ---- Receiving

void HdlcSlot::on_hdlc_receive(Packet& frame) {
    if (traces.hdlc) std::clog << ext::header(this) << "on_hdlc_receive " << frame.text() << std::endl;
    enqResponce(frame);
    // A frame too short to have the "more" bit ends the response.
    const bool more = frame.length() > kMoreOffset && (frame[kMoreOffset] & kMoreBit);
    if (!more) {
        flushTimer_.reset();
        flushResponce();
    } else if (!flushTimer_) {
        flushTimer_.set(flush_ms, &HdlcSlot::flushResponce, this);
    }
}

// Missing bytes of a short frame read as 0.
void HdlcSlot::enqResponce(const Packet& frame) {
    const unsigned length = frame.length();
    const unsigned char* bytes = frame.data();
    auto byte = [&](unsigned i) -> unsigned { return i < length ? bytes[i] : 0; };
    const uint16_t address = static_cast<uint16_t>(byte(0) << 8 | byte(1));
    if (address != address_) return;
    peerCounter_ = static_cast<uint8_t>(byte(2) >> 5);
    const char* body = reinterpret_cast<const char*>(bytes);
    LGCP::HdlcPackage& package = pending_.get_hdlcPackages()->append();
    package.set_body(length > kHeaderSize ? std::vector<char>(body + kHeaderSize, body + length)
                                          : std::vector<char>());
}

void HdlcSlot::flushResponce() {
    const unsigned collected = pending_.get_hdlcPackages()->size();
    if (traces.hdlc) std::clog << ext::header(this) << "flushResponce: " << collected << std::endl;
    if (collected > 0) OnIoctlResponse(pending_);
    pending_.select_hdlcPackages().resize(0);
}

// The channel has closed itself: the slot says so, as when it does not open.
void HdlcSlot::on_hdlc_error(HDLC::Notify::Cause::Type) {
    std::clog << ext::header(this) << "on_hdlc_error" << std::endl;
    ChannelEnded();
    OnDeactivated();
}

// ---- Statistics

void HdlcSlot::UpdateHDLC_Statistics() { OnIoctlResponse(HdlcLinkReport(channel_)); }

void HdlcSlot::OnUpdateTimer() {
    updateTimer_.set(update_ms, &HdlcSlot::OnUpdateTimer, this);
    UpdateHDLC_Statistics();
}
