#pragma once
// What the RTP factory and the radio factories do alike: they report the
// voice channels the board can run, and open an RTP session with its RTCP
// socket from the controller's RTP parameters. A factory of RTP slots:
//
//   Slot* MyFactory::INewSlot(const LGCP::CreateParams& params) {
//       const LGCP::CreateRtpParams* rtp = params.get_rtp();
//       if (!rtp || !mine(*rtp)) return nullptr;
//       Session session;
//       const char* invalid = nullptr;
//       if (!OpenSession(*rtp, SessionOptions(), session, invalid))
//           return invalid ? invalidParams(invalid) : nullptr;
//       auto* slot = new MySlot(session.channel, session.device, session.params);
//       if (StartSlot(*slot, session, rtp->get_codecRTP())) return slot;  // RTCP socket taken
//       delete slot;  // it could not watch its session, or its echo canceller was refused
//       return nullptr;
//   }

#include <netinet/in.h>

#include <cstdint>
#include <iosfwd>

#include "board/drivers/rtp.h"
#include "messages/lgcp.h"
#include "messages/term.h"
#include "runtime/fd.h"
#include "slots/slot_factory.h"

class RtpSlot;

class RtpSessionFactory : public SlotFactory {
public:
    // Reports the counts.
    void Query(LGCP::Resources& resources) override;
    // The counts anew from the voice driver: G.729, G.723 and G.711 take
    // its answer, 0 included, the other two only an answer above 0; a
    // request it refuses leaves that count. A driver that cannot be opened
    // sets the first three to 0, unless for want of a descriptor, which
    // leaves them all.
    void IQuery() override;

    // "<name>[G.723,G.729,G.711,universal]: ", the prefix of the log lines.
    void PutHeader(std::ostream& os) const;

    // The RTP payload type of a payload (0 for one without).
    static int translateCodec(TERM::Payload::NamedNumber payload);
    // A direction of the session: its own payload type only when it falls
    // back to a G.711 law other than the main payload.
    static int translateCodec(TERM::Payload::NamedNumber main,
                              TERM::Payload::NamedNumber direction);

    struct Counts {
        int g729 = 0;
        int g723 = 0;
        int g711 = 0;
        int g711mcc = 0;
        int universal = 0;
    };
    const Counts& counts() const { return counts_; }

protected:
    // `logName` starts the log lines ("rtp"). Refreshes the counts.
    explicit RtpSessionFactory(const char* logName);

    // A session opened for a new slot; the slot takes duplicates, the rest
    // closes with this.
    struct Session {
        int channel = -1;  // the TDM channel the driver chose
        Fd device;         // the "/dev/rtp" session
        Fd rtcp;           // bound to the local RTP port + 1
        board::rtp::rtp_connection_params params{};
        sockaddr_in rtcpTo{};     // the far end's RTP port + 1
        int32_t channelWord = 0;  // the last word of the add-channel record
    };
    // Where the factories differ.
    struct SessionOptions {
        bool reuseAddress = true;  // SO_REUSEADDR on the RTCP socket
        int32_t channelWord = 0;   // the last word of the add-channel record
    };

    // Opens the session for `params`: false (logged) when it cannot, with
    // `invalid` naming a value no session can take, otherwise left alone.
    // Whatever was opened on the way is closed again.
    bool OpenSession(const LGCP::CreateRtpParams& params, const SessionOptions& options,
                     Session& session, const char*& invalid);
    // The new slot's echo canceller is switched, and a radio's voice
    // processing set, as `codec` asks; the slot takes the session's RTCP
    // socket (it leaves `session`) and sends its source description; it
    // keeps the add-channel word for its restarts. False, with nothing
    // started, when the slot could not watch its session or the driver
    // refused the echo canceller (as it answers the same request by ioctl)
    // or the voice processing: the caller deletes it and declines, as for a
    // session that did not open.
    bool StartSlot(RtpSlot& slot, Session& session, const TERM::RtpParams& codec);

private:
    // The session's record; false when a value is invalid (named in `invalid`).
    bool BuildParams(const LGCP::CreateRtpParams& params, board::rtp::rtp_connection_params& out,
                     const char*& invalid) const;
    bool OpenRtcpSocket(uint16_t rtpPort, bool reuseAddress, Fd& socket);
    bool BeginSession(Session& session, int32_t channelWord);

    const char* logName_;
    Counts counts_;
};
