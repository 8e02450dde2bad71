#pragma once
// For the fuzz targets of the radio codecs: a record between two guard
// areas, so that a decoder writing outside the record is caught (the
// sanitizers see only writes outside the whole object), and the check that
// stops the run.

#include <cstdint>
#include <cstring>

namespace Fuzz {

inline void check(bool condition) {
    if (!condition) __builtin_trap();
}

template <class Record>
struct Guarded {
    static constexpr uint8_t pattern = 0xA5;

    // The record starts out filled with the pattern, as a reused record would.
    Guarded() { std::memset(static_cast<void*>(this), pattern, sizeof *this); }

    bool intact() const {
        for (size_t i = 0; i < sizeof before; ++i)
            if (before[i] != pattern || after[i] != pattern) return false;
        return true;
    }

    uint8_t before[64];
    Record record;
    uint8_t after[64];
};

template <class Record>
bool same(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace Fuzz
