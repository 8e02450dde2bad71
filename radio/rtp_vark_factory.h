#pragma once
// The factory of the RTP slots with the VARK radio extension: a gateway
// slot whose controller has an extension session of its own attached to the
// stream, or, when the controller asks for `only-rtp`, attaches the stream
// to the extension session it names.

#include "radio/rtp_radio_factory.h"

class RtpVARKFactory : public RtpRadioFactory {
public:
    static RtpVARKFactory& instance() {
        static RtpVARKFactory factory;
        return factory;
    }

    const char* GetName() const override { return "RTP Ext VARK"; }

private:
    RtpVARKFactory();
    RtpExtSlot* MakeSlot(const Session& session, const LGCP::CreateRtpParams& params) override;
};
