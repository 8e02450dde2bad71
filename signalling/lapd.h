#pragma once
// The Q.921 data link of one ISDN signalling channel (a BRI D channel, PRI
// timeslot 16 or a QSIG channel), user or network side. It sits between an
// HDLC channel below (frames out through `GenericHDLC`, in through
// `HDLC::Notify`) and layer 3 above, whose messages it carries unread in
// I frames: SABME/UA/DISC/DM establishment and release, modulo-128
// numbering with window 7, RR/RNR/REJ supervision, T200 retransmission with
// N200 retries, T203 idle supervision and timer recovery.
//
// Everything the link tells the layer above (activated, deactivated,
// statuses, received messages) is handed up last, after the frame, message
// or timer that caused it has been dealt with: the layer above may destroy
// the link from any of these calls.

#include <functional>
#include <iosfwd>

#include "link/protocol.h"
#include "messages/acp.h"
#include "runtime/log_throttle.h"
#include "runtime/timer.h"
#include "signalling/clean_queue.h"
#include "signalling/cyclic.h"
#include "signalling/frame_printer.h"
#include "signalling/hdlc.h"
#include "signalling/owed_answers.h"
#include "signalling/refusal_retry.h"
#include "signalling/tei_message.h"
#include "signalling/upward_reports.h"

namespace ISDN {

struct Side {
    enum type { user = 0, network = 1 };
};

// Data-link states; the numbers are also those of ACP::LAPDState.
enum State : unsigned {
    tei_unassigned = 0,
    assign_awaiting_tei = 1,
    establish_awaiting_tei = 2,
    tei_assigned = 3,
    awaiting_establishment = 4,
    awaiting_release = 5,
    multiple_frame_established = 6,
    timer_recovery = 7,
};

const char* statetext(unsigned state);

// The frame printer's text for the traces.
extern char logbuf[logbuf_size];

using Sequence = Cyclic<unsigned int, 127u>;

// The whole protocol state of a link, copied into the statuses it reports.
struct LAPDFullState {
    unsigned state = tei_assigned;
    int selfTEI = 0;
    int selfSAPI = 0;
    int peerTEI = 0;   // of the last frame received
    int peerSAPI = 0;
    int RC = 0;        // retransmission counter
    bool peerBusy = false;
    bool ownBusy = false;  // nothing sets it: enquiries are always RR
    bool RejectException = false;
    bool L3Initiated = false;
    bool Establishable = true;
    bool QueuedUp = false;  // the outgoing queue must be served
    bool RetrRQ = false;    // retransmission requested
    bool AckRQ = false;     // an acknowledgement is owed to the peer
    bool T200run = false;
    bool T202run = false;
    bool T203run = false;
    Sequence VS, VA, VR;

    void out(std::ostream& os) const;
};

class LAPD : public Protocol, private LAPDFullState, public HDLC::Notify {
public:
    // Told whenever the flow status changes; the owner reads it from the link.
    class Notify {
    public:
        virtual ~Notify() = default;
        virtual void OnLAPD_FlowStatusChange(LAPD* link) = 0;
    };

    struct FlowStatus {
        enum Type { normal = 0, congested = 1 };
    };

    struct Stats {
        unsigned T200 = 0, T202 = 0, T203 = 0;  // expiries
        unsigned errors = 0;                    // nothing counts it
        unsigned retrains = 0;                  // frames put back for retransmission
        unsigned outOverflows = 0;
        unsigned ackOverflows = 0;
        unsigned poolOverflows = 0;  // messages refused to keep the pool's reserve
        unsigned dropped = 0;        // frames from the line dropped: the pool was low
        unsigned fromAbove = 0;   // every message from above
        unsigned received = 0;    // I frames received in sequence
        unsigned emptyFromAbove = 0;
        unsigned rejected = 0;    // out-of-sequence I frames
        unsigned badconfirm = 0;  // N(R) errors

        void out(std::ostream& os) const;
    };

    // An error with the link's state at the moment it was made.
    class Status : public Protocol_status_error, public LAPDFullState {
    public:
        Status(Protocol* source, const char* text, const LAPDFullState& state)
            : Protocol_status_error(source, text), LAPDFullState(state) {}
        void out(std::ostream& os) const override;
    };

