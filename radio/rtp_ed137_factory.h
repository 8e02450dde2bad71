#pragma once
// The factory of the RTP slots with the ED-137 radio extension: a gateway
// slot whose controller has an extension session of its own attached to the
// stream, set up from the request's radio response.

#include <cstdint>

#include "radio/ed137_radio_control.h"
#include "radio/rtp_radio_factory.h"

class RtpED137Factory : public RtpRadioFactory {
public:
    static RtpED137Factory& instance() {
        static RtpED137Factory factory;
        return factory;
    }

    const char* GetName() const override { return "RTP Ext ED137"; }

    // The init record of a session: the keep-alive period in packets of
    // `packetFactor` x 10 ms (a factor of 0 counts as 2) times `sigtime`,
    // then `sigtime`.
    static RtpExtSlot::ExtInit InitParams(const RTPSignalling::ED137RadioParams& radio,
                                          uint16_t packetFactor);

private:
    RtpED137Factory();
    const char* InvalidRadio(const TERM::RtpRadioRequest& radio) const override;
    RtpExtSlot* MakeSlot(const Session& session, const LGCP::CreateRtpParams& params) override;
};
