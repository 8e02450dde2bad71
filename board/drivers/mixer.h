#pragma once
// The conference mixer driver "/dev/mixer". Each mixer unit has numbered
// channels, each tied to a TDM timeslot; a channel used as a summing point
// hears the sum of the channels added to it, each with a gain. Records are
// in the board's native byte order.

#include <cstddef>
#include <cstdint>

#include "board/ioc.h"

namespace board::mixer {

constexpr const char* kDevice = "/dev/mixer";

// The only channel type the server names: a TDM channel of the unit.
constexpr int32_t kTdm = 0;
// The gain of an unchanged signal.
constexpr int32_t kUnityGain = 32767;

struct mix_slot {
    int32_t dev_no;  // the unit
    int32_t type;    // kTdm
    int32_t number;  // the channel
};
static_assert(sizeof(mix_slot) == 12);
static_assert(offsetof(mix_slot, type) == 4);
static_assert(offsetof(mix_slot, number) == 8);

// `tx` added to (or removed from) the sum heard at `rx`.
struct mix_rx_record {
    mix_slot rx;
    mix_slot tx;
    int32_t gain;
};
static_assert(sizeof(mix_rx_record) == 28);
static_assert(offsetof(mix_rx_record, tx) == 12);
static_assert(offsetof(mix_rx_record, gain) == 24);

// One unit of the walk through the mixers: `unit` -1 starts it, then the
// unit the driver returned last.
struct mix_enum_record {
    int32_t unit;
    int32_t channels;  // TDM channels of the unit
    int32_t reserved;  // the driver's own
    int32_t inputs;    // mixer inputs of the unit
};
static_assert(sizeof(mix_enum_record) == 16);
static_assert(offsetof(mix_enum_record, channels) == 4);
static_assert(offsetof(mix_enum_record, reserved) == 8);
static_assert(offsetof(mix_enum_record, inputs) == 12);

// Every channel added to the summing point leaves it (mix_slot).
constexpr uint32_t MIX_RX_CLEAR = 0x800c4d02;
constexpr uint32_t MIX_RX_ADD = 0x801c4d03;     // mix_rx_record
constexpr uint32_t MIX_RX_REMOVE = 0x801c4d04;  // mix_rx_record, gain unused
// The result is the TDM timeslot of the channel (mix_slot).
constexpr uint32_t MIX_TDM = 0x800c4d06;
// The driver fills the record with the unit after the given one; it fails
// after the last (mix_enum_record).
constexpr uint32_t MIX_NEXT = 0x80104d07;
static_assert(MIX_RX_CLEAR == ppc_ioc(ppc_ioc_write, 'M', 2, sizeof(mix_slot)));
static_assert(MIX_RX_ADD == ppc_ioc(ppc_ioc_write, 'M', 3, sizeof(mix_rx_record)));
static_assert(MIX_RX_REMOVE == ppc_ioc(ppc_ioc_write, 'M', 4, sizeof(mix_rx_record)));
static_assert(MIX_TDM == ppc_ioc(ppc_ioc_write, 'M', 6, sizeof(mix_slot)));
static_assert(MIX_NEXT == ppc_ioc(ppc_ioc_write, 'M', 7, sizeof(mix_enum_record)));

}  // namespace board::mixer