    static constexpr unsigned T200_ms = 1000;
    static constexpr unsigned T202_ms = 2000;
    static constexpr unsigned T203_ms = 10000;
    static constexpr int N200 = 3;
    // Octets of information an I frame carries at most (N201).
    static constexpr unsigned N201 = 260;
    static constexpr unsigned window = 7;
    // 128 messages from above plus the frames of one window put back.
    static constexpr unsigned out_capacity = 135;
    static constexpr unsigned refuse_at = 128;
    static constexpr unsigned congested_above = 88;
    static constexpr unsigned normal_below = 65;

    // MDL-ERROR codes.
    enum MdlError : unsigned {
        mdl_supervisory_f1 = 1,
        mdl_dm_f1 = 2,
        mdl_ua_f1 = 4,
        mdl_ua_f0 = 8,
        mdl_dm_f0 = 16,
        mdl_peer_reestablish = 32,
        mdl_sabme_retries = 64,
        mdl_disc_retries = 128,
        mdl_enquiry_retries = 256,
        mdl_nr_error = 512,
        mdl_frmr = 1024,
        mdl_tei_denied = 32768,
    };

    LAPD();
    ~LAPD() override;

    bool compare_name(const Protocol_name& other) const override;
    const Protocol_name& name() const override { return name_; }
    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;
    // DL-ESTABLISH and DL-RELEASE requests.
    void local_activate() override;
    void local_deactivate() override;
    // DL-DATA request: one layer-3 message.
    void message(Packet& p) override;
    // One frame from the HDLC channel.
    void receive(Packet& p) override;

    virtual void PutHeader(std::ostream& os) const;
    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    void on_hdlc_ready() override;
    // Management: MDL-ASSIGN and MDL-REMOVE requests, the hook run when a
    // TEI assignment starts, and MDL-ERROR indications.
    virtual void mdl_assign(unsigned char tei);
    virtual void on_mdl_assign() {}
    virtual void mdl_remove();
    virtual void on_error(unsigned code);

    // The statistics; true only when they differ from those it last
    // returned true for. `info.side` is left as the caller set it.
    bool GetInfo(ACP::IsdnLinkInfo& info) const;
    void change_to_bri() { bri_ = true; }
    // Where the Ri of each TEI request comes from. By default a generator
    // seeded once per process from an unpredictable source, so that
    // terminals of this design on one bus draw apart after every start.
    using RiSource = std::function<unsigned short()>;
    void set_ri_source(RiSource source) { riSource_ = std::move(source); }
    void show_stat() const;
    Smart_pointer<Internal_protocol_status> status();
    const char* state_text() const { return statetext(state); }

    // Set by the owner before activation.
    void set_side(Side::type side) { side_ = side; }
    void set_trunk(unsigned trunk) { trunk_ = trunk; }
    void set_log_level(unsigned level) { log_ = level; }
    void set_notify(Notify* notify) { notify_ = notify; }
    void set_hdlc(GenericHDLC* hdlc) { hdlc_ = hdlc; }

    Side::type side() const { return side_; }
    bool bri() const { return bri_; }
    const LAPDFullState& full_state() const { return *this; }
    const Stats& stats() const { return stats_; }
    FlowStatus::Type flow_status() const { return flow_; }
    unsigned queued_out() const { return outgoing_.count(); }
    unsigned queued_ack() const { return acknowledge_.count(); }
    // The reference of the last TEI request.
    unsigned short ri() const { return Ri; }

private:
    enum Supervisory { RR = 0, RNR = 1, REJ = 2 };
    enum Unnumbered : unsigned char {
        UI = 0x03, DM = 0x0F, DISC = 0x43, UA = 0x63, SABME = 0x6F, FRMR = 0x87, XID = 0xAF,
    };

    // Received frames, validated.
    void drop_for_pool();
    void on_iframe(Packet& frame, bool command);
    void on_sframe(unsigned type, bool command, bool pf, Sequence nr);
    void on_sframe_established(unsigned type, bool command, bool pf, Sequence nr);
    void on_sframe_recovery(unsigned type, bool command, bool pf, Sequence nr);
    void on_uframe(Packet& frame, bool command);
    void on_sabme(bool p);
    void on_disc(bool p);
    void on_ua(bool f);
    void on_dm(bool command, bool f);
    void on_frmr();
    void on_UI(Packet& info);

