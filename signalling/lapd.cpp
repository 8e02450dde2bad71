#include "signalling/lapd.h"

#include <iostream>
#include <utility>

#include "runtime/ext_output.h"
#include "signalling/pool_reserve.h"
#include "signalling/frame_header.h"

namespace ISDN {

char logbuf[logbuf_size];

namespace {

const char* const state_texts[] = {
    "TEI unassigned",         "Assign awaiting TEI", "Establish awaiting TEI",
    "TEI assigned",           "Awaiting establishment", "Awaiting release",
    "Multiple frame established", "Timer recovery",
};

const char* running(bool run) { return run ? "running" : "stopped"; }

const char* mdl_error_text(unsigned code) {
    switch (code) {
    case 1: return "Supervisory (F = 1)";
    case 2: return "DM (F = 1)";
    case 4: return "UA (F = 1)";
    case 8: return "UA (F = 0)";
    case 16: return "Receipt of DM response (F = 0)";
    case 32: return "Peer initiated re-establishment - SABME";
    case 64: return "Unsuccessful retransmission (N200 times) - SABME";
    case 128: return "Unsuccessful retransmission (N200 times) - DISC";
    case 256: return "Unsuccessful retransmission (N200 times) - Status enquiry";
    case 512: return "Other - N(R) error";
    case 1024: return "Other - Receipt of FRMR response";
    case 2048: return "Other - Receipt of undefined frame";
    case 4096: return "Other - Receipt of I field not permitted";
    case 8192: return "Other - Receipt of frame with wrong size";
    case 16384: return "Other - N201 error";
    case 32768: return "Tei Assign - Tei denied";
    default: return "Other - Unknown";
    }
}

const char* command_text(bool command) { return command ? "command" : "response"; }

}  // namespace

const char* statetext(unsigned state) {
    return state < sizeof state_texts / sizeof *state_texts ? state_texts[state] : "(unknown)";
}

void LAPDFullState::out(std::ostream& os) const {
    os << "\n   - state: " << statetext(state)
       << "\n   - self: TEI=" << selfTEI << ", SAPI=" << selfSAPI << ", busy=" << ownBusy
       << "\n   - peer: TEI=" << peerTEI << ", SAPI=" << peerSAPI << ", busy=" << peerBusy
       << "\n   - counters: VS=" << VS << ", VA=" << VA << ", VR=" << VR << ", RC=" << RC
       << "\n   - internal signals: AckRQ=" << AckRQ << ", RetrRQ=" << RetrRQ
       << ", QueuedUp=" << QueuedUp << "\n   - flags: L3Initiated=" << L3Initiated
       << ", Establishable=" << Establishable << ", RejectException=" << RejectException
       << "\n   - timers: T200 " << running(T200run) << ", T202 " << running(T202run)
       << ", T203 " << running(T203run);
}

void LAPD::Stats::out(std::ostream& os) const {
    os << "\n   - timers expire count: T200: " << T200 << ", T202: " << T202 << ", T203: " << T203
       << "\n   - errors: " << errors << ", retrains: " << retrains
       << "\n   - queue overflows: out: " << outOverflows << ", ack: " << ackOverflows
       << ", pool: " << poolOverflows << "\n   - frames dropped (packet pool low): " << dropped;
}

void LAPD::Status::out(std::ostream& os) const {
    Protocol_status_error::out(os);
    LAPDFullState::out(os);
}

LAPD::LAPD() = default;

LAPD::~LAPD() = default;

bool LAPD::compare_name(const Protocol_name& other) const { return name_.compare(other); }

void LAPD::local_prepare_head(Packet& p) { p.reserve_head(4); }

void LAPD::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void LAPD::PutHeader(std::ostream& os) const {
    os << "LAPD[" << trunk_ << "] (" << state_text() << "): ";
}

// From the HDLC channel.

void LAPD::on_hdlc_receive(Packet& frame) { receive(frame); }

void LAPD::on_hdlc_error(HDLC::Notify::Cause::Type) {}

void LAPD::on_hdlc_ready() {
    local_events();
    deliver_reports();
}

// A failed write says nothing when the channel works again.
void LAPD::on_retry() { on_hdlc_ready(); }

// Receiving.

void LAPD::receive(Packet& frame) {
    // Address and control: frames shorter carry nothing to act on (a lone
    // address is no I frame).
    if (frame.length() < 3) return;
    if (!pool_takes_frame()) return drop_for_pool();
    if (log_ > 2) trace_frame("rx:", frame, side_ == Side::user);
    const unsigned char address1 = frame[0], address2 = frame[1], control = frame[2];
    if (address1 & 0x01) return;
    if (!(address2 & 0x01)) return;
    const int tei = address2 >> 1;
    if (bri_ && side_ == Side::user && tei != selfTEI && tei != group_tei) return;
    // TEI 127 addresses every terminal of a BRI bus and carries UI frames
    // only: a DISC to it must not release them all.
    if (bri_ && tei == group_tei && (control & 0xEF) != UI) return;
    // I and S frames have a two-octet control field.
    const bool numbered = (control & 0x01) == 0 || (control & 0x03) == 0x01;
    if (numbered && frame.length() < 4) return;

    peerSAPI = address1 >> 2;
    peerTEI = tei;
    const bool cr = address1 & 0x02;
    const bool command = side_ == Side::user ? cr : !cr;
    if ((control & 0x01) == 0)
        on_iframe(frame, command);
    else if ((control & 0x03) == 0x01)
        on_sframe((control >> 2) & 0x03, command, frame[3] & 0x01, Sequence(frame[3] >> 1));
    else
        on_uframe(frame, command);
    local_events();
    deliver_reports();
}

void LAPD::drop_for_pool() {
    ++stats_.dropped;
    if (poolLow_.admit())
        std::clog << ext::header(this) << "frame dropped: packet pool low" << poolLow_ << std::endl;
}

void LAPD::on_iframe(Packet& frame, bool) {
    const Sequence ns(frame[2] >> 1);
    const bool p = frame[3] & 0x01;
    const Sequence nr(frame[3] >> 1);
    if (log_ > 3) std::clog << ext::header(this) << "I-Command pf=" << p << std::endl;
    if (state != multiple_frame_established && state != timer_recovery) return;

    if (ns != VR) {
        ++stats_.rejected;
        if (!RejectException)
            tx_reject(p);
        else if (p)
            answer_poll();
    } else {
        ++VR;
        RejectException = owed_.reject = false;
        ++stats_.received;
        if (p)
            tx_enquiry_response();
        else
            AckRQ = true;
        frame.skip(4);
        report_message(frame);
    }

    if (!take_nr(nr)) {
        nr_recovery();
        return;
    }
    if (!peerBusy && state == multiple_frame_established) {
        if (nr == VS) {
            stop_T200();
            start_T203();
        } else if (nr != VA) {
            start_T200();
        }
    }
    VA = nr;
}

void LAPD::on_sframe(unsigned type, bool command, bool pf, Sequence nr) {
    static const char* const names[] = {"RR ", "RNR ", "REJ "};
    if (type > REJ) return;
    if (log_ > 3)
        std::clog << ext::header(this) << names[type] << command_text(command) << " pf=" << pf
                  << std::endl;
    if (state != multiple_frame_established && state != timer_recovery) return;
    peerBusy = type == RNR;
    if (command && pf) tx_enquiry_response();
    if (state == multiple_frame_established)
        on_sframe_established(type, command, pf, nr);
    else
        on_sframe_recovery(type, command, pf, nr);
}

void LAPD::on_sframe_established(unsigned type, bool command, bool pf, Sequence nr) {
    if (!command && pf) {
        if (type == RR) {
            if (log_ > 3)
                std::clog << ext::header(this) << "receive RR (solicited response) in MFE_EST"
                          << std::endl;
        } else {
            on_error(mdl_supervisory_f1);
        }
    }
    if (!take_nr(nr)) return nr_recovery();
    switch (type) {
    case RR:
        if (nr == VS) {
            VA = nr;
            stop_T200();
            start_T203();
        } else if (nr != VA) {
            VA = nr;
            start_T200();
        }
        break;
    case REJ:
        stop_T200();
        start_T203();
        retransmission(nr);
        break;
    case RNR:
        VA = nr;
        stop_T203();
        start_T200();
        break;
    }
}

void LAPD::on_sframe_recovery(unsigned type, bool command, bool pf, Sequence nr) {
    if (!command && pf) {
        if (!take_nr(nr)) return nr_recovery();
        if (type == RNR) {
            start_T200();
        } else {
            stop_T200();
            start_T203();
        }
        retransmission(nr);
        change_state(multiple_frame_established);
        return;
    }
    if (take_nr(nr)) {
        VA = nr;
        return;
    }
    if (type == RR && log_ > 3)
        std::clog << ext::header(this) << "receive RR with out of order N(R)" << std::endl;
    nr_recovery();
}

void LAPD::on_uframe(Packet& frame, bool command) {
    const unsigned char control = frame[2];
    const bool pf = control & 0x10;
    const char* name = nullptr;
    switch (control & 0xEF) {
    case SABME: name = "SABME "; break;
    case DISC: name = "DISC "; break;
    case UA: name = "UA "; break;
    case DM: name = "DM "; break;
    case FRMR: name = "FRMR "; break;
    }
    if (name && log_ > 3) {
        std::clog << ext::header(this) << name << command_text(command);
        if ((control & 0xEF) == FRMR) std::clog << " pf=" << pf;
        std::clog << std::endl;
    }
    switch (control & 0xEF) {
    case SABME: return on_sabme(pf);
    case DISC: return on_disc(pf);
    case UA: return on_ua(pf);
    case DM: return on_dm(command, pf);
    case FRMR: return on_frmr();
    case UI:
        if (!bri_) return;
        frame.skip(3);
        return on_UI(frame);
    }
}

void LAPD::on_sabme(bool p) {
    reset_sequences();
    switch (state) {
    case tei_assigned:
        tx_u(UA, false, p);
        clear_exception();
        // A TEI just assigned or a DISC just sent leaves T200 running here;
        // marked on, it would keep the first I frames from starting it.
        stop_T200();
        start_T203();
        change_state(multiple_frame_established);
        report_activate();
        break;
    case awaiting_establishment:
        tx_u(UA, false, p);
        break;
    case awaiting_release:
        tx_u(DM, false, p);
        break;
    case multiple_frame_established:
    case timer_recovery:
        tx_u(UA, false, p);
        clear_exception();
        on_error(mdl_peer_reestablish);
        change_state(multiple_frame_established);
        report_activate();
        stop_T200();
        start_T203();
        break;
    }
}

void LAPD::on_disc(bool p) {
    switch (state) {
    case tei_assigned:
    case awaiting_establishment:
        tx_u(DM, false, p);
        break;
    case awaiting_release:
        tx_u(UA, false, p);
        break;
    case multiple_frame_established:
    case timer_recovery:
        discard_queue();
        tx_u(UA, false, p);
        stop_T200();
        stop_T203();
        change_state(tei_assigned);
        report_deactivate_error("remote error (DISC received)");
        break;
    }
}

// A UA answers our SABME or DISC. Only then does it restart the numbering:
// a stray UA on an established link must not throw away unacknowledged
// frames.
void LAPD::on_ua(bool f) {
    switch (state) {
    case awaiting_establishment:
        reset_sequences();
        if (!f) return on_error(mdl_ua_f0);
        change_state(multiple_frame_established);
        stop_T200();
        start_T203();
        report_activate();
        break;
    case awaiting_release:
        reset_sequences();
        if (!f) return on_error(mdl_ua_f0);
        stop_T200();
        change_state(tei_assigned);
        report_deactivate_success("success (UA received)");
        establish_if_asked();
        break;
    case tei_assigned:
    case multiple_frame_established:
    case timer_recovery:
        on_error(f ? mdl_ua_f1 : mdl_ua_f0);
        break;
    }
}

void LAPD::on_dm(bool command, bool f) {
    const bool final_response = !command && f;
    switch (state) {
    case tei_assigned:
        if (command || f) return;
        establish_dl();
        L3Initiated = true;
        change_state(awaiting_establishment);
        break;
    case awaiting_establishment:
        if (!final_response) return;
        discard_queue();
        stop_T200();
        change_state(tei_assigned);
        report_deactivate_error("error (DM received)");
        break;
    case awaiting_release:
        if (!final_response) return;
        stop_T200();
        change_state(tei_assigned);
        report_deactivate_error("error (DM received)");
        establish_if_asked();
        break;
    case multiple_frame_established:
        if (final_response) return on_error(mdl_dm_f1);
        on_error(mdl_dm_f0);
        establish_dl();
        L3Initiated = false;
        change_state(awaiting_establishment);
        break;
    case timer_recovery:
        on_error(final_response ? mdl_dm_f1 : mdl_dm_f0);
        establish_dl();
        L3Initiated = false;
        change_state(awaiting_establishment);
        break;
    }
}

void LAPD::on_frmr() {
    if (state != multiple_frame_established && state != timer_recovery) return;
    on_error(mdl_frmr);
    establish_dl();
    L3Initiated = false;
    change_state(awaiting_establishment);
}

// Sending.

bool LAPD::xmit(Packet& frame) {
    if (!hdlc_) {
        if (log_ > 3) std::clog << ext::header(this) << "no HDLC device attached!!!" << std::endl;
        return false;
    }
    if (!hdlc_->hdlc_transmit(frame)) {
        if (txFull_.admit()) std::clog << ext::header(this) << "tx full" << txFull_ << std::endl;
        retry_.refused(*hdlc_, &LAPD::on_retry, this);
        return false;
    }
    // A frame this side sends travels the other way from one it receives.
    if (log_ > 2) trace_frame("tx: ", frame, side_ == Side::network);
    return true;
}

void LAPD::trace_frame(const char* what, const Packet& frame, bool network_to_user) const {
    dlogframe(frame.data(), static_cast<int>(frame.length()), network_to_user, logbuf);
    std::clog << ext::header(this) << what << logbuf << std::endl;
}

// Commands carry C/R 1 from the network side, 0 from the user side.
void LAPD::put_address(Packet& frame, bool command) const {
    const bool cr = command == (side_ == Side::network);
    frame.put(static_cast<unsigned char>(selfSAPI << 2 | cr << 1));
    frame.put(static_cast<unsigned char>(selfTEI << 1 | 0x01));
}

bool LAPD::tx_u(unsigned char type, bool command, bool pf) {
    Packet frame;
    prepare_head(frame);
    put_address(frame, command);
    frame.put(static_cast<unsigned char>(type | (pf ? 0x10 : 0)));
    return xmit(frame);
}

bool LAPD::tx_s(Supervisory type, bool command, bool pf) {
    Packet frame;
    prepare_head(frame);
    put_address(frame, command);
    frame.put(static_cast<unsigned char>(type << 2 | 0x01));
    frame.put(static_cast<unsigned char>(VR << 1 | pf));
    return xmit(frame);
}

// The queued information field stays as it is: the header goes onto a copy,
// numbered afresh at each sending.
bool LAPD::tx_iframe(const Packet& info) {
    const unsigned char header[4] = {
        static_cast<unsigned char>(selfSAPI << 2 | (side_ == Side::network) << 1),
        static_cast<unsigned char>(selfTEI << 1 | 0x01),
        static_cast<unsigned char>(VS << 1),
        static_cast<unsigned char>(VR << 1),
    };
    Packet frame = with_header(info, header, sizeof header, *this);
    return xmit(frame);
}

void LAPD::tx_enquiry() {
    if (log_ > 3) std::clog << ext::header(this) << "tx_enquiry, ownBusy=" << ownBusy << std::endl;
    tx_s(ownBusy ? RNR : RR, true, true);
    AckRQ = false;
    start_T200();
}

void LAPD::tx_enquiry_response() {
    if (log_ > 3) std::clog << ext::header(this) << "tx_enquiry_response" << std::endl;
    answer_poll();
}

void LAPD::tx_reject(bool f) {
    const bool sent = tx_s(REJ, false, f);
    owed_.reject_sent(sent, f);
    if (!sent) return;
    RejectException = true;
    AckRQ = false;
}

void LAPD::answer_poll() {
    const bool sent = tx_s(RR, false, true);
    owed_.final_sent(sent);
    if (sent) AckRQ = false;
}

// With the current N(R): a REJ owed goes while the frame it asks for has
// not come, and carries the F=1 owed with it.
void LAPD::send_owed_answers() {
    if (state != multiple_frame_established && state != timer_recovery) owed_.clear();
    if (owed_.reject)
        tx_reject(owed_.final);
    else if (owed_.final)
        answer_poll();
}

// Procedures.

void LAPD::establish_dl() {
    clear_exception();
    RC = 0;
    tx_u(SABME, true, true);
    stop_T203();
    start_T200();
}

void LAPD::clear_exception() {
    peerBusy = ownBusy = RejectException = AckRQ = false;
    owed_.clear();
}

void LAPD::discard_queue() {
    if (log_)
        std::clog << ext::header(this) << "discard queue " << " OutData=" << outgoing_.count()
                  << " AckData=" << acknowledge_.count() << std::endl;
    outgoing_.clear();
    acknowledge_.clear();
    putBack_ = 0;
}

void LAPD::nr_recovery() {
    ++stats_.badconfirm;
    on_error(mdl_nr_error);
    establish_dl();
    L3Initiated = false;
    change_state(awaiting_establishment);
}

// A REJ sets VS back to its N(R), yet the frames from there on went once:
// the peer holds them when its REJ left before they came (some peers send
// one for every frame out of sequence), and its next N(R) may count them.
bool LAPD::take_nr(Sequence nr) {
    if (!nr_valid(nr)) return false;
    if (Sequence::distance(VA, nr) > Sequence::distance(VA, VS)) {
        const unsigned held = Sequence::distance(VS, nr);
        for (unsigned n = held; n > 0; --n) outgoing_.get(nullptr);
        putBack_ -= held;
        VS = nr;
    }
    return true;
}

void LAPD::retransmission(Sequence nr) {
    VA = nr;
    RetrRQ = true;
    QueuedUp = true;
}

void LAPD::reset_sequences() {
    VS = VA = VR = Sequence();
    putBack_ = 0;
    acknowledge_.clear();
}

void LAPD::change_state(unsigned next) {
    if (next == state) return;
    const bool recovery_swing = (state == multiple_frame_established && next == timer_recovery) ||
                                (state == timer_recovery && next == multiple_frame_established);
    if (log_ > 3 || (log_ > 1 && !recovery_swing))
        std::clog << "LAPD[" << trunk_ << "] : change state " << ext::quoted(statetext(state))
                  << " -> " << ext::quoted(statetext(next)) << std::endl;
    state = next;
    // Messages queued before establishment leave now, not with the next one.
    if (next == multiple_frame_established && !outgoing_.empty()) QueuedUp = true;
}

void LAPD::change_flowstatus(FlowStatus::Type next) {
    if (next == flow_) return;
    flow_ = next;
    if (notify_) notify_->OnLAPD_FlowStatusChange(this);
}

// Local events.

void LAPD::local_events() {
    send_owed_answers();
    ack_queue_refreash();
    while (QueuedUp && queued_up()) {
    }
    ack_pending();
    if (outgoing_.count() < normal_below) change_flowstatus(FlowStatus::normal);
}

void LAPD::ack_queue_refreash() {
    const unsigned outstanding = Sequence::distance(VA, VS);
    unsigned acknowledged = 0;
    while (acknowledge_.count() > outstanding) {
        acknowledge_.get(nullptr);
        ++acknowledged;
    }
    if (log_ > 2) {
        if (acknowledged)
            std::clog << ext::header(this) << "acknowledge " << acknowledged << " frames"
                      << " VS=" << VS << " VA=" << VA << std::endl;
        if (outgoing_.empty()) std::clog << ext::header(this) << "outgoing queue empty." << std::endl;
    }
    if (!RetrRQ) return;
    if (log_ && !acknowledge_.empty())
        std::clog << ext::header(this) << "retransmission " << " VS=" << VS << " VA=" << VA
                  << std::endl;
    VS = VA;
    // Newest first to the front, so that the oldest leaves first.
    Packet info;
    while (acknowledge_.get_last(&info)) {
        if (outgoing_.append(info)) ++putBack_;
        ++stats_.retrains;
    }
    RetrRQ = false;
}

bool LAPD::queued_up() {
    QueuedUp = false;
    switch (state) {
    case multiple_frame_established:
        break;
    case timer_recovery:
        QueuedUp = true;
        return false;
    case awaiting_establishment:
        QueuedUp = !L3Initiated;
        return false;
    default:
        return false;
    }
    if (peerBusy || VS == Sequence(VA + window)) {
        QueuedUp = true;
        return false;
    }
    Packet info;
    if (!outgoing_.preview(&info)) return false;
    if (!tx_iframe(info)) {
        QueuedUp = true;
        return false;
    }
    outgoing_.get(nullptr);
    if (putBack_) --putBack_;
    if (!acknowledge_.put(info)) {
        std::clog << ext::header(this) << "ack queue overflow!" << std::endl;
        ++stats_.ackOverflows;
    }
    ++VS;
    AckRQ = false;
    if (!T200run) {
        stop_T203();
        start_T200();
    }
    QueuedUp = !outgoing_.empty();
    return QueuedUp;
}

void LAPD::ack_pending() {
    if (!AckRQ) return;
    if (state != multiple_frame_established && state != timer_recovery) return;
    if (tx_s(RR, false, false)) AckRQ = false;
}

// From the layer above.

void LAPD::message(Packet& p) {
    ++stats_.fromAbove;
    if (p.length() == 0) {
        ++stats_.emptyFromAbove;
        return;
    }
    if (outgoing_.count() >= refuse_at) {
        if (outOverflow_.admit())
            std::clog << ext::header(this) << "discard outgoing message: buffer overflow"
                      << outOverflow_ << std::endl;
        ++stats_.outOverflows;
    } else if (!pool_has_room()) {
        if (outPoolLow_.admit())
            std::clog << ext::header(this) << "discard outgoing message: packet pool low"
                      << outPoolLow_ << std::endl;
        ++stats_.poolOverflows;
    } else {
        if (log_ > 2 && outgoing_.count() > window)
            std::clog << ext::header(this) << "outgoing queue size = " << outgoing_.count()
                      << " tx counter = " << stats_.fromAbove << std::endl;
        if (log_ > 2) std::clog << ext::header(this) << "add to tx queue: " << p.text() << std::endl;
        outgoing_.put(p);
        QueuedUp = true;
    }
    // The message waits for a TEI: a BRI terminal asks for one.
    if (state == tei_unassigned) {
        change_state(assign_awaiting_tei);
        BeginTeiAssignProcedure();
    }
    if (outgoing_.count() > congested_above) change_flowstatus(FlowStatus::congested);
    local_events();
    deliver_reports();
}

void LAPD::local_activate() {
    establish_request();
    deliver_reports();
}

void LAPD::establish_request() {
    if (log_) std::clog << ext::header(this) << "DL-ESTABLISH" << std::endl;
    switch (state) {
    case tei_unassigned:
        RC = 0;
        on_mdl_assign();
        change_state(establish_awaiting_tei);
        BeginTeiAssignProcedure();
        break;
    case assign_awaiting_tei:
        change_state(establish_awaiting_tei);
        break;
    case tei_assigned:
        establish_dl();
        L3Initiated = true;
        change_state(awaiting_establishment);
        break;
    case awaiting_establishment:
        // Asked for again (on a new line, maybe): the SABMEs begin afresh.
        discard_queue();
        establish_dl();
        L3Initiated = true;
        break;
    case awaiting_release:
        // The peer's answer to the DISC must not read as one to a SABME.
        establishAsked_ = true;
        break;
    case multiple_frame_established:
    case timer_recovery:
        discard_queue();
        establish_dl();
        L3Initiated = true;
        change_state(awaiting_establishment);
        break;
    }
}

void LAPD::establish_if_asked() {
    if (std::exchange(establishAsked_, false)) establish_request();
}

void LAPD::local_deactivate() {
    if (log_ > 1) std::clog << ext::header(this) << "DL-RELEASE" << std::endl;
    establishAsked_ = false;
    switch (state) {
    case tei_assigned:
        report_deactivate_success("success (deactivated locally)");
        break;
    case awaiting_establishment:
        discard_queue();
        RC = 0;
        tx_u(DISC, true, true);
        stop_T203();
        stop_T202();
        start_T200();
        change_state(tei_assigned);
        report_deactivate_success("success (deactivated locally)");
        break;
    case multiple_frame_established:
        discard_queue();
        RC = 0;
        tx_u(DISC, true, true);
        stop_T203();
        start_T200();
        change_state(awaiting_release);
        break;
    case timer_recovery:
        discard_queue();
        RC = 0;
        tx_u(DISC, true, true);
        start_T200();
        change_state(awaiting_release);
        break;
    }
    deliver_reports();
}

// Management.

void LAPD::mdl_assign(unsigned char tei) {
    assign_tei(tei);
    deliver_reports();
}

void LAPD::assign_tei(unsigned char tei) {
    if (log_ > 1) std::clog << ext::header(this) << "MDL-ASSIGN" << " (tei=" << unsigned(tei) << ")"
                            << std::endl;
    selfTEI = tei;
    if (state == establish_awaiting_tei) {
        establish_dl();
        L3Initiated = true;
        change_state(awaiting_establishment);
    } else {
        change_state(tei_assigned);
    }
}

void LAPD::mdl_remove() {
    remove_tei();
    deliver_reports();
}

void LAPD::remove_tei() {
    std::clog << ext::header(this) << "MDL-REMOVE" << std::endl;
    const unsigned was = state;
    switch (was) {
    case tei_assigned:
        discard_queue();
        break;
    case awaiting_establishment:
    case timer_recovery:
        discard_queue();
        stop_T200();
        break;
    case awaiting_release:
        stop_T200();
        break;
    case multiple_frame_established:
        discard_queue();
        stop_T200();
        stop_T203();
        break;
    default:
        return;
    }
    change_state(tei_unassigned);
    if (was != tei_assigned) report_deactivate_error("error (MDL-REMOVE received)");
    establish_if_asked();
}

void LAPD::on_error(unsigned code) { on_error(mdl_error_text(code)); }

void LAPD::on_error(const char* text) {
    reports_.status(new Status(this, text, *this));
}

// Timers.

void LAPD::start_T200() {
    if (T202run) on_error("trying to start T200 while T202 running");
    if (T203run) on_error("trying to start T200 while T203 running");
    start_timer(T200run, T200_ms, &LAPD::on_T200);
}

void LAPD::start_T202() {
    if (T200run) on_error("trying to start T202 while T200 running");
    if (T203run) on_error("trying to start T202 while T203 running");
    start_timer(T202run, T202_ms, &LAPD::on_T202);
}

void LAPD::start_T203() {
    if (T200run) on_error("trying to start T203 while T200 running");
    if (T202run) on_error("trying to start T203 while T202 running");
    start_timer(T203run, T203_ms, &LAPD::on_T203);
}

void LAPD::stop_T200() {
    if (!T200run) return;
    if (T203run) on_error("trying to stop T200 while T203 running");
    if (T202run) on_error("trying to stop T200 while T202 running");
    stop_timer(T200run);
}

void LAPD::stop_T202() {
    if (!T202run) return;
    if (T200run) on_error("trying to stop T202 while T200 running");
    if (T203run) on_error("trying to stop T202 while T203 running");
    stop_timer(T202run);
}

void LAPD::stop_T203() {
    if (!T203run) return;
    if (T200run) on_error("trying to stop T203 while T200 running");
    if (T202run) on_error("trying to stop T203 while T202 running");
    stop_timer(T203run);
}

// Arming replaces whatever event was pending: only the timer started last
// can expire.
void LAPD::start_timer(bool& run, unsigned ms, void (LAPD::*expiry)()) {
    run = true;
    timer_.set(ms, expiry, this);
}

void LAPD::stop_timer(bool& run) {
    run = false;
    timer_.reset();
}

void LAPD::on_T200() { expire(T200run, stats_.T200, &LAPD::on_T200A); }

void LAPD::on_T202() { expire(T202run, stats_.T202, &LAPD::on_T202A); }

void LAPD::on_T203() { expire(T203run, stats_.T203, &LAPD::on_T203A); }

void LAPD::expire(bool& run, unsigned& expiries, void (LAPD::*action)()) {
    run = false;
    ++expiries;
    (this->*action)();
    local_events();
    deliver_reports();
}

void LAPD::on_T200A() {
    switch (state) {
    case awaiting_establishment:
        if (RC != N200) return repeat_command(SABME);
        discard_queue();
        return give_up(mdl_sabme_retries);
    case awaiting_release:
        if (RC != N200) return repeat_command(DISC);
        return give_up(mdl_disc_retries);
    case multiple_frame_established:
        RC = 0;
        tx_enquiry();
        RC = 1;
        if (log_ > 1) std::clog << ext::header(this) << "ack expired" << std::endl;
        change_state(timer_recovery);
        break;
    case timer_recovery:
        if (RC == N200) {
            if (log_ > 1) std::clog << ext::header(this) << "ack error !!!" << std::endl;
            on_error(mdl_enquiry_retries);
            establish_dl();
            L3Initiated = false;
            change_state(awaiting_establishment);
            return;
        }
        if (log_ > 1) std::clog << ext::header(this) << "ack timeout expired RC=" << RC << std::endl;
        tx_enquiry();
        ++RC;
        break;
    }
}

// SABME or DISC once more under T200.
void LAPD::repeat_command(unsigned char type) {
    ++RC;
    tx_u(type, true, true);
    start_T200();
}

// N200 repeats went unanswered.
void LAPD::give_up(unsigned code) {
    on_error(code);
    change_state(tei_assigned);
    report_deactivate_error("link error (T200 expired N200 times)");
    establish_if_asked();
}

void LAPD::on_T203A() {
    std::clog << ext::header(this) << "T203." << std::endl;
    if (state != multiple_frame_established) return;
    tx_enquiry();
    RC = 0;
    change_state(timer_recovery);
}

// Reports upwards.

void LAPD::report_activate() { reports_.activated(); }

void LAPD::report_deactivate(Smart_pointer<Internal_protocol_status> status) {
    reports_.deactivated(status);
}

void LAPD::report_deactivate_success(const char* text) {
    report_deactivate(new Protocol_status_success(this, text));
}

void LAPD::report_deactivate_error(const char* text) {
    report_deactivate(new Status(this, text, *this));
}

void LAPD::report_message(const Packet& info) {
    reports_.message(info);
}

// Statistics.

bool LAPD::GetInfo(ACP::IsdnLinkInfo& info) const {
    info.set_msuTxCount(stats_.fromAbove);
    info.set_msuRxCount(stats_.received);
    info.set_mT200(stats_.T200);
    info.set_mT203(stats_.T203);
    info.set_errors(stats_.errors);
    info.set_retrains(stats_.retrains);
    info.set_rejected(stats_.rejected);
    info.set_badconfirm(stats_.badconfirm);
    info.set_outOverflows(stats_.outOverflows);
    info.set_ackOverflows(stats_.ackOverflows);
    info.set_lapdState(static_cast<ACP::LAPDState::NamedNumber>(state));
    info.set_rc(RC);
    info.set_peerBusy(peerBusy);
    info.set_ownBusy(ownBusy);
    info.set_rejException(RejectException);
    info.set_ackPending(false);
    info.set_l3Initiated(L3Initiated);
    info.set_establishable(Establishable);
    info.set_queuedUpRQ(QueuedUp);
    info.set_retrRQ(RetrRQ);
    info.set_ackRQ(AckRQ);
    info.set_t200run(T200run);
    info.set_t203run(T203run);
    info.set_vs(VS);
    info.set_va(VA);
    info.set_vr(VR);
    info.set_queueOut(outgoing_.count());
    info.set_queueAck(acknowledge_.count());
    if (infoGiven_ && info == lastInfo_) return false;
    lastInfo_ = info;
    infoGiven_ = true;
    return true;
}

void LAPD::show_stat() const {
    std::cout << " - current state: ";
    LAPDFullState::out(std::cout);
    std::cout << "\n - statistics: ";
    stats_.out(std::cout);
    std::cout << std::endl;
}

Smart_pointer<Internal_protocol_status> LAPD::status() {
    return new Status(this, "current status", *this);
}

}  // namespace ISDN
