#include "slots/receiver_ioctl.h"

#include "slots/slot.h"

namespace {

using A = ReceiverIoctls::Alternative;

// The longest tone or pause of a digit sequence (ms) the controller may ask
// for: a negative one would end at once, a huge one hold the timeslot for
// weeks.
constexpr int kLongestDigitStepMs = 60000;

bool SaneDigitStep(const ASN1::INTEGER* ms) {
    return !ms || (ms->getValue() >= 0 && ms->getValue() <= kLongestDigitStepMs);
}

// The low 8 and 16 bits, as the drivers' fields take them.
int8_t low8(int value) { return static_cast<int8_t>(value & 0xFF); }
unsigned short low16(int value) { return static_cast<unsigned short>(value & 0xFFFF); }

bool Run(Hardware::TonecReceiver& t, Hardware::DSProcReceiver& d, const LGCP::IoctlParams& p) {
    switch (p.selection()) {
        case A::echoSuppressor:
            return t.echoCancel(p.get_echoSuppressor()->getValue());
        case A::activateWaitTone:
            t.activateAudibleCall();
            return true;
        case A::deactivateWaitTone:
            t.cancelAudibleCall();
            return true;
        case A::translateDTMF: {
            const LGCP::TranslateDtmfParams& digits = *p.get_translateDTMF();
            if (!SaneDigitStep(digits.get_toneDuration()) ||
                !SaneDigitStep(digits.get_pauseDuration()))
                return RefuseInvalid("a tone or pause outside 0..60000 ms");
            t.translateDTMF(digits);
            return true;
        }
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
            d.configureRxGain(low8(p.get_rx_gain()->get_gainDB().getValue()));
            return true;
        case A::delays: {
            const LGCP::Delays& delays = *p.get_delays();
            auto value = [](const ASN1::INTEGER* v) { return v ? unsigned(v->getValue()) : 0u; };
            d.configureDelays(value(delays.get_rx()), value(delays.get_tx()), 0);
            return true;
        }
        case A::tone_filter: {
            const LGCP::ToneFilter& filter = *p.get_tone_filter();
            d.configureToneFilter(static_cast<unsigned>(filter.get_freq().getValue()),
                                  filter.get_enable().getValue() ? 1 : 0,
                                  filter.get_duration_th_msec().getValue(),
                                  filter.get_det_level_dB().getValue());
            return true;
        }
        case A::tone_gen_enable: {
            const LGCP::ToneGenerator& tone = *p.get_tone_gen_enable();
            t.disableToneGenerator(false);
            t.enableToneGenerator(low16(tone.get_freq().getValue()), 0,
                                  low16(tone.get_amp().getValue()), 0);
            return true;
        }
        case A::tone_gen_disable:
            t.disableToneGenerator(true);
            return true;
        case A::selcal:
            t.translateSelcal(*p.get_selcal());
            return true;
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
    return has(params.selection()) && Run(tones, dsp, params);
}
