#include "signalling/d_channel_slot.h"

#include <algorithm>
#include <list>

#include "slots/slots.h"

bool DChannelSlot::ended() const { return ended_ && NewestLink() <= endedAt_; }

uint64_t DChannelSlot::NewestLink() const {
    uint64_t newest = source() ? linkMade() : 0;
    for (const Slot* receiver : receivers()) newest = std::max(newest, receiver->linkMade());
    return newest;
}

void DChannelSlot::ChannelEnded() {
    End();
    FollowLinksWithout(*this);
}

bool DChannelSlot::hdlc_admits(int channel) { return MuxAdmitsForLinks(*this, channel); }

void DChannelSlot::hdlc_holds(int channel) { HoldChannel(channel); }

void DChannelSlot::hdlc_gives_back(int channel) { LetGoOfChannel(*this, channel); }

Slot* DChannelSlot::LiveSource() const {
    Slot* from = source();
    return from && !from->hardwareLost() && from->IGetTransmitChannel() >= 0 ? from : nullptr;
}

Slot* DChannelSlot::LastReceiver() const {
    Slot* last = nullptr;
    for (Slot* receiver : receivers())
        if (!receiver->hardwareLost() && receiver->IGetReceiveChannel() >= 0 &&
            (!last || receiver->linkMade() > last->linkMade()))
            last = receiver;
    return last;
}

DChannelSlot::Wants DChannelSlot::Now() {
    Wants wants = IWants();
    if (ended() || hardwareLost()) wants.open = false;
    return wants;
}

// The first slot receiving on the channel with a live source says who
// feeds it; with none, the listeners that would, the one wired last.
bool DChannelSlot::Feeds(const Wants& wants) const {
    if (wants.into < 0) return false;
    const std::list<Slot*>& live = Slots::instance()->live();
    for (Slot* slot : live) {
        if (slot->hardwareLost() || slot->IGetReceiveChannel() != wants.into) continue;
        const Slot* source = slot->source();
        if (source && !source->hardwareLost()) return source == this;
    }
    for (Slot* slot : live) {
        auto* other = dynamic_cast<DChannelSlot*>(slot);
        if (!other || other == this) continue;
        const Wants theirs = other->Now();
        if (theirs.open && theirs.into == wants.into && theirs.made > wants.made) return false;
    }
    return true;
}

// A channel this call opened for its own link, whose paths the driver
// refused, closes again: the command fails with the switch as it was.
bool DChannelSlot::FollowNow(bool own, bool asked) {
    HDLC& channel = Channel();
    Wants wants = Now();
    // It hears no channel the driver gave another live call: its peer lost it.
    const bool guarded = wants.open && !hdlc_admits(wants.hear);
    if (guarded) wants.open = false;
    if (!wants.open) {
        Close();
        if (guarded && asked) OnDeactivated();
        return true;
    }
    const bool opening = !channel.is_open();
    if (opening && !channel.activate()) {
        End();  // the next activate or new link tries again
        OnDeactivated();
        return true;
    }
    const bool made = channel.Follow(wants.hear, Feeds(wants) ? wants.into : -1, own);
    if (!made && own && opening) channel.deactivate();
    return made;
}

// A channel that ended took the link layer's line with it: the layer heard
// of it from the channel, and nothing more goes out.
void DChannelSlot::StopLink() {
    if (line_.running() && Channel().is_open()) IStopLink();
    line_ = Line{};
}

void DChannelSlot::Close() {
    StopLink();
    if (Channel().is_open()) Channel().deactivate();
}

void DChannelSlot::ISettleLink() {
    HDLC& channel = Channel();
    const Line now = channel.is_open() ? Line{channel.heard(), channel.feeds()} : Line{};
    if (now == line_) return;
    if (!now.running()) return StopLink();
    const bool moves = line_.running();
    line_ = now;
    ++linkStarts_;
    if (moves)
        IMoveLink();
    else
        IStartLink();
}

// The link layer starts anew on the channel opened again.
bool DChannelSlot::Reopen() {
    if (!IWants().open || hardwareLost()) return false;
    ended_ = false;
    Channel().deactivate();
    line_ = Line{};
    FollowNow(false, true);
    ISettleLink();
    return true;
}
