#include <iostream>

#include "runtime/ext_output.h"
#include "signalling/frame_header.h"
#include "signalling/lapd_nt.h"

// One terminal's data link on the network side of a BRI line.
//
// Sent I frames are kept as information fields: every sending, first or
// repeated, carries its own N(S) and the current VR, so a resent frame
// never acknowledges less than the terminal already knows. At most seven
// wait for their N(R); further messages are held, as they are while the
// terminal is busy.

namespace ISDN {

void LAPD_NT_user::PutHeader(std::ostream& os) const {
    os << "LAPD_user(NT BRI)[";
    if (state_ == unassigned) {
        os << "unassigned]: ";
        return;
    }
    os << "Tei=" << unsigned(TEI_) << (state_ == assigned ? ",assigned" : ",wait_answer");
    if (checking_) os << ",check";
    if (busy_) os << ",busy";
    os << "] ";
}

// Assignment.

void LAPD_NT_user::assign(unsigned char tei) {
    if (checking_ && state_ != unassigned) {
        note("checked");
        checking_ = false;
        checkTimer_.reset();
        return;
    }
    // A new terminal: nothing of the link's last one carries over.
    TEI_ = tei;
    state_ = assigned;
    note("assigned");
    VR_ = VA_ = VS_ = Sequence();
    tx_U(SABME, true, true);
    busy_ = checking_ = rejecting_ = ackOwed_ = false;
    owed_.clear();
    establishing_ = true;
    outgoing_.clear();
    acknowledge_.clear();
    RC_ = 0;
    callReference_ = none;
    Ri_ = none;
    linkTimer_.set(answer_ms, &LAPD_NT_user::on_timer, this);
}

// What it held can never be sent: the next assignment starts afresh.
void LAPD_NT_user::unassign() {
    note("unassigned");
    state_ = unassigned;
    establishing_ = false;
    linkTimer_.reset();
    checkTimer_.reset();
    outgoing_.clear();
    acknowledge_.clear();
}

void LAPD_NT_user::release() {
    if (state_ != unassigned) owner_->keep_released(TEI_);
    unassign();
}

void LAPD_NT_user::take_back() {
    unassign();
    owner_->remove_tei(TEI_);
}

void LAPD_NT_user::checking() {
    note("checking started");
    checking_ = true;
    checkRepeated_ = false;
    checkTimer_.set(check_ms, &LAPD_NT_user::on_check_timer, this);
}

// One lost answer does not cost the terminal its TEI.
void LAPD_NT_user::on_check_timer() {
    if (checkRepeated_) {
        note("check unanswered");
        return take_back();
    }
    checkRepeated_ = true;
    owner_->tx_identity(0, TEI_, identity_check_request);
    checkTimer_.set(check_ms, &LAPD_NT_user::on_check_timer, this);
}

// From above.

bool LAPD_NT_user::message(const Packet& p) {
    if (state_ == unassigned || callReference_ != (p[2] & 0x7F)) return false;
    if (busy_ || acknowledge_.full()) {
        hold(p);
    } else {
        send_new(p);
        await_answer();
    }
    return true;
}

void LAPD_NT_user::hold(const Packet& info) {
    owner_->make_room(*this);
    outgoing_.put(info);
}

void LAPD_NT_user::drop_oldest_held() {
    if (heldDropped_.admit())
        std::clog << ext::header(this) << "discard oldest held message: buffer overflow"
                  << heldDropped_ << std::endl;
    outgoing_.get(nullptr);
}

// Receiving. The terminal's commands carry C/R 0.

void LAPD_NT_user::receive(Packet& frame, bool cr) {
    if (establishing_) heard_terminal();
    const bool command = !cr;
    const unsigned char control = frame[2];
    if ((control & 0x01) == 0) {
        if (command && frame.length() > 3) on_I(frame);
        return;
    }
    if ((control & 0x03) == 0x01) {
        if (frame.length() > 3) on_S(control, command, frame[3] & 0x01, Sequence(frame[3] >> 1));
        return;
    }
    const bool pf = control & 0x10;
    switch (control & 0xEF) {
    case SABME:
        if (command) on_SABME(pf);
        break;
    case DISC:
        if (!command) break;
        note("received DISC frame");
        if (pf) tx_U(UA, true, false);
        release();
        break;
    case DM:
    case FRMR:
        if (command) break;
        note((control & 0xEF) == DM ? "received DM frame" : "received FRMR frame");
        release();
        break;
    case XID:
        note("received XID frame");
        break;
    }
}

void LAPD_NT_user::on_I(Packet& frame) {
    note("received I frame");
    const Sequence ns(frame[2] >> 1), nr(frame[3] >> 1);
    const bool p = frame[3] & 0x01;
    const Sequence va = VA_;
    Packet up;
    if (ns == VR_) {
        ++VR_;
        rejecting_ = owed_.reject = false;
        if (p)
            answer_poll();
        else
            ackOwed_ = true;
        frame.skip(4);
        if (frame.length() > 3) {
            callReference_ = frame[2] & 0x7F;
            up = frame;
        }
    } else if (!rejecting_) {
        // One REJ for a sequence error: the terminal resends from N(R) on,
        // and the frames already on their way meanwhile ask for nothing more.
        tx_REJ(p);
    } else if (p) {
        answer_poll();
    }
    if (acknowledge(nr)) {
        settle(nr != va);
        send_owed_ack();
    } else {
        take_back();
    }
    // Last: the layer above may take the whole line down from here.
    if (up) owner_->send_to_layer3(up);
}

void LAPD_NT_user::on_S(unsigned char type, bool command, bool pf, Sequence nr) {
    static const char* const lines[] = {"received RR frame", "received RNR frame",
                                        "received REJ frame"};
    if (type != RR && type != RNR && type != REJ) return;
    note(lines[type >> 2]);
    if (type == RNR) set_busy();
    if (command && pf) answer_poll();
    const Sequence va = VA_;
    if (!acknowledge(nr)) return take_back();
    if (type == RNR) return settle(nr != va);
    set_unbusy();
    if (type == RR) return settle(nr != va);
    // REJ: everything from N(R) on goes again.
    retransmit();
    settle(true);
}

void LAPD_NT_user::on_SABME(bool p) {
    note("received SABME frame");
    VR_ = VA_ = VS_ = Sequence();
    rejecting_ = ackOwed_ = false;
    owed_.clear();
    if (p) tx_U(UA, true, false);
    acknowledge_.clear();
    set_unbusy();
    settle(true);
}

// Acknowledgements.

// Takes N(R): valid when VA <= N(R) <= VS, and then the frames before it
// are acknowledged.
bool LAPD_NT_user::acknowledge(Sequence nr) {
    note("ack queue");
    if (!((VA_ <= nr) <= VS_)) return false;
    for (unsigned n = Sequence::distance(VA_, nr); n > 0; --n) acknowledge_.get(nullptr);
    VA_ = nr;
    return true;
}

// An I frame taken in sequence is acknowledged at once: by the I frames
// that went since, else by an RR (a terminal with a window of one waits
// for it).
void LAPD_NT_user::send_owed_ack() {
    if (ackOwed_) tx_S(RR, false, false);
}

void LAPD_NT_user::tx_REJ(bool f) {
    const bool sent = tx_S(REJ, f, false);
    owed_.reject_sent(sent, f);
    if (sent) rejecting_ = true;
}

void LAPD_NT_user::answer_poll() { owed_.final_sent(tx_S(RR, true, false)); }

// Any of these carries N(R): it pays an acknowledgement owed too.
void LAPD_NT_user::send_owed() {
    if (state_ == unassigned) return;
    if (owed_.reject)
        tx_REJ(owed_.final);
    else if (owed_.final)
        answer_poll();
    else
        send_owed_ack();
}

// After a valid N(R) the terminal has answered: the retries start again,
// held messages go as far as the window allows, and the timer waits for an
// answer while anything is unacknowledged. `restart` re-arms it even when
// it was already waiting (progress, or frames sent again).
void LAPD_NT_user::settle(bool restart) {
    RC_ = 0;
    if (send_held()) restart = true;
    if (acknowledge_.empty())
        go_idle();
    else if (restart || state_ != wait_answer)
        await_answer();
}

bool LAPD_NT_user::send_held() {
    bool sent = false;
    Packet info;
    while (!busy_ && !acknowledge_.full() && outgoing_.get(&info)) {
        send_new(info);
        sent = true;
    }
    return sent;
}

void LAPD_NT_user::send_new(const Packet& info) {
    tx_I(info, VS_);
    acknowledge_.put(info);
    ++VS_;
}

// Every unacknowledged frame again, oldest first, numbered from VA.
void LAPD_NT_user::retransmit() {
    note("retransmit queue");
    Sequence ns = VA_;
    Packet info;
    for (unsigned n = acknowledge_.count(); n > 0; --n) {
        acknowledge_.get(&info);
        tx_I(info, ns++);
        acknowledge_.put(info);
    }
}

void LAPD_NT_user::set_busy() {
    if (!busy_) note("set busy");
    busy_ = true;
}

void LAPD_NT_user::set_unbusy() {
    if (busy_) note("set unbusy");
    busy_ = false;
}

// The link timer.

void LAPD_NT_user::go_idle() {
    state_ = assigned;
    linkTimer_.set(idle_ms, &LAPD_NT_user::on_timer, this);
}

void LAPD_NT_user::await_answer() {
    state_ = wait_answer;
    linkTimer_.set(answer_ms, &LAPD_NT_user::on_timer, this);
}

// Idle for 10 s: a poll. Waiting for an answer: the unacknowledged frames
// again, or another poll when there are none, until four went unanswered.
void LAPD_NT_user::on_timer() {
    switch (state_) {
    case assigned:
        if (establishing_) return repeat_sabme();
        tx_S(RR, true, true);
        RC_ = 0;
        await_answer();
        break;
    case wait_answer:
        if (RC_ == N200) {
            note("T200 expiried N200 times");
            return take_back();
        }
        ++RC_;
        if (acknowledge_.empty())
            tx_S(RR, true, true);
        else
            retransmit();
        await_answer();
        break;
    case unassigned:
        break;
    }
}

// A terminal that took its TEI answers the SABME at once. Unanswered four
// times, the assignment went to no terminal (or to a request its terminal
// has since replaced with another): the link does not wait 14 s for it.
void LAPD_NT_user::repeat_sabme() {
    if (RC_ == N200) {
        note("SABME unanswered");
        return take_back();
    }
    ++RC_;
    tx_U(SABME, true, true);
    linkTimer_.set(answer_ms, &LAPD_NT_user::on_timer, this);
}

// The first frame from the terminal after the assignment, whatever it is:
// the TEI is held, and the link goes idle until the frame says more.
void LAPD_NT_user::heard_terminal() {
    establishing_ = false;
    RC_ = 0;
    go_idle();
}

// Sending: SAPI 0, C/R 1 in commands.

Packet LAPD_NT_user::addressed(bool command) const {
    Packet frame;
    owner_->prepare_head(frame);
    frame.put(static_cast<unsigned char>(command ? 0x02 : 0x00));
    frame.put(static_cast<unsigned char>(TEI_ << 1 | 0x01));
    return frame;
}

bool LAPD_NT_user::tx_U(unsigned char type, bool pf, bool command) {
    Packet frame = addressed(command);
    frame.put(static_cast<unsigned char>(type | (pf ? 0x10 : 0)));
    return owner_->send_to_layer1(frame);
}

// Any S frame carries N(R): one the channel took pays an acknowledgement owed.
bool LAPD_NT_user::tx_S(unsigned char type, bool pf, bool command) {
    Packet frame = addressed(command);
    frame.put(type);
    frame.put(static_cast<unsigned char>(VR_ << 1 | pf));
    if (!owner_->send_to_layer1(frame)) return false;
    ackOwed_ = false;
    return true;
}

// A command with P 1. One the channel refused still waits for its N(R):
// the link timer sends it again.
bool LAPD_NT_user::tx_I(const Packet& info, Sequence ns) {
    const unsigned char header[4] = {
        0x02,
        static_cast<unsigned char>(TEI_ << 1 | 0x01),
        static_cast<unsigned char>(ns << 1),
        static_cast<unsigned char>(VR_ << 1 | 0x01),
    };
    Packet frame = with_header(info, header, sizeof header, *owner_);
    if (!owner_->send_to_layer1(frame)) return false;
    ackOwed_ = false;
    return true;
}

}  // namespace ISDN
