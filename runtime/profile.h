#pragma once
// Named timing points whose statistics the status dump lists, and scoped
// enter/leave trace lines.

#include <ostream>

namespace Profile {

// A timing point, usually a function-local static of the timed operation.
// Durations are microseconds of the loop clock.
class Point {
public:
    explicit Point(const char* name);
    ~Point();
    Point(const Point&) = delete;
    Point& operator=(const Point&) = delete;

    void begin();
    void end();
    // "[name]: min=.. max=.. cur=.. counter=..", no line end.
    void put(std::ostream& os) const;

    unsigned int min() const { return min_; }
    unsigned int max() const { return max_; }
    unsigned int last() const { return last_; }
    unsigned int count() const { return count_; }

private:
    friend void dump(std::ostream& os);
    static Point* mRoot;

    Point* next_ = nullptr;
    const char* name_;
    unsigned int min_ = 0;
    unsigned int max_ = 0;
    unsigned int last_ = 0;
    bool first_ = true;
    unsigned int start_ = 0;
    unsigned int count_ = 0;
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
