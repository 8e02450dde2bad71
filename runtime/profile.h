#pragma once
// Named timing points whose statistics the status dump lists, and scoped
// enter/leave trace lines.

#include <ostream>

#include "runtime/measure.h"

namespace Profile {

// A timing point, usually a function-local static of the timed operation.
// Durations are microseconds of the loop clock.
class Point {
public:
    explicit Point(const char* name);
    ~Point();
    Point(const Point&) = delete;
    Point& operator=(const Point&) = delete;

    void begin() { measure_.begin(); }
    void end() { measure_.end(); }
    // "[name]: min=.. max=.. cur=.. counter=..", no line end.
    void put(std::ostream& os) const;

    const Measure& measure() const { return measure_; }

private:
    friend void dump(std::ostream& os);
    static Point* mRoot;

    Point* next_ = nullptr;
    const char* name_;
    Measure measure_;
};

// Every point, the most recently constructed first, one per line.
void dump(std::ostream& os);

}  // namespace Profile

namespace Trace {

// Writes "Enter <name>" when built and "Leave <name>" when gone, if enabled.
class Block {
public:
    Block(bool enabled, const char* name, std::ostream& os);
    ~Block();
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

private:
    bool enabled_;
    const char* name_;
    std::ostream* os_;
};

}  // namespace Trace
