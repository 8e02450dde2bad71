#include "radio/rtp_vark_slot.h"

#include "radio/vark_radio_control.h"

using RTPSignalling::RadioControl;
using RTPSignalling::VarkRadioGWControl;
using RTPSignalling::VarkRadioWSControl;

RtpVARKRadioGWSlot::RtpVARKRadioGWSlot(int channel, const Fd& session,
                                       const ConnectionParams& params, const ExtAttach& attach,
                                       const ExtInit& init, bool statusTimer)
    : RtpVARKSlot(channel, session, params) {
    Adopt(NewControl<VarkRadioGWControl>(attach, init), RadioControl::GatewaySide, statusTimer);
}

RtpVARKRadioGWSlot::RtpVARKRadioGWSlot(int channel, const Fd& session,
                                       const ConnectionParams& params, const ExtInit& init)
    : RtpVARKSlot(channel, session, params) {
    Adopt(NewControl<VarkRadioGWControl>(init), RadioControl::GatewaySide, false);
}

RtpVARKRadioGWSlot::RtpVARKRadioGWSlot(int channel, const Fd& session,
                                       const ConnectionParams& params, const RtpAttach& attach)
    : RtpVARKSlot(channel, session, params) {
    Adopt(NewControl<VarkRadioGWControl>(attach), RadioControl::GatewaySide, false);
}

RtpVARKRadioWSSlot::RtpVARKRadioWSSlot(int channel, const Fd& session,
                                       const ConnectionParams& params, const ExtAttach& attach,
                                       const ExtInit& init)
    : RtpVARKSlot(channel, session, params) {
    Adopt(NewControl<VarkRadioWSControl>(attach, init), RadioControl::WorkstationSide, false);
}

RtpVARKRadioWSSlot::RtpVARKRadioWSSlot(int channel, const Fd& session,
                                       const ConnectionParams& params, const ExtInit& init)
    : RtpVARKSlot(channel, session, params) {
    Adopt(NewControl<VarkRadioWSControl>(init), RadioControl::WorkstationSide, false);
}

RtpVARKRadioWSSlot::RtpVARKRadioWSSlot(int channel, const Fd& session,
                                       const ConnectionParams& params, const RtpAttach& attach)
    : RtpVARKSlot(channel, session, params) {
    Adopt(NewControl<VarkRadioWSControl>(attach), RadioControl::WorkstationSide, false);
}
