#pragma once
// The board's hardware driver "/dev/hal": the TDM switch (type 'M'), the bus
// clock select (type 'C'), the registers of the BRI line transceivers on
// SPI, and the DIP switch, power state and framer LEDs (type 'B'). Every
// record is in the board's native byte order.

#include <cstddef>
#include <cstdint>

#include "board/ioc.h"

namespace board::hal {

constexpr const char* kDevice = "/dev/hal";

// ---- TDM switch

// Channels of the switching fabric: trunk, BRI and device channels below
// kBusBase, then 16 shared buses of 128 channels.
constexpr int kBusBase = 8192;
constexpr int kBusChannels = 2048;
constexpr int kBusWidth = 128;  // channels of one bus
constexpr int kBuses = 16;
static_assert(kBusChannels == kBuses * kBusWidth);
constexpr int kChannels = kBusBase + kBusChannels;

// Makes `destination` receive what `source` transmits.
struct mux_connect {
    int32_t destination;
    int32_t source;
};
static_assert(sizeof(mux_connect) == 8);
static_assert(offsetof(mux_connect, destination) == 0);
static_assert(offsetof(mux_connect, source) == 4);

// A channel and the byte it is driven with (write), or the byte it carries
// (read: the driver returns it in the low-order byte of `value`).
struct mux_byte {
    int32_t channel;
    int32_t value;
};
static_assert(sizeof(mux_byte) == 8);
static_assert(offsetof(mux_byte, channel) == 0);
static_assert(offsetof(mux_byte, value) == 4);

constexpr uint32_t kMuxConnect = 0x80084D02;    // mux_connect
constexpr uint32_t kMuxDisable = 0x80044D03;    // int32_t channel
constexpr uint32_t kMuxWriteByte = 0xC0084D04;  // mux_byte
constexpr uint32_t kMuxReadByte = 0xC0084D05;   // mux_byte
static_assert(kMuxConnect == ppc_ioc(ppc_ioc_write, 'M', 2, sizeof(mux_connect)));
static_assert(kMuxDisable == ppc_ioc(ppc_ioc_write, 'M', 3, sizeof(int32_t)));
static_assert(kMuxWriteByte == ppc_ioc(ppc_ioc_read | ppc_ioc_write, 'M', 4, sizeof(mux_byte)));
static_assert(kMuxReadByte == ppc_ioc(ppc_ioc_read | ppc_ioc_write, 'M', 5, sizeof(mux_byte)));

// ---- Bus clock

// Selects the bus clock source (int32_t, 0 to 7; 4 is free-run). The same
// number closes a trunk on "/dev/e1-cas".
constexpr uint32_t kClockSelect = 0x80044301;
static_assert(kClockSelect == ppc_ioc(ppc_ioc_write, 'C', 1, sizeof(int32_t)));

// ---- BRI line transceivers (registers on SPI)

constexpr unsigned kSpiLines = 8;

struct spi_register {
    uint8_t line;  // 0 to 7
    uint8_t reg;
    uint8_t data;
};
static_assert(sizeof(spi_register) == 3);
static_assert(offsetof(spi_register, line) == 0);
static_assert(offsetof(spi_register, reg) == 1);
static_assert(offsetof(spi_register, data) == 2);

// Read: the register's value is the low 8 bits of the ioctl's result. A
// driver without SPI fails both requests with ENODEV.
constexpr uint32_t kSpiRead = 0xC0034203;
constexpr uint32_t kSpiWrite = 0xC0034204;
static_assert(kSpiRead == ppc_ioc(ppc_ioc_read | ppc_ioc_write, 'B', 3, sizeof(spi_register)));
static_assert(kSpiWrite == ppc_ioc(ppc_ioc_read | ppc_ioc_write, 'B', 4, sizeof(spi_register)));

// ---- Board state: one byte each, filled or read by the driver

// Fills the DIP switch's value.
constexpr uint32_t kGetDip = 0xc0014205;
// Fills the power state: 1 standby, 2 main, 3 both (0 also both).
constexpr uint32_t kGetPowerStatus = 0xc0014206;
// Takes the framer LEDs: two bits per E1 framer e, the link LED at bit 2e and
// the line LED at bit 2e+1.
constexpr uint32_t kSetFramerLeds = 0xc0014207;
static_assert(kGetDip == ppc_ioc(ppc_ioc_read | ppc_ioc_write, 'B', 5, sizeof(uint8_t)));
static_assert(kGetPowerStatus == ppc_ioc(ppc_ioc_read | ppc_ioc_write, 'B', 6, sizeof(uint8_t)));
static_assert(kSetFramerLeds == ppc_ioc(ppc_ioc_read | ppc_ioc_write, 'B', 7, sizeof(uint8_t)));

}  // namespace board::hal
