#pragma once
// The ED-137 radio slots: an RTP stream whose header extensions carry
// ED-137 radio signalling. The gateway slot stands for the radio: it keeps
// the far end's keep-alives in view and, when the session asks for it, lets
// the radio's squelch switch the RTP input.

#include "radio/ed137_radio_control.h"
#include "radio/rtp_ext_slot.h"

class RtpED137Slot : public RtpExtSlot {
public:
    const char* GetName() const override { return "rtp ext ed137"; }

protected:
    using RtpExtSlot::RtpExtSlot;
};

class RtpED137RadioGWSlot : public RtpED137Slot {
public:
    // Form 1, with the session's parameters: the controller keeps its status
    // (keep-alive) timer at half the keep-alive limit.
    RtpED137RadioGWSlot(int channel, const Fd& session, const ConnectionParams& params,
                        const ExtAttach& attach, const RTPSignalling::ED137RadioParams& radio,
                        const ExtInit& init);
    // Forms 2 and 3, without a status timer.
    RtpED137RadioGWSlot(int channel, const Fd& session, const ConnectionParams& params,
                        const ExtInit& init);
    RtpED137RadioGWSlot(int channel, const Fd& session, const ConnectionParams& params,
                        const RtpAttach& attach);

    const char* GetName() const override { return "rtp ext ED137 (GW)"; }
};
