#pragma once
// A log line that may come in floods (one per packet, per record, per
// connection): written at most once a period on the loop clock, and the
// next one written tells how many were held back before it.
//
//   if (unknownSession_.admit())
//       std::cerr << "unknown session " << session << unknownSession_ << std::endl;

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

class LogThrottle {
public:
    explicit LogThrottle(uint32_t periodMs = 1000) : periodMs_(periodMs) {}

    // Whether to write the line now; a line held back is counted.
    bool admit();

    // After the line admitted last: " (N more since)" when N lines were held
    // back before it, else nothing.
    friend std::ostream& operator<<(std::ostream& os, const LogThrottle& throttle);

private:
    uint32_t periodMs_;
    bool written_ = false;
    uint32_t writtenAt_ = 0;
    unsigned held_ = 0;        // since the line written last
    unsigned heldBefore_ = 0;  // before the line admitted last
};

// One throttle per kind of line, by its text.
using LogThrottles = std::map<std::string, LogThrottle>;
