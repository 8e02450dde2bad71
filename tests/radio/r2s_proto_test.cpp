// ED-137 header extensions: known answers both ways for RX and TX, the pack
// results, and how unpack walks the items of a received extension. Runs on
// the board's own build too.

#include "radio/r2s_proto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "tests/support/bytes.h"
#include "tests/support/case_name.h"

namespace {

using test::Bytes;
using test::hex_bytes;
using test::hex_text;
using Fill = std::function<void(r2s_proto&)>;

r2s_proto record(const Fill& fill) {
    r2s_proto r;
    r2s_proto_init(&r, 0);
    fill(r);
    return r;
}

void add_rrc(r2s_proto& r, unsigned bits, unsigned form = R2S_PROTO_RRC_SHORT) {
    r2s_proto_rx_additional_rrc rrc{};
    for (int i = 0; i < 8; ++i) rrc.bits[i] = (bits >> (7 - i)) & 1;
    rrc.form = form;
    if (form == R2S_PROTO_RRC_LONG) {
        rrc.long_bits[0] = rrc.long_bits[1] = 1;
        rrc.long_bytes[0] = 3;
        rrc.long_bytes[1] = 4;
    }
    r2s_proto_add_rx_rrc(&r, &rrc);
}

void add_mam(r2s_proto& r) {
    const r2s_proto_rx_additional_mam mam = {1, 0x123456, 1, 0x7FFFFF, 0xABCD, 1, 0xFFFF};
    r2s_proto_add_rx_mam(&r, &mam);
}

void add_delay(r2s_proto& r, unsigned delay) {
    const r2s_proto_tx_additional_climax_time_delay item = {delay};
    r2s_proto_add_tx_time_delay(&r, &item);
}

void add_tx_rrc(r2s_proto& r) {
    const r2s_proto_tx_additional_rrc rrc = {{0, 1, 0, 1, 0, 1, 0, 1}};
    r2s_proto_add_tx_rrc(&r, &rrc);
}

void add_rrm(r2s_proto& r) {
    const r2s_proto_tx_additional_rrm rrm = {1, 0xFF};
    r2s_proto_add_tx_rrm(&r, &rrm);
}

void rx_header(r2s_proto& r) { r2s_proto_set_rx_header(&r, 1, 0, 5, 0, 0, 0); }
void tx_header(r2s_proto& r) { r2s_proto_set_tx_header(&r, 1, 0, 0, 0); }

int unpack(unsigned direction, r2s_proto& r, const Bytes& in) {
    const int length = static_cast<int>(in.size());
    return direction == R2S_PROTO_RX ? r2s_proto_unpack_rx(&r, in.data(), length)
                                     : r2s_proto_unpack_tx(&r, in.data(), length);
}

// Each stored feature as "kind:first value word".
std::string features(const r2s_proto& r) {
    std::string text;
    for (unsigned i = 0; i < r.additionals_count; ++i)
        text += std::to_string(r.additionals[i].kind) + ":" +
                std::to_string(r.additionals[i].value.words[0]) + " ";
    return text;
}

struct KnownAnswer {
    const char* what;
    unsigned direction;
    Fill fill;
    const char* hex;
};

const KnownAnswer known_answers[] = {
    {"RX header only", R2S_PROTO_RX, rx_header, "21 40 00 00"},
    {"RX every header bit", R2S_PROTO_RX,
     [](r2s_proto& r) { r2s_proto_set_rx_header(&r, 7, 1, 63, 1, 1, 1); }, "FF F8 00 00"},
    {"RX SQI", R2S_PROTO_RX, [](r2s_proto& r) { rx_header(r), r2s_proto_add_rx_sqi(&r, 31, 2); },
     "21 41 11 FA"},
    {"RX RRC short", R2S_PROTO_RX, [](r2s_proto& r) { rx_header(r), add_rrc(r, 0xA5); },
     "21 41 31 A5"},
    {"RX RRC long", R2S_PROTO_RX,
     [](r2s_proto& r) { rx_header(r), add_rrc(r, 0x12, R2S_PROTO_RRC_LONG); },
     "21 41 34 12 C0 03 04"},
    {"RX MAM", R2S_PROTO_RX, [](r2s_proto& r) { rx_header(r), add_mam(r); },
     "21 41 4C 92 34 56 FF FF FF AB CD 00 01 FF FF"},
    {"RX several", R2S_PROTO_RX,
     [](r2s_proto& r) {
         r2s_proto_set_rx_header(&r, 2, 1, 0, 1, 0, 0);
         r2s_proto_add_rx_sqi(&r, 5, 7), add_rrc(r, 0x80), add_mam(r);
     },
     "50 21 11 2F 31 80 4C 92 34 56 FF FF FF AB CD 00 01 FF FF"},
    {"TX every header bit", R2S_PROTO_TX,
     [](r2s_proto& r) { r2s_proto_set_tx_header(&r, 3, 63, 1, 1); }, "6F F0 00 00"},
    {"TX CLIMAX relative", R2S_PROTO_TX, [](r2s_proto& r) { tx_header(r), add_delay(r, 0x2A); },
     "20 01 21 2A"},
    {"TX CLIMAX absolute", R2S_PROTO_TX, [](r2s_proto& r) { tx_header(r), add_delay(r, 0x85); },
     "20 01 21 85"},
    {"TX RRC", R2S_PROTO_TX, [](r2s_proto& r) { tx_header(r), add_tx_rrc(r); }, "20 01 31 55"},
    {"TX RRM", R2S_PROTO_TX, [](r2s_proto& r) { tx_header(r), add_rrm(r); },
     "20 01 43 80 00 FF"},
    {"TX several", R2S_PROTO_TX,
     [](r2s_proto& r) { tx_header(r), add_delay(r, 0x85), add_tx_rrc(r), add_rrm(r); },
     "20 01 21 85 31 55 43 80 00 FF"},
};

class Ed137KnownAnswer : public testing::TestWithParam<KnownAnswer> {};

TEST_P(Ed137KnownAnswer, PacksToTheBytes) {
    const r2s_proto r = record(GetParam().fill);
    unsigned char out[64];
    const int length = r2s_proto_pack(&r, out, sizeof out);
    ASSERT_GT(length, 0);
    EXPECT_EQ(GetParam().hex, hex_text(out, static_cast<size_t>(length)));
}

TEST_P(Ed137KnownAnswer, UnpacksToTheRecord) {
    const r2s_proto expected = record(GetParam().fill);
    r2s_proto r;
    r2s_proto_init(&r, 0);
    ASSERT_EQ(0, unpack(GetParam().direction, r, hex_bytes(GetParam().hex)));
    EXPECT_EQ(0, std::memcmp(&expected, &r, sizeof r)) << features(r);
}

INSTANTIATE_TEST_SUITE_P(BothDirections, Ed137KnownAnswer, testing::ValuesIn(known_answers),
                         test::CaseName());

// ---- pack results

struct PackCase {
    const char* what;
    Fill fill;
    int size;
    int result;
};

const PackCase pack_cases[] = {
    {"unknown direction 3", [](r2s_proto& r) { r.type = 3; }, 8, -8},
    {"unknown direction 0", [](r2s_proto&) {}, 8, -8},
    {"below the header", rx_header, 1, -9},
    {"header only needs 4", rx_header, 3, -9},
    {"SQI needs 4", [](r2s_proto& r) { rx_header(r), r2s_proto_add_rx_sqi(&r, 1, 1); }, 3, -9},
    {"short RRC needs 7", [](r2s_proto& r) { rx_header(r), add_rrc(r, 0xFF); }, 6, -9},
    {"short RRC in 7 packs to 4", [](r2s_proto& r) { rx_header(r), add_rrc(r, 0xFF); }, 7, 4},
    {"long RRC needs 7",
     [](r2s_proto& r) { rx_header(r), add_rrc(r, 0xFF, R2S_PROTO_RRC_LONG); }, 6, -9},
    {"MAM needs 15", [](r2s_proto& r) { rx_header(r), add_mam(r); }, 14, -9},
    {"RRC form 2", [](r2s_proto& r) { rx_header(r), add_rrc(r, 0xFF, 2); }, 64, -8},
    {"RRM needs 6", [](r2s_proto& r) { tx_header(r), add_rrm(r); }, 5, -9},
    {"TX RRC needs 4", [](r2s_proto& r) { tx_header(r), add_tx_rrc(r); }, 3, -9},
};

class Ed137PackResult : public testing::TestWithParam<PackCase> {};

TEST_P(Ed137PackResult, ReturnsTheCode) {
    const r2s_proto r = record(GetParam().fill);
    Bytes out(static_cast<size_t>(GetParam().size));
    EXPECT_EQ(GetParam().result, r2s_proto_pack(&r, out.data(), GetParam().size));
}

INSTANTIATE_TEST_SUITE_P(Results, Ed137PackResult, testing::ValuesIn(pack_cases),
                         test::CaseName());

TEST(Ed137Pack, NullRecordOrBufferAndAShortBufferKeepingTheHeader) {
    const r2s_proto r = record(rx_header);
    EXPECT_EQ(-7, r2s_proto_pack(nullptr, nullptr, 8));
    EXPECT_EQ(0, r2s_proto_pack(&r, nullptr, 8));
    unsigned char out[3] = {0xEE, 0xEE, 0xEE};
    EXPECT_EQ(-9, r2s_proto_pack(&r, out, 3));
    EXPECT_EQ("21 40 00", hex_text(out, 3));
}

TEST(Ed137Pack, LeavesOutKindsTheDirectionDoesNotKnow) {
    const r2s_proto rx = record(
        [](r2s_proto& r) { rx_header(r), add_delay(r, 1), r2s_proto_add_rx_sqi(&r, 31, 2); });
    unsigned char out[16];
    ASSERT_EQ(4, r2s_proto_pack(&rx, out, 4));
    EXPECT_EQ("21 41 11 FA", hex_text(out, 4));
    const r2s_proto tx = record(
        [](r2s_proto& r) { tx_header(r), r2s_proto_add_rx_sqi(&r, 31, 2), add_delay(r, 9); });
    ASSERT_EQ(4, r2s_proto_pack(&tx, out, 4));
    EXPECT_EQ("20 01 21 09", hex_text(out, 4));
}

TEST(Ed137Setters, AddStopsAtSixteenFeaturesAndIgnoresNullItems) {
    r2s_proto r = record(rx_header);
    for (unsigned i = 0; i < 17; ++i) r2s_proto_add_rx_sqi(&r, i, 0);
    r2s_proto_add_rx_mam(&r, nullptr);
    EXPECT_EQ(16u, r.additionals_count);
    EXPECT_EQ(15u, r.additionals[15].value.sqi.quality);
    r2s_proto_reset_additionals(&r);
    r2s_proto_add_rx_mam(&r, nullptr);
    EXPECT_EQ(0u, r.additionals_count);
    EXPECT_EQ(0, r2s_proto_add_rx_sqi(nullptr, 1, 1));
}

// ---- unpack robustness

struct UnpackCase {
    const char* what;
    unsigned direction;
    std::string hex;
    int result;
    const char* features;
};

std::string seventeen_delays() {
    std::string hex = "20 01";
    for (int i = 1; i <= 17; ++i) hex += " 21 " + hex_text({static_cast<uint8_t>(i)});
    return hex;
}

const UnpackCase unpack_cases[] = {
    {"X set with length 2", R2S_PROTO_TX, "20 01", 0, ""},
    {"X clear ignores what follows", R2S_PROTO_RX, "21 40 11 FA", 0, ""},
    {"unknown item before a known one", R2S_PROTO_TX, "20 01 52 AA BB 21 2A", 0, "2:42 "},
    {"known type with another length is skipped", R2S_PROTO_RX, "21 41 12 FA 00 11 FA", 0,
     "1:31 "},
    {"RX items unknown to TX", R2S_PROTO_TX, "20 01 11 FA 4C 00 00 00 00 00 00 00 00 00 00 00 00",
     0, ""},
    {"seventeenth known feature is not read", R2S_PROTO_TX, seventeen_delays(), 0,
     "2:1 2:2 2:3 2:4 2:5 2:6 2:7 2:8 2:9 2:10 2:11 2:12 2:13 2:14 2:15 2:16 "},
    {"item past the end keeps earlier features", R2S_PROTO_RX, "21 41 11 FA 4C 00 00", -9,
     "1:31 "},
    {"type byte alone past the end", R2S_PROTO_TX, "20 01 21", -9, ""},
    {"word padding reads as empty items", R2S_PROTO_RX, "21 41 34 12 C0 03 04 00", 0, "3:0 "},
    {"shorter than the header", R2S_PROTO_RX, "21", -9, ""},
};

class Ed137Unpack : public testing::TestWithParam<UnpackCase> {};

TEST_P(Ed137Unpack, ReadsTheItems) {
    const UnpackCase& c = GetParam();
    r2s_proto r;
    r2s_proto_init(&r, 0);
    EXPECT_EQ(c.result, unpack(c.direction, r, hex_bytes(c.hex)));
    EXPECT_EQ(c.features, features(r));
}

INSTANTIATE_TEST_SUITE_P(Robustness, Ed137Unpack, testing::ValuesIn(unpack_cases),
                         test::CaseName());

TEST(Ed137Unpack, NullRecordOrBufferIsRefused) {
    const unsigned char in[2] = {0x20, 0x00};
    r2s_proto r;
    EXPECT_EQ(-7, r2s_proto_unpack_rx(nullptr, in, 2));
    EXPECT_EQ(-7, r2s_proto_unpack_tx(&r, nullptr, 2));
}

TEST(Ed137Compare, SourceIsTypeThenSsrcThenAddress) {
    r2s_proto a = record(rx_header);
    r2s_proto b = a;
    b.header.rx.ptt_id = 9;
    EXPECT_EQ(0, cmp_r2s_proto_source(&a, &b));
    b.source_addr = 7;
    EXPECT_EQ(7, cmp_r2s_proto_source(&a, &b));
    b.source_ssrc = 1;
    EXPECT_EQ(1, cmp_r2s_proto_source(&a, &b));
    b.type = R2S_PROTO_TX;
    EXPECT_EQ(-1, cmp_r2s_proto_source(&a, &b));
    EXPECT_EQ(-1, cmp_r2s_proto_source(&a, nullptr));
}

}  // namespace
