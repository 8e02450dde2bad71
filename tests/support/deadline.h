#pragma once
// A point in (real) time that waits on another process must not pass.

#include <chrono>

namespace test {

class Deadline {
public:
    explicit Deadline(int ms) : end_(Clock::now() + std::chrono::milliseconds(ms)) {}

    // Milliseconds left, 0 once it has passed.
    int remaining_ms() const {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    bool passed() const { return remaining_ms() == 0; }

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point end_;
};

}  // namespace test
