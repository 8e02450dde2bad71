#pragma once
// The DSP modem control device "/dev/mctl". An open allocates one of the
// board's DSP modems and keeps it until the open is closed; the modem's
// number also names its terminal device "/dev/mdm<number>" (a name handed to
// pppd, not opened by the server). The requests are the driver's raw 16-bit
// numbers, with no size or direction bits: allocate, get channel and
// enumerate take their argument by value, the others a native array of
// 32-bit words whose first word is the modem number.

#include <cstddef>
#include <cstdint>

namespace board::mctl {

constexpr const char* kDevice = "/dev/mctl";
// The terminal device of a modem, with its number.
constexpr const char* kTtyFormat = "/dev/mdm%d";

// By value 0: the modem number, or -1 (EBUSY when every modem is taken).
constexpr uint32_t kAllocate = 0xBB0B;
// By value 0: the allocated modem's TDM channel.
constexpr uint32_t kGetChannel = 0xBB15;
// By value the previous modem number (-1 to start): the next one, or -1 with
// ENODEV after the last.
constexpr uint32_t kEnumerate = 0xBB0C;

// {modem, mode mask}
constexpr uint32_t kSetDdm = 0xBB16;
// {modem, -1}
constexpr uint32_t kResetParams = 0xBB3A;
// {modem, index, value}
constexpr uint32_t kSetParam = 0xBB38;
// {modem, -1} each
constexpr uint32_t kAnswer = 0xBB03;
constexpr uint32_t kOriginate = 0xBB04;
constexpr uint32_t kOriginateFax = 0xBB40;

// Bits of the digital data mode mask (V.120 has none).
constexpr int32_t kDdmV110 = 0x1;
constexpr int32_t kDdm8Bit = 0x2;
constexpr int32_t kDdm7Bit = 0x4;

// Words of a request's array argument; 0 for the requests by value.
constexpr size_t words(uint32_t request) {
    switch (request) {
        case kSetParam: return 3;
        case kSetDdm:
        case kResetParams:
        case kAnswer:
        case kOriginate:
        case kOriginateFax: return 2;
        default: return 0;
    }
}

}  // namespace board::mctl
