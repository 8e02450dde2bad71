#pragma once
// The E1 channel-associated signalling driver "/dev/e1-cas" (type 'C'): CAS
// is opened per trunk, then per timeslot; the driver delivers a cas_channel
// record by read whenever the far end changes a channel's signalling bits.
// Records are in the board's native byte order.

#include <cstddef>
#include <cstdint>

#include "board/ioc.h"

namespace board::e1_cas {

constexpr const char* kDevice = "/dev/e1-cas";
constexpr unsigned kTrunks = 4;
constexpr unsigned kTimeslots = 32;
// Framing and the signalling multiframe: never CAS channels themselves.
constexpr unsigned kFramingTimeslot = 0;
constexpr unsigned kSignallingTimeslot = 16;
// Whether a timeslot may be a CAS channel (any but those two).
constexpr bool carries_cas(uint32_t timeslot) {
    return timeslot != kFramingTimeslot && timeslot != kSignallingTimeslot;
}

// A channel's signalling bits (the low four bits of rx and tx).
struct cas_channel {
    uint32_t trunk;
    uint32_t timeslot;
    uint8_t rx;
    uint8_t tx;
    uint8_t padding[2];
};
static_assert(sizeof(cas_channel) == 12);
static_assert(offsetof(cas_channel, trunk) == 0);
static_assert(offsetof(cas_channel, timeslot) == 4);
static_assert(offsetof(cas_channel, rx) == 8);
static_assert(offsetof(cas_channel, tx) == 9);

// Opens (close 0) or closes (close 1) CAS on one timeslot.
struct cas_channel_enable {
    cas_channel channel;
    int32_t close;
};
static_assert(sizeof(cas_channel_enable) == 16);
static_assert(offsetof(cas_channel_enable, close) == 12);

// Open and close take the trunk number by value; close shares its number with
// the bus clock select of "/dev/hal".
constexpr uint32_t kOpenTrunk = 0x80044300;
constexpr uint32_t kCloseTrunk = 0x80044301;
constexpr uint32_t kSetBits = 0xC00C4302;        // cas_channel: tx to send
constexpr uint32_t kGetBits = 0xC00C4303;        // cas_channel: the driver fills rx and tx
constexpr uint32_t kEnableChannel = 0xC0104304;  // cas_channel_enable
constexpr uint32_t kReadWrite = ppc_ioc_read | ppc_ioc_write;
static_assert(kOpenTrunk == ppc_ioc(ppc_ioc_write, 'C', 0, 4));
static_assert(kCloseTrunk == ppc_ioc(ppc_ioc_write, 'C', 1, 4));
static_assert(kSetBits == ppc_ioc(kReadWrite, 'C', 2, sizeof(cas_channel)));
static_assert(kGetBits == ppc_ioc(kReadWrite, 'C', 3, sizeof(cas_channel)));
static_assert(kEnableChannel == ppc_ioc(kReadWrite, 'C', 4, sizeof(cas_channel_enable)));

}  // namespace board::e1_cas
