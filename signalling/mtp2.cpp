#include "signalling/mtp2.h"

#include <algorithm>
#include <iostream>

#include "runtime/ext_output.h"
#include "runtime/mux_time.h"
#include "signalling/pool_reserve.h"

namespace SS7 {

// The states. What a state does not handle it ignores; a message from above
// outside service is dropped.
template <unsigned N, class Base>
class SLC::TState : public Base {
public:
    void on_enter(SLC& link) const override;
    void on_leave(SLC& link) const override { link.stop_timers(); }
    void fisu(SLC&) const override {}
    void lssu(SLC&, Indication) const override {}
    void msu(SLC&, Packet&) const override {}
    void message(SLC&, Packet&) const override {}
    State::type get_state_id() const override { return State::type(N); }
};

using Idle = SLC::TState<SLC::State::idle>;
using NotAligned = SLC::TState<SLC::State::not_aligned>;
using Aligned = SLC::TState<SLC::State::aligned>;
using Proving = SLC::TState<SLC::State::proving>;
// Aligned ready takes proving's handlers for what it receives.
using AlignedReady = SLC::TState<SLC::State::aligned_ready, Proving>;
using Worked = SLC::TState<SLC::State::worked>;

template <> void Idle::on_enter(SLC& link) const { link.enter_idle(); }
template <> void Idle::lssu(SLC& link, Indication i) const { link.lssu_out_of_service(i); }

template <> void NotAligned::on_enter(SLC& link) const { link.enter_not_aligned(); }
template <> void NotAligned::lssu(SLC& link, Indication i) const { link.lssu_out_of_service(i); }

template <> void Aligned::on_enter(SLC& link) const { link.enter_aligned(); }
template <> void Aligned::lssu(SLC& link, Indication i) const { link.lssu_aligned(i); }

// The peer's first FISU or MSU ends proving at once; the unit itself is not
// processed further.
template <> void Proving::on_enter(SLC& link) const { link.enter_proving(); }
template <> void Proving::lssu(SLC& link, Indication i) const { link.lssu_proving(i); }
template <> void Proving::fisu(SLC& link) const { link.change_state(State::worked); }
template <> void Proving::msu(SLC& link, Packet&) const { link.change_state(State::worked); }

template <> void AlignedReady::on_enter(SLC& link) const { link.enter_aligned_ready(); }
template <> void AlignedReady::lssu(SLC& link, Indication i) const { Proving::lssu(link, i); }
template <> void AlignedReady::fisu(SLC& link) const { Proving::fisu(link); }
template <> void AlignedReady::msu(SLC& link, Packet& p) const { Proving::msu(link, p); }

template <> void Worked::on_enter(SLC& link) const { link.enter_worked(); }
template <> void Worked::lssu(SLC& link, Indication i) const { link.lssu_worked(i); }
template <> void Worked::fisu(SLC& link) const { link.worked_fisu(); }
template <> void Worked::msu(SLC& link, Packet& p) const { link.worked_msu(p); }
template <> void Worked::message(SLC& link, Packet& p) const {
    link.put_to_tb(p);
    link.process_tb();
}

namespace {

const Idle idle_state;
const NotAligned not_aligned_state;
const Aligned aligned_state;
const Proving proving_state;
const AlignedReady aligned_ready_state;
const Worked worked_state;

const SLC::State* const states[] = {
    &idle_state, &not_aligned_state, &aligned_state, &proving_state, &aligned_ready_state,
    &worked_state,
};

const char* const state_names[] = {"idle", "not aligned", "aligned", "proving", "aligned ready",
                                   "worked"};

// An LSSU's status by name, "unknown:" and the octet for the others.
struct IndicationName {
    unsigned value;
};

std::ostream& operator<<(std::ostream& os, IndicationName i) {
    static const char* const names[] = {"out of alignment", "normal alignment",
                                        "emergency alignment", "out of service"};
    if (i.value < 4) return os << names[i.value];
    return os << "unknown:" << ext::OutUnsignedInHex(i.value, 2);
}

constexpr unsigned max_li = 63;

// The length indicator of a unit: its payload length, 63 for 63 octets or more.
unsigned length_indicator(unsigned payload) { return std::min(payload, max_li); }

}  // namespace

const SLC::LinkTimer SLC::T1 = {45000, &SLC::on_T1};
const SLC::LinkTimer SLC::T2 = {7000, &SLC::on_T2};
const SLC::LinkTimer SLC::T3 = {1500, &SLC::on_T3};
const SLC::LinkTimer SLC::T4_normal = {8200, &SLC::on_T4};
const SLC::LinkTimer SLC::T4_emergency = {500, &SLC::on_T4};
const SLC::LinkTimer SLC::T7 = {12000, &SLC::on_T7};

const char* SLC::state_name(unsigned state) {
    return state < sizeof state_names / sizeof *state_names ? state_names[state] : "unknown";
}

SLC::SLC() : state_(&idle_state) {}

SLC::~SLC() = default;

bool SLC::compare_name(const Protocol_name& other) const { return name_.compare(other); }

void SLC::local_prepare_head(Packet& p) { p.reserve_head(header_size); }

void SLC::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void SLC::protocol_info(std::ostream& os) const { os << "MTP/L2"; }

void SLC::PutHeader(std::ostream& os) const {
    os << "SS7/L2 [dpc=" << dpc_ << ", slc=" << slc_ << ", trunk=" << trunk_ << "] ("
       << state_name(state_id()) << "): ";
}

void SLC::put_fields(std::ostream& os) const {
    os << " BSN=" << BSNR_ << " BIB=" << BIBR_ << " FSN=" << FSNR_ << " FIB=" << FIBR_;
}

void SLC::trace_octets(const char* what, const Packet& p) const {
    std::clog << ext::header(this) << what;
    for (unsigned i = 0; i < p.length(); ++i) std::clog << ' ' << ext::OutUnsignedInHex(p[i], 2);
    std::clog << std::endl;
}

SLC::Statistics SLC::statistics() const {
    Statistics counters = stats_;
    counters.rtbSize = rtbCount_;
    return counters;
}

// Owner commands.

void SLC::local_activate() {
    if (state_id() == State::idle) {
        if (trace_.mtp_activate)
            std::clog << ext::header(this) << "local_activate: executing..." << std::endl;
        change_state(State::not_aligned);
    } else {
        if (trace_.mtp_activate)
            std::clog << ext::header(this) << "local_activate: ignored." << std::endl;
        if (state_id() == State::worked) reports_.activated();
    }
    reports_.deliver();
}

void SLC::local_deactivate() {
    if (trace_.mtp_activate) std::clog << ext::header(this) << "local_deactivate()" << std::endl;
    change_state(State::idle);
    reports_.deliver();
}

void SLC::OnTrunkHardStatus(bool ok) {
    if (ok || state_id() == State::idle) return;
    std::clog << ext::header(this) << " transport OFF by low level terminated" << std::endl;
    change_state(State::idle);
    reports_.deliver();
}

void SLC::message(Packet& p) {
    if (trace_.mtp_transmit) trace_octets(" mtp tx", p);
    // A shorter payload would read as a FISU or an LSSU, and an LSSU takes
    // the peer out of service.
    if (p.length() < shortest_msu) {
        std::cerr << ext::header(this) << "msu too short, dropped: " << p.text() << std::endl;
        return;
    }
    state_->message(*this, p);
    reports_.deliver();
}

// From the channel.

void SLC::on_hdlc_receive(Packet& frame) { receive(frame); }

// The channel closed itself: nothing more is sent or received until the
// owner activates it again.
void SLC::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
    std::clog << ext::header(this) << "hdlc error [cause=" << cause << "]" << std::endl;
    if (state_id() != State::idle) change_state(State::idle);
    reports_.deliver();
}

