#pragma once
// The multi-channel controller "/dev/mcc/ctl": each open, once allocated, is
// one data channel (HDLC, BRI D-channel, transparent or SS7) on a TDM
// timeslot the driver chooses. The descriptor then carries the channel's
// packets: each read() returns one received packet, each write() sends one.
// Records are in the board's native byte order.

#include <cstddef>
#include <cstdint>

#include "board/ioc.h"

namespace board::mcc {

constexpr const char* kDevice = "/dev/mcc/ctl";

// Channel types of an allocation.
constexpr uint32_t kData = 0;
constexpr uint32_t kBri = 1;
constexpr uint32_t kTransparent = 2;
constexpr uint32_t kSs7 = 3;
constexpr uint32_t kTypes = 4;

struct mcc_allocation {
    uint32_t type;            // kData .. kSs7
    uint32_t rx_packet_size;  // the largest packet the channel receives
    uint32_t reserved;        // always 0
    uint32_t rx_threshold;
    uint32_t tx_threshold;
};
static_assert(sizeof(mcc_allocation) == 20);
static_assert(offsetof(mcc_allocation, rx_packet_size) == 4);
static_assert(offsetof(mcc_allocation, reserved) == 8);
static_assert(offsetof(mcc_allocation, rx_threshold) == 12);
static_assert(offsetof(mcc_allocation, tx_threshold) == 16);

// Channels the controller can still allocate, by type. The fourth word is
// not read by the server (the simulated driver puts the SS7 count there).
struct mcc_resources {
    uint32_t data;
    uint32_t bri;
    uint32_t transparent;
    uint32_t other;
};
static_assert(sizeof(mcc_resources) == 16);
static_assert(offsetof(mcc_resources, bri) == 4);
static_assert(offsetof(mcc_resources, transparent) == 8);
static_assert(offsetof(mcc_resources, other) == 12);

// Allocates the descriptor's channel (mcc_allocation). The number carries
// the read direction although the caller passes the record: it is the
// driver's number and is kept.
constexpr uint32_t MCC_ALLOCATE = 0x40144d00;
// No argument: the result is the TDM channel of the descriptor's channel.
constexpr uint32_t MCC_TIMESLOT = 0x20004d02;
// Fills an mcc_resources (the number says write; the driver fills it).
constexpr uint32_t MCC_RESOURCES = 0x80104d03;
static_assert(MCC_ALLOCATE == ppc_ioc(ppc_ioc_read, 'M', 0, sizeof(mcc_allocation)));
static_assert(MCC_TIMESLOT == ppc_ioc(ppc_ioc_none, 'M', 2, 0));
static_assert(MCC_RESOURCES == ppc_ioc(ppc_ioc_write, 'M', 3, sizeof(mcc_resources)));

}  // namespace board::mcc
