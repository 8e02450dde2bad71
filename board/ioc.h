#pragma once
// ioctl request numbers in the board's encoding (PowerPC), whatever the build
// host: direction in bits 29-31, argument size in bits 16-28, type in bits
// 8-15, number in bits 0-7.

#include <cstdint>

namespace board {

constexpr uint32_t ppc_ioc_none = 1;
constexpr uint32_t ppc_ioc_read = 2;
constexpr uint32_t ppc_ioc_write = 4;

constexpr uint32_t ppc_ioc(uint32_t dir, uint32_t type, uint32_t nr, uint32_t size) {
    return (dir << 29) | ((size & 0x1fffu) << 16) | ((type & 0xffu) << 8) | (nr & 0xffu);
}

constexpr uint32_t ppc_ioc_dir(uint32_t request) { return request >> 29; }
constexpr uint32_t ppc_ioc_size(uint32_t request) { return (request >> 16) & 0x1fffu; }
constexpr uint32_t ppc_ioc_type(uint32_t request) { return (request >> 8) & 0xffu; }
constexpr uint32_t ppc_ioc_nr(uint32_t request) { return request & 0xffu; }

}  // namespace board