// A paced channel takes frames again after each refusal, about once per MSU
// under load.
void SLC::on_hdlc_ready() {
    if (hdlcReady_.admit())
        std::clog << ext::header(this) << "hdlc ready" << hdlcReady_ << std::endl;
    send_owed_lssus();
    if (state_id() == State::worked) process_tb();
    reports_.deliver();
}

// A failed write says nothing when the channel works again: what it refused
// goes now, and no FISU of its own (a refused FISU is not repeated).
void SLC::on_retry() {
    send_owed_lssus();
    if (state_id() == State::worked && !tb_.empty()) process_tb();
    reports_.deliver();
}

void SLC::receive(Packet& p) {
    if (trace_.raw_receive) trace_octets(" rx raw", p);
    stats_.octetsRx += p.length();
    if (!pool_takes_frame()) return drop_for_pool();
    if (p.length() < header_size) {
        if (tooShort_.admit())
            std::cerr << ext::header(this) << "ignore packet, length too small " << p.text()
                      << tooShort_ << std::endl;
        return;
    }
    BSNR_ = Sequence(p[0] & 0x7F);
    BIBR_ = p[0] >> 7;
    FSNR_ = Sequence(p[1] & 0x7F);
    FIBR_ = p[1] >> 7;
    LI_ = p[2];
    p.skip(header_size);
    const unsigned payload = p.length();
    if (LI_ != length_indicator(payload)) {
        const bool say = badLength_.admit();
        if (say)
            std::cerr << ext::header(this) << "invalid packet length,"
                      << " expected = " << LI_ << ", received = " << payload << badLength_
                      << std::endl;
        if (payload >= max_li) {
            if (say)
                std::cerr << ext::header(this) << "can't truncate signalling unit." << std::endl;
        } else if (LI_ < payload) {
            if (say)
                std::cerr << ext::header(this) << "truncate " << payload - LI_
                          << " octet(s) : " << p.text() << std::endl;
            p.trim(payload - LI_);
        }
    }
    ++stats_.msuRxCount;
    LI_ = p.length();
    if (LI_ == 0)
        state_->fisu(*this);
    else if (LI_ < shortest_msu)
        state_->lssu(*this, Indication(p[0]));
    else
        state_->msu(*this, p);
    reports_.deliver();
}

