#pragma once
// One HDLC channel of the board's multi-channel controller ("/dev/mcc/ctl"),
// and what a signalling link needs of a channel below it: `GenericHDLC`
// takes one frame per call, and the link hears of received frames, read
// failures and renewed readiness through `HDLC::Notify`.
//
//   HDLC channel;                         // closed
//   channel.mode = HDLC::pri;              // the framing to allocate
//   channel.notify = &link;
//   channel.activate();                    // allocated, polled
//   channel.Follow(48, 48, true);          // hears and feeds trunk 1, timeslot 16

#include <iosfwd>

#include "hardware/hw_mux.h"
#include "runtime/multiplexer.h"

class Packet;

class GenericHDLC {
public:
    virtual ~GenericHDLC() = default;
    // Sends one frame. False when the frame was not taken: the channel is
    // closed, busy (a later `on_hdlc_ready` says when to try again) or failed.
    virtual bool hdlc_transmit(Packet& frame) = 0;
    virtual bool is_open() const = 0;
    virtual bool is_ready() const = 0;
};

// One frame on the non-blocking descriptor of an HDLC channel, for the
// channel below and for the slots that are their link's device themselves.
// A write is retried on EINTR, up to kFrameWriteTries writes in all;
// `busy` (EAGAIN) means: wait for POLLOUT; `failed`: no POLLOUT will say
// when to try again.
enum class FrameWrite { written, busy, failed };
constexpr unsigned kFrameWriteTries = 8;
FrameWrite write_frame(int fd, const Packet& frame);
// Reads one frame into `frame`, left empty when there is nothing yet, for
// the poll result `revents`; with no packet block free the frame is read
// and dropped, and `frame` left null. Null, or why the device ended
// (runtime/descriptor_end.h).
const char* read_frame(int fd, short revents, Packet& frame);

// The channel writes each packet as one frame and delivers each read as one
// frame; it queues nothing (the links above do). It owns the switch paths it
// claims, which its owner says (Follow); its releases leave what another
// owner has switched since.
class HDLC : public GenericHDLC, public HwMux::Owner {
public:
    class Notify {
    public:
        struct Cause {
            // The channel reports only read failures.
            enum Type { read_failure = 0 };
        };

        virtual ~Notify() = default;
        virtual void on_hdlc_receive(Packet& frame) = 0;
        virtual void on_hdlc_error(Cause::Type cause) = 0;
        // The channel takes frames again after refusing one.
        virtual void on_hdlc_ready() = 0;
        // Whether the channel may switch into or hear `channel` (one of its
        // owner's peers', not its own): the owner's guard. By default yes.
        virtual bool hdlc_admits(int /*channel*/) { return true; }
        // The driver gave the channel `channel` at activation, which it
        // gives back at deactivation: the owner holds it meanwhile, so that
        // a call that missed that the driver gave it on leaves it alone. By
        // default the channel only takes it from an earlier call's paths.
        virtual void hdlc_holds(int channel) { HwMux::instance().TakeOver(channel); }
        virtual void hdlc_gives_back(int /*channel*/) {}
    };

    // Framing modes: an SS7 link, a PRI D channel on an E1 timeslot, a BRI
    // D channel.
    enum Mode { ss7 = 0, pri = 1, bri = 2 };
    // The allocation's last four words, as the controller driver wants them.
    static constexpr unsigned rx_packet_size = 512;
    static constexpr unsigned tx_threshold = 4;

    HDLC();
    // Breaks the switch paths and closes the descriptor, as deactivate();
    // the switch forgets it.
    ~HDLC() override;
    HDLC(const HDLC&) = delete;
    HDLC& operator=(const HDLC&) = delete;

    // Callbacks go nowhere.
    void unbind();
    // Opens and allocates the controller channel, which the switch then
    // carries nothing into or from: false (logged, closed) when the device
    // refuses or the loop cannot watch it. An open channel is deactivated
    // first.
    bool activate();
    // Closes the descriptor, which frees the controller channel for the
    // driver's next user; its switch paths go first (what it transmitted
    // into falls back to that channel's other claims or its rest, the
    // controller channel is switched off).
    void deactivate();
    // While open: the controller channel hears `from` and transmits into
    // `into` (-1: nothing), leaving what it heard or fed before. With
    // `own`, a make the driver or the owner's guard refuses answers false,
    // the switch as it was for it; otherwise what the driver refuses is
    // owed, the claim standing. False on a closed channel asked for a path.
    bool Follow(int from, int into, bool own);
    // What the switch has the channel hear, and what it feeds (-1: nothing).
    int heard() const;
    int feeds() const { return into_; }
    // The driver's TDM channel while open; -1 while closed.
    int controller_channel() const { return controllerChannel_; }

    bool hdlc_transmit(Packet& frame) override;
    bool is_open() const override { return m_event.fd() >= 0; }
    bool is_ready() const override { return ready_; }

    void on_event(int fd, short revents);
    // Reads one frame for the poll result `revents`; a device that ended
    // deactivates the channel.
    void do_read(short revents = 0);

    // "hdlc [<link>/<timeslot>]: "
    void PutHeader(std::ostream& os) const;
    // "hdlc channel <controller channel>"
    void PutOwner(std::ostream& os) const override;

    // ---- Written by the owner before activate()
    unsigned trunk = 0;       // not read by the channel
    unsigned timeslot = 0;    // printed in the header
    int mode = ss7;
    unsigned link = 0;        // the owner's link number, printed in traces
    Notify* notify;           // never null

    // ---- Counters, zeroed at each activation
    unsigned txSU = 0;        // frames written
    unsigned txDiscard = 0;   // frames given while closed
    unsigned txError = 0;     // frames a failing write() lost
    unsigned txOverflow = 0;  // nothing counts it
    unsigned rxSU = 0;        // frames read and delivered
    unsigned rxDropped = 0;   // frames read while the packet pool was empty

private:
    // Logs "<what> fail: <error>" and leaves the device closed.
    bool refuse(const char* what, int error, Fd& device) const;
    void read_failure(const char* reason);
    // Before the descriptor closes: the paths of the channel go.
    void BreakPaths();
    // The path from `tx` into `rx`, said in one line as the slots' are.
    bool MakePath(int tx, int rx, bool own);
    // Whether the switch has this channel's claim of `tx` into `rx`.
    bool Claims(int tx, int rx) const;
    // The channel no longer feeds `into_`.
    void LeaveInto();

    bool ready_ = false;
    // The driver's TDM channel while open, and the channel it feeds.
    int controllerChannel_ = -1;
    int into_ = -1;
    Event m_event;
};
