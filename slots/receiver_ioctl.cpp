#include "slots/receiver_ioctl.h"

#include <climits>
#include <cstdint>
#include <initializer_list>

#include "slots/slot.h"

namespace {

using A = ReceiverIoctls::Alternative;

// What a driver field holds of a controller's INTEGER. A value outside is
// refused, not cut to the field's low bits (a gain of 200 dB would become
// -56 dB, a delay of -1 ms 4294967295 ms), and the receiver stays as it was.
struct Range {
    int low, high;
};

constexpr Range kWord16{0, 0xFFFF};
// A level in dB fills an octet that controllers fill signed (-30) or unsigned
// (226): both are taken as they were; only what no octet holds is refused.
constexpr Range kLevelOctet{INT8_MIN, 0xFF};
constexpr Range kSignedOctet{INT8_MIN, INT8_MAX};
constexpr Range kUnsigned{0, INT_MAX};
// The longest tone or pause of a digit sequence (ms) the controller may ask
// for: a negative one would end at once, a huge one hold the timeslot for
// weeks.
constexpr Range kDigitStep{0, 60000};

// `reason` when one of the values present is outside `range`, else null.
const char* Outside(Range range, std::initializer_list<const ASN1::INTEGER*> values,
                    const char* reason) {
    for (const ASN1::INTEGER* value : values)
        if (value && (value->getValue() < range.low || value->getValue() > range.high))
            return reason;
    return nullptr;
}

const char* OutsideDigits(const LGCP::TranslateDtmfParams& digits) {
    if (const char* outside =
            Outside(kDigitStep, {digits.get_toneDuration(), digits.get_pauseDuration()},
                    "a tone or pause outside 0..60000 ms"))
        return outside;
    if (const char* outside = Outside(kWord16, {digits.get_amp1(), digits.get_amp2()},
                                      "a digit amplitude outside 0..65535"))
        return outside;
    for (const LGCP::DualTone& digit : digits.get_digits())
        if (const char* outside = Outside(kWord16, {&digit.get_freq1(), &digit.get_freq2()},
                                          "a digit frequency outside 0..65535 Hz"))
            return outside;
    return nullptr;
}

const char* OutsideVad(const LGCP::VADParams& params) {
    const TERM::VADParamsV2* v2 = params.get_v2();
    if (!v2) return nullptr;
    if (const char* outside =
            Outside(kWord16, {&v2->get_voice_th_msec(), &v2->get_silence_th_msec()},
                    "a VAD time outside 0..65535 ms"))
        return outside;
    return Outside(kLevelOctet, {&v2->get_e_th_dB()}, "a VAD level outside -128..255 dB");
}

const char* OutsideToneFilter(const LGCP::ToneFilter& filter) {
    if (const char* outside = Outside(kWord16, {&filter.get_freq(), &filter.get_duration_th_msec()},
                                      "a filter frequency or duration outside 0..65535"))
        return outside;
    return Outside(kLevelOctet, {&filter.get_det_level_dB()},
                   "a filter level outside -128..255 dB");
}

// Null when every value of the ioctl fits the driver field it fills;
// otherwise the reason it is refused.
const char* OutsideFields(const LGCP::IoctlParams& p) {
    switch (p.selection()) {
        case A::translateDTMF:
            return OutsideDigits(*p.get_translateDTMF());
        case A::vad_params:
            return OutsideVad(*p.get_vad_params());
        case A::rx_gain:
            return Outside(kSignedOctet, {&p.get_rx_gain()->get_gainDB()},
                           "a gain outside -128..127 dB");
        case A::delays:
            return Outside(kUnsigned, {p.get_delays()->get_rx(), p.get_delays()->get_tx()},
                           "a delay below 0 ms");
        case A::tone_filter:
            return OutsideToneFilter(*p.get_tone_filter());
        case A::tone_gen_enable:
            return Outside(
                kWord16,
                {&p.get_tone_gen_enable()->get_freq(), &p.get_tone_gen_enable()->get_amp()},
                "a tone frequency or amplitude outside 0..65535");
        case A::selcal:
            if (!Hardware::SelcalSignsFit(p.get_selcal()->get_signs()))
                return "SELCAL signs other than four";
            return Outside(kWord16, {p.get_selcal()->get_amp()},
                           "a SELCAL amplitude outside 0..65535");
        default:
            return nullptr;
    }
}

unsigned short word16(const ASN1::INTEGER& value) {
    return static_cast<unsigned short>(value.getValue());
}

bool Run(Hardware::TonecReceiver& t, Hardware::DSProcReceiver& d, const LGCP::IoctlParams& p) {
    switch (p.selection()) {
        case A::echoSuppressor:
            return t.echoCancel(p.get_echoSuppressor()->getValue());
        case A::activateWaitTone:
            return t.activateAudibleCall();
        case A::deactivateWaitTone:
            return t.cancelAudibleCall();
        case A::translateDTMF:
            t.translateDTMF(*p.get_translateDTMF());
            return true;
        case A::dtmf_params:
            return t.configureDTMF(*p.get_dtmf_params());
        case A::dtmf_enable:
            return t.enableDTMF(p.get_dtmf_enable()->getValue());
        case A::dtmf_disable:  // a digit sequence being sent stops
            return t.disableToneGenerator(false);
        case A::vad_params:
            return d.configureVAD(*p.get_vad_params());
        case A::vad_enable:
            return d.enableVAD(p.get_vad_enable()->getValue());
        case A::vad_disable:
            return d.disableVAD();
        case A::dtmf_reject_enable:
            return t.enableDTMFReject(p.get_dtmf_reject_enable()->getValue());
        case A::dtmf_reject_disable:
            return t.enableDTMFReject(false);
        case A::sd_params:
            return d.configureSD();
        case A::sd_enable:
            return d.enableSD(p.get_sd_enable()->getValue());
        case A::sd_disable:
            return d.disableSD();
        case A::iva_enable:
            return t.enableIVA(p.get_iva_enable()->getValue());
        case A::iva_params:
            return t.configureIVA(*p.get_iva_params());
        case A::rx_gain:
            return d.configureRxGain(static_cast<int8_t>(p.get_rx_gain()->get_gainDB().getValue()));
        case A::delays: {
            const LGCP::Delays& delays = *p.get_delays();
            auto value = [](const ASN1::INTEGER* v) { return v ? unsigned(v->getValue()) : 0u; };
            return d.configureDelays(value(delays.get_rx()), value(delays.get_tx()), 0);
        }
        case A::tone_filter: {
            const LGCP::ToneFilter& filter = *p.get_tone_filter();
            return d.configureToneFilter(static_cast<unsigned>(filter.get_freq().getValue()),
                                         filter.get_enable().getValue() ? 1 : 0,
                                         filter.get_duration_th_msec().getValue(),
                                         filter.get_det_level_dB().getValue());
        }
        case A::tone_gen_enable: {
            const LGCP::ToneGenerator& tone = *p.get_tone_gen_enable();
            t.disableToneGenerator(false);
            return t.enableToneGenerator(word16(tone.get_freq()), 0, word16(tone.get_amp()), 0);
        }
        case A::tone_gen_disable:
            return t.disableToneGenerator(true);
        case A::selcal:
            return t.translateSelcal(*p.get_selcal());
        default:
            return false;
    }
}

}  // namespace

ReceiverIoctls::ReceiverIoctls(std::initializer_list<Alternative> alternatives) {
    for (Alternative a : alternatives) bits_ |= uint64_t(1) << static_cast<unsigned>(a);
}

// An unknown extension alternative is outside every set.
bool ReceiverIoctls::has(Alternative alternative) const {
    const int bit = static_cast<int>(alternative);
    return bit >= 0 && bit < 64 && (bits_ >> bit) & 1;
}

bool ReceiverIoctls::Apply(Hardware::TonecReceiver& tones, Hardware::DSProcReceiver& dsp,
                           const LGCP::IoctlParams& params) const {
    if (!has(params.selection())) return false;
    if (const char* outside = OutsideFields(params)) return RefuseInvalid(outside);
    return Run(tones, dsp, params);
}
