#pragma once
// What the VARK and ED-137 factories do alike. Each takes the `rtp`
// creations whose radio request carries its protocol's status (the RTP
// factory declines exactly those), opens the RTP session as the RTP factory
// does but with no SO_REUSEADDR on the RTCP socket and with the add-channel
// record's last word 1 when the request enables BSS, wraps it in its radio
// slot, gives the slot the request's radio status and applies the request's
// voice-processing settings. A radio whose session could not open for want
// of a descriptor declines the create; one whose session the driver refused
// is made, and its controller asks for the session again. They report the
// voice channels as the RTP factory does.

#include "radio/rtp_ext_slot.h"
#include "slots/rtp_session_factory.h"

class RtpRadioFactory : public RtpSessionFactory {
public:
    Slot* INewSlot(const LGCP::CreateParams& params) override;

protected:
    // `logName` starts the log lines, `createLog` precedes the parameters
    // of each creation.
    RtpRadioFactory(const char* logName, const char* createLog,
                    TERM::RadioStatus::Alternative protocol);

    // A value of the radio request that no slot of this factory can take,
    // or null.
    virtual const char* InvalidRadio(const TERM::RtpRadioRequest&) const { return nullptr; }
    // The radio slot on an opened session.
    virtual RtpExtSlot* MakeSlot(const Session& session, const LGCP::CreateRtpParams& params) = 0;

private:
    const char* createLog_;
    TERM::RadioStatus::Alternative protocol_;
};
