#include "radio/rtp_ext_slot.h"

#include <iostream>
#include <utility>

#include "radio/radio_asn.h"

RtpExtSlot::RtpExtSlot(int channel, const Fd& session, const ConnectionParams& params)
    : RtpSlot(channel, session, params) {}

RtpExtSlot::~RtpExtSlot() {
    if (!control_) return;
    control_->SetNotify(nullptr);
    control_->SetTimerEnable(false);
    control_.reset();
}

void RtpExtSlot::Adopt(std::unique_ptr<RTPSignalling::RadioControl> control,
                       RTPSignalling::RadioControl::Side side, bool timer, unsigned long interval) {
    control_ = std::move(control);
    control_->SetNotify(this);
    control_->SetTrace(false);
    control_->SetTimerInterval(interval);
    control_->SetTimerEnable(timer);
    control_->SetSide(side);
}

void RtpExtSlot::IAfterCreate() {
    RtpSlot::IAfterCreate();
    if (!control_) return;
    control_->SendASNToChan(status_);
    // A radio created with its squelch open is heard at once, not only
    // after the controller's next ioctl.
    FollowSquelch();
}

bool RtpExtSlot::IBeforeDestroy() {
    if (control_) control_->RtpExtStop();
    RtpSlot::IBeforeDestroy();
    return true;
}

bool RtpExtSlot::Ioctl(const LGCP::IoctlParams& params) {
    if (!control_ || !has_session()) return RtpSlot::Ioctl(params);
    using A = LGCP::IoctlParams::Alternative;
    bool result;
    switch (params.selection()) {
        case A::rtpExt: {
            // A radio command is done once the input follows the squelch it set.
            const bool sent = SendRadioCommand(*params.get_rtpExt());
            return FollowSquelch() && sent;
        }
        case A::encoder_mode:
        case A::decoder_mode:
            result = ChangeCodecOfRadio(params);
            break;
        default:
            result = RtpSlot::Ioctl(params);
            break;
    }
    FollowSquelch();
    return result;
}

// A value its field on the wire cannot carry is refused before it reaches
// the radio's state: the slot's reports go on as they were.
bool RtpExtSlot::SendRadioCommand(const TERM::RadioModifier& modifier) {
    if (const char* outside = RTPSignalling::OutsideWireFields(modifier))
        return RefuseInvalid(outside);
    return control_->SendASNToChan(modifier) != 0;
}

bool RtpExtSlot::ChangeCodecOfRadio(const LGCP::IoctlParams& params) {
    const ConnectionParams before = this->params();
    LetRadioGoOfStream();
    const bool result = RtpSlot::Ioctl(params);
    // A failed change resumes the old stream, and the radio goes on with it.
    if (RadioOnStream()) return result;
    // The answer is a failure: a stream on the new codec goes back to the
    // old one, and the radio's session opens on that again.
    const ConnectionParams& now = this->params();
    if (now.tx_pt != before.tx_pt || now.rx_pt != before.rx_pt) {
        PutHeader(std::cerr);
        std::cerr << "no radio session on the new codec, the old codec resumed" << std::endl;
        LetRadioGoOfStream();
        if (ResumeWith(before)) RadioOnStream();
    }
    return false;
}

// The controller lets go of the stream so that a restart ends it (its
// duplicate would keep it open and its port bound).
void RtpExtSlot::LetRadioGoOfStream() {
    control_->RtpExtStop();
    control_->SetRtpSession(Fd());
}

bool RtpExtSlot::RadioOnStream() {
    if (!has_session()) return true;
    control_->SetRtpSession(session());
    return control_->RtpExtStart(false) != 0;
}

// A slot that lost its stream has said so once and keeps quiet: no status
// reports (nor ED-137's repeated abort), no packets of the positions and no
// end of the extension session for a radio it no longer carries.
void RtpExtSlot::IReleaseHardware() {
    if (control_) control_->LetGoOfSession();
    RtpSlot::IReleaseHardware();
}

bool RtpExtSlot::FollowSquelch() {
    return !followsSquelch_ || !control_ || SettleInput();
}

bool RtpExtSlot::InputWanted() {
    if (!followsSquelch_ || !control_) return RtpSlot::InputWanted();
    return control_->GetSQU() != 0;
}

const char* RtpExtSlot::OutsideVoiceProcessing(const TERM::RtpRadioRequest& radio) {
    for (const ASN1::INTEGER* delay :
         {radio.get_rx_delay(), radio.get_tx_delay(), radio.get_selcal_delay()})
        if (delay && delay->getValue() < 0) return "a delay below 0 ms";
    return nullptr;
}
