#pragma once
// The signalling link control of one SS7 link: MTP level 2 with the basic
// error correction method over one HDLC channel. It aligns the link with
// LSSUs and a timed proving period, then carries MSUs both ways with 7-bit
// sequence numbers, indicator bits, positive and negative acknowledgement
// and retransmission, and tells its owner when it enters and leaves service.
// Level 3 is not run here: MSU payloads pass to and from the owner unread.
//
// Departures from Q.703 that peers of this design rely on: LSSUs are sent
// once on entering a state (or, refused by the channel, once it takes
// frames again), not continuously; there is no error-rate
// monitor, no SIPO and no SIB; proving ends on its timer or on the peer's
// first FISU or MSU; a unit whose length indicator disagrees with its length
// is logged and still processed.
//
// FISUs are not sent continuously either, so on a quiet link a lost MSU, or
// the FISU acknowledging it, would go unnoticed until T7 took the link out of
// service. While MSUs wait for acknowledgement the link sends a FISU every
// probe interval, and a FISU reaching a link that has sent nothing for most
// of that interval is answered with one: the answer's BSN and BIB show the
// gap and the retransmission runs as it does under traffic. Two links never
// answer each other's answers unless the round trip is longer than that.
//
// What the link tells the layer above (in service, out of service, received
// MSUs) is handed up last: the owner may destroy the link from these calls.

#include <cstdint>
#include <iosfwd>
#include <optional>

#include "link/protocol.h"
#include "runtime/log_throttle.h"
#include "runtime/timer.h"
#include "signalling/clean_queue.h"
#include "signalling/cyclic.h"
#include "signalling/hdlc.h"
#include "signalling/refusal_retry.h"
#include "signalling/upward_reports.h"

namespace SS7 {

using Sequence = Cyclic<unsigned int, 127u>;

class SLC : public Protocol, public HDLC::Notify {
public:
    // The status octet of an LSSU.
    enum Indication : unsigned { SIO = 0, SIN = 1, SIE = 2, SIOS = 3 };

    // One state of the link; the link's current state is one of six shared,
    // stateless objects, each reaching the link's handlers for that state.
    class State {
    public:
        // 0 to 5, also the values of ACP::SS7State.
        enum type { idle, not_aligned, aligned, proving, aligned_ready, worked };

        virtual ~State() = default;
        virtual void on_enter(SLC& link) const = 0;
        virtual void on_leave(SLC& link) const = 0;
        virtual void fisu(SLC& link) const = 0;
        virtual void lssu(SLC& link, Indication indication) const = 0;
        virtual void msu(SLC& link, Packet& payload) const = 0;
        virtual void message(SLC& link, Packet& payload) const = 0;
        virtual type get_state_id() const = 0;
    };
    template <unsigned N, class Base = State>
    class TState;

    // Trace switches, all off at creation; the owner sets them.
    struct Trace {
        bool state = false;
        bool raw_receive = false;
        bool raw_transmit = false;
        bool mtp_transmit = false;
        bool mtp_receive = false;
        bool mtp_activate = false;
        bool timers = false;
        bool msu_processing = false;
    };

    struct Statistics {
        unsigned msuTxCount = 0;    // FISUs and MSUs the channel took
        unsigned msuRxCount = 0;    // received units of 3 octets or more
        unsigned octetsTx = 0;      // of the units in msuTxCount, headers included
        unsigned octetsRx = 0;      // of every received frame, also of short ones
        unsigned overflowCntr = 0;  // MSUs refused by a full TB
        unsigned rtbSize = 0;       // MSUs sent and not yet acknowledged
        unsigned repeatCntr = 0;    // retransmissions started
        unsigned badSeqCntr = 0;    // negative acknowledgements sent
        unsigned poolOverflows = 0;  // MSUs refused to keep the pool's reserve
        unsigned dropped = 0;        // units from the line dropped: the pool was low
    };

    static constexpr unsigned header_size = 3;
    // MSUs unacknowledged at most, and the TB: 200 MSUs from above plus room
    // for a whole RTB put back in front of them.
    static constexpr unsigned rtb_limit = 127;
    static constexpr unsigned tb_limit = 200;
    static constexpr unsigned tb_capacity = tb_limit + rtb_limit;
    // MSU payloads shorter than this would leave as a FISU or an LSSU.
    static constexpr unsigned shortest_msu = 3;
    // An MSU's SIO and longest SIF: no peer takes a longer payload.
    static constexpr unsigned longest_msu = 273;
    // Milliseconds between FISUs while MSUs wait for acknowledgement, and
    // the silence after which a received FISU is answered.
    static constexpr unsigned probe_interval = 1000;
    static constexpr unsigned answer_silence = 750;

    SLC();
    ~SLC() override;

    bool compare_name(const Protocol_name& other) const override;
    const Protocol_name& name() const override { return name_; }
    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;
    void local_activate() override;
    void local_deactivate() override;
    // One MSU payload from above.
    void message(Packet& p) override;
    // One signal unit from the channel.
    void receive(Packet& p) override;
    void protocol_info(std::ostream& os) const override;

    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    void on_hdlc_ready() override;

