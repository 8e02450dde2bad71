#pragma once
// The tone codec "/dev/dtmf": DTMF and IVA detectors, the echo canceller and
// the tone generator of each TDM timeslot, and SELCAL dialling. Detector
// events are read as 16-byte records. Requests carry their record by pointer
// unless noted "by value", where the timeslot itself is the argument.

#include <cstddef>
#include <cstdint>

#include "board/ioc.h"

namespace board::dtmf {

constexpr const char* kDevice = "/dev/dtmf";

struct dtmf_config {
    uint32_t timeslot;
    uint32_t twist;
    uint32_t ratio;
    uint32_t silence;
    uint32_t noise;
};
static_assert(sizeof(dtmf_config) == 20);
static_assert(offsetof(dtmf_config, twist) == 4);
static_assert(offsetof(dtmf_config, ratio) == 8);
static_assert(offsetof(dtmf_config, silence) == 12);
static_assert(offsetof(dtmf_config, noise) == 16);

struct dtmf_enable {
    uint32_t timeslot;
    uint32_t id;  // carried by every event of this enabling
};
static_assert(sizeof(dtmf_enable) == 8);
static_assert(offsetof(dtmf_enable, id) == 4);

// All zero switches the generator off.
struct tone_gen {
    uint32_t timeslot;
    uint16_t freq1;
    uint16_t freq2;
    uint16_t amp1;
    uint16_t amp2;
};
static_assert(sizeof(tone_gen) == 12);
static_assert(offsetof(tone_gen, freq1) == 4);
static_assert(offsetof(tone_gen, freq2) == 6);
static_assert(offsetof(tone_gen, amp1) == 8);
static_assert(offsetof(tone_gen, amp2) == 10);

struct iva_config {
    uint32_t timeslot;
    int32_t det_lvl_dB;
};
static_assert(sizeof(iva_config) == 8);
static_assert(offsetof(iva_config, det_lvl_dB) == 4);

struct selcal_dial {
    uint32_t timeslot;
    uint16_t amplitude;
    uint8_t signs[4];
    uint8_t zero[2];
};
static_assert(sizeof(selcal_dial) == 12);
static_assert(offsetof(selcal_dial, amplitude) == 4);
static_assert(offsetof(selcal_dial, signs) == 6);
static_assert(offsetof(selcal_dial, zero) == 10);

// The detectors' codes: the DTMF detector's (a digit, 17 CED, 18 CNG) up
// to kLastDtmfCode, the IVA detector's above it (its code in the bits above
// the low byte). Both come under the timeslot's last DTMF enable id.
constexpr uint32_t kLastDtmfCode = 127;
constexpr bool is_iva_code(uint32_t code) {
    return code > kLastDtmfCode;
}

struct dtmf_event {
    uint32_t code;  // the detector's code
    uint32_t timeslot;
    uint32_t timestamp;
    uint32_t id;  // the id of the enabling that produced it
};
static_assert(sizeof(dtmf_event) == 16);
static_assert(offsetof(dtmf_event, timeslot) == 4);
static_assert(offsetof(dtmf_event, timestamp) == 8);
static_assert(offsetof(dtmf_event, id) == 12);

// The driver's numbers carry the read direction bit although each request
// only gives the driver its argument.
constexpr uint32_t kConfigureDetector = 0x40144202;  // dtmf_config
constexpr uint32_t kEnableDetector = 0x40084203;     // dtmf_enable
constexpr uint32_t kDisableDetector = 0x40044204;    // by value
constexpr uint32_t kToneGenerator = 0x400C4205;      // tone_gen
constexpr uint32_t kEchoCancelOn = 0x40044206;       // by value
constexpr uint32_t kEchoCancelOff = 0x40044207;      // by value
constexpr uint32_t kRejectionOn = 0x40044209;        // by value
constexpr uint32_t kRejectionOff = 0x4004420A;       // by value
constexpr uint32_t kIvaOn = 0x4004420B;              // by value
constexpr uint32_t kIvaOff = 0x4004420C;             // by value
constexpr uint32_t kConfigureIva = 0x4008420D;       // iva_config
constexpr uint32_t kSelcalDial = 0x400C420E;         // selcal_dial

constexpr uint32_t request(uint32_t nr, uint32_t size) {
    return ppc_ioc(ppc_ioc_read, 'B', nr, size);
}
static_assert(kConfigureDetector == request(2, sizeof(dtmf_config)));
static_assert(kEnableDetector == request(3, sizeof(dtmf_enable)));
static_assert(kDisableDetector == request(4, sizeof(uint32_t)));
static_assert(kToneGenerator == request(5, sizeof(tone_gen)));
static_assert(kEchoCancelOn == request(6, sizeof(uint32_t)));
static_assert(kEchoCancelOff == request(7, sizeof(uint32_t)));
static_assert(kRejectionOn == request(9, sizeof(uint32_t)));
static_assert(kRejectionOff == request(10, sizeof(uint32_t)));
static_assert(kIvaOn == request(11, sizeof(uint32_t)));
static_assert(kIvaOff == request(12, sizeof(uint32_t)));
static_assert(kConfigureIva == request(13, sizeof(iva_config)));
static_assert(kSelcalDial == request(14, sizeof(selcal_dial)));

}  // namespace board::dtmf
