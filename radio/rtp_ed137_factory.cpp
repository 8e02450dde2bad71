#include "radio/rtp_ed137_factory.h"

#include "radio/rtp_ed137_slot.h"

namespace {

// The driver's fixed words of an ED-137 session.
constexpr int32_t kEd137Word1 = 1;
constexpr int32_t kEd137Word2 = 123;
// The packet factor of a session that gives none.
constexpr int32_t kDefaultPacketFactor = 2;

// A keep-alive parameter the session takes: the decoder leaves values above
// the type's range through, and they would reach the driver.
using Response = TERM::ED137RadioResponse;
struct Bound {
    const ASN1::INTEGER* (*value)(const Response&);
    int low, high;
    const char* reason;
};
const Bound kBounds[] = {
    {[](const Response& r) -> const ASN1::INTEGER* { return r.get_sigtime(); }, 1, 50,
     "sigtime outside 1..50"},
    {[](const Response& r) -> const ASN1::INTEGER* { return r.get_r2s_keepalive_period(); }, 20,
     1000, "r2s-keepalive-period outside 20..1000"},
    {[](const Response& r) -> const ASN1::INTEGER* { return r.get_r2s_keepalive_multiplier(); }, 2,
     50, "r2s-keepalive-multiplier outside 2..50"},
};

}  // namespace

RtpED137Factory::RtpED137Factory()
    : RtpRadioFactory("rtp ext ED137",
                      "do create rtp ext ED137: ", TERM::RadioStatus::Alternative::ed_137) {}

RtpExtSlot::ExtInit RtpED137Factory::InitParams(const RTPSignalling::ED137RadioParams& radio,
                                                uint16_t packetFactor) {
    const int32_t factor = packetFactor == 0 ? kDefaultPacketFactor : packetFactor;
    RtpExtSlot::ExtInit init{board::rtp_ext::kEd137Profile, 0, {kEd137Word1, kEd137Word2, 0, 1}};
    init.params[2] = static_cast<int32_t>(radio.keepalive_period) / (factor * 10);
    if (radio.sigtime != 0) {
        init.params[2] *= static_cast<int32_t>(radio.sigtime);
        init.params[3] = static_cast<int32_t>(radio.sigtime);
    }
    return init;
}

const char* RtpED137Factory::InvalidRadio(const TERM::RtpRadioRequest& radio) const {
    const TERM::ED137RadioResponse* response =
        radio.get_status().get_ed_137()->get_radio_response();
    if (response == nullptr) return nullptr;
    for (const Bound& bound : kBounds) {
        const ASN1::INTEGER* value = bound.value(*response);
        if (value && (value->getValue() < bound.low || value->getValue() > bound.high))
            return bound.reason;
    }
    return nullptr;
}

RtpExtSlot* RtpED137Factory::MakeSlot(const Session& session, const LGCP::CreateRtpParams& params) {
    const TERM::ED137RadioStatus& status =
        *params.get_codecRTP().get_radio()->get_status().get_ed_137();
    RTPSignalling::ED137RadioParams radio;
    if (const TERM::ED137RadioResponse* response = status.get_radio_response())
        radio.Init(*response);
    const RtpExtSlot::ExtAttach attach{session.device.get(), -1};
    return new RtpED137RadioGWSlot(session.channel, session.device, session.params, attach, radio,
                                   InitParams(radio, session.params.packet_factor));
}
