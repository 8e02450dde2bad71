// RTCP packets of arbitrary items, reason and buffer size. The encoder
// writes nothing past the size it is given; what it writes is whole 32-bit
// words that its length field counts, and reads back as the packet's SSRC
// and a prefix of its items or reason.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "slots/rtcp.h"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

constexpr uint8_t kGuard = 0xA5;

// Input: size (2 bytes), SSRC (4), kind (1); then the BYE's reason, or the
// SDES items, each type (1), text length (2) and text.
struct Reader {
    const uint8_t* p;
    size_t n;
    unsigned take(unsigned bytes) {
        unsigned v = 0;
        for (unsigned i = 0; i < bytes; ++i) v = (v << 8) | (n ? (--n, *p++) : 0);
        return v;
    }
    std::string text(size_t length) {
        if (length > n) length = n;
        std::string t(reinterpret_cast<const char*>(p), length);
        p += length;
        n -= length;
        return t;
    }
};

uint32_t word_at(const std::vector<uint8_t>& b, size_t i) {
    return (uint32_t(b[i]) << 24) | (uint32_t(b[i + 1]) << 16) | (uint32_t(b[i + 2]) << 8) |
           b[i + 3];
}

// Items as written: each a prefix (at most 255 bytes) of the next item
// given, then a zero byte and zero padding, also after no item at all.
void check_sdes_body(const std::vector<uint8_t>& out, size_t length,
                     const std::vector<std::pair<uint8_t, std::string>>& items) {
    size_t i = 8;
    for (const auto& item : items) {
        if (out[i] == 0) break;
        check(out[i] == item.first && i + 2 + out[i + 1] <= length);
        const size_t len = out[i + 1];
        check(len == std::min<size_t>(item.second.size(), 255));
        check(std::string(out.begin() + i + 2, out.begin() + i + 2 + len) ==
              item.second.substr(0, len));
        i += 2 + len;
    }
    check(i < length);
    for (; i < length; ++i) check(out[i] == 0);
}

void check_bye_body(const std::vector<uint8_t>& out, size_t length, const std::string& reason) {
    if (length == 8) return;
    const size_t len = out[8];
    check(len > 0 && len <= 255 && 9 + len <= length);
    check(std::string(out.begin() + 9, out.begin() + 9 + len) == reason.substr(0, len));
    for (size_t i = 9 + len; i < length; ++i) check(out[i] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    const unsigned bufferSize = in.take(2) % 1100;
    const uint32_t ssrc = in.take(4);
    const bool bye = in.take(1) & 1;
    std::vector<std::pair<uint8_t, std::string>> items;
    RTPC::SDES sdes(ssrc);
    RTPC::BYE goodbye(ssrc, bye ? in.text(in.n) : "");
    while (!bye && in.n) {
        const uint8_t type = static_cast<uint8_t>(in.take(1) % 8 + 1);  // never the END item
        const std::string text = in.text(in.take(2) % 400);
        items.emplace_back(type, text);
        sdes.add(static_cast<RTPC::SDES::Item::Type>(type), text);
    }
    const RTPC::Msg& packet = bye ? static_cast<const RTPC::Msg&>(goodbye) : sdes;

    std::vector<uint8_t> out(bufferSize + 64, kGuard);
    const unsigned length = packet.encode(reinterpret_cast<char*>(out.data()), bufferSize);
    for (size_t i = bufferSize; i < out.size(); ++i) check(out[i] == kGuard);
    const unsigned smallest = bye ? 8 : 12;  // an SDES chunk ends with a null word at least
    check(length <= bufferSize && length % 4 == 0 && (length == 0) == (bufferSize < smallest));
    if (length == 0) return 0;
    check(out[0] == 0x81 && out[1] == packet.pt());
    check(((out[2] << 8) | out[3]) == length / 4 - 1);
    check(word_at(out, 4) == ssrc);
    if (bye)
        check_bye_body(out, length, goodbye.reason);
    else
        check_sdes_body(out, length, items);
    return 0;
}
