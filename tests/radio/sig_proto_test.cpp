// VARK radio packets: known answers both ways for every packet type, the
// room and length rules, the printers, names and comparisons. Runs on the
// board's own build too: the bytes must not depend on the host.

#include "radio/sig_proto.h"

#include <arpa/inet.h>
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
using Fill = std::function<void(sig_proto&)>;

in_addr addr(const char* text) {
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return a;
}

sig_proto record(const Fill& fill) {
    sig_proto p;
    sig_proto_init(&p);
    fill(p);
    return p;
}

std::string printed(const sig_proto& p, int flags = SIG_PROTO_PRINT_TYPE_NAME) {
    char text[8192];
    sprintf_sig_proto(text, sizeof text, &p, flags);
    return text;
}

bool same(const sig_proto& a, const sig_proto& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct KnownAnswer {
    const char* what;
    Fill fill;
    const char* hex;
};

const KnownAnswer known_answers[] = {
    {"GW_FLAG priority and ptt", [](sig_proto& p) { p.type = GW_FLAG, p.priority = 3, p.flag_p = 1; },
     "01 34 00 00"},
    {"GW_ADJUST_CHAN",
     [](sig_proto& p) { p.type = GW_ADJUST_CHAN, sig_proto_set_gw_adjust_chan(&p, 7, 118.5f); },
     "02 00 00 00 00 00 00 07 42 ED 00 00"},
    {"GW_FLAG_PTT t and p", [](sig_proto& p) { p.type = GW_FLAG_PTT, p.flag_t = 1, p.flag_p = 1; },
     "03 0C 00 00"},
    {"GW_FLAG_BSS", [](sig_proto& p) { p.type = GW_FLAG_BSS, p.flag_b = 1; }, "04 00 80 00"},
    {"GW_FLAG_RV", [](sig_proto& p) { p.type = GW_FLAG_RV, p.flag_rv = 1; }, "05 00 40 00"},
    {"GW_FLAG_SH", [](sig_proto& p) { p.type = GW_FLAG_SH, p.flag_sh = 1; }, "06 00 20 00"},
    {"GW_FLAG_PW", [](sig_proto& p) { p.type = GW_FLAG_PW, p.flag_pw = 1; }, "07 00 10 00"},
    {"GW_FLAG_RS with full status and selcall",
     [](sig_proto& p) { p.type = GW_FLAG_RS, p.flag_rs = 1, p.status = 0x1FF, p.flag_c = 3; },
     "08 00 0F FF"},
    {"status high and low bits", [](sig_proto& p) { p.type = GW_FLAG_RS, p.status = 0x121; },
     "08 00 09 08"},
    {"GW_SEL_CALL of 3", [](sig_proto& p) { p.type = GW_SEL_CALL, sig_proto_set_gw_selcall(&p, "ABC", 3); },
     "09 00 00 00 03 41 42 43"},
    {"GW_SEL_CALL of 4 padded",
     [](sig_proto& p) { p.type = GW_SEL_CALL, sig_proto_set_gw_selcall(&p, "ABCD", 4); },
     "09 00 00 00 04 41 42 43 44 00 00 00"},
    {"GW_SELECT_RC_CHAN",
     [](sig_proto& p) { p.type = GW_SELECT_RC_CHAN, sig_proto_set_gw_select_rc_chan(&p, 2, 17); },
     "0A 00 00 00 02 11 00 00"},
    {"GW_ADJUST_SQUELSHE",
     [](sig_proto& p) { p.type = GW_ADJUST_SQUELSHE, sig_proto_set_gw_adjust_squelsh(&p, 5); },
     "0B 00 00 00 05 00 00 00"},
    {"GW_ADJUST_RTE", [](sig_proto& p) { p.type = GW_ADJUST_RTE, sig_proto_set_gw_adjust_rte(&p, 9); },
     "0C 00 00 00 09 00 00 00"},
    {"GW_ADJUST_STANDBY",
     [](sig_proto& p) { p.type = GW_ADJUST_STANDBY, sig_proto_set_gw_adjust_standby(&p, 1); },
     "0D 00 00 00 01 00 00 00"},
    {"WM_FLAG r and s", [](sig_proto& p) { p.type = WM_FLAG, p.flag_r = 1, p.flag_s = 1; },
     "81 03 00 00"},
    {"WM_TRANS address reversed",
     [](sig_proto& p) {
         p.type = WM_TRANS, p.priority = 15, p.flag_p = 1;
         sig_proto_set_wm_transmite(&p, addr("10.1.2.3"), 5);
     },
     "82 F4 00 00 03 02 01 0A 00 00 00 05"},
    {"WM_RADIO_QUALITY",
     [](sig_proto& p) { p.type = WM_RADIO_QUALITY, sig_proto_set_wm_radio_quality(&p, 0.75f); },
     "83 00 00 00 3F 40 00 00"},
    {"WM_CHAN",
     [](sig_proto& p) { p.type = WM_CHAN, sig_proto_set_wm_chan(&p, 0x01020304, -1.0f, 7, 2); },
     "84 00 00 00 01 02 03 04 BF 80 00 00 07 02 00 00"},
    {"WM_SEL_CALL_TRANS empty",
     [](sig_proto& p) {
         p.type = WM_SEL_CALL_TRANS;
         sig_proto_set_wm_selcall_transmite(&p, addr("192.168.1.20"), 0xDEADBEEF, "", 0);
     },
     "85 00 00 00 14 01 A8 C0 DE AD BE EF 00 00 00 00"},
    {"WM_SEL_CALL_TRANS of 2",
     [](sig_proto& p) {
         p.type = WM_SEL_CALL_TRANS;
         sig_proto_set_wm_selcall_transmite(&p, addr("10.0.0.1"), 1, "XY", 2);
     },
     "85 00 00 00 01 00 00 0A 00 00 00 01 02 58 59 00"},
    {"WM_SELECT_RC_CHAN",
     [](sig_proto& p) { p.type = WM_SELECT_RC_CHAN, sig_proto_set_wm_select_rc_chan(&p, 3, 4); },
     "86 00 00 00 03 04 00 00"},
    {"WM_STANDBY", [](sig_proto& p) { p.type = WM_STANDBY, sig_proto_set_wm_standby(&p, 1, 200, 0); },
     "87 00 00 00 01 C8 00 00"},
};

// The record of a known answer, by its description.
sig_proto known_record(const std::string& what) {
    for (const KnownAnswer& k : known_answers)
        if (what == k.what) return record(k.fill);
    ADD_FAILURE() << "no known answer " << what;
    return record([](sig_proto&) {});
}

class VarkKnownAnswer : public testing::TestWithParam<KnownAnswer> {};

TEST_P(VarkKnownAnswer, PacksToTheBytes) {
    const sig_proto p = record(GetParam().fill);
    unsigned char out[300];
    const int length = sig_proto_pack(&p, out, sizeof out);
    ASSERT_GT(length, 0);
    EXPECT_EQ(GetParam().hex, hex_text(out, static_cast<size_t>(length)));
}

TEST_P(VarkKnownAnswer, UnpacksToTheRecord) {
    const sig_proto expected = record(GetParam().fill);
    const Bytes in = hex_bytes(GetParam().hex);
    sig_proto p;
    sig_proto_init(&p);
    ASSERT_EQ(0, sig_proto_unpack(&p, in.data(), static_cast<int>(in.size())));
    EXPECT_TRUE(same(expected, p)) << printed(expected) << "---\n" << printed(p);
}

INSTANTIATE_TEST_SUITE_P(EveryType, VarkKnownAnswer, testing::ValuesIn(known_answers),
                         test::CaseName());

TEST(VarkPack, WritesOnlyTheLowBitsOfEachHeaderField) {
    const sig_proto p = record([](sig_proto& p) {
        p.type = 0x181, p.priority = 0x1F, p.flag_t = 2, p.flag_p = 3, p.status = 0x3FF,
        p.flag_c = 5;
    });
    unsigned char out[4];
    ASSERT_EQ(4, sig_proto_pack(&p, out, sizeof out));
    EXPECT_EQ("81 F4 0F FA", hex_text(out, 4));
}

// ---- results: room on pack, lengths on unpack

struct PackCase {
    const char* what;
    Fill fill;
    int size;
    int result;
    const char* buffer;  // the whole buffer after the call
};

const PackCase pack_cases[] = {
    {"buffer below the header", [](sig_proto& p) { p.type = GW_FLAG; }, 3, -9, "EE EE EE"},
    {"caller identity needs its length plus 12",
     [](sig_proto& p) { p.type = GW_SEL_CALL, p.flag_p = 1, sig_proto_set_gw_selcall(&p, "ABC", 3); },
     14, -9, "09 04 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"caller identity with its room",
     [](sig_proto& p) { p.type = GW_SEL_CALL, sig_proto_set_gw_selcall(&p, "ABC", 3); }, 15, 8,
     "09 00 00 00 03 41 42 43 00 00 00 00 00 00 00"},
    {"caller length kept as given",
     [](sig_proto& p) { p.type = GW_SEL_CALL, sig_proto_set_gw_selcall(&p, "ABC", 5); }, 17, 12,
     "09 00 00 00 05 41 42 43 00 00 00 00 00 00 00 00 00"},
    {"null caller identity",
     [](sig_proto& p) { p.type = GW_SEL_CALL, sig_proto_set_gw_selcall(&p, nullptr, 9); }, 12, 8,
     "09 00 00 00 00 00 00 00 00 00 00 00"},
    {"WM_SEL_CALL_TRANS needs its length plus 20",
     [](sig_proto& p) { p.type = WM_SEL_CALL_TRANS; }, 19, -9,
     "85 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"WM_CHAN needs 16", [](sig_proto& p) { p.type = WM_CHAN; }, 15, -9,
     "84 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"WM_TRANS needs 12", [](sig_proto& p) { p.type = WM_TRANS; }, 11, -9,
     "82 00 00 00 00 00 00 00 00 00 00"},
    {"WM_STANDBY needs 8", [](sig_proto& p) { p.type = WM_STANDBY; }, 7, -9,
     "87 00 00 00 00 00 00"},
    {"unknown type 14 is the header", [](sig_proto& p) { p.type = 14, p.flag_b = 1; }, 8, 4,
     "0E 00 80 00 00 00 00 00"},
    {"unknown type 200 is the header", [](sig_proto& p) { p.type = 200; }, 4, 4, "C8 00 00 00"},
};

class VarkPackResult : public testing::TestWithParam<PackCase> {};

TEST_P(VarkPackResult, FillsTheBuffer) {
    const PackCase& c = GetParam();
    const sig_proto p = record(c.fill);
    Bytes out(static_cast<size_t>(c.size), 0xEE);
    EXPECT_EQ(c.result, sig_proto_pack(&p, out.data(), c.size));
    EXPECT_EQ(c.buffer, hex_text(out));
}

INSTANTIATE_TEST_SUITE_P(Rooms, VarkPackResult, testing::ValuesIn(pack_cases), test::CaseName());

TEST(VarkPack, NullRecordOrBufferPacksNothing) {
    const sig_proto p = record([](sig_proto& p) { p.type = GW_FLAG; });
    unsigned char out[8];
    EXPECT_EQ(0, sig_proto_pack(nullptr, out, sizeof out));
    EXPECT_EQ(0, sig_proto_pack(&p, nullptr, 8));
}

struct UnpackCase {
    const char* what;
    const char* hex;
    int result;
};

const UnpackCase unpack_cases[] = {
    {"shorter than the header", "01 00 00", -9},
    {"type 14 is unknown", "0E FF FF FF 01 02 03 04", -8},
    {"type 200 is unknown", "C8 00 00 00", -8},
    {"type 0 is unknown", "00 00 00 00", -8},
    {"GW_SELECT_RC_CHAN of 6 bytes", "0A 00 00 00 02 11", -9},
    {"GW_SEL_CALL saying 10 in 12 bytes", "09 00 00 00 0A 41 42 43 44 45 46 47", -9},
    {"GW_SEL_CALL without its length byte", "09 00 00 00", -9},
    {"WM_SEL_CALL_TRANS without its length byte", "85 00 00 00 01 00 00 0A 00 00 00 01", -9},
    {"WM_SEL_CALL_TRANS one caller byte short", "85 00 00 00 01 00 00 0A 00 00 00 01 02 58", -9},
    {"WM_CHAN of 15 bytes", "84 00 00 00 01 02 03 04 BF 80 00 00 07 02 00", -9},
    {"GW_ADJUST_CHAN of 11 bytes", "02 00 00 00 00 00 00 07 42 ED 00", -9},
};

class VarkUnpackResult : public testing::TestWithParam<UnpackCase> {};

// A failed unpack leaves the record as it was, but for the type of an
// unknown packet.
TEST_P(VarkUnpackResult, LeavesTheRecordAlone) {
    const UnpackCase& c = GetParam();
    const Bytes in = hex_bytes(c.hex);
    sig_proto before = known_record("WM_CHAN");
    before.source_addr = 0x0100007F;
    sig_proto p = before;
    EXPECT_EQ(c.result, sig_proto_unpack(&p, in.data(), static_cast<int>(in.size())));
    if (c.result == -8) before.type = in[0];
    EXPECT_TRUE(same(before, p)) << printed(p);
}

INSTANTIATE_TEST_SUITE_P(Lengths, VarkUnpackResult, testing::ValuesIn(unpack_cases),
                         test::CaseName());

TEST(VarkUnpack, NullRecordOrBufferIsRefused) {
    const Bytes in = hex_bytes("01 00 00 00");
    sig_proto p;
    EXPECT_EQ(-7, sig_proto_unpack(nullptr, in.data(), 4));
    EXPECT_EQ(-7, sig_proto_unpack(&p, nullptr, 4));
}

TEST(VarkUnpack, KeepsBodyFieldsTheTypeDoesNotCarryAndIgnoresTrailingBytes) {
    sig_proto p = record([](sig_proto& p) { sig_proto_set_wm_chan(&p, 1, 2.0f, 3, 4); });
    const Bytes in = hex_bytes("83 00 00 00 3F 40 00 00 AA BB CC DD EE");  // radio quality
    ASSERT_EQ(0, sig_proto_unpack(&p, in.data(), static_cast<int>(in.size())));
    EXPECT_EQ(0.75f, p.body.wm_radio_quality.radio_quality);
    EXPECT_EQ(2.0f, p.body.wm_chan.freq);
    EXPECT_EQ(3, p.body.wm_chan.squelsh);
}

// ---- setters

TEST(VarkSetters, BaseAndPttLeaveFieldsGivenBelowZero) {
    sig_proto p = record([](sig_proto& p) {
        sig_proto_set_base(&p, 5, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 0x1FF);
    });
    sig_proto_set_base(&p, -1, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, 7);
    sig_proto_set_ptt(&p, -1);
    EXPECT_EQ(5u, p.priority);
    EXPECT_EQ(0u, p.flag_t);
    EXPECT_EQ(1u, p.flag_p);
    EXPECT_EQ(3u, p.flag_c);
    EXPECT_EQ(7u, p.status);
    sig_proto_set_ptt(&p, 0);
    EXPECT_EQ(0u, p.flag_p);
}

TEST(VarkSetters, PttCommandsAreTheSixPttBearingTypes) {
    std::string ptt;
    for (int type = 0; type < 256; ++type) {
        sig_proto p = record([type](sig_proto& p) { p.type = uint32_t(type); });
        if (sig_proto_is_ptt_command(&p)) ptt += std::to_string(type) + " ";
    }
    EXPECT_EQ("1 3 9 129 130 133 ", ptt);
    EXPECT_EQ(0, sig_proto_is_ptt_command(nullptr));
}

TEST(VarkSetters, QueuePresetsSeventeenTypesAndMarksTheRestUnused) {
    static sig_proto_queue queue;
    std::memset(&queue, 0x5A, sizeof queue);
    init_sig_proto_queue(&queue);
    std::string types;
    for (const sig_proto& p : queue.packets) types += std::to_string(int32_t(p.type)) + " ";
    EXPECT_EQ("1 3 4 5 6 7 8 2 9 10 13 129 130 132 131 133 135 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 "
              "-1 -1 -1 -1 ",
              types);
    EXPECT_EQ(0u, queue.packets[0].flag_p);
    EXPECT_EQ(0, queue.area[127]);
}

// ---- printers, names, comparisons

const char* const flag_lines =
    "flag_t   : 0,\nflag_p   : 1,\nflag_r   : 0,\nflag_s   : 0,\nflag_b   : 1,\n"
    "flag_rv  : 0,\nflag_sh  : 0,\nflag_rs  : 0,\nflag_pw  : 0,\nflag_c   : 2,\n";
const char* const body_lines =
    "priority : 5,\nstatus   : 3,\n"
    "wm_sel_call_trans.session_addr : 10.1.2.3,\n"
    "wm_sel_call_trans.ssrc         : 0x0000ABCD,\n"
    "wm_sel_call_trans.callerID_length: 2,\n"
    "wm_sel_call_trans.callerID : \n"
    "[0] : 0x41,\n[1] : 0xFF,\n";

sig_proto print_sample() {
    return record([](sig_proto& p) {
        p.type = WM_SEL_CALL_TRANS;
        sig_proto_set_base(&p, 5, 0, 1, 0, 0, 1, 0, 0, 0, 0, 2, 3);
        sig_proto_set_wm_selcall_transmite(&p, addr("10.1.2.3"), 0xABCD, "A\xFF", 2);
    });
}

TEST(VarkPrinter, PrintsTheTypeByFlags) {
    const sig_proto p = print_sample();
    EXPECT_EQ(flag_lines, printed(p, SIG_PROTO_PRINT_FLAGS_ONLY));
    EXPECT_EQ(std::string("type      : WM_SEL_CALL_TRANS,\n") + flag_lines + body_lines,
              printed(p, SIG_PROTO_PRINT_TYPE_NAME));
    EXPECT_EQ(std::string("type      : 0x00000085,\n") + flag_lines + body_lines,
              printed(p, SIG_PROTO_PRINT_TYPE_HEX));
    char text[8192];
    EXPECT_EQ(int(printed(p, 1).size()), sprintf_sig_proto(text, sizeof text, &p, 1));
}

TEST(VarkPrinter, BodiesOfGatewayTypes) {
    const sig_proto chan = known_record("GW_ADJUST_CHAN");
    EXPECT_EQ("type      : GW_ADJUST_CHAN,\n", printed(chan).substr(0, 28));
    EXPECT_NE(std::string::npos, printed(chan).find("gw_adjust_chan.id   : 7,\n"
                                                    "gw_adjust_chan.freq : 118.5000,\n"));
    const sig_proto quality = known_record("WM_RADIO_QUALITY");
    EXPECT_NE(std::string::npos,
              printed(quality).find("wm_radio_quality.radio_quality : 0.75000,\n"));
}

TEST(VarkPrinter, UnnamedAndUnknownTypesAndShortBuffers) {
    const sig_proto zero = record([](sig_proto&) {});
    EXPECT_EQ("type      : 0x00000000,\n", printed(zero).substr(0, 24));
    const sig_proto unknown = record([](sig_proto& p) { p.type = 200; });
    char text[64] = "x";
    EXPECT_EQ(0, sprintf_sig_proto(text, sizeof text, &unknown, 1));
    EXPECT_EQ(0, sprintf_sig_proto(text, 0, &zero, 1));
    EXPECT_EQ(0, sprintf_sig_proto(nullptr, 64, &zero, 1));
    EXPECT_EQ(11, sprintf_sig_proto(text, 12, &zero, 1));
    EXPECT_STREQ("type      :", text);
}

TEST(VarkNames, LookupsScanToTheTerminator) {
    EXPECT_EQ(nullptr, sig_proto_find_name_by_id(sig_proto_packet_const_name, 0));
    EXPECT_EQ(nullptr, sig_proto_find_name_by_id(sig_proto_packet_const_name, 200));
    EXPECT_EQ(nullptr, sig_proto_find_name_by_id(nullptr, 1));
    EXPECT_STREQ("GW_ADJUST_SQUELSHE", sig_proto_find_name_by_id(sig_proto_packet_const_name, 11));
    EXPECT_EQ(132, sig_proto_find_id_by_name(sig_proto_packet_const_name, "WM_CHAN"));
    EXPECT_EQ(-1, sig_proto_find_id_by_name(sig_proto_packet_const_name, ""));
    EXPECT_EQ(-1, sig_proto_find_id_by_name(sig_proto_packet_const_name, "WM_chan"));
    EXPECT_EQ(-1, sig_proto_find_id_by_name(sig_proto_packet_const_name, nullptr));
    EXPECT_EQ(-1, sig_proto_find_id_by_name(nullptr, "WM_CHAN"));
    int rows = 0;
    while (sig_proto_packet_const_name[rows].id >= 0) ++rows;
    EXPECT_EQ(20, rows);
}

TEST(VarkCompare, WholeRecordFlagsOnlyAndSource) {
    const sig_proto a = print_sample();
    sig_proto b = a;
    EXPECT_EQ(0, cmp_sig_proto(&a, &b));
    b.body.wm_sel_call_trans.callerID[1] = 0x42;
    EXPECT_NE(0, cmp_sig_proto(&a, &b));
    EXPECT_EQ(0, cmp_sig_proto_flags(&a, &b));
    b.priority = 9;
    EXPECT_EQ(0, cmp_sig_proto_flags(&a, &b));
    b.flag_rs = 1;
    EXPECT_NE(0, cmp_sig_proto_flags(&a, &b));
    EXPECT_EQ(-1, cmp_sig_proto(&a, nullptr));
    EXPECT_EQ(-1, cmp_sig_proto_flags(nullptr, &b));

    // The header comparison looks at type, source SSRC and address only.
    EXPECT_EQ(0, cmp_sig_proto_header(&a, &b));
    b.source_addr = a.source_addr + 4;
    EXPECT_EQ(4, cmp_sig_proto_header(&a, &b));
    b.source_ssrc = a.source_ssrc + 2;
    EXPECT_EQ(2, cmp_sig_proto_header(&a, &b));
    b.type = a.type - 3;
    EXPECT_EQ(-3, cmp_sig_proto_header(&a, &b));
    EXPECT_EQ(-1, cmp_sig_proto_header(nullptr, &b));
}

}  // namespace
