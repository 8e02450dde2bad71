#pragma once
// The network side of a BRI line's D channel, serving up to eight
// terminals. `LAPD_NT` is one layer at the bottom of the signalling slot's
// protocol family: frames of the slot's HDLC channel come in through
// `receive` and leave through the channel itself (`GenericHDLC`), which
// says through `on_hdlc_ready` when it takes frames again. It holds the TEI server
// (automatic TEIs 64 to 126, a TEI check at activation and every 60 s,
// removal of TEIs that no link holds) and one small acknowledged data link
// per terminal (`LAPD_NT_user`). Layer-3 messages from above go to the
// terminal whose link carries their Q.931 call reference; a SETUP goes to
// every terminal in a UI frame.
//
// A failing terminal link is simply unassigned: nothing is reported up.

#include <cstdint>
#include <iostream>

#include "link/protocol.h"
#include "runtime/ext_output.h"
#include "runtime/log_throttle.h"
#include "runtime/timer.h"
#include "signalling/clean_queue.h"
#include "signalling/cyclic.h"
#include "signalling/hdlc.h"
#include "signalling/owed_answers.h"
#include "signalling/refusal_retry.h"
#include "signalling/tei_message.h"

namespace ISDN {

using Sequence = Cyclic<unsigned int, 127u>;

class LAPD_NT;

// The data link of one terminal. It polls an idle terminal every 10 s,
// resends what the terminal has not acknowledged every second, acknowledges
// every I frame in sequence, answers a sequence error with one REJ until the
// missing frame comes (Q.921's reject exception), owes the terminal a REJ,
// an answer to its poll or an acknowledgement the channel refused until it
// takes frames again, and is released on a
// DISC, DM or FRMR, the terminal keeping its TEI. It takes the TEI back
// (with an Identity remove) after four unanswered attempts (SABMEs of a new
// assignment, polls or resent frames), on an N(R) outside VA..VS, or when
// two TEI checks in a row go unanswered.
class LAPD_NT_user {
public:
    enum State { unassigned = 0, assigned = 1, wait_answer = 2 };

    static constexpr unsigned idle_ms = 10000;   // poll after this long in state 1
    static constexpr unsigned answer_ms = 1000;  // resend or poll after this long in state 2
    static constexpr unsigned check_ms = 2000;   // for the answer to a TEI check
    static constexpr int N200 = 3;
    static constexpr unsigned window = 7;
    // A call reference or Ri that no terminal has given yet.
    static constexpr int none = -1;

    LAPD_NT_user() = default;
    LAPD_NT_user(const LAPD_NT_user&) = delete;
    LAPD_NT_user& operator=(const LAPD_NT_user&) = delete;

    void set_lapd(LAPD_NT* owner) { owner_ = owner; }
    void set_log(unsigned level) { log_ = level; }
    void PutHeader(std::ostream& os) const;

    // Takes a layer-3 message of this link's call; false when the link is
    // unassigned or carries another call.
    bool message(const Packet& p);
    // A frame for this link's TEI, with its C/R bit. An information field
    // for layer 3 goes up last.
    void receive(Packet& frame, bool cr);

    // Takes the terminal on `tei` and sends it SABME, repeated each second
    // until the terminal sends anything; while the link is being checked,
    // only ends the check.
    void assign(unsigned char tei);
    // Unassigns a link whose terminal released it, or all of them when the
    // controller deactivates the line: the terminal holds its TEI yet, and
    // no other is given it until it is taken back.
    void release();
    // Unassigns a terminal given up on and tells it, for it may still hold
    // the TEI, which rests before the next terminal to ask is given it.
    void take_back();
    // A TEI check starts: unanswered within 2 s it is asked once more for
    // this TEI, and unanswered again the TEI is taken back.
    void checking();
    void set_ri(unsigned short ri) { Ri_ = ri; }
    // Drops the oldest held message, to make room for another link's.
    void drop_oldest_held();
    // The channel takes frames again: what the channel refused of the
    // answers the terminal waits for goes now, with the N(R) of now.
    void send_owed();

    State state() const { return state_; }
    unsigned char tei() const { return TEI_; }
    bool is_checking() const { return checking_; }
    // Nothing heard from the terminal since the assignment.
    bool establishing() const { return establishing_; }
    bool busy() const { return busy_; }
    int call_reference() const { return callReference_; }
    int ri() const { return Ri_; }
    Sequence vs() const { return VS_; }
    Sequence va() const { return VA_; }
    Sequence vr() const { return VR_; }
    int rc() const { return RC_; }
    // Messages waiting to be sent, and sent ones waiting for their N(R).
    unsigned held() const { return outgoing_.count(); }
    unsigned unacknowledged() const { return acknowledge_.count(); }

private:
    enum : unsigned char { RR = 0x01, RNR = 0x05, REJ = 0x09 };
    enum : unsigned char {
        UI = 0x03, DM = 0x0F, DISC = 0x43, UA = 0x63, SABME = 0x6F, FRMR = 0x87, XID = 0xAF,
    };

    void unassign();
    void on_I(Packet& frame);
    void on_S(unsigned char type, bool command, bool pf, Sequence nr);
    void on_SABME(bool p);
    void on_timer();
    void on_check_timer();
    void repeat_sabme();
    void heard_terminal();

    bool acknowledge(Sequence nr);
    void send_owed_ack();
    // The REJ of a sequence error (F when it answers a poll), marked sent
    // only once it went, and the RR with F=1 that answers a poll.
    void tx_REJ(bool f);
    void answer_poll();
    void settle(bool restart);
    void retransmit();
    bool send_held();
    void send_new(const Packet& info);
    void hold(const Packet& info);
    void set_busy();
    void set_unbusy();
    void go_idle();
    void await_answer();

