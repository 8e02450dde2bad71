#pragma once
// The voice-processing DSP "/dev/dsp": per-timeslot functions (voice
// activity and signal detection, BSS score, noise gate, muting, delays,
// receive gain, tone filters), switched on under an enable id that the
// function's events carry. Events are read as 24-byte records.

#include <cstddef>
#include <cstdint>

#include "board/ioc.h"

namespace board::dsp {

constexpr const char* kDevice = "/dev/dsp";

// Function codes of the configure request and bits of the enable masks.
constexpr uint32_t kVad = 1;
constexpr uint32_t kSd = 2;
constexpr uint32_t kMuteFirst = 4;
constexpr uint32_t kMuteSecond = 8;
constexpr uint32_t kBss = 16;
constexpr uint32_t kDelays = 32;  // configure only
constexpr uint32_t kRxGain = 64;  // configure only
constexpr uint32_t kNg = 128;
constexpr uint32_t kToneFilter = 256;
// Event type of the flags record (no function of its own).
constexpr uint32_t kFlags = 512;

// Parameters of voice activity detection for driver version 2.
struct vad_v2_params {
    uint16_t voice_th_msec;
    uint16_t silence_th_msec;
    uint8_t e_th_dB;
    uint8_t zero[7];
};
static_assert(sizeof(vad_v2_params) == 12);
static_assert(offsetof(vad_v2_params, silence_th_msec) == 2);
static_assert(offsetof(vad_v2_params, e_th_dB) == 4);

// The fixed parameters every other driver version gets: 3, 127, 0.
struct vad_v1_params {
    uint32_t word0;
    uint32_t word1;
    uint32_t word2;
};
static_assert(sizeof(vad_v1_params) == 12);

struct delays_params {
    uint32_t rx;
    uint32_t tx;
    uint32_t selcal;
};
static_assert(sizeof(delays_params) == 12);
static_assert(offsetof(delays_params, tx) == 4);
static_assert(offsetof(delays_params, selcal) == 8);

struct rx_gain_params {
    int8_t gain_dB;
    uint8_t zero[11];
};
static_assert(sizeof(rx_gain_params) == 12);

struct tone_filter_params {
    uint16_t freq;
    uint8_t enable;
    uint8_t zero1;
    uint16_t dur_th_msec;
    uint8_t det_lvl_dB;
    uint8_t zero2[5];
};
static_assert(sizeof(tone_filter_params) == 12);
static_assert(offsetof(tone_filter_params, enable) == 2);
static_assert(offsetof(tone_filter_params, dur_th_msec) == 4);
static_assert(offsetof(tone_filter_params, det_lvl_dB) == 6);

// Signal detection takes no parameters: its 12 bytes stay zero.
struct dsproc_configure {
    uint32_t timeslot;
    uint32_t function;  // one function code
    union {
        uint8_t bytes[12];
        vad_v2_params vad_v2;
        vad_v1_params vad_v1;
        delays_params delays;
        rx_gain_params rx_gain;
        tone_filter_params tone_filter;
    } params;
};
static_assert(sizeof(dsproc_configure) == 20);
static_assert(offsetof(dsproc_configure, function) == 4);
static_assert(offsetof(dsproc_configure, params) == 8);

// Enable and disable (whose id is 0).
struct dsproc_enable {
    uint32_t timeslot;
    uint32_t id;
    uint32_t mask;  // function bits
};
static_assert(sizeof(dsproc_enable) == 12);
static_assert(offsetof(dsproc_enable, id) == 4);
static_assert(offsetof(dsproc_enable, mask) == 8);

struct dsproc_event {
    uint32_t timeslot;
    uint32_t id;
    uint32_t type;  // a function code, or kFlags
    // VAD: a direction mask (bit 0 rx, bit 1 tx), b rx, c tx. SD: a rx.
    // BSS, tone filter, flags: the payloads below.
    uint32_t a;
    uint32_t b;
    uint32_t c;
};
static_assert(sizeof(dsproc_event) == 24);
static_assert(offsetof(dsproc_event, id) == 4);
static_assert(offsetof(dsproc_event, type) == 8);
static_assert(offsetof(dsproc_event, a) == 12);
static_assert(offsetof(dsproc_event, b) == 16);
static_assert(offsetof(dsproc_event, c) == 20);

// The 12 payload bytes (a, b, c) of three event types, as handed to the
// receivers.
struct dsproc_bss_event {
    float score;
    uint32_t word1;
    uint32_t word2;
};
static_assert(sizeof(dsproc_bss_event) == 12);
static_assert(offsetof(dsproc_bss_event, word1) == 4);

struct dsproc_tone_event {
    uint32_t frequency;
    uint32_t presence;
    uint32_t word2;
};
static_assert(sizeof(dsproc_tone_event) == 12);
static_assert(offsetof(dsproc_tone_event, presence) == 4);

// Bits of a flags record's flags and mask: voice activity received and
// sent, and a SELCAL dial in progress.
constexpr uint32_t kFlagVadRx = 1u << 29;
constexpr uint32_t kFlagVadTx = 1u << 30;
constexpr uint32_t kFlagSelcal = 1u << 31;

struct dsproc_flags_event {
    uint32_t flags;
    uint32_t mask;
    uint32_t word2;
};
static_assert(sizeof(dsproc_flags_event) == 12);
static_assert(offsetof(dsproc_flags_event, mask) == 4);

constexpr uint32_t kConfigure = 0x40146401;  // dsproc_configure
constexpr uint32_t kEnable = 0x400C6402;     // dsproc_enable
constexpr uint32_t kDisable = 0x400C6403;    // dsproc_enable, id 0
// By value 0; the ioctl's result is the driver version.
constexpr uint32_t kVersion = 0x40046404;

constexpr uint32_t request(uint32_t nr, uint32_t size) {
    return ppc_ioc(ppc_ioc_read, 'd', nr, size);
}
static_assert(kConfigure == request(1, sizeof(dsproc_configure)));
static_assert(kEnable == request(2, sizeof(dsproc_enable)));
static_assert(kDisable == request(3, sizeof(dsproc_enable)));
static_assert(kVersion == request(4, sizeof(uint32_t)));

}  // namespace board::dsp
