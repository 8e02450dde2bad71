#pragma once
// Shortest, longest and latest duration of a kind of work, in microseconds of
// the loop clock (the loop's callbacks, profile points).

#include <cstdint>
#include <ostream>

class Measure {
public:
    void begin();
    // Ends one sample and returns its length.
    uint32_t end();
    // "min=.. max=.. cur=.. counter=..", no line end.
    void put(std::ostream& os) const;

    uint32_t min() const { return min_; }
    uint32_t max() const { return max_; }
    uint32_t last() const { return last_; }
    uint32_t counter() const { return counter_; }

private:
    uint32_t min_ = 0;
    uint32_t max_ = 0;
    uint32_t last_ = 0;
    bool first_ = true;
    uint32_t begin_ = 0;
    uint32_t counter_ = 0;
};

std::ostream& operator<<(std::ostream& os, const Measure& m);

