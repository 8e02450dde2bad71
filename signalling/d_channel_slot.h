#pragma once
// A slot that carries a signalling link on a TDM channel of a peer through
// an HDLC channel of its own (the PSTN and HDLC slots). Whether the channel
// is open, what it hears and where it transmits follow from the slot's live
// links alone: each kind says what its links ask for (IWants), and every
// change of the graph around the slot (a link made or gone, a peer that
// lost its hardware, the controller's activate) switches the difference.
//
// A channel transmits into a peer's channel only while no live slot feeds
// that channel: a slot listening on a trunk whose timeslot another slot
// feeds leaves it to that slot, and takes it back (the switch owes the
// make) once that slot goes. Of several listeners with nothing else
// feeding the channel, the one wired last feeds it.
//
// The link layer above the channel runs on the line the channel carries:
// the channel it hears and the one it feeds, if any (a listener whose
// timeslot another slot feeds feeds none). It is settled once a change of
// the graph stands (ISettleLink): it starts where the channel opens for a
// line, starts again where that line changes (a move, or a listener that
// takes its timeslot over or leaves it), and stops before the channel
// closes, so that its release still reaches the far end. A command that
// fails, its graph put back, leaves it running as it was.

#include <cstdint>

#include "signalling/hdlc.h"
#include "slots/slot.h"

class DChannelSlot : public Slot, public HDLC::Notify {
public:
    int GetConnectionPriority() override { return 1; }
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    // The paths follow once the link is in the graph (IFollowLinks).
    bool IHwConnectTransmitter(Slot& destination) override {
        return IAccepts(destination, false);
    }
    bool IHwConnectReceiver(Slot& source) override { return IAccepts(source, true); }
    bool IHwMayConnect(Slot& source, Slot& destination) override {
        return &destination == this ? IAccepts(source, true) : IAccepts(destination, false);
    }
    bool IHwDisconnectTransmitter(Slot&) override { return true; }
    bool IHwDisconnectReceiver(Slot&) override { return true; }
    bool IFollowLinks(bool own) override { return FollowNow(own, own); }
    void ISettleLink() override;
    // A new link opens a channel that ended before it again; one that did
    // not open for the link itself waits for the next activate or new link.
    void ILinked() override { ended_ = ended(); }

    // The guard of the switch: the slot transmits into its links' channels.
    bool hdlc_admits(int channel) override;
    // The channel's controller channel is the slot's while it is open.
    void hdlc_holds(int channel) override;
    void hdlc_gives_back(int channel) override;

    // The channel ended and no link of the slot was made since (while a
    // connect makes one, it opens for it).
    bool ended() const;
    // Whether the link layer runs, and how often it started.
    bool link_running() const { return line_.running(); }
    unsigned link_starts() const { return linkStarts_; }

protected:
    // What a kind's links ask of its channel.
    struct Wants {
        bool open = false;
        int hear = -1;  // the channel it receives from
        int into = -1;  // the channel it transmits into, while no other slot feeds it
        // The link to the peer whose channel `into` is, and when it was made.
        uint64_t made = 0;
    };

    // The slot's own channel.
    virtual HDLC& Channel() = 0;
    virtual Wants IWants() = 0;
    // A new link's peer: false refuses the connect (the kind says why).
    virtual bool IAccepts(Slot& /*peer*/, bool /*asSource*/) { return true; }
    // The channel opens for a line (its paths made or owed): the link layer
    // above it starts there; it closes: the link layer stops first; its
    // line changes: the link layer starts again there (a release then would
    // reach the new line's far end, not the old one's).
    virtual void IStartLink() {}
    virtual void IStopLink() {}
    virtual void IMoveLink() {}

    // The controller's activate: the channel opens anew where the links ask
    // for it, also after it ended; false where they do not (not wired).
    bool Reopen();
    // The channel ended: closed until the next activate or new link; the
    // slots around it follow (another listener feeds the trunk).
    void ChannelEnded();

    // For IWants: the source over a live link, when it has a transmit
    // channel; the receiver with a receive channel whose live link was
    // made last.
    Slot* LiveSource() const;
    Slot* LastReceiver() const;

private:
    // Whether no live slot but this one feeds `wants.into`, and of the
    // listeners that would, this one was wired last.
    bool Feeds(const Wants& wants) const;
    // What the slot wants now, its channel closed where it ended.
    Wants Now();
    // The channel follows the links; `asked`: the controller asked for
    // this slot (its link, its activate), and hears when it cannot open.
    bool FollowNow(bool own, bool asked);
    // The link layer stops, on its line where the channel still carries it.
    void StopLink();
    // The link layer stops; the channel closes.
    void Close();

    void End() {
        ended_ = true;
        endedAt_ = lastLinkMade();
    }
    // The link of the slot made last (0 without one): a connect that fails
    // leaves the graph as it was, and a channel it would have opened stays
    // ended.
    uint64_t NewestLink() const;

    bool ended_ = false;
    uint64_t endedAt_ = 0;
    // The line the link layer runs on; none while it is stopped.
    struct Line {
        int hears = -1;
        int feeds = -1;  // none: a listener
        bool running() const { return hears >= 0; }
        bool operator==(const Line& other) const {
            return hears == other.hears && feeds == other.feeds;
        }
    };
    Line line_;
    unsigned linkStarts_ = 0;
};
