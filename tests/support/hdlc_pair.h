#pragma once
// In-memory HDLC lines for link tests. Each end is a `GenericHDLC` that
// delivers what it is given to its peers' `HDLC::Notify` on a later loop
// pass (from a deferred call, never from inside hdlc_transmit), with hooks
// to lose, refuse (as a busy channel, which says when it takes frames again,
// or as a failed write, which does not), repeat, hold back, delay, pace and
// fail frames. `HdlcPair` joins two ends; `BriBus` joins a BRI line's network
// port to each terminal port.
//
//   test::VirtualLoop loop;            // first: the pair lives in its loop
//   test::HdlcPair line;
//   user.set_hdlc(&line.a);   line.a.bind(&user);
//   network.set_hdlc(&line.b); line.b.bind(&network);
//   line.a.drop = test::nth(3, is_iframe);   // the third I frame A sends is lost
//   loop.advance(1000);

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "board/sim/line_queue.h"
#include "link/packet.h"
#include "runtime/timer.h"
#include "signalling/hdlc.h"

namespace test {

// Decides about a frame one end is given; `index` counts, from 1, every
// frame given to that end.
using FramePredicate = std::function<bool(const Packet& frame, unsigned index)>;

// True for the n-th frame (from 1) that `match` accepts, or the n-th frame.
FramePredicate nth(unsigned n, std::function<bool(const Packet&)> match = nullptr);
// True for `count` frames in a row from that n-th on.
FramePredicate from_nth(unsigned n, unsigned count,
                        std::function<bool(const Packet&)> match = nullptr);
// True for every frame that `match` accepts.
FramePredicate every(std::function<bool(const Packet&)> match);

class HdlcLine;

class HdlcEnd : public GenericHDLC {
public:
    // Joins the line's ends, which are made by the line.
    explicit HdlcEnd(HdlcLine& line);
    struct Counters {
        unsigned given = 0;       // hdlc_transmit calls with a frame
        unsigned sent = 0;        // taken (dropped ones too)
        unsigned refused = 0;     // busy, or refused by the hook (failed too)
        unsigned failed = 0;      // refused as failed writes
        unsigned discarded = 0;   // given while failed
        unsigned dropped = 0;
        unsigned duplicated = 0;
        unsigned delivered = 0;   // handed to this end's notify
    };

    HdlcEnd(const HdlcEnd&) = delete;
    HdlcEnd& operator=(const HdlcEnd&) = delete;

    bool hdlc_transmit(Packet& frame) override;
    bool is_open() const override { return open_; }
    bool is_ready() const override { return ready_; }

    void bind(HDLC::Notify* notify) { notify_ = notify; }

    // Hooks on the frames given to this end. A refused frame is not taken
    // (hdlc_transmit answers false); the end then refuses everything until
    // it tells `on_hdlc_ready` on a later pass.
    FramePredicate drop;
    FramePredicate refuse;
    FramePredicate duplicate;
    // With this set, a frame refused by the hook is the only one refused (a
    // driver whose queue has room again at once); `on_hdlc_ready` follows
    // all the same.
    bool refuse_only_that = false;
    // With this set, a frame refused by the hook is a failed write (EIO):
    // only that one is refused, and no `on_hdlc_ready` follows.
    bool refuse_as_failed = false;
    // Taps see every frame taken at this end (sent) and every frame handed
    // to its notify (!sent): captures and traces hang here.
    using Tap = std::function<void(const Packet& frame, bool sent)>;
    int add_tap(Tap tap);
    void remove_tap(int id);

    // A busy channel refuses every frame; `on_hdlc_ready` comes only after
    // set_busy(false).
    void set_busy(bool busy);
    // Holds back what this end sends until release().
    void hold() { holding_ = true; }
    void release();
    // What this end sends arrives `ms` of loop time later (a line with
    // frames in flight), still in order.
    void set_latency(unsigned ms) { latencyMs_ = ms; }
    // What this end sends goes out at 64 kbit/s, behind a driver queue that
    // takes a frame while less than `queueMs` of line time waits: a frame
    // arrives once the line carried it (and the latency passed), and a
    // refused one's `on_hdlc_ready` comes when the queue has room again.
    void set_line(unsigned queueMs) { queue_.emplace(uint64_t{queueMs} * 1000); }
    // The channel fails: closed, and its notify hears `on_hdlc_error(0)` on
    // a later pass. Frames on their way to it are lost.
    void fail();

    const Counters& counters() const { return counters_; }
    // Frames sent by this end that have not arrived yet.
    size_t in_flight() const { return inFlight_.size(); }

private:
    friend class HdlcLine;
    struct InFlight {
        Packet frame;
        uint32_t due;  // loop milliseconds
    };
    bool refuse_frame(bool block);
    // `on_hdlc_ready` is owed and due by now.
    bool ready_due() const;
    void tap(const Packet& frame, bool sent) const;
    bool has_work() const;
    // Frames sent, not held back and due by now, from the oldest.
    size_t due_frames() const;

    HdlcLine& line_;
    std::vector<HdlcEnd*> peers_;  // where its frames go
    HDLC::Notify* notify_ = nullptr;
    std::deque<InFlight> inFlight_;
    std::map<int, Tap> taps_;
    int nextTap_ = 0;
    Counters counters_;
    bool open_ = true;
    bool ready_ = true;
    bool busy_ = false;
    bool holding_ = false;
    unsigned latencyMs_ = 0;
    std::optional<board::sim::LineQueue> queue_;
    bool readyOwed_ = false;
    uint32_t readyDue_ = 0;  // loop milliseconds
    bool errorOwed_ = false;
};

// The delivery of the frames between the ends of one line.
class HdlcLine {
public:
    HdlcLine(const HdlcLine&) = delete;
    HdlcLine& operator=(const HdlcLine&) = delete;

    // Nothing in flight and no callback owed.
    bool idle() const;
    // Nothing due now and no callback owed (frames may still be on their way).
    bool settled() const;

protected:
    HdlcLine();
    ~HdlcLine() = default;
    // What `from` sends reaches `to`.
    static void join(HdlcEnd& from, HdlcEnd& to) { from.peers_.push_back(&to); }

private:
    friend class HdlcEnd;
    // Called whenever an end gets work.
    void wake();
    void run();
    void tell(HdlcEnd& end, bool ready);
    void carry(HdlcEnd& end, size_t frames);
    // Keeps the loop awake for the next frame or readiness due (at once while
    // work waits).
    void nudge();
    void on_nudge() { dpc_.Activate(); }

    std::vector<HdlcEnd*> ends_;  // in the order they are served
    Dpc dpc_;
    // While work waits, a timer due now keeps the loop from sleeping (or a
    // virtual clock from jumping ahead) before the deferred call has run;
    // while frames are on their way, one due with the first of them.
    Timer nudge_;
};

class HdlcPair : public HdlcLine {
public:
    HdlcPair();

    HdlcEnd a{*this};
    HdlcEnd b{*this};
};

// A BRI line: what the network port sends reaches every terminal port, and
// what a terminal port sends reaches the network port only. Each port's
// hooks act on what that port sends.
class BriBus : public HdlcLine {
public:
    explicit BriBus(unsigned terminals = 8);

    HdlcEnd network{*this};
    HdlcEnd& terminal(unsigned index) { return *terminals_.at(index); }
    unsigned terminals() const { return static_cast<unsigned>(terminals_.size()); }

private:
    std::vector<std::unique_ptr<HdlcEnd>> terminals_;
};

}  // namespace test