// States.

void SLC::change_state(State::type next) {
    if (trace_.state)
        std::clog << "SS7/L2 [dpc=" << dpc_ << ", slc=" << slc_ << ", trunk=" << trunk_ << "]"
                  << ": change state from " << ext::quoted(state_name(state_id())) << " to "
                  << ext::quoted(state_name(next)) << std::endl;
    state_->on_leave(*this);
    state_ = states[next];
    // The status the new state sends replaces one still owed; from aligned
    // ready on FISUs say it, and a late SIOS would take the peer out again.
    owedStatus_.reset();
    if (next == State::aligned_ready || next == State::worked) owedSios_ = false;
    state_->on_enter(*this);
}

void SLC::enter_idle() {
    reset();
    if (!peerOutOfService_) send_lssu(SIOS);
    peerOutOfService_ = false;
    reports_.deactivated(new Protocol_status_error(this, "impossible phasing"));
}

void SLC::enter_not_aligned() {
    reset();
    start(T2);
    send_lssu(SIO);
}

void SLC::enter_aligned() {
    start(T3);
    if (trace_.timers) std::clog << ext::header(this) << "set T3" << std::endl;
    send_alignment();
}

void SLC::enter_proving() {
    start(emergency_ ? T4_emergency : T4_normal);
    if (trace_.timers) std::clog << ext::header(this) << "set T4" << std::endl;
    send_alignment();
}

void SLC::enter_aligned_ready() {
    start(T1);
    send_fisu();
}

// MSUs left from an earlier time in service are not sent late.
void SLC::enter_worked() {
    if (!tb_.empty()) {
        std::cerr << ext::header(this) << "discard " << tb_.count() << " msu in TB" << std::endl;
        tb_.clear();
    }
    reset();
    send_fisu();
    process_tb();
    reports_.activated();
}

void SLC::lssu_out_of_service(Indication indication) {
    if (indication == SIO)
        change_state(State::aligned);
    else if (indication == SIN || indication == SIE)
        change_state(State::proving);
}

