#pragma once
// RtpSlot bridges one TDM channel of the board's RTP engine to one RTP
// stream on the network. The media runs in the engine ("/dev/rtp", one open
// descriptor per session); the slot owns that session, switches its input
// on and off as it is wired, restarts it when the controller changes the
// codec, reports the engine's events, sends the stream's RTCP source
// description and BYE, and offers the tone and voice-processing operations
// of its channel to the controller's ioctl commands. The radio slots build
// on it.

#include <netinet/in.h>
#include <sys/types.h>

#include <iosfwd>
#include <optional>

#include "board/drivers/rtp.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "runtime/fd.h"
#include "runtime/multiplexer.h"
#include "runtime/owed.h"
#include "slots/rtcp.h"
#include "slots/slot.h"

class RtpSlot : public Slot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
public:
    // The `abort` cause of a slot that lost its session: a codec change
    // failed and the old session would not begin again, or the session's
    // descriptor ended. The controller destroys such a slot; until then it
    // refuses every request.
    static constexpr int kAbortNoSession = 150;

    // A session already begun on `session`, with its channel added. Out of
    // descriptors the loop cannot watch it: the slot closes it (with a
    // line) and has no session.
    RtpSlot(int channel, const Fd& session, const board::rtp::rtp_connection_params& params);
    // Sends the BYE and switches off what the receivers switched on.
    ~RtpSlot() override;

    void IAfterCreate() override;
    // Tears the session down and switches the channel off.
    bool IBeforeDestroy() override;
    bool Ioctl(const LGCP::IoctlParams& params) override;
    bool IOnOutputStream() override { return has_session(); }
    bool IOnInputStream() override;
    void IOnOutputRelease() override {}
    void IOnInputRelease() override;
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    const char* GetName() const override { return "rtp"; }

    // Takes the bound RTCP socket itself (a copy could fail, and the slot
    // would run without RTCP), keeps `to` as the RTCP destination and
    // sends the source description.
    void startRTPC(Fd socket, const sockaddr_in& to);
    // The packet to the RTCP destination; the sendto result, 0 when it did
    // not encode.
    ssize_t send(const RTPC::Msg& message);

    bool enablePD(const LGCP::PDParams& params);
    bool disablePD();
    // Begins the session anew with the current parameters on the channel;
    // its input and packet detection as the slot wants them, what the
    // driver refuses of them owed.
    bool restart();
    // The session is gone for good: the slot lets go of its hardware
    // (its channel, receivers and session) and the controller hears once.
    void LoseSession();
    void IReleaseHardware() override;
    // The payload type of a codec mode: A-law 8, u-law 0, the low-bit-rate
    // mode the payload type the slot was created with.
    int translate_payload(LGCP::CodecMode::NamedNumber mode) const;

    void OnRtpEvent(int fd, short revents);

    using Hardware::TonecReceiver::echoCancel;

    // The last word of the add-channel record the session was begun with;
    // a restart begins the new session with it too.
    void SetChannelWord(int32_t word) { channelWord_ = word; }

    int channel() const { return channel_; }
    // False once the session is lost.
    bool has_session() const { return bool(session_); }
    const board::rtp::rtp_connection_params& params() const { return params_; }
    bool input_on() const { return inputOn_; }
    void PutHeader(std::ostream& os) const;

    // The delays, BSS and noise gate a radio request asks for; false when
    // the driver refused one.
    bool SetVoiceProcessing(const TERM::RtpRadioRequest& radio);

protected:
    // Begins the session anew with the `params` it had before a codec
    // change; a session that will not begin again is lost. False then.
    bool ResumeWith(const board::rtp::rtp_connection_params& params);
    // The session's descriptor (closed when a restart failed).
    const Fd& session() const { return session_; }
    // The input request on the session; false when the driver refused.
    bool SwitchInput(bool on);
    // The input the slot wants: on while something is wired to it; where
    // the squelch switches it, as it is.
    virtual bool InputWanted() { return followsSquelch_ ? inputOn_ : source() != nullptr; }
    // The input and packet detection as the slot wants them, asked of the
    // driver now; what it refuses is owed, asked again every second until
    // done or no longer wanted. False while the input is owed.
    bool SettleInput();

    // The radio's squelch, not the wiring, switches the input on.
    bool followsSquelch_ = false;

private:
    // The receivers' events, passed on as signals.
    void tonec_event(const Params& params) override { processTonecEvent(params); }
    unsigned tonec_timeslot() const override { return static_cast<unsigned>(channel_); }
    void dsproc_vad_event(const Hardware::DSProcVADEvent& event) override {
        processVADEvent(event);
    }
    void dsproc_bss_event(const board::dsp::dsproc_bss_event* event) override {
        processBSSEvent(event);
    }
    void dsproc_sd_event(const Hardware::DSProcSDEvent& event) override { processSDEvent(event); }
    void dsproc_tone_flt_event(const board::dsp::dsproc_tone_event* event) override {
        processToneFltEvent(event);
    }
    void dsproc_flags_event(const board::dsp::dsproc_flags_event* event) override {
        processFlagsEvent(event);
    }
    unsigned dsproc_timeslot() const override { return static_cast<unsigned>(channel_); }

    // The tone and voice-processing alternatives; false for any other.
    bool ReceiverIoctl(const LGCP::IoctlParams& params);
    // Moves `field` (rx_pt or tx_pt) to the mode's payload type.
    bool ChangeCodec(uint16_t board::rtp::rtp_connection_params::*field,
                     const LGCP::CodecMode& mode);
    // Opens and begins a session on the channel; true when it runs.
    bool Begin();
    // Has the loop watch the session; false (logged, the session closed)
    // when no descriptor is left for it.
    bool WatchSession();
    // The set-packet-detection request on the session; false when refused.
    bool SetPacketDetection(int32_t timeout);
    // The session's input is not what the slot wants: the driver refused
    // a new session's input-on, or a disconnect's input-off.
    bool InputOwed() { return has_session() && inputOn_ != InputWanted(); }
    bool Owes() { return InputOwed() || (pdTimeout_ && !pdSet_); }
    // True once the session has what the slot wants.
    bool Settle();
    // A request without a record on the session.
    int Request(uint32_t request);

    int channel_;
    Fd session_;
    Event readEvent_;
    board::rtp::rtp_connection_params params_;
    sockaddr_in rtcpTo_{};
    Fd rtcp_;
    int lowBitRate_;
    int32_t channelWord_ = 0;
    // As the driver has it: a refused request changes nothing.
    bool inputOn_ = false;
    // The packet-detection timeout while the controller has detection set,
    // and whether the session begun last has it.
    std::optional<int32_t> pdTimeout_;
    bool pdSet_ = false;
    Owed<> owed_{[this](auto) { return Settle(); }};
};

// Opens "/dev/rtp", begins a session with `params` and adds the channel
// `info` asks for (-1 lets the driver choose; it fills the record in). An
// invalid Fd when a step failed: `failure` then holds the log text of the
// refused request, or null when the device did not open (errno tells why).
Fd BeginRtpSession(board::rtp::rtp_connection_params params, board::rtp::rtp_channel_info& info,
                   const char*& failure);

// The text of an RTP library error code.
const char* RTPStrError(int code);
