#include "runtime/profile.h"

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

void Point::put(std::ostream& os) const { os << "[" << name_ << "]: " << measure_; }

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