// The peer's SIO says that our alignment unit, which goes once, did not
// reach it: it goes again.
void SLC::lssu_aligned(Indication indication) {
    if (indication == SIN || indication == SIE)
        change_state(State::proving);
    else if (indication == SIO)
        send_alignment();
}

void SLC::lssu_proving(Indication indication) {
    if (indication == SIO || indication == SIOS) idle_on_lssu(indication);
}

void SLC::lssu_worked(Indication indication) {
    std::clog << ext::header(this) << "receive lssu: " << IndicationName{indication} << " ";
    put_fields(std::clog);
    std::clog << std::endl;
    idle_on_lssu(indication);
}

// A peer that says it is out of service is not told the same: when its SIOS
// crosses our SIN, the answer would take it out of proving just as our SIN
// brings it back, and the two links would swap states without end.
void SLC::idle_on_lssu(Indication indication) {
    peerOutOfService_ = indication == SIOS;
    change_state(State::idle);
    // An SIO starts the peer's new alignment, and it is sent once: it is
    // answered from out of service, or the peer would wait for it in vain.
    if (indication == SIO) lssu_out_of_service(indication);
}

// Lost as on the line: the peer's retransmission brings it again.
void SLC::drop_for_pool() {
    ++stats_.dropped;
    if (poolLow_.admit())
        std::cerr << ext::header(this) << "unit dropped: packet pool low" << poolLow_ << std::endl;
}

// Error correction.

void SLC::put_to_tb(Packet& payload) {
    if (tb_.count() >= tb_limit) {
        ++stats_.overflowCntr;
        if (tbFull_.admit())
            std::cerr << ext::header(this) << "no space in TB buffer,"
                      << " TB=" << tb_.count() << " RTB=" << rtbCount_
                      << " ignoring msu: " << payload.text() << tbFull_ << std::endl;
    } else if (!pool_has_room()) {
        ++stats_.poolOverflows;
        if (tbPoolLow_.admit())
            std::cerr << ext::header(this) << "packet pool low, ignoring msu: " << payload.text()
                      << tbPoolLow_ << std::endl;
    } else {
        tb_.put(payload);
    }
}

void SLC::process_tb() {
    if (tb_.empty()) {
        send_fisu();
        return;
    }
    Packet payload;
    while (rtbCount_ < rtb_limit && tb_.preview(&payload)) {
        const Sequence fsn(lastFSNsent_ + Sequence(1));
        // A refused MSU stays first in the TB and FSNT keeps naming the last
        // MSU that left, so a FISU sent meanwhile claims nothing unsent. One
        // a failed write refused goes on the retry, under T7 as one the line
        // lost: a channel whose writes fail for good takes the link out of
        // service.
        if (!send(fsn, &payload)) {
            if (retry_.pending() && !timer_.pending()) start(T7);
            return;
        }
        tb_.get(nullptr);
        if (resendsWaiting_ > 0) --resendsWaiting_;
        FSNT_ = lastFSNsent_ = fsn;
        rtb_[fsn] = payload;
        if (++rtbCount_ == 1) {
            // T7 starts with the first MSU into an empty RTB, but a
            // retransmission that emptied it leaves T7 running from the last
            // acknowledgement that released units: an MSU the line never
            // carries, asked for again and again, takes the link out of
            // service instead of holding it for ever.
            if (!timer_.pending()) start(T7);
            probe_.set(probe_interval, &SLC::on_probe, this);
        }
    }
}

bool SLC::process_bsnr() {
    const Sequence beforeFirst(rtbFirst_ + Sequence(127));
    if (Sequence::distance(beforeFirst, lastFSNsent_) < Sequence::distance(beforeFirst, BSNR_)) {
        if (!badBSNseen_) {
            badBSNseen_ = true;
            return true;
        }
        if (trace_.msu_processing) {
            std::cerr << ext::header(this) << "bad su acknowledgement received: ";
            put_fields(std::cerr);
            std::cerr << std::endl;
        }
        change_state(State::idle);
        return false;
    }
    badBSNseen_ = false;
    const bool acknowledged = BSNR_ != beforeFirst;
    if (acknowledged) start(T7);
    for (const Sequence end(BSNR_ + Sequence(1)); rtbFirst_ != end;) {
        rtb_[rtbFirst_] = Packet();
        ++rtbFirst_;
        --rtbCount_;
    }
    // Resent MSUs the channel has not taken yet, and an MSU a failed write
    // refused that waits for its retry, still wait for their
    // acknowledgement: T7 runs on for them.
    if (rtbCount_ == 0 && resendsWaiting_ == 0 && !(retry_.pending() && !tb_.empty()))
        stop_timers();
    if (BIBR_ != FIBTcopy_)
        retransmit();
    else if (acknowledged && !tb_.empty())
        process_tb();  // MSUs that waited for room in the RTB
    return true;
}

