#pragma once
// The board's QSIG data device "/dev/dsp-data": each open is one QSIG
// signalling channel with a TDM number of its own, which carries one frame
// per read() and write(), and up to three B channels added on it. Records
// are in the board's native byte order.

#include <cstddef>
#include <cstdint>

#include "board/ioc.h"

namespace board::dsp_data {

constexpr const char* kDevice = "/dev/dsp-data";

constexpr unsigned kBChannels = 3;

// Adds B channel `index`: the driver writes its TDM number over the -1.
struct b_channel {
    int32_t index;  // 0 .. kBChannels - 1
    int32_t tdm;
};
static_assert(sizeof(b_channel) == 8);
static_assert(offsetof(b_channel, index) == 0);
static_assert(offsetof(b_channel, tdm) == 4);

// No argument: the result is the signalling channel's TDM number.
constexpr uint32_t kSignallingChannel = 0x40044211;
// b_channel, read back; -1 when the index is out of range or taken.
constexpr uint32_t kAddBChannel = 0x8008420f;
// int32_t index; -1 when that B channel was not added.
constexpr uint32_t kRemoveBChannel = 0x80044210;
// The numbers are the driver's: their direction bits are kept as they are.
static_assert(kSignallingChannel == ppc_ioc(ppc_ioc_read, 'B', 0x11, sizeof(int32_t)));
static_assert(kAddBChannel == ppc_ioc(ppc_ioc_write, 'B', 0x0f, sizeof(b_channel)));
static_assert(kRemoveBChannel == ppc_ioc(ppc_ioc_write, 'B', 0x10, sizeof(int32_t)));

}  // namespace board::dsp_data