    // A frame begun with the address of this link's terminal.
    Packet addressed(bool command) const;
    // Each true when the channel took the frame.
    bool tx_U(unsigned char type, bool pf, bool command);
    bool tx_S(unsigned char type, bool pf, bool command);
    bool tx_I(const Packet& info, Sequence ns);
    // A log line, at a level above 1.
    template <class... Parts>
    void note(const Parts&... parts) const {
        if (log_ > 1) ((std::clog << ext::header(this)) << ... << parts) << std::endl;
    }

    bool checking_ = false;
    bool checkRepeated_ = false;
    bool establishing_ = false;  // SABME sent, nothing heard since
    bool rejecting_ = false;     // a REJ sent, the frame it asks for not yet here
    bool ackOwed_ = false;       // an I frame received, no N(R) sent since
    OwedAnswers owed_;           // what the channel refused of the answers
    LAPD_NT* owner_ = nullptr;
    // VA is the N(R) last accepted: frames VA .. VS - 1 wait for theirs.
    Sequence VR_, VA_, VS_;
    unsigned char TEI_ = 0;
    State state_ = unassigned;
    Timer linkTimer_;
    Timer checkTimer_;
    int RC_ = 0;
    int callReference_ = none;  // of the terminal's last I frame of more than 3 octets
    bool busy_ = false;         // the terminal said RNR
    unsigned log_ = 0;
    CleanQueue<Packet, 135> outgoing_;        // held while busy or the window is full
    CleanQueue<Packet, window> acknowledge_;  // information fields, in N(S) order
    int Ri_ = none;  // of the terminal's last accepted TEI check response
    LogThrottle heldDropped_;  // a controller sends faster than the terminal takes
};

class LAPD_NT : public Protocol {
public:
    static constexpr unsigned links = 8;
    static constexpr unsigned check_period_ms = 60000;
    static constexpr unsigned char first_automatic_tei = 64;
    static constexpr unsigned char last_automatic_tei = 126;
    // What the links hold together, as much as one LAPD link holds: beyond
    // it the fullest link drops its oldest message.
    static constexpr unsigned held_capacity = 128;

    LAPD_NT();
    LAPD_NT(const LAPD_NT&) = delete;
    LAPD_NT& operator=(const LAPD_NT&) = delete;

    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;
    void local_activate() override;
    void local_deactivate() override;
    // A layer-3 message from above.
    void message(Packet& p) override;
    // A frame from the HDLC channel.
    void receive(Packet& frame) override;

    void set_log(unsigned level);
    void PutHeader(std::ostream& os) const;
    // Set by the owner before activation: where the frames go.
    void set_hdlc(GenericHDLC* hdlc) { hdlc_ = hdlc; }
    // The channel takes frames again after refusing one.
    void on_hdlc_ready();

    // Links 0 to 7, in the order messages are offered to them.
    const LAPD_NT_user& link(unsigned index) const { return links_[index]; }
    unsigned held() const;
    // Messages from above refused to keep the packet pool's reserve.
    unsigned pool_overflows() const { return poolOverflows_; }
    // Frames from the line dropped while the packet pool was low.
    unsigned frames_dropped() const { return framesDropped_; }

private:
    friend class LAPD_NT_user;

    // Each automatic TEI that no link holds: free, released with its link
    // (its terminal holds it yet), or resting for a check period after its
    // removal before it is given again.
    struct Tei {
        enum Use : uint8_t { free, released, resting };
        Use use = free;
        bool asked = false;  // released: a TEI check waits for its holder
        uint32_t since = 0;  // resting: loop milliseconds of the removal
    };

    // True when the channel took the frame; without a channel it is dropped.
    bool send_to_layer1(Packet& frame);
    void send_to_layer3(Packet& info) { on_message(info); }
    void tx_identity(unsigned short ri, unsigned char ai, unsigned char type);
    void remove_tei(unsigned char tei);
    void keep_released(unsigned char tei);

    LAPD_NT_user* adopt(unsigned char tei);
    void on_tei_procedure(const Packet& info);
    void on_identity_request(const TeiMessage& request);
    void on_check_response(const TeiMessage& response);
    void check_all_Tei();
    void check_released();
    void on_released_check();
    void make_room(LAPD_NT_user& taker);

    LAPD_NT_user* holding(unsigned char tei);
    LAPD_NT_user* free_link();
    int free_tei();
    bool is_free(unsigned char tei);
    // The record of an automatic TEI, or null.
    Tei* automatic(unsigned char tei);
    // A log line, at a nonzero level.
    template <class... Parts>
    void note(const Parts&... parts) const {
        if (log_ > 0) ((std::clog << ext::header(this)) << ... << parts) << std::endl;
    }

    Timer checkTimer_;
    LogThrottle poolLow_;
    // Lines of messages from above that no terminal takes.
    LogThrottle noCallReference_;
    LogThrottle messagePoolLow_;
    LogThrottle noHolder_;
    LAPD_NT_user links_[links];
    unsigned log_ = 0;
    unsigned poolOverflows_ = 0;
    unsigned framesDropped_ = 0;
    Tei teis_[last_automatic_tei - first_automatic_tei + 1];
    Timer releasedCheck_;  // for the answers about released TEIs
    bool releasedAskedAgain_ = false;
    GenericHDLC* hdlc_ = nullptr;
    RefusalRetry retry_;
};

}  // namespace ISDN
