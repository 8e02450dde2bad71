#pragma once
// VARK radio states as the host's TERM messages carry them: the whole state
// (TERM::VarkRadioStatus) and one packet's command (the 20 alternatives of
// TERM::VarkRadioModifierParams, each standing for one packet type).

#include <string>

#include "messages/term.h"
#include "radio/vark_radio_control.h"

namespace RTPSignalling {

void EncodeVarkStatus(const VarkRadioState& state, TERM::VarkRadioStatus& status);
// Type 0 and every field of the status; the session, the caller identity
// and the radio quality keep their values.
void DecodeVarkStatus(const TERM::VarkRadioStatus& status, VarkRadioState& state);

// The command of the state's packet type; false for a type no alternative
// stands for.
bool EncodeVarkParams(const VarkRadioState& state, TERM::VarkRadioModifierParams& params);
// The packet type and the command's fields; false, with the reason in
// `why`, for an alternative this side does not know or an `ip` that is no
// address.
bool DecodeVarkParams(const TERM::VarkRadioModifierParams& params, VarkRadioState& state,
                      std::string& why);

// The packet type an alternative stands for, -1 for none.
int VarkPacketType(int alternative);

}  // namespace RTPSignalling
