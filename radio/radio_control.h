#pragma once
// The radio controller of a radio RTP slot: it exchanges radio signalling
// with the network through an RTP header-extension session ("/dev/rtp_ext",
// one extension per packet) and radio state with the controller host
// through TERM radio messages. RadioControl is the common base: it opens
// and attaches the session, runs the status timer, keeps the receive
// filter, reads bursts of received extensions and builds the log prefix.
// The VARK and ED-137 controllers derive from it.

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

#include "board/drivers/rtp.h"
#include "board/drivers/rtp_ext.h"
#include "messages/term.h"
#include "runtime/descriptor_end.h"
#include "runtime/fd.h"
#include "runtime/log_throttle.h"
#include "runtime/multiplexer.h"
#include "runtime/owed.h"
#include "runtime/timer.h"

namespace RTPSignalling {

using board::rtp::rtp_attach_session_params;
using board::rtp_ext::rtp_ext_attach_session_params;
using board::rtp_ext::rtp_ext_init_params;

const char* GetRtpExtDevName();

// An IPv4 address kept in network order as the in_addr the filter takes.
inline in_addr Address(uint32_t addr) {
    in_addr a;
    a.s_addr = addr;
    return a;
}

// How a gateway's radio is keyed: for which position and how urgently.
// Keyed, the radio hears that position and, of the others, only a PTT more
// urgent than its own, which may take the radio over; unkeyed, it hears
// every position. The driver's filter knows positions, not urgency: it may
// keep the others out only while the radio is keyed at the most urgent
// level, where nothing can take it over.
struct RadioKeying {
    bool keyed;
    int64_t urgency;    // the larger, the more urgent
    uint32_t position;  // IPv4, network order

    // A packet from `source`; `ptt` when it keys the radio at `pttUrgency`.
    bool Hears(uint32_t source, bool ptt, int64_t pttUrgency) const {
        return !keyed || (ptt && pttUrgency > urgency) || source == position;
    }
    bool OnlyThePositionIsHeard(int64_t mostUrgent) const { return keyed && urgency >= mostUrgent; }
};

// What the radio slot asks of its controller.
class IRadioController {
public:
    virtual ~IRadioController() = default;
    // Non-zero when the controller took the host's message.
    virtual int SendASNToChan(const TERM::RadioStatus&) { return 0; }
    virtual int SendASNToChan(const TERM::RadioModifier&) { return 0; }
    // Non-zero while the radio's squelch is open.
    virtual int GetSQU() { return 0; }
};

// What the event loop calls.
class IRadioIntController {
public:
    virtual ~IRadioIntController() = default;
    virtual void OnRtpExtEvent(int /*fd*/, short /*revents*/) {}
    // The milliseconds until the next status tick.
    virtual unsigned long ProcessRadioStatus(unsigned long /*now*/, unsigned long interval) {
        return interval;
    }
};

// How a controller reports to its slot.
class IRadioControlNotify {
public:
    virtual ~IRadioControlNotify() = default;
    // A radio report for the controller host.
    virtual void RadioControlNotify(const TERM::RtpRadioRequest&) {}
    // The radio is lost (151: no keep-alive from the far end).
    virtual void RadioControlNotify(int /*code*/) {}
};

// How the controller reaches the header extension.
enum RadioControlType {
    // A session of its own, initialised and attached to the RTP session.
    RadioControlOwnAttached = 0,
    // The extension rides on the RTP session's own descriptor.
    RadioControlOnRtpSession = 1,
    // A session of its own, initialised only.
    RadioControlOwnDetached = 2,
};

class RadioControl : public IRadioController, private IRadioIntController {
public:
    // The side mark: gateway controllers keep their last-sent times.
    enum Side : uint32_t { GatewaySide = 0, WorkstationSide = 1 };
    static constexpr unsigned long kDefaultInterval = 1000;
    // The abort cause of a header-extension session that ended.
    static constexpr int kSessionEnded = 0;

    RadioControl(int id, const rtp_ext_attach_session_params& attach,
                 const rtp_ext_init_params& init);
    RadioControl(int id, Fd rtp, const rtp_attach_session_params& attach);
    explicit RadioControl(const rtp_ext_init_params& init);
    ~RadioControl() override;

    // 1 when the session is (again) in place, 0 when a request failed: the
    // session is then owed, and asked for again every second until it is
    // in place or the slot lets go of its stream.
    int RtpExtStart(bool initial);
    // Detaches and closes an attached session of its own; returns 1.
    int RtpExtStop();
    // The slot lost its stream for good: the session ends whatever its form
    // (an attached one detached first), the status timer stops and the copy
    // of the stream goes, so that nothing of the radio reaches the slot or
    // holds the stream's channel any more.
    void LetGoOfSession();
    // The slot's RTP session is `rtp` from now on (a codec change begins a
    // new one): the next attach names it. An empty `rtp` lets go of the old
    // session, so that closing it in the slot ends it.
    void SetRtpSession(const Fd& rtp);
    void SetTimerEnable(bool on);
    // Takes effect at the next arming.
    void SetTimerInterval(unsigned long ms) { interval_ = ms; }
    // Passes only packets from `addr` (on), or every packet (off, or no
    // address known: 0). The filter stays in force across a restart of the
    // session. What the driver refuses is owed, asked again by the next
    // update and every second: false while the session passes only another
    // source than the one wanted (a removal owed). A filter for another
    // position that the driver refuses takes the old one away.
    bool UpdateAccess(bool on, const in_addr& addr);
    // "rtp_ext[id] time:" (no number for type 2), at most 254 characters.
    const std::string& GetPrefix();

