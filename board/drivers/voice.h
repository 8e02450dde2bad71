#pragma once
// The voice codec driver "/dev/voice": how many voice channels of a kind the
// board can run, and the driver's version record.

#include <cstddef>
#include <cstdint>

#include "board/ioc.h"

namespace board::voice {

constexpr const char* kDevice = "/dev/voice";

// Codec masks of the capacity request.
constexpr int32_t kG711 = 1;
constexpr int32_t kG723 = 2;
constexpr int32_t kG729 = 4;
constexpr int32_t kG711Mcc = 8;
constexpr int32_t kUniversal = 0x41;

// The driver's own 20 bytes; the server keeps them without reading them.
struct voice_version {
    uint8_t data[20];
};
static_assert(sizeof(voice_version) == 20);

// Argument: an int32_t holding the mask; the result is the channel count.
constexpr uint32_t kCapacity = 0x40045602;
constexpr uint32_t kVersion = 0x4014560a;  // voice_version
static_assert(kCapacity == ppc_ioc(ppc_ioc_read, 'V', 2, sizeof(int32_t)));
static_assert(kVersion == ppc_ioc(ppc_ioc_read, 'V', 10, sizeof(voice_version)));

}  // namespace board::voice
