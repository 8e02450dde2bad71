#include "slots/rtp_factory.h"

#include <iostream>

#include "slots/rtp_slot.h"

Slot* RtpFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::CreateRtpParams* rtp = params.get_rtp();
    if (!rtp || rtp->get_codecRTP().has_radio()) return nullptr;
    const TERM::RtpParams& codec = rtp->get_codecRTP();
    PutHeader(std::clog);
    std::clog << "do create rtp: " << codec << std::endl;

    Session session;
    const char* invalid = nullptr;
    if (!OpenSession(*rtp, SessionOptions(), session, invalid))
        return invalid ? invalidParams(invalid) : nullptr;
    auto* slot = new RtpSlot(session.channel, session.device, session.params);
    if (StartSlot(*slot, session, codec)) return slot;
    delete slot;
    return nullptr;
}
