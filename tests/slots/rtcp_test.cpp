// The RTCP source description and BYE packets, byte by byte.
#include "slots/rtcp.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/case_name.h"

namespace {

using test::Bytes;
using Type = RTPC::SDES::Item::Type;

constexpr uint32_t kSsrc = 0x01020304;

std::unique_ptr<RTPC::SDES> sdes(const std::vector<std::pair<Type, std::string>>& items) {
    auto packet = std::make_unique<RTPC::SDES>(kSsrc);
    for (const auto& item : items) packet->add(item.first, item.second);
    return packet;
}

Bytes encoded(const RTPC::Msg& packet, unsigned size = 1024) {
    std::vector<char> buf(size);
    const unsigned length = packet.encode(buf.data(), size);
    return Bytes(buf.begin(), buf.begin() + length);
}

Bytes text_bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Known {
    const char* what;
    std::function<std::unique_ptr<RTPC::Msg>()> packet;
    unsigned size;
    Bytes expected;
};

const std::string k300(300, 'x');

const Known kKnown[] = {
    {"bye with the session end reason",
     [] { return std::make_unique<RTPC::BYE>(kSsrc, "session end"); }, 1024,
     test::hex_bytes("81 CB 00 04 01 02 03 04 0B") + text_bytes("session end")},
    {"bye without reason", [] { return std::make_unique<RTPC::BYE>(kSsrc, ""); }, 1024,
     test::hex_bytes("81 CB 00 01 01 02 03 04")},
    {"bye padded to a word", [] { return std::make_unique<RTPC::BYE>(kSsrc, "ab"); }, 1024,
     test::hex_bytes("81 CB 00 02 01 02 03 04 02 61 62 00")},
    {"bye reason cut to the buffer",
     [] { return std::make_unique<RTPC::BYE>(kSsrc, "session end"); }, 14,
     test::hex_bytes("81 CB 00 02 01 02 03 04 03 73 65 73")},
    {"bye in ten bytes leaves the reason out",
     [] { return std::make_unique<RTPC::BYE>(kSsrc, "session end"); }, 10,
     test::hex_bytes("81 CB 00 01 01 02 03 04")},
    {"bye reason cut at 255", [] { return std::make_unique<RTPC::BYE>(kSsrc, k300); }, 1024,
     test::hex_bytes("81 CB 00 41 01 02 03 04 FF") + text_bytes(k300.substr(0, 255))},
    {"sdes of three items in order",
     [] {
         return sdes({{Type::CNAME, "ab"}, {Type::EMAIL, "c"}, {Type::PHONE, "de"}});
     },
     1024, test::hex_bytes("81 CA 00 04 01 02 03 04 01 02 61 62 03 01 63 04 02 64 65 00")},
    {"sdes item cut at 255",
     [] {
         return sdes({{Type::CNAME, k300}});
     },
     1024,
     test::hex_bytes("81 CA 00 42 01 02 03 04 01 FF") + text_bytes(k300.substr(0, 255)) +
         test::hex_bytes("00 00 00")},
    {"sdes ends at the last item that fits",
     [] {
         return sdes({{Type::CNAME, "abc"}, {Type::EMAIL, "defgh"}});
     },
     19, test::hex_bytes("81 CA 00 03 01 02 03 04 01 03 61 62 63 00 00 00")},
    {"sdes without items ends its chunk with a null word", [] { return sdes({}); }, 1024,
     test::hex_bytes("81 CA 00 02 01 02 03 04 00 00 00 00")},
    {"sdes in fifteen bytes is the chunk without items",
     [] { return sdes({{Type::CNAME, "abc"}}); }, 15,
     test::hex_bytes("81 CA 00 02 01 02 03 04 00 00 00 00")},
    {"nothing of an sdes in eleven bytes", [] { return sdes({{Type::CNAME, "abc"}}); }, 11, {}},
    {"nothing in seven bytes", [] { return std::make_unique<RTPC::BYE>(kSsrc, ""); }, 7, {}},
};

class RtcpKnownAnswer : public ::testing::TestWithParam<Known> {};

TEST_P(RtcpKnownAnswer, EncodesTheExpectedBytes) {
    const Known& known = GetParam();
    EXPECT_EQ(test::hex_text(known.expected), test::hex_text(encoded(*known.packet(), known.size)));
}

INSTANTIATE_TEST_SUITE_P(Rtcp, RtcpKnownAnswer, ::testing::ValuesIn(kKnown), test::CaseName());

// Every buffer size from 0 to 64: whole words within the buffer, a length
// field that counts them, and not a byte written past the size. A BYE needs
// 8 bytes, an SDES 12 (its chunk ends with a null word).
TEST(Rtcp, NeverWritesPastTheBufferAndCountsItsWords) {
    const RTPC::BYE bye(kSsrc, "session end");
    auto description = sdes({{Type::CNAME, "Zembrix"}, {Type::EMAIL, "a@b.c"}, {Type::PHONE, "1"}});
    const std::pair<const RTPC::Msg*, unsigned> packets[] = {{&bye, 8}, {description.get(), 12}};
    for (const auto& [packet, smallest] : packets) {
        for (unsigned size = 0; size <= 64; ++size) {
            std::vector<char> buf(size + 16, '\x5A');
            const unsigned length = packet->encode(buf.data(), size);
            SCOPED_TRACE("pt " + std::to_string(packet->pt()) + " size " + std::to_string(size));
            EXPECT_LE(length, size);
            EXPECT_EQ(0u, length % 4);
            EXPECT_EQ(size < smallest, length == 0);
            for (unsigned i = size; i < buf.size(); ++i) ASSERT_EQ('\x5A', buf[i]) << "byte " << i;
            if (length == 0) continue;
            const unsigned words = (uint8_t(buf[2]) << 8) | uint8_t(buf[3]);
            EXPECT_EQ(length / 4 - 1, words);
        }
    }
}

}  // namespace
