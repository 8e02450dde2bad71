#pragma once
// The VARK radio slots: an RTP stream whose header extensions carry VARK
// packets. The gateway slot stands for a radio set (the factory makes it);
// the workstation slot for an operator position.

#include "radio/rtp_ext_slot.h"

class RtpVARKSlot : public RtpExtSlot {
public:
    const char* GetName() const override { return "rtp ext VARK"; }

protected:
    using RtpExtSlot::RtpExtSlot;
};

class RtpVARKRadioGWSlot : public RtpVARKSlot {
public:
    // Form 1; `statusTimer` runs the gateway's periodic reports.
    RtpVARKRadioGWSlot(int channel, const Fd& session, const ConnectionParams& params,
                       const ExtAttach& attach, const ExtInit& init, bool statusTimer);
    // Form 2.
    RtpVARKRadioGWSlot(int channel, const Fd& session, const ConnectionParams& params,
                       const ExtInit& init);
    // Form 3.
    RtpVARKRadioGWSlot(int channel, const Fd& session, const ConnectionParams& params,
                       const RtpAttach& attach);

    const char* GetName() const override { return "rtp ext VARK (GW)"; }
};

class RtpVARKRadioWSSlot : public RtpVARKSlot {
public:
    // Forms 1, 2 and 3; the workstation sends no periodic reports.
    RtpVARKRadioWSSlot(int channel, const Fd& session, const ConnectionParams& params,
                       const ExtAttach& attach, const ExtInit& init);
    RtpVARKRadioWSSlot(int channel, const Fd& session, const ConnectionParams& params,
                       const ExtInit& init);
    RtpVARKRadioWSSlot(int channel, const Fd& session, const ConnectionParams& params,
                       const RtpAttach& attach);

    const char* GetName() const override { return "rtp ext VARK (WS)"; }
};
