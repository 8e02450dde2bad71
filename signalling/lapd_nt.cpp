#include "signalling/lapd_nt.h"

#include <iostream>

#include "runtime/ext_output.h"
#include "runtime/mux_time.h"
#include "signalling/frame_header.h"
#include "signalling/pool_reserve.h"

// The TEI server and the routing between the terminals' links and layer 3.

namespace ISDN {

namespace {

constexpr unsigned char q931_setup = 5;

}  // namespace

LAPD_NT::LAPD_NT() {
    for (auto& link : links_) link.set_lapd(this);
}

void LAPD_NT::local_prepare_head(Packet& p) { p.reserve_head(4); }

void LAPD_NT::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void LAPD_NT::set_log(unsigned level) {
    log_ = level;
    for (auto& link : links_) link.set_log(level);
}

void LAPD_NT::PutHeader(std::ostream& os) const { os << "LAPD(NT BRI): "; }

unsigned LAPD_NT::held() const {
    unsigned count = 0;
    for (const auto& link : links_) count += link.held();
    return count;
}

void LAPD_NT::local_activate() {
    note("activate");
    check_all_Tei();
    on_activate();
}

void LAPD_NT::on_hdlc_ready() {
    for (auto& link : links_) link.send_owed();
}

// A failed write says nothing when the channel works again: the links send
// what they owe on the retry.
bool LAPD_NT::send_to_layer1(Packet& frame) {
    if (!hdlc_) return false;
    if (hdlc_->hdlc_transmit(frame)) return true;
    retry_.refused(*hdlc_, &LAPD_NT::on_hdlc_ready, this);
    return false;
}

void LAPD_NT::local_deactivate() {
    note("deactivate");
    checkTimer_.reset();
    releasedCheck_.reset();
    for (auto& link : links_) link.release();
}

// Receiving.

void LAPD_NT::receive(Packet& frame) {
    if (frame.length() <= 2) return;
    if (!pool_takes_frame()) {
        ++framesDropped_;
        if (poolLow_.admit())
            std::clog << ext::header(this) << "frame dropped: packet pool low" << poolLow_
                      << std::endl;
        return;
    }
    const unsigned char address1 = frame[0], address2 = frame[1];
    if ((address1 & 0x01) || !(address2 & 0x01)) return;
    const int sapi = address1 >> 2;
    const bool cr = address1 & 0x02;
    const unsigned char tei = address2 >> 1;
    if (tei == group_tei) {
        if (frame[2] != 0x03) return;  // only UI frames are broadcast
        frame.skip(3);
        if (sapi == management_sapi) return on_tei_procedure(frame);
        return send_to_layer3(frame);
    }
    LAPD_NT_user* link = holding(tei);
    if (!link) link = adopt(tei);
    if (link) link->receive(frame, cr);
}

// A frame for a TEI that no link holds: a terminal the server has not
// assigned (or has forgotten) gets a link of its own while one is free.
LAPD_NT_user* LAPD_NT::adopt(unsigned char tei) {
    LAPD_NT_user* link = free_link();
    if (!link) {
        note("recieved packet with unassigned TEI=", unsigned(tei), ",removed");
        remove_tei(tei);
        return nullptr;
    }
    note("Warning:recieved packet with unassigned TEI=", unsigned(tei));
    link->assign(tei);
    return link;
}

// TEI management.

void LAPD_NT::on_tei_procedure(const Packet& info) {
    TeiMessage message;
    if (info.length() == 0 || info[0] != tei_management_entity || !read_tei_message(info, message))
        return;
    switch (message.type) {
    case identity_request:
        return on_identity_request(message);
    case identity_check_response:
        return on_check_response(message);
    case identity_verify_request:
        note("recieved verify request");
        return check_all_Tei();
    default:
        // What a terminal acts on is the network's to send.
        note("TEI management message of type ", unsigned(message.type), " ignored");
    }
}

void LAPD_NT::on_identity_request(const TeiMessage& request) {
    if (request.Ai < first_automatic_tei) {
        note("recieved identity request with wrong Ai=", unsigned(request.Ai), ",ignored");
        return;
    }
    if (request.Ai != group_tei) {
        note("recieved identity request with wrong Ai=", unsigned(request.Ai), ",denied");
        return tx_identity(request.Ri, request.Ai, identity_denied);
    }
    LAPD_NT_user* link = free_link();
    const int tei = free_tei();
    if (!link || tei < 0) {
        note("recieved identity request, but all TEI values is ussigned");
        return tx_identity(request.Ri, group_tei, identity_denied);
    }
    note("recieved identity request,TEI assigned:", tei);
    tx_identity(request.Ri, static_cast<unsigned char>(tei), identity_assigned);
    link->assign(static_cast<unsigned char>(tei));
}

void LAPD_NT::on_check_response(const TeiMessage& response) {
    const unsigned ai = response.Ai;
    if (ai != group_tei) {
        if (LAPD_NT_user* link = holding(response.Ai)) {
            if (link->is_checking()) {
                note("TEI ", ai, " checked");
                link->assign(response.Ai);
                link->set_ri(response.Ri);
            } else if (link->ri() != response.Ri) {
                // Two terminals answer for one TEI: neither may keep it.
                note("recieved check response with dublicated Ai=", ai, ",removed");
                link->take_back();
            }
            return;
        }
        if (LAPD_NT_user* link = free_link()) {
            link->assign(response.Ai);
            note("TEI ", ai, " checked");
            link->set_ri(response.Ri);
            return;
        }
    }
    note("recieved check response with wrong Ai=", ai, ",removed");
    remove_tei(response.Ai);
}

void LAPD_NT::check_all_Tei() {
    note("Checking Tei values....");
    checkTimer_.reset();
    for (auto& link : links_)
        if (link.state() != LAPD_NT_user::unassigned) link.checking();
    check_released();
    tx_identity(0, group_tei, identity_check_request);
    checkTimer_.set(check_period_ms, &LAPD_NT::check_all_Tei, this);
}

// A TEI released with its link is checked as a link's is: unanswered
// within 2 s it is asked for once more, and unanswered again it is taken
// back. Its holder's answer gets it a link again (on_check_response).
void LAPD_NT::check_released() {
    bool asked = false;
    for (Tei& t : teis_) {
        t.asked = t.use == Tei::released;
        asked = asked || t.asked;
    }
    releasedAskedAgain_ = false;
    if (asked)
        releasedCheck_.set(LAPD_NT_user::check_ms, &LAPD_NT::on_released_check, this);
    else
        releasedCheck_.reset();
}

void LAPD_NT::on_released_check() {
    for (unsigned tei = first_automatic_tei; tei <= last_automatic_tei; ++tei) {
        const auto value = static_cast<unsigned char>(tei);
        const Tei& t = *automatic(value);
        if (t.use != Tei::released || !t.asked || holding(value)) continue;
        if (releasedAskedAgain_) {
            note("TEI ", tei, " unanswered,removed");
            remove_tei(value);
        } else {
            tx_identity(0, value, identity_check_request);
        }
    }
    if (releasedAskedAgain_) return;
    releasedAskedAgain_ = true;
    releasedCheck_.set(LAPD_NT_user::check_ms, &LAPD_NT::on_released_check, this);
}

void LAPD_NT::tx_identity(unsigned short ri, unsigned char ai, unsigned char type) {
    Packet frame;
    prepare_head(frame);
    put_tei_frame(frame, true, TeiMessage{ri, type, ai});
    send_to_layer1(frame);
}

// Every removal goes out twice, in case a terminal misses one.
void LAPD_NT::remove_tei(unsigned char tei) {
    tx_identity(0, tei, identity_remove);
    tx_identity(0, tei, identity_remove);
    if (Tei* t = automatic(tei)) *t = Tei{Tei::resting, false, Mux::milliseconds()};
}

// Q.921: a terminal keeps its TEI when its link is released; only a
// removal takes it back.
void LAPD_NT::keep_released(unsigned char tei) {
    if (Tei* t = automatic(tei)) *t = Tei{Tei::released};
}

// Links and TEIs.

LAPD_NT_user* LAPD_NT::holding(unsigned char tei) {
    for (auto& link : links_)
        if (link.state() != LAPD_NT_user::unassigned && link.tei() == tei) return &link;
    return nullptr;
}

LAPD_NT::Tei* LAPD_NT::automatic(unsigned char tei) {
    if (tei < first_automatic_tei || tei > last_automatic_tei) return nullptr;
    return &teis_[tei - first_automatic_tei];
}

LAPD_NT_user* LAPD_NT::free_link() {
    for (auto& link : links_)
        if (link.state() == LAPD_NT_user::unassigned) return &link;
    return nullptr;
}

// The lowest automatic TEI that no assigned link uses and that is neither
// released nor resting, or -1.
int LAPD_NT::free_tei() {
    for (unsigned tei = first_automatic_tei; tei <= last_automatic_tei; ++tei) {
        const auto value = static_cast<unsigned char>(tei);
        if (!holding(value) && is_free(value)) return static_cast<int>(tei);
    }
    return -1;
}

// A TEI released with its link is not free: its terminal holds it. Every
// TEI taken back rests for one check period before it is given again,
// whichever way it was taken back. Its terminal may hold it yet (one
// unplugged misses both removes), and links set up together are given up
// together, by polls, by a TEI check or on a full bus: remembering only the
// TEI removed last would give the one before it to the next terminal, and
// its holder, plugged back, would reset that terminal's link with a SABME on
// it. A terminal that acts on a remove even while it waits for its next TEI
// would likewise take that TEI's assignment for another remove. A holder
// back within the rest finds its TEI free and gets a link for it. A rest by
// time was chosen over a rotation through 64..126: it covers the TEIs that
// terminals chose themselves too, and it does not shorten when terminals
// come and go often. 63 TEIs for at most eight links leave room for many
// resting ones.
bool LAPD_NT::is_free(unsigned char tei) {
    Tei& t = *automatic(tei);
    if (t.use == Tei::resting && Mux::milliseconds() - t.since >= check_period_ms)
        t.use = Tei::free;
    return t.use == Tei::free;
}

// Called before `taker` holds one more message: the links together hold no
// more than one LAPD link would, so eight busy terminals cannot empty the
// packet pool. The fullest link (the taker among equals) loses its oldest.
void LAPD_NT::make_room(LAPD_NT_user& taker) {
    if (held() < held_capacity) return;
    LAPD_NT_user* fullest = &taker;
    for (auto& link : links_)
        if (link.held() > fullest->held()) fullest = &link;
    fullest->drop_oldest_held();
}

// From above.

void LAPD_NT::message(Packet& p) {
    if (p.length() <= 3) {
        if (noCallReference_.admit())
            std::clog << ext::header(this) << "message of " << p.length()
                      << " octets dropped: no call reference" << noCallReference_ << std::endl;
        return;
    }
    if (!pool_has_room()) {
        if (messagePoolLow_.admit())
            std::clog << ext::header(this) << "message dropped: packet pool low" << messagePoolLow_
                      << std::endl;
        ++poolOverflows_;
        return;
    }
    // A SETUP (message type after a one-octet call reference) offers a call
    // to every terminal.
    if (p[3] == q931_setup) {
        static const unsigned char header[] = {0x02, 0xFF, 0x03};  // SAPI 0 command, TEI 127, UI
        Packet frame = with_header(p, header, sizeof header, *this);
        send_to_layer1(frame);
        return;
    }
    for (auto& link : links_)
        if (link.message(p)) return;
    if (noHolder_.admit())
        std::clog << ext::header(this) << "no terminal holds call reference "
                  << unsigned(p[2] & 0x7F) << ": message dropped" << noHolder_ << std::endl;
}

}  // namespace ISDN
