#include "runtime/log_throttle.h"

#include "runtime/mux_time.h"

bool LogThrottle::admit() {
    const uint32_t now = Mux::milliseconds();
    if (written_ && now - writtenAt_ < periodMs_) {
        ++held_;
        return false;
    }
    written_ = true;
    writtenAt_ = now;
    heldBefore_ = held_;
    held_ = 0;
    return true;
}

std::ostream& operator<<(std::ostream& os, const LogThrottle& throttle) {
    if (throttle.heldBefore_ != 0) os << " (" << throttle.heldBefore_ << " more since)";
    return os;
}
