#include "radio/rtp_vark_factory.h"

#include <unistd.h>

#include "radio/rtp_vark_slot.h"

RtpVARKFactory::RtpVARKFactory()
    : RtpRadioFactory("rtp ext VARK",
                      "do create rtp ext VARK: ", TERM::RadioStatus::Alternative::vark) {}

RtpExtSlot* RtpVARKFactory::MakeSlot(const Session& session, const LGCP::CreateRtpParams& params) {
    const TERM::RtpE2M* e2m = params.get_codecRTP().get_rtp_e2m();
    const TERM::RtpExtMode* mode = e2m ? e2m->get_mode() : nullptr;
    if (const TERM::RtpExtDescription* only = mode ? mode->get_only_rtp() : nullptr) {
        const RtpExtSlot::RtpAttach attach{only->get_fd().getValue(), only->get_pid().getValue()};
        return new RtpVARKRadioGWSlot(session.channel, session.device, session.params, attach);
    }
    const RtpExtSlot::ExtAttach attach{session.device.get(), ::getpid()};
    const RtpExtSlot::ExtInit init{board::rtp_ext::kVarkProfile, 0, {0, 0, 0, 0}};
    return new RtpVARKRadioGWSlot(session.channel, session.device, session.params, attach, init,
                                  true);
}
