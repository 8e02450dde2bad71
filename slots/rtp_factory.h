#pragma once
// The factory of the RTP slots: it takes the `rtp` creations without a radio
// request (the radio factories take those).

#include "slots/rtp_session_factory.h"

class RtpFactory : public RtpSessionFactory {
public:
    static RtpFactory& instance() {
        static RtpFactory factory;
        return factory;
    }

    const char* GetName() const override { return "RTP"; }
    Slot* INewSlot(const LGCP::CreateParams& params) override;

private:
    RtpFactory() : RtpSessionFactory("rtp") {}
};