    // The transport below (the trunk) went down or came back.
    void OnTrunkHardStatus(bool ok);
    // The counters, with rtbSize as it is now.
    Statistics statistics() const;
    // The backward sequence number sent in every FISU and MSU.
    unsigned BSNT() const { return BSNT_; }
    State::type state_id() const { return state_->get_state_id(); }
    unsigned rtb_count() const { return rtbCount_; }
    unsigned tb_count() const { return tb_.count(); }
    void PutHeader(std::ostream& os) const;

    // Set by the owner before activation.
    void set_hdlc(GenericHDLC* hdlc) { hdlc_ = hdlc; }
    void set_emergency(bool emergency) { emergency_ = emergency; }
    void set_trunk(unsigned trunk) { trunk_ = trunk; }
    void set_slc(unsigned slc) { slc_ = slc; }
    void set_dpc(unsigned dpc) { dpc_ = dpc; }
    void set_opc(unsigned opc) { opc_ = opc; }
    // The trace switches, set at any time.
    Trace& trace() { return trace_; }

    static const char* state_name(unsigned state);

private:
    struct LinkTimer {
        unsigned ms;
        void (SLC::*expiry)(Timer*);
    };
    static const LinkTimer T1, T2, T3, T4_normal, T4_emergency, T7;

    // The handlers the states reach.
    void enter_idle();
    void enter_not_aligned();
    void enter_aligned();
    void enter_proving();
    void enter_aligned_ready();
    void enter_worked();
    void lssu_out_of_service(Indication indication);  // idle, not aligned
    void lssu_aligned(Indication indication);
    void lssu_proving(Indication indication);         // proving, aligned ready
    void lssu_worked(Indication indication);
    void idle_on_lssu(Indication indication);
    void drop_for_pool();
    void worked_fisu();
    void answer_if_quiet();
    void worked_msu(Packet& payload);
    void put_to_tb(Packet& payload);
    void change_state(State::type next);

    // Error correction in service.
    void process_tb();
    bool process_bsnr();  // false when the link left service
    void abnormal_fib();
    void retransmit();
    void nack();
    void ack();
    void make_expected();
    void reset();

    // Sending.
    bool send(Sequence fsn, const Packet* payload);
    bool send_fisu() { return send(FSNT_, nullptr); }
    void send_lssu(Indication status);
    void send_owed_lssus();
    bool transmit_lssu(Indication status);  // false when the channel refused it
    void send_alignment();  // SIE in an emergency, else SIN

    void start(const LinkTimer& timer);
    // The link timer and the probe: on leaving a state, and when nothing sent
    // waits for acknowledgement.
    void stop_timers() {
        timer_.reset();
        probe_.reset();
    }
    void expire(const char* line, State::type next);
    void on_T1(Timer*);
    void on_T2(Timer*);
    void on_T3(Timer*);
    void on_T4(Timer*);
    void on_T7(Timer*);
    void on_probe(Timer*);
    // After a failed write: the owed LSSUs and the TB.
    void on_retry();

    void put_fields(std::ostream& os) const;
    void trace_octets(const char* what, const Packet& p) const;

    Trace trace_;
    // Of the last received unit.
    Sequence BSNR_, FSNR_;
    bool BIBR_ = true, FIBR_ = true;
    unsigned LI_ = 0;
    // Sent in every FISU and MSU.
    Sequence BSNT_{127}, FSNT_{127};
    bool BIBT_ = true, FIBT_ = true;
    // BSNT, BIBT and FIBT as they were when the last FISU or MSU arrived.
    Sequence expectedFSN_{127};
    bool expectedFIB_ = true, FIBTcopy_ = true;
    bool awaitingRetransmission_ = false;
    bool badBSNseen_ = false, badFIBseen_ = false;
    bool peerOutOfService_ = false;  // the peer's SIOS takes the link to idle
    // LSSUs the channel refused, to send once it takes frames again.
    bool owedSios_ = false;
    std::optional<Indication> owedStatus_;

    Packet rtb_[Sequence::modulus];  // MSU payloads sent, by FSN
    Sequence rtbFirst_;              // FSN of the oldest unacknowledged MSU
    Sequence lastFSNsent_{127};
    unsigned rtbCount_ = 0;
    unsigned resendsWaiting_ = 0;  // first in the TB: MSUs put back from the RTB
    CleanQueue<Packet, tb_capacity> tb_;

    Timer timer_;
    LogThrottle poolLow_;
    // Lines of an owner that sends faster than the line takes, and of units
    // a peer sends malformed.
    LogThrottle tbFull_;
    LogThrottle tbPoolLow_;
    LogThrottle tooShort_;
    LogThrottle badLength_;
    LogThrottle hdlcReady_;
    Timer probe_;            // a FISU while MSUs wait for acknowledgement
    RefusalRetry retry_;
    uint32_t lastSent_ = 0;  // loop milliseconds of the last FISU or MSU sent
    const State* state_;
    bool emergency_ = false;
    unsigned trunk_ = 0, slc_ = 0, dpc_ = 0, opc_ = 0;
    Statistics stats_;
    GenericHDLC* hdlc_ = nullptr;
    Protocol_name_str name_{"MTP/L2"};
    UpwardReports reports_{*this};
};

}  // namespace SS7
