#pragma once
// RtpExtSlot: an RTP slot whose stream also carries radio signalling
// (push-to-talk, squelch, channel, keep-alives) in RTP header extensions.
// The voice path is the RTP slot's; the radio signalling is handled by a
// radio controller that the slot owns. The slot hands the controller the
// `rtpExt` ioctls, passes its reports on as `rtpExt` and `abort` signals,
// stops and starts its extension session around codec changes and, when
// asked to, switches the RTP input on and off with the radio's squelch. The
// VARK and ED-137 slots (radio/rtp_vark_slot.h, radio/rtp_ed137_slot.h)
// make the controller of their protocol in one of three forms:
//
//   form 1: its own "/dev/rtp_ext" session, attached to this slot's stream
//   form 2: its own session, initialised only
//   form 3: no session of its own; the stream is attached to an existing
//           extension session named by descriptor and process

#include <memory>

#include "radio/radio_control.h"
#include "slots/rtp_slot.h"

class RtpExtSlot : public RtpSlot, public RTPSignalling::IRadioControlNotify {
public:
    using ConnectionParams = board::rtp::rtp_connection_params;
    using ExtAttach = RTPSignalling::rtp_ext_attach_session_params;
    using ExtInit = RTPSignalling::rtp_ext_init_params;
    using RtpAttach = RTPSignalling::rtp_attach_session_params;

    // Silences the controller (no notify target, no timer), then deletes it.
    ~RtpExtSlot() override;

    // The stream signals, then the radio status to the controller.
    void IAfterCreate() override;
    // Stops the controller's extension session before the stream goes.
    bool IBeforeDestroy() override;
    bool Ioctl(const LGCP::IoctlParams& params) override;
    const char* GetName() const override { return "rtp ext"; }

    void RadioControlNotify(const TERM::RtpRadioRequest& report) override {
        OnRtpRadioEvent(report);
    }
    void RadioControlNotify(int cause) override { OnAbort(cause); }

    // The status the controller gets once the slot is created.
    void SetRadioStatus(const TERM::RadioStatus& status) { status_ = status; }
    // Why the driver cannot take the request's delays (its fields are
    // unsigned: -1 ms would be 4294967295 ms); null when it can.
    static const char* OutsideVoiceProcessing(const TERM::RtpRadioRequest& radio);

    const TERM::RadioStatus& radio_status() const { return status_; }
    RTPSignalling::RadioControl* control() const { return control_.get(); }
    bool follows_squelch() const { return followsSquelch_; }

protected:
    RtpExtSlot(int channel, const Fd& session, const ConnectionParams& params);

    // The controller of each form on this slot's stream; `id` in its log
    // lines is the channel. Form 1 names the slot's own descriptor of the
    // stream whatever `attach` held: the creator's copy may be closed since.
    template <class Control>
    std::unique_ptr<Control> NewControl(const ExtAttach& attach, const ExtInit& init) const {
        return std::make_unique<Control>(channel(), ExtAttach{session().get(), attach.pid_rtp},
                                         init);
    }
    template <class Control>
    std::unique_ptr<Control> NewControl(const ExtInit& init) const {
        return std::make_unique<Control>(init);
    }
    template <class Control>
    std::unique_ptr<Control> NewControl(const RtpAttach& attach) const {
        return std::make_unique<Control>(channel(), session(), attach);
    }

    // Takes the controller: its reports come here, its trace is off, its
    // status timer runs every `interval` ms when `timer`, on `side`.
    void Adopt(std::unique_ptr<RTPSignalling::RadioControl> control,
               RTPSignalling::RadioControl::Side side, bool timer,
               unsigned long interval = RTPSignalling::RadioControl::kDefaultInterval);

private:
    bool SendRadioCommand(const TERM::RadioModifier& modifier);
    // A codec change with the extension session stopped around it; the
    // session starts again whenever the slot has a stream afterwards. When
    // it does not start on the new codec, the stream goes back to the old
    // one and the session starts on that.
    bool ChangeCodecOfRadio(const LGCP::IoctlParams& params);
    void LetRadioGoOfStream();
    // The extension session on the slot's stream now: false when it did
    // not start (true when the slot has no stream left to carry it).
    bool RadioOnStream();
    // The radio goes with the stream: its session ends before the
    // stream's, and nothing of it reaches the slot afterwards.
    void IReleaseHardware() override;
    // When the slot follows the squelch: the input on exactly while the
    // radio's squelch is open. False when the driver refused the switch
    // (then owed).
    bool FollowSquelch();
    bool InputWanted() override;

    TERM::RadioStatus status_;
    std::unique_ptr<RTPSignalling::RadioControl> control_;
};
