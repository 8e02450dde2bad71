#include "board/sim/line_queue.h"

#include <algorithm>

namespace board::sim {

void LineQueue::carry(uint64_t nowUs) {
    const uint64_t carried = nowUs > at_ ? nowUs - at_ : 0;
    waitingUs_ -= std::min(waitingUs_, carried);
    at_ = nowUs;
}

void LineQueue::add(size_t octets, uint64_t nowUs) {
    carry(nowUs);
    waitingUs_ += octets * kOctetUs;
}

uint64_t LineQueue::wait(uint64_t nowUs) {
    carry(nowUs);
    return waitingUs_ < kLimitUs ? 0 : waitingUs_ - kLimitUs + 1;
}

}  // namespace board::sim