    // Sending.
    bool xmit(Packet& frame);
    void put_address(Packet& frame, bool command) const;
    bool tx_u(unsigned char type, bool command, bool pf);
    bool tx_s(Supervisory type, bool command, bool pf);
    bool tx_iframe(const Packet& info);
    void tx_enquiry();
    void tx_enquiry_response();
    // The REJ of a sequence error, with F when it answers a poll, and the
    // RR with F=1 that answers a poll: a refused one stays owed (owed_).
    void tx_reject(bool f);
    void answer_poll();
    void send_owed_answers();
    void on_retry();
    void trace_frame(const char* what, const Packet& frame, bool network_to_user) const;

    // Procedures.
    void establish_dl();
    void clear_exception();
    void discard_queue();
    void nr_recovery();
    void retransmission(Sequence nr);
    void reset_sequences();
    // VA <= N(R) <= VS, where VS counts the frames put back to be sent
    // again too: the peer may have them from their first sending.
    bool nr_valid(Sequence nr) const { return (VA <= nr) <= Sequence(VS + putBack_); }
    // A valid N(R) is taken: one beyond VS acknowledges frames put back,
    // which are not sent again. False for an invalid one.
    bool take_nr(Sequence nr);
    void change_state(unsigned next);
    void change_flowstatus(FlowStatus::Type next);

    // Runs after every frame, timer, message from above and "ready".
    void local_events();
    void ack_queue_refreash();
    bool queued_up();  // one pass; true when another should follow
    void ack_pending();

    // The one link timer plays T200, T202 and T203.
    void start_T200();
    void start_T202();
    void start_T203();
    void stop_T200();
    void stop_T202();
    void stop_T203();
    void start_timer(bool& run, unsigned ms, void (LAPD::*expiry)());
    void stop_timer(bool& run);
    void expire(bool& run, unsigned& expiries, void (LAPD::*action)());
    void on_T200();
    void on_T202();
    void on_T203();
    void on_T200A();
    void repeat_command(unsigned char type);
    void give_up(unsigned code);
    void on_T202A();
    void on_T203A();

    // The requests and their bodies, which hand nothing up: the procedures
    // of a received frame run them before its reports are delivered.
    void establish_request();
    // A release under way is over: an establish asked for meanwhile is done.
    void establish_if_asked();
    void assign_tei(unsigned char tei);
    void remove_tei();

    // TEI management on a BRI user link.
    void BeginTeiAssignProcedure();
    void tx_identity(unsigned short ri, unsigned char ai, unsigned char type);
    void request_tei();
    void on_tei_message(const TeiMessage& message);

    // Reports upwards, handed up by deliver_reports.
    void on_error(const char* text);
    void report_activate();
    void report_deactivate(Smart_pointer<Internal_protocol_status> status);
    void report_deactivate_success(const char* text);
    void report_deactivate_error(const char* text);
    void report_message(const Packet& info);
    void deliver_reports() { reports_.deliver(); }

    Side::type side_ = Side::user;
    Stats stats_;
    Notify* notify_ = nullptr;
    FlowStatus::Type flow_ = FlowStatus::normal;
    mutable ACP::IsdnLinkInfo lastInfo_;
    mutable bool infoGiven_ = false;
    unsigned trunk_ = 0;
    unsigned log_ = 0;
    bool bri_ = false;
    unsigned short Ri = 0;  // of the last TEI request
    // DL-ESTABLISH came while a release was under way.
    bool establishAsked_ = false;
    RiSource riSource_;
    Timer timer_;
    LogThrottle poolLow_;
    // Lines of an owner that sends faster than the channel takes.
    LogThrottle txFull_;
    LogThrottle outOverflow_;
    LogThrottle outPoolLow_;
    CleanQueue<Packet, out_capacity> outgoing_;   // messages not yet sent
    CleanQueue<Packet, window> acknowledge_;      // sent, unacknowledged, in N(S) order
    // The frames at the front of the outgoing queue that went before VS was
    // set back for a retransmission, numbered from VS on.
    unsigned putBack_ = 0;
    Protocol_name_str name_{"ISDN::LAPD"};
    GenericHDLC* hdlc_ = nullptr;
    // Sent once the channel takes frames again; RejectException is set
    // only once the REJ went.
    OwedAnswers owed_;
    RefusalRetry retry_;

    UpwardReports reports_{*this};
};

}  // namespace ISDN
