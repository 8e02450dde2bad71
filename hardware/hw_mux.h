#pragma once
// The server's one access to the board's TDM switching fabric: it switches
// one channel's content into another, drives a channel with a constant byte,
// reads the byte a channel carries, and switches channels off. It keeps a
// map of what every shared-bus channel carries, and from the event loop keeps
// switched-off bus channels switched off (a full sweep every 16 passes).
//
//   HwMux& mux = HwMux::instance();     // opens "/dev/hal"
//   mux.Connect(tx, rx);                // rx now receives what tx sends
//   mux.Disconnect(rx);                 // rx carries A-law silence

#include <cstdint>

#include "board/drivers/hal.h"
#include "runtime/timer.h"

class HwMux {
public:
    // Map entries besides a source channel.
    static constexpr uint16_t kDisabled = 0xFFFF;
    static constexpr uint16_t kDriven = 0xFFFE;
    // G.711 A-law silence.
    static constexpr unsigned char kIdleByte = 0xD5;
    // Map entries refreshed on each loop pass.
    static constexpr unsigned kRefreshPerPass = 128;

    static HwMux& instance();
    ~HwMux();
    HwMux(const HwMux&) = delete;
    HwMux& operator=(const HwMux&) = delete;

    // True when the device is open; otherwise tries to open it now.
    bool IsOpened();
    // Makes channel `rx` receive what channel `tx` transmits.
    bool Connect(int tx, int rx);
    // Drives the channel with the idle byte.
    bool Disconnect(int channel);
    bool Disable(int channel);
    bool Write(int channel, unsigned char value);
    // The byte the channel carries; 255 on any failure.
    int Read(int channel);
    void Reset() {}

    void RefreshChannel(unsigned index);
    void OnDPC();

    // Prints the current call stack (a diagnostic aid).
    static void print_trace();

    // What the map holds for a shared-bus channel (8192 to 10239).
    uint16_t entry(int channel) const;
    unsigned cursor() const { return cursor_; }
    // Back to a closed device with an empty map, the refresh stopped: for tests.
    void reset_for_test();

private:
    static constexpr int kFirstBusChannel = board::hal::kBusBase;
    static constexpr unsigned kMapSize = board::hal::kBusChannels;

    HwMux();
    // The map index of a shared-bus channel; -1 for any other channel.
    static int MapIndex(int channel);
    void SetEntry(int channel, uint16_t value);
    bool Usable(int channel) { return IsOpened() && channel >= 0; }
    void Close();

    int fd_ = -1;
    uint16_t map_[kMapSize];
    unsigned cursor_ = 0;
    Dpc refresh_;
};
