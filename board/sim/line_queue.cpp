#include "board/sim/line_queue.h"

#include <algorithm>

namespace board::sim {

void LineQueue::carry(uint64_t nowUs) {
    const uint64_t carried = nowUs > at_ ? nowUs - at_ : 0;
    waitingUs_ -= std::min(waitingUs_, carried);
    at_ = nowUs;
}

uint64_t LineQueue::add(size_t octets, uint64_t nowUs) {
    carry(nowUs);
    return waitingUs_ += octets * kOctetUs;
}

uint64_t LineQueue::wait(uint64_t nowUs) {
    carry(nowUs);
    return waitingUs_ < limitUs_ ? 0 : waitingUs_ - limitUs_ + 1;
}

}  // namespace board::sim
