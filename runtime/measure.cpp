#include "runtime/measure.h"

#include <algorithm>

#include "runtime/mux_time.h"

void Measure::begin() { begin_ = Mux::microseconds(); }

uint32_t Measure::end() {
    uint32_t elapsed = Mux::microseconds() - begin_;
    if (first_) {
        min_ = max_ = elapsed;
        counter_ = 1;
        first_ = false;
    } else {
        ++counter_;
        min_ = std::min(min_, elapsed);
        max_ = std::max(max_, elapsed);
    }
    last_ = elapsed;
    return elapsed;
}

void Measure::put(std::ostream& os) const {
    auto flags = os.flags();
    os << std::dec << "min=" << min_ << " max=" << max_ << " cur=" << last_
       << " counter=" << counter_;
    os.flags(flags);
}

std::ostream& operator<<(std::ostream& os, const Measure& m) {
    m.put(os);
    return os;
}
