#pragma once
// The controller's ioctls that a media slot (RTP, mixer input or output)
// carries out on the tone and voice-processing receivers of its timeslot.
// Each alternative means one receiver operation wherever it is taken; each
// slot kind takes its own set of them and answers the others `unsupported`.
//
//   const ReceiverIoctls kMine{A::dtmf_enable, A::vad_enable};
//   bool MySlot::Ioctl(const LGCP::IoctlParams& params) {
//       return kMine.Apply(*this, *this, params);   // the slot's receivers
//   }

#include <cstdint>
#include <initializer_list>

#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "messages/lgcp.h"

class ReceiverIoctls {
public:
    using Alternative = LGCP::IoctlParams::Alternative;

    ReceiverIoctls(std::initializer_list<Alternative> alternatives);

    bool has(Alternative alternative) const;
    // False for an alternative outside the set; otherwise the receiver
    // operation's result, or true for an operation without one. A value
    // outside the driver field it fills (SELCAL signs other than four), or a
    // digit tone or pause outside 0..60000 ms, is refused with RefuseInvalid
    // and nothing is done.
    bool Apply(Hardware::TonecReceiver& tones, Hardware::DSProcReceiver& dsp,
               const LGCP::IoctlParams& params) const;

private:
    uint64_t bits_ = 0;
};