    void SetNotify(IRadioControlNotify* notify) { notify_ = notify; }
    void SetTrace(bool on) { trace_ = on; }
    void SetSide(Side side) { side_ = side; }

    RadioControlType type() const { return type_; }
    // The header-extension descriptor (types 0 and 2), -1 when none.
    int ext_fd() const { return ext_.get(); }
    bool filter_active() const { return filterWanted_.has_value(); }
    // The last start failed for want of a descriptor.
    bool short_of_descriptors() const { return shortOfDescriptors_; }
    unsigned long interval() const { return interval_; }

protected:
    // Milliseconds from `then` to `now` on the 32-bit loop clock; 0 when
    // `then` lies in the future.
    static uint32_t Age(unsigned long now, unsigned long then);
    static uint32_t Now();

    // Writes one packed extension (a length of 0 or less: packing failed)
    // and keeps the activity time; false when there is no session or the
    // write fails.
    bool WriteExtension(const unsigned char* bytes, int length);
    // Reads the extensions pending for the poll result `revents` (a burst
    // of kRecordsPerEvent at most; the rest wait for the next pass) and
    // hands on, of each run of consecutive packets of one type and source,
    // the last one decoded: decode(bytes, length, record) is false for a
    // packet to drop, sameRun(previous, current) is 0 within a run,
    // process(record) acts. A session that ended is closed.
    template <class Record, class Decode, class SameRun, class Process>
    void ReadBurst(short revents, Record& previous, Record& current, Decode decode, SameRun sameRun,
                   Process process);
    // A received or written extension on the trace, when it is on.
    void Trace(const char* what, const unsigned char* bytes, int length);
    // A session of its own opened again (a codec change restarts it): the
    // protocol gives it at once what the old one carried.
    virtual void OnSessionOpened() {}

    bool gateway() const { return side_ == GatewaySide; }
    IRadioControlNotify* notify() const { return notify_; }
    const rtp_ext_init_params& init_params() const { return init_; }
    unsigned long lastActivity_ = 0;

private:
    // What the event loop calls; the protocol controllers read and report.
    void OnRtpExtEvent(int, short) override {}
    unsigned long ProcessRadioStatus(unsigned long, unsigned long interval) override {
        return interval;
    }
    // The receive information and the bytes of the next extension: what
    // the read returned.
    ssize_t ReceiveOne(board::rtp_ext::rtp_ext_receive_info& info, unsigned char* bytes,
                       size_t size);
    // Closed as a failed start leaves it; the slot hears that the radio is lost.
    void SessionEnded(const char* why);
    void SessionOpened();
    // The driver's requests; false when it refused.
    bool SetFilter(uint32_t addr);
    bool RemoveFilter();
    // The session's filter as wanted now; true once it is.
    bool SettleFilter();
    void Init(RadioControlType type);
    // Opens, initialises and watches a new session; false (logged, closed)
    // when a step fails.
    bool OpenAndInit();
    // The steps of a start; false (logged) when one failed.
    bool Start();
    bool Fail(const char* message);
    void OnProcessStatus(Timer*);

    RadioControlType type_;
    Fd rtp_;
    Fd ext_;
    Event event_;
    Timer timer_;
    rtp_attach_session_params rtpAttach_{};
    rtp_ext_attach_session_params extAttach_{};
    rtp_ext_init_params init_{};
    unsigned long interval_ = kDefaultInterval;
    unsigned long id_ = 0;
    Side side_ = GatewaySide;
    bool trace_ = false;
    bool timerEnabled_ = false;
    // The session ended under the controller: no reports until the next.
    bool sessionEnded_ = false;
    bool shortOfDescriptors_ = false;
    // The source the session's filter passes, as wanted and as the driver
    // has it (none: every source; while a set is owed, the access rule
    // keeps the other positions out).
    std::optional<uint32_t> filterWanted_, filterHas_;
    // A session that failed to start, and the filter, until the driver
    // has them.
    enum class Debt { session, filter };
    Owed<Debt> owed_{
        [this](Debt debt) { return debt == Debt::session ? Start() : SettleFilter(); }};
    // Asked at each packet while the radio is keyed for a position whose
    // filter the driver refuses.
    LogThrottle setFailed_;
    LogThrottle removeFailed_;
    IRadioControlNotify* notify_ = nullptr;
    std::string prefix_;
};

template <class Record, class Decode, class SameRun, class Process>
void RadioControl::ReadBurst(short revents, Record& previous, Record& current, Decode decode,
                             SameRun sameRun, Process process) {
    bool decoded = false;
    board::rtp_ext::rtp_ext_receive_info info;
    unsigned char bytes[board::rtp_ext::kMaxExtension];
    const char* ended = ReadEvent(
        revents, [&] { return ReceiveOne(info, bytes, sizeof bytes); },
        [&](ssize_t length) {
            if (!decode(bytes, static_cast<int>(length), current)) return;
            current.source_addr = info.addr;
            current.source_ssrc = info.ssrc;
            if (decoded && sameRun(previous, current) != 0) process(previous);
            previous = current;
            decoded = true;
        });
    // The last run ends with the last packet decoded, also when packets
    // that did not decode came after it.
    if (decoded) process(previous);
    if (ended) SessionEnded(ended);
}

}  // namespace RTPSignalling