void SLC::abnormal_fib() {
    if (!badFIBseen_) {
        badFIBseen_ = true;
        return;
    }
    if (trace_.msu_processing) {
        std::cerr << ext::header(this) << "bad start of a retransmission: ";
        put_fields(std::cerr);
        std::cerr << std::endl;
    }
    change_state(State::idle);
}

// The peer asked for everything from the oldest unacknowledged MSU on: each
// goes again with its old FSN, ahead of the MSUs still waiting.
void SLC::retransmit() {
    if (trace_.msu_processing)
        std::clog << ext::header(this) << "retransmit" << " rtb=" << rtbCount_ << std::endl;
    ++stats_.repeatCntr;
    FSNT_ = Sequence(rtbFirst_ + Sequence(127));
    FIBT_ = BIBR_;
    resendsWaiting_ += rtbCount_;
    for (; rtbCount_ > 0; --rtbCount_, --lastFSNsent_) {
        tb_.append(rtb_[lastFSNsent_]);
        rtb_[lastFSNsent_] = Packet();
    }
    process_tb();
}

void SLC::nack() {
    BIBT_ = !BIBT_;
    expectedFIB_ = BIBT_;
    awaitingRetransmission_ = true;
    send_fisu();
    ++stats_.badSeqCntr;
    if (trace_.msu_processing) std::cerr << ext::header(this) << "nack!" << std::endl;
}

void SLC::ack() {
    BSNT_ = FSNR_;
    if (trace_.msu_processing) std::clog << ext::header(this) << "ack!" << std::endl;
    send_fisu();
}

void SLC::make_expected() {
    expectedFSN_ = BSNT_;
    expectedFIB_ = BIBT_;
    FIBTcopy_ = FIBT_;
}

void SLC::worked_fisu() {
    make_expected();
    if (FIBR_ == expectedFIB_) {
        awaitingRetransmission_ = badFIBseen_ = false;
        if (process_bsnr() && FSNR_ != expectedFSN_) nack();
    } else if (!awaitingRetransmission_) {
        abnormal_fib();
    } else {
        process_bsnr();
    }
    answer_if_quiet();
}

// A FISU reaching a link silent for a while may come from a peer still
// waiting for a lost acknowledgement: it gets the BSN and BIB again. The
// peer's answer to that comes too soon to be answered in turn.
void SLC::answer_if_quiet() {
    if (state_id() == State::worked && Mux::milliseconds() - lastSent_ >= answer_silence)
        send_fisu();
}

void SLC::worked_msu(Packet& payload) {
    make_expected();
    if (FSNR_ == expectedFSN_) {
        if (trace_.msu_processing)
            std::clog << ext::header(this) << "discard msu due to 5.2.2/i Q.702"
                      << " fsnr=" << FSNR_ << " fsnx=" << expectedFSN_ << std::endl;
        return;
    }
    if (FIBR_ != expectedFIB_) {
        if (!awaitingRetransmission_)
            abnormal_fib();
        else
            process_bsnr();
        return;
    }
    awaitingRetransmission_ = badFIBseen_ = false;
    if (!process_bsnr()) return;
    if (FSNR_ == Sequence(expectedFSN_ + Sequence(1))) {
        ack();
        if (trace_.mtp_receive) trace_octets(" mtp rx", payload);
        reports_.message(payload);
    } else {
        if (trace_.msu_processing)
            std::clog << ext::header(this) << "discard msu due to 5.2.2/ii Q.702"
                      << " fsnr=" << FSNR_ << " fsnx=" << expectedFSN_ << std::endl;
        nack();
    }
}

