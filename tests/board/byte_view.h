#pragma once
// What a value looks like in memory, for tests that run both on the host and
// on the board's own build (big-endian PowerPC under emulation).

#include <cstring>

#include "tests/support/bytes.h"

namespace test {

constexpr bool kBigEndianHost = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

// The bytes of `value` in the host's memory.
template <class T>
Bytes bytes_of(const T& value) {
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

}  // namespace test
