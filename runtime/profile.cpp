#include "runtime/profile.h"

#include <algorithm>

#include "runtime/mux_time.h"

namespace Profile {

Point* Point::mRoot = nullptr;

Point::Point(const char* name) : next_(mRoot), name_(name) { mRoot = this; }

Point::~Point() {
    for (Point** p = &mRoot; *p; p = &(*p)->next_) {
        if (*p == this) {
            *p = next_;
            break;
        }
    }
}

void Point::begin() { start_ = Mux::microseconds(); }

void Point::end() {
    unsigned int d = Mux::microseconds() - start_;
    if (first_) {
        min_ = max_ = d;
        count_ = 1;
        first_ = false;
    } else {
        ++count_;
        min_ = std::min(min_, d);
        max_ = std::max(max_, d);
    }
    last_ = d;
}

void Point::put(std::ostream& os) const {
    auto flags = os.flags();
    os << std::dec << "[" << name_ << "]: min=" << min_ << " max=" << max_ << " cur=" << last_
       << " counter=" << count_;
    os.flags(flags);
}

void dump(std::ostream& os) {
    for (const Point* p = Point::mRoot; p; p = p->next_) {
        p->put(os);
        os << std::endl;
    }
}

}  // namespace Profile

namespace Trace {

Block::Block(bool enabled, const char* name, std::ostream& os)
    : enabled_(enabled), name_(name), os_(&os) {
    if (enabled_) *os_ << "Enter " << name_ << std::endl;
}

Block::~Block() {
    if (enabled_) *os_ << "Leave " << name_ << std::endl;
}

}  // namespace Trace
