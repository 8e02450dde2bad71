// What slots make of device events: one signal each (the flags event may
// give two), with the timestamp 0 unless the event has one.
#include <cstdio>
#include <iostream>

#include "board/drivers/dsp.h"
#include "board/drivers/dtmf.h"
#include "slots/slot.h"

namespace {

using board::dsp::kFlagSelcal;
using board::dsp::kFlagVadRx;
using board::dsp::kFlagVadTx;

// The controller's BSS score is text of at most 30 characters.
constexpr size_t kScoreLength = 30;

// A tone detector's code: 17 CED, 18 CNG, up to 127 a DTMF digit, otherwise
// the IVA code in the bits above the low byte. False when it is none.
bool ToneCode(uint32_t code, LGCP::TonecCode& tone) {
    if (code == 17) {
        tone.select_ced();
    } else if (code == 18) {
        tone.select_cng();
    } else if (!board::dtmf::is_iva_code(code)) {
        tone.set_dtmf(code);
    } else {
        const int iva = static_cast<int32_t>(code) >> 8;
        if (iva >= 1 && iva <= 20)
            tone.select_iva().set_code(static_cast<unsigned>(iva));
        else if (iva == 21)
            tone.select_iva().select_ringoff();
        else
            return false;
    }
    return true;
}

}  // namespace

void Slot::processTonecEvent(const Hardware::TonecReceiver::Params& event) {
    LGCP::TonecEvent tonec;
    if (!ToneCode(event.code, tonec.get_event())) {
        std::cerr << "bad DTMF code, ignored." << std::endl;
        return;
    }
    tonec.set_timestamp(static_cast<int>(event.timestamp));
    OnTonecEvent(tonec);
}

void Slot::processToneGenEvent() {
    LGCP::TonecEvent tonec;
    tonec.get_event().select_dtmfDone();
    OnTonecEvent(tonec);
}

void Slot::processVADEvent(const Hardware::DSProcVADEvent& event) {
    if (event.rx < 0 && event.tx < 0) {
        std::cerr << "bad VAD event, ignored." << std::endl;
        return;
    }
    LGCP::VADEvent vad;
    if (event.rx >= 0) vad.set_vad_rx(event.rx != 0);
    if (event.tx >= 0) vad.set_vad_tx(event.tx != 0);
    OnVADEvent(vad);
}

void Slot::processToneFltEvent(const board::dsp::dsproc_tone_event* event) {
    LGCP::TonecEvent tonec;
    LGCP::TonePresence& presence = tonec.get_event().select_tone_presence();
    presence.set_freq(static_cast<int>(event->frequency));
    presence.set_presence(event->presence != 0);
    OnTonecEvent(tonec);
}

void Slot::processFlagsEvent(const board::dsp::dsproc_flags_event* event) {
    if (event->mask & (kFlagVadRx | kFlagVadTx)) {
        LGCP::VADEvent vad;
        if (event->mask & kFlagVadRx) vad.set_vad_rx((event->flags & kFlagVadRx) != 0);
        if (event->mask & kFlagVadTx) vad.set_vad_tx((event->flags & kFlagVadTx) != 0);
        OnVADEvent(vad);
    }
    if (event->mask & kFlagSelcal) {
        LGCP::Signal signal;
        signal.select_selcal().set_in_progress((event->flags & kFlagSelcal) != 0);
        SendSignal(signal);
    }
}

// Written bounded: the largest floats print far longer than the controller
// takes.
void Slot::processBSSEvent(const board::dsp::dsproc_bss_event* event) {
    char score[kScoreLength + 1];
    std::snprintf(score, sizeof score, "%4.6f", static_cast<double>(event->score));
    LGCP::Signal signal;
    signal.select_bss().set_score(score);
    SendSignal(signal);
}

void Slot::processSDEvent(const Hardware::DSProcSDEvent& event) {
    if (event.rx < 0) {
        std::cerr << "bad SD event, ignored." << std::endl;
        return;
    }
    LGCP::SDEvent sd;
    sd.set_sd_rx(event.rx != 0);
    OnSDEvent(sd);
}

void Slot::processRtpEvent(const board::rtp::rtp_event& event) {
    if (event.type != board::rtp::kPacketDetection) return;
    LGCP::RtpEvent rtp;
    LGCP::RtpPDEvent& detection = rtp.select_pd();
    detection.set_value(event.value);
    detection.set_timeout(event.timeout);
    OnRtpEvent(rtp);
}
