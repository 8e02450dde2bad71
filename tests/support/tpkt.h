#pragma once
// TPKT framing for tests, written apart from the server's layer so that each
// checks the other: version 3, reserved 0, a big-endian length counting the
// 4 header bytes, then the payload.

#include <string>

namespace test {

std::string tpkt_frame(const std::string& payload);

// Cuts frames out of a byte stream that arrives in any pieces.
class TpktReader {
public:
    void feed(const std::string& bytes) { pending_ += bytes; }
    // Takes the next complete frame's payload; false when none is complete.
    // A stream that is not TPKT sets bad() and yields nothing more.
    bool next(std::string& payload);
    bool bad() const { return bad_; }
    size_t pending() const { return pending_.size(); }

private:
    std::string pending_;
    bool bad_ = false;
};

}  // namespace test
