#pragma once
// The transmit queue of a channel on one 64 kbit/s timeslot: the line
// carries 8000 octets a second of what waits, and the driver takes another
// packet while less than half a second of it waits (or the limit given).
// Times are the board's, in microseconds.

#include <cstddef>
#include <cstdint>

namespace board::sim {

class LineQueue {
public:
    static constexpr uint64_t kOctetUs = 125;  // 8000 octets a second
    static constexpr uint64_t kLimitUs = 500000;

    LineQueue() = default;
    explicit LineQueue(uint64_t limitUs) : limitUs_(limitUs) {}

    // Whether it takes a packet now.
    bool takes(uint64_t nowUs) { return wait(nowUs) == 0; }
    // Microseconds until the line has carried the packet added.
    uint64_t add(size_t octets, uint64_t nowUs);
    // Microseconds until it takes a packet; 0 when it does now.
    uint64_t wait(uint64_t nowUs);

private:
    // What the line has carried since the last look; a clock that stepped
    // back carries nothing.
    void carry(uint64_t nowUs);

    uint64_t limitUs_ = kLimitUs;
    uint64_t waitingUs_ = 0;  // line time of what waits
    uint64_t at_ = 0;         // when it was counted
};

}  // namespace board::sim
