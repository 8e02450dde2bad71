#pragma once
// The simulated "/dev/hal": the TDM switching fabric, the bus clock select
// and the registers of the eight BRI line transceivers. One state serves
// every open, as the driver keeps it.
//
// The switch: each channel is off, driven with a byte, or receives a source
// channel. A read of a channel gives, in this order: a byte it is stuck at
// (test hook); what it is driven with or what its source transmits; a byte
// another card drives onto it (test hook); for trunk and device channels
// (below 8192) the byte their line carries (test hook); else 0xFF. A source
// below 8192 transmits what its line carries.

#include <cstdint>
#include <map>
#include <vector>

#include "board/drivers/hal.h"
#include "board/sim/sim_board.h"
#include "board/sim/tdm_fabric.h"

namespace board::sim {

class HalModel : public Model {
public:
    enum class Output { Off, Driven, Source };
    struct ChannelState {
        Output output = Output::Off;
        int value = 0;  // the driven byte, or the source channel
    };

    HalModel() { reset(); }

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    void reset() override;

    // Open fails with ENOENT while set.
    bool absent = false;

    // ---- The switch
    const ChannelState& channel(int number) const { return channels_.at(number); }
    // The byte a read of the channel gives.
    uint8_t byte_on(int number) const;
    // The channel below 8192 whose transmitter the channel carries, through
    // any bus channels between them; -1 when it carries none (off, driven,
    // stuck, or out of range).
    int origin(int number) const;
    std::map<int, uint8_t> stuck;    // channels that read this byte whatever is switched
    std::map<int, uint8_t> foreign;  // bytes other cards drive onto channels left off
    std::map<int, uint8_t> line;     // what trunk and device channels bring in
    // Frames carried where the switch connects data channels.
    TdmFabric frames{*this};

    // ---- The bus clock: -1 until a source is selected, then each selection
    // (while the device is journaled).
    int clock_source = -1;
    std::vector<int> clock_history;

    // ---- The BRI line transceivers: eight lines of 256 registers.
    // A driver without SPI fails the register requests with ENODEV.
    bool no_spi = false;
    uint8_t spi[hal::kSpiLines][256];

    // ---- The board's state: what the DIP switch and the power supply show,
    // and each byte written to the framer LEDs (while the device is
    // journaled).
    uint8_t dip = 0;
    uint8_t power = 2;  // main
    uint8_t leds = 0;
    std::vector<uint8_t> led_history;

private:
    int Connect(const hal::mux_connect& record);
    int Disable(int32_t number);
    int WriteByte(const hal::mux_byte& record);
    int ReadByte(hal::mux_byte& record) const;
    int SelectClock(int32_t source);
    int ReadRegister(hal::spi_register& record) const;
    int WriteRegister(const hal::spi_register& record);
    uint8_t transmitted(int source, int hops) const;
    uint8_t line_byte(int number) const;
    uint8_t byte_on(int number, int hops) const;

    std::vector<ChannelState> channels_;
};

}  // namespace board::sim
