#include "tests/support/tpkt.h"

#include <stdexcept>

namespace test {

std::string tpkt_frame(const std::string& payload) {
    const size_t length = payload.size() + 4;
    if (length > 0xFFFF) throw std::length_error("payload does not fit a TPKT frame");
    std::string frame{'\x03', '\x00', static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
    return frame + payload;
}

bool TpktReader::next(std::string& payload) {
    if (bad_ || pending_.size() < 4) return false;
    const auto byte = [this](size_t i) { return static_cast<unsigned char>(pending_[i]); };
    const size_t length = (byte(2) << 8) | byte(3);
    if (byte(0) != 3 || byte(1) != 0 || length < 4) {
        bad_ = true;
        return false;
    }
    if (pending_.size() < length) return false;
    payload = pending_.substr(4, length - 4);
    pending_.erase(0, length);
    return true;
}

}  // namespace test