// The TB is left as it is: entering service decides about it.
void SLC::reset() {
    for (Packet& p : rtb_) p = Packet();
    rtbFirst_ = Sequence(0);
    lastFSNsent_ = Sequence(127);
    rtbCount_ = resendsWaiting_ = 0;
    awaitingRetransmission_ = badBSNseen_ = badFIBseen_ = false;
    BSNT_ = FSNT_ = Sequence(127);
    FIBT_ = BIBT_ = true;
}

// Sending.

bool SLC::send(Sequence fsn, const Packet* payload) {
    if (!hdlc_) {
        std::cerr << ext::header(this) << "no HDLC interface attached!!!" << std::endl;
        return false;
    }
    const unsigned length = payload ? payload->length() : 0;
    const unsigned char header[header_size] = {
        static_cast<unsigned char>(BIBT_ << 7 | BSNT_),
        static_cast<unsigned char>(FIBT_ << 7 | fsn),
        static_cast<unsigned char>(length_indicator(length)),
    };
    Packet unit;
    prepare_head(unit);
    unit.put(header, header_size);
    if (length) unit.put(payload->data(), length);
    if (!hdlc_->hdlc_transmit(unit)) {
        if (trace_.raw_transmit) std::clog << ext::header(this) << " tx full!" << std::endl;
        retry_.refused(*hdlc_, &SLC::on_retry, this);
        return false;
    }
    if (trace_.raw_transmit) trace_octets(" tx raw", unit);
    lastSent_ = Mux::milliseconds();
    ++stats_.msuTxCount;
    stats_.octetsTx += unit.length();
    return true;
}

// Not counted and not traced. The peer must hear a state the channel
// refused once it takes frames again: a SIOS it has not heard first, so that
// it leaves service before a restart's SIO reaches it, then the latest status.
void SLC::send_lssu(Indication status) {
    if (status == SIOS)
        owedSios_ = true;
    else
        owedStatus_ = status;
    send_owed_lssus();
}

void SLC::send_owed_lssus() {
    if (owedSios_) {
        if (!transmit_lssu(SIOS)) return;
        owedSios_ = false;
    }
    if (owedStatus_ && transmit_lssu(*owedStatus_)) owedStatus_.reset();
}

bool SLC::transmit_lssu(Indication status) {
    if (!hdlc_) return false;
    Packet unit;
    prepare_head(unit);
    const unsigned char octets[] = {0xFF, 0xFF, 0x01, static_cast<unsigned char>(status)};
    unit.put(octets, sizeof octets);
    if (hdlc_->hdlc_transmit(unit)) return true;
    retry_.refused(*hdlc_, &SLC::on_retry, this);
    return false;
}

void SLC::send_alignment() { send_lssu(emergency_ ? SIE : SIN); }

// The link timer.

void SLC::start(const LinkTimer& timer) { timer_.set(timer.ms, timer.expiry, this); }

void SLC::expire(const char* line, State::type next) {
    if (trace_.timers) std::clog << ext::header(this) << line << std::endl;
    change_state(next);
    reports_.deliver();
}

void SLC::on_T1(Timer*) { expire("T1 expired", State::idle); }
void SLC::on_T2(Timer*) { expire("T2 expired", State::idle); }
void SLC::on_T3(Timer*) { expire("T3 expired", State::idle); }
void SLC::on_T4(Timer*) { expire("T4 expired.", State::aligned_ready); }

// The peer's answer to the FISU shows what it received.
void SLC::on_probe(Timer*) {
    send_fisu();
    if (rtbCount_ > 0) probe_.set(probe_interval, &SLC::on_probe, this);
}

void SLC::on_T7(Timer*) {
    if (trace_.timers)
        std::clog << ext::header(this) << "T7 expired: " << rtbCount_ << " packets in RTB."
                  << std::endl;
    change_state(State::idle);
    reports_.deliver();
}

}  // namespace SS7
