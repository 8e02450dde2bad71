#include "board/sim/hal_model.h"

#include <errno.h>

#include <cstring>

#include "board/sim/model_support.h"

namespace board::sim {

namespace {

bool valid_channel(int32_t number) {
    return number >= 0 && number < hal::kChannels;
}

// A switch path that loops back on itself is cut after this many hops.
constexpr int kMaxHops = 16;

}  // namespace

void HalModel::reset() {
    absent = false;
    channels_.assign(hal::kChannels, ChannelState{});
    stuck.clear();
    foreign.clear();
    line.clear();
    frames.reset();
    clock_source = -1;
    clock_history.clear();
    no_spi = false;
    dip = 0;
    power = 2;
    leds = 0;
    led_history.clear();
    std::memset(spi, 0, sizeof spi);
}

int HalModel::open(Channel&) {
    return absent ? refuse(ENOENT) : 0;
}

int HalModel::ioctl(Channel&, uint32_t request, void* arg) {
    if (arg == nullptr) return refuse(EFAULT);
    if ((request == hal::kSpiRead || request == hal::kSpiWrite) && no_spi) return refuse(ENODEV);
    switch (request) {
        case hal::kMuxConnect:
            return Connect(record_of<hal::mux_connect>(arg));
        case hal::kMuxDisable:
            return Disable(record_of<int32_t>(arg));
        case hal::kMuxWriteByte:
            return WriteByte(record_of<hal::mux_byte>(arg));
        case hal::kMuxReadByte:
            return ReadByte(*static_cast<hal::mux_byte*>(arg));
        case hal::kClockSelect:
            return SelectClock(record_of<int32_t>(arg));
        case hal::kSpiRead:
            return ReadRegister(*static_cast<hal::spi_register*>(arg));
        case hal::kSpiWrite:
            return WriteRegister(record_of<hal::spi_register>(arg));
        case hal::kGetDip:
            *static_cast<uint8_t*>(arg) = dip;
            return 0;
        case hal::kGetPowerStatus:
            *static_cast<uint8_t*>(arg) = power;
            return 0;
        case hal::kSetFramerLeds:
            leds = *static_cast<const uint8_t*>(arg);
            if (journaled) led_history.push_back(leds);
            return 0;
        default:
            return refuse(ENOTTY);
    }
}

// ---- The switch

int HalModel::Connect(const hal::mux_connect& record) {
    if (!valid_channel(record.destination) || !valid_channel(record.source)) return refuse(EINVAL);
    channels_[record.destination] = ChannelState{Output::Source, record.source};
    return 0;
}

int HalModel::Disable(int32_t number) {
    if (!valid_channel(number)) return refuse(EINVAL);
    channels_[number] = ChannelState{};
    return 0;
}

int HalModel::WriteByte(const hal::mux_byte& record) {
    if (!valid_channel(record.channel) || record.value < 0 || record.value > 255)
        return refuse(EINVAL);
    channels_[record.channel] = ChannelState{Output::Driven, record.value};
    return 0;
}

int HalModel::ReadByte(hal::mux_byte& record) const {
    if (!valid_channel(record.channel)) return refuse(EINVAL);
    record.value = byte_on(record.channel);
    return 0;
}

uint8_t HalModel::byte_on(int number) const {
    return byte_on(number, 0);
}

uint8_t HalModel::byte_on(int number, int hops) const {
    auto it = stuck.find(number);
    if (it != stuck.end()) return it->second;
    const ChannelState& state = channels_.at(number);
    if (state.output == Output::Driven) return static_cast<uint8_t>(state.value);
    if (state.output == Output::Source) return transmitted(state.value, hops + 1);
    it = foreign.find(number);
    if (it != foreign.end()) return it->second;
    return number < hal::kBusBase ? line_byte(number) : 0xFF;
}

int HalModel::origin(int number) const {
    for (int hops = 0; hops < kMaxHops && valid_channel(number); ++hops) {
        const ChannelState& state = channels_[number];
        if (stuck.count(number) || state.output != Output::Source) return -1;
        if (state.value < hal::kBusBase) return state.value;
        number = state.value;
    }
    return -1;
}

uint8_t HalModel::transmitted(int source, int hops) const {
    if (source < hal::kBusBase) return line_byte(source);
    return hops < kMaxHops ? byte_on(source, hops) : 0xFF;
}

uint8_t HalModel::line_byte(int number) const {
    auto it = line.find(number);
    return it == line.end() ? 0xFF : it->second;
}

// ---- The bus clock

int HalModel::SelectClock(int32_t source) {
    if (source < 0) return refuse(EINVAL);
    clock_source = source;
    if (journaled) clock_history.push_back(source);
    return 0;
}

// ---- The BRI line transceivers

int HalModel::ReadRegister(hal::spi_register& record) const {
    if (record.line >= hal::kSpiLines) return refuse(EINVAL);
    record.data = spi[record.line][record.reg];
    return record.data;
}

int HalModel::WriteRegister(const hal::spi_register& record) {
    if (record.line >= hal::kSpiLines) return refuse(EINVAL);
    spi[record.line][record.reg] = record.data;
    return 0;
}

}  // namespace board::sim
