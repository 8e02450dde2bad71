#include "radio/rtp_ed137_slot.h"

using RTPSignalling::ED137RadioGWControl;
using RTPSignalling::ED137RadioParams;
using RTPSignalling::RadioControl;

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, const Fd& session,
                                         const ConnectionParams& params, const ExtAttach& attach,
                                         const ED137RadioParams& radio, const ExtInit& init)
    : RtpED137Slot(channel, session, params) {
    auto control = NewControl<ED137RadioGWControl>(attach, init);
    followsSquelch_ = radio.transmission_depend_on_squ != 0;
    control->SetParams(radio);
    Adopt(std::move(control), RadioControl::GatewaySide, true,
          radio.keepalive_period * radio.keepalive_multiplier / 2);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, const Fd& session,
                                         const ConnectionParams& params, const ExtInit& init)
    : RtpED137Slot(channel, session, params) {
    Adopt(NewControl<ED137RadioGWControl>(init), RadioControl::GatewaySide, false);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, const Fd& session,
                                         const ConnectionParams& params, const RtpAttach& attach)
    : RtpED137Slot(channel, session, params) {
    Adopt(NewControl<ED137RadioGWControl>(attach), RadioControl::GatewaySide, false);
}
