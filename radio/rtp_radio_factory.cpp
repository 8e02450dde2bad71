#include "radio/rtp_radio_factory.h"

#include <iostream>

#include "radio/radio_asn.h"

RtpRadioFactory::RtpRadioFactory(const char* logName, const char* createLog,
                                 TERM::RadioStatus::Alternative protocol)
    : RtpSessionFactory(logName), createLog_(createLog), protocol_(protocol) {}

Slot* RtpRadioFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::CreateRtpParams* rtp = params.get_rtp();
    const TERM::RtpRadioRequest* radio = rtp ? rtp->get_codecRTP().get_radio() : nullptr;
    if (!radio || radio->get_status().selection() != protocol_) return nullptr;
    const TERM::RtpParams& codec = rtp->get_codecRTP();
    PutHeader(std::clog);
    std::clog << createLog_ << codec << std::endl;
    const char* outside = RTPSignalling::OutsideWireFields(radio->get_status());
    if (!outside) outside = RtpExtSlot::OutsideVoiceProcessing(*radio);
    if (!outside) outside = InvalidRadio(*radio);
    if (outside) return invalidParams(outside);

    SessionOptions options;
    options.reuseAddress = false;
    const ASN1::BOOLEAN* bss = radio->get_bss_enable();
    options.channelWord = bss && bss->getValue() ? 1 : 0;
    Session session;
    const char* invalid = nullptr;
    if (!OpenSession(*rtp, options, session, invalid))
        return invalid ? invalidParams(invalid) : nullptr;
    RtpExtSlot* slot = MakeSlot(session, *rtp);
    slot->SetRadioStatus(radio->get_status());
    // A radio session the driver refused opens later; one short of a
    // descriptor refuses the create, as any create short of one.
    const bool radioShort = slot->control()->short_of_descriptors();
    if (radioShort) {
        PutHeader(std::clog);
        std::clog << "rtp do not created: no descriptor for the radio session" << std::endl;
    }
    if (radioShort || !StartSlot(*slot, session, codec)) {
        delete slot;
        return nullptr;
    }
    return slot;
}
