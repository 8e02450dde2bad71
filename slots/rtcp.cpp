#include "slots/rtcp.h"

#include <algorithm>
#include <cstring>

namespace RTPC {

namespace {

constexpr unsigned kHeader = 4;
constexpr unsigned kSsrc = 4;
constexpr unsigned kMaxText = 255;

unsigned round_up4(unsigned n) {
    return (n + 3) & ~3u;
}

void put32(char* p, uint32_t v) {
    p[0] = static_cast<char>(v >> 24);
    p[1] = static_cast<char>(v >> 16);
    p[2] = static_cast<char>(v >> 8);
    p[3] = static_cast<char>(v);
}

}  // namespace

// The packet is a whole number of 32-bit words: only the words that fit in
// `size` are used, so padding never runs past it.
unsigned Msg::encode(char* buf, unsigned size) const {
    if (size < kHeader + kSsrc) return 0;
    buf[0] = static_cast<char>(0x80 | (count() & 0x1F));
    buf[1] = static_cast<char>(pt());
    const unsigned body = encode_body(buf + kHeader, (size - kHeader) & ~3u);
    if (body == 0) return 0;
    unsigned length = kHeader + body;
    while (length % 4) buf[length++] = 0;
    const unsigned words = length / 4 - 1;
    buf[2] = static_cast<char>(words >> 8);
    buf[3] = static_cast<char>(words);
    return length;
}

// A chunk is never the SSRC alone: its item list ends with a null octet,
// padded to a word, also when it holds no item.
unsigned SDES::encode_body(char* buf, unsigned size) const {
    if (size < kSsrc + 4) return 0;
    put32(buf, ssrc);
    unsigned used = kSsrc;
    for (const Item& item : items_) {
        const unsigned len = static_cast<unsigned>(std::min<size_t>(item.text.size(), kMaxText));
        // The item, the closing zero byte and the padding after them.
        if (round_up4(used + 2 + len + 1) > size) break;
        buf[used++] = static_cast<char>(item.type);
        buf[used++] = static_cast<char>(len);
        std::memcpy(buf + used, item.text.data(), len);
        used += len;
    }
    buf[used++] = 0;
    return used;
}

unsigned BYE::encode_body(char* buf, unsigned size) const {
    if (size < kSsrc) return 0;
    put32(buf, ssrc);
    if (reason.empty() || size - kSsrc < 2) return kSsrc;
    const unsigned len =
        static_cast<unsigned>(std::min<size_t>({reason.size(), kMaxText, size - kSsrc - 1}));
    buf[kSsrc] = static_cast<char>(len);
    std::memcpy(buf + kSsrc + 1, reason.data(), len);
    return kSsrc + 1 + len;
}

}  // namespace RTPC
