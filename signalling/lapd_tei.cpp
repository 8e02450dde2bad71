#include <chrono>
#include <iostream>
#include <random>

#include <unistd.h>

#include "runtime/ext_output.h"
#include "signalling/lapd.h"

// TEI management on a BRI user link: TEI requests repeated under T202,
// assignments and denials, TEI checks and removals, and the UI frames that
// carry them and unacknowledged layer-3 data.

namespace ISDN {

namespace {

// Terminals of this design that share a bus and start together must not
// draw the same Ri, or they take the same assignment and answer a TEI check
// as one. So the generator is seeded once, from the system's random source
// where it has one, and from the clock and the process id otherwise.
unsigned seed() {
    try {
        std::random_device device;
        return device();
    } catch (...) {
        const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
        return static_cast<unsigned>(now) ^ static_cast<unsigned>(getpid()) << 16;
    }
}

unsigned short default_ri() {
    static std::mt19937 generator(seed());
    return static_cast<unsigned short>(generator());
}

}  // namespace

void LAPD::tx_identity(unsigned short ri, unsigned char ai, unsigned char type) {
    if (!bri_) return;
    Packet frame;
    prepare_head(frame);
    put_tei_frame(frame, side_ == Side::network, TeiMessage{ri, type, ai});
    xmit(frame);
}

// An Identity request for any TEI, with a fresh Ri.
void LAPD::request_tei() {
    Ri = riSource_ ? riSource_() : default_ri();
    tx_identity(Ri, group_tei, identity_request);
}

void LAPD::BeginTeiAssignProcedure() {
    if (!bri_ || side_ != Side::user) return;
    if (state == tei_unassigned || state == assign_awaiting_tei) change_state(assign_awaiting_tei);
    on_mdl_assign();
    request_tei();
    RC = 0;
    stop_T200();
    stop_T203();
    start_T202();
}

// Five requests 2 s apart, then the link gives up.
void LAPD::on_T202A() {
    if (state != assign_awaiting_tei && state != establish_awaiting_tei) return;
    if (RC > N200) {
        state = tei_unassigned;
        report_deactivate_error("link error (T202 expired N202 times)");
        return;
    }
    request_tei();
    start_T202();
    ++RC;
}

void LAPD::on_UI(Packet& info) {
    if (info.length() == 0) return;
    if (log_ > 3) std::clog << ext::header(this) << "on_UI()" << std::endl;
    if (info[0] != tei_management_entity) {
        // Unacknowledged layer-3 data: a terminal takes it as a call coming
        // and brings its link up.
        if (side_ == Side::user) {
            if (state == awaiting_establishment) change_state(tei_assigned);
            if (state == tei_assigned) establish_request();
        }
        return report_message(info);
    }
    TeiMessage message;
    if (!read_tei_message(info, message)) return;
    if (log_ > 3)
        std::clog << ext::header(this) << "on_UI() type=" << unsigned(message.type)
                  << " Ai=" << unsigned(message.Ai) << std::endl;
    on_tei_message(message);
}

void LAPD::on_tei_message(const TeiMessage& message) {
    // What a terminal acts on is the network's to send: on the network side
    // it came from a terminal, whose word does not remove our TEI.
    if (side_ == Side::network) {
        if (log_ > 3)
            std::clog << ext::header(this) << "TEI management message of type "
                      << unsigned(message.type) << " ignored" << std::endl;
        return;
    }
    const bool awaiting_tei = state == assign_awaiting_tei || state == establish_awaiting_tei;
    const bool for_me = message.Ai == group_tei || message.Ai == selfTEI;
    switch (message.type) {
    case identity_assigned:
        if (!awaiting_tei || message.Ri != Ri) return;
        assign_tei(message.Ai);
        stop_T202();
        start_T200();
        break;
    case identity_denied:
        if (state != assign_awaiting_tei || message.Ri != Ri) return;
        if (message.Ai == group_tei)
            std::clog << ext::header(this) << "ASP returned: All TEI's used" << std::endl;
        else
            std::clog << ext::header(this) << "ASP returned: TEI " << unsigned(message.Ai)
                      << " denied" << std::endl;
        on_error(mdl_tei_denied);  // T202 runs on: the request is repeated
        break;
    case identity_check_request:
        if (state >= tei_assigned && for_me)
            tx_identity(Ri, static_cast<unsigned char>(selfTEI), identity_check_response);
        break;
    case identity_remove:
        // Below TEI assigned the link holds no TEI: a remove naming the one
        // it had (the network sends each twice) must not start another
        // request, whose assignment would go to a request no longer made.
        if (!for_me || state < tei_assigned) return;
        remove_tei();
        BeginTeiAssignProcedure();
        break;
    }
}

}  // namespace ISDN
