// ED-137 extensions as an independent dissector reads them: each packed
// extension goes into an RTP packet of the ED-137 header-extension profile,
// one capture per test, dissected in one tshark run. RX extensions must
// dissect to the record's own values, TX extensions to what the codec reads
// back from the same bytes.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "radio/ed137_radio_control.h"
#include "radio/r2s_proto.h"
#include "tests/support/pcap_writer.h"
#include "tests/support/rtp_ext_session.h"
#include "tests/support/tshark.h"
#include "tests/support/virtual_loop.h"

namespace {

constexpr uint16_t ed137_profile = 0x0167;
constexpr uint16_t rtp_port = 5004;
const char* const a = "rtp.ext.ed137a.";
const char* const b = "rtp.ext.ed137b.ft.";

const char* const rrc_bits[8] = {"mstxf1",  "msrxf1",  "mstxf2", "msrxf2",
                                 "seltxf1", "seltxf2", "murxf1", "murxf2"};

// The fields expected of one packet: each field's values in item order.
class Expected {
public:
    void add(const std::string& field, unsigned long value) {
        add_text(field, std::to_string(value));
    }
    void add_text(const std::string& field, const std::string& value) {
        std::string& values = fields_[field];
        values += (values.empty() ? "" : ",") + value;
    }
    std::string operator[](const std::string& field) const {
        auto it = fields_.find(field);
        return it == fields_.end() ? "" : it->second;
    }

private:
    std::map<std::string, std::string> fields_;
};

std::vector<std::string> with_prefix(const char* prefix, std::vector<std::string> names) {
    for (std::string& name : names) name = prefix + name;
    return names;
}

std::vector<std::string> dissected_fields() {
    std::vector<std::string> fields = with_prefix(
        a, {"ptt_type", "squ", "ptt_id", "pm", "ptts", "sct", "x", "ft.type", "ft.len",
            "ft.value", "ft.sqi.qidx", "ft.sqi.qidx-ml", "ft.climax_delay.mode",
            "ft.climax_delay.relative_value", "ft.climax_delay.absolute_value"});
    for (const char* bit : rrc_bits) fields.push_back(std::string(b) + "rrc." + bit);
    for (const char* ddc : {"mam_tqg", "mam_t1", "mam_nmr", "mam_t2", "mam_tsd", "mam_tj1",
                            "mam_tid", "rmm_tqv", "rmm_t1"})
        fields.push_back(std::string(b) + "climax_ddc." + ddc);
    return fields;
}

test::Bytes packed(const r2s_proto& r) {
    unsigned char out[256];
    const int length = r2s_proto_pack(&r, out, sizeof out);
    EXPECT_GT(length, 0);
    return test::Bytes(out, out + (length > 0 ? length : 0));
}

std::string hex_lower(const test::Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) text += {digits[byte >> 4], digits[byte & 0xF]};
    return text;
}

void expect_rrc_bits(Expected& e, const uint32_t (&bits)[8]) {
    for (int i = 0; i < 8; ++i) e.add(std::string(b) + "rrc." + rrc_bits[i], bits[i]);
}

void expect_feature_head(Expected& e, unsigned type, unsigned length) {
    char text[8];
    snprintf(text, sizeof text, "0x%02x", type);
    e.add_text(std::string(a) + "ft.type", text);
    e.add(std::string(a) + "ft.len", length);
}

// What the dissector shows of a record; TX headers have no squ and no sct.
Expected expected_of(const r2s_proto& r, const test::Bytes& wire) {
    Expected e;
    const bool rx = r.type == R2S_PROTO_RX;
    e.add(std::string(a) + "ptt_type", r.header.rx.ptt_type);
    e.add(std::string(a) + "squ", rx ? r.header.rx.squ : 0);
    e.add(std::string(a) + "ptt_id", rx ? r.header.rx.ptt_id : r.header.tx.ptt_id);
    e.add(std::string(a) + "pm", rx ? r.header.rx.ptt_mute : r.header.tx.ptt_mute);
    e.add(std::string(a) + "ptts", rx ? r.header.rx.ptt_summation : r.header.tx.ptt_summation);
    e.add(std::string(a) + "sct", rx ? r.header.rx.sct : 0);
    e.add(std::string(a) + "x", r.additionals_count > 0);
    size_t at = 2;  // the wire position of the next item
    for (unsigned i = 0; i < r.additionals_count; ++i) {
        const r2s_proto_additional& item = r.additionals[i];
        const unsigned length = wire.at(at) & 0xF;
        expect_feature_head(e, item.kind, length);
        if (item.kind == R2S_PROTO_ADDITIONAL_SQI) {
            e.add(std::string(a) + "ft.sqi.qidx", item.value.sqi.quality);
            e.add(std::string(a) + "ft.sqi.qidx-ml", item.value.sqi.method);
        } else if (item.kind == R2S_PROTO_ADDITIONAL_CLIMAX_TIME_DELAY) {
            const unsigned delay = item.value.time_delay.delay;
            e.add(std::string(a) + "ft.climax_delay.mode", delay >> 7);
            e.add(std::string(a) + "ft.climax_delay." +
                      (delay >> 7 ? "absolute_value" : "relative_value"),
                  delay & 0x7F);
        } else if (item.kind == R2S_PROTO_ADDITIONAL_RRC && !rx) {
            expect_rrc_bits(e, item.value.tx_rrc.bits);
        } else if (item.kind == R2S_PROTO_ADDITIONAL_RRC &&
                   item.value.rx_rrc.form == R2S_PROTO_RRC_SHORT) {
            expect_rrc_bits(e, item.value.rx_rrc.bits);
        } else if (item.kind == R2S_PROTO_ADDITIONAL_RRC) {  // long form: raw bytes
            e.add_text(std::string(a) + "ft.value",
                       hex_lower(test::Bytes(wire.begin() + long(at) + 1,
                                             wire.begin() + long(at + 1 + length))));
        } else if (rx) {
            const r2s_proto_rx_additional_mam& mam = item.value.mam;
            const std::string ddc = std::string(b) + "climax_ddc.mam_";
            for (auto [name, value] : {std::pair{"tqg", mam.tqg}, {"t1", mam.t1},
                                       {"nmr", mam.nmr}, {"t2", mam.t2}, {"tsd", mam.tsd},
                                       {"tj1", mam.tj1}, {"tid", mam.tid}})
                e.add(ddc + name, value);
        } else {
            e.add(std::string(b) + "climax_ddc.rmm_tqv", item.value.rrm.tqv);
            e.add(std::string(b) + "climax_ddc.rmm_t1", item.value.rrm.t1);
        }
        at += 1 + length;
    }
    return e;
}

// Dissects every extension in one tshark run and compares each packet's
// fields with `expected(extension)`.
template <class Expect>
void expect_dissected(const std::vector<test::Bytes>& extensions, Expect expected) {
    test::PcapWriter capture;
    uint16_t seq = 1;
    for (const test::Bytes& extension : extensions)
        capture.add_udp(rtp_port, test::rtp_with_extension(ed137_profile, extension, seq++));
    const std::vector<std::string> fields = dissected_fields();
    std::string error;
    const std::vector<test::TsharkFields> packets =
        test::tshark_fields(capture, {"-d", "udp.port==5004,rtp"}, fields, &error);
    ASSERT_EQ(extensions.size(), packets.size()) << error;
    for (size_t i = 0; i < packets.size(); ++i) {
        const Expected e = expected(extensions[i]);
        for (const std::string& field : fields)
            EXPECT_EQ(e[field], packets[i].at(field))
                << field << " of packet " << i + 1 << ": " << test::hex_text(extensions[i]);
    }
}

class Ed137Tshark : public testing::Test {
protected:
    void SetUp() override {
        if (test::tshark_program().empty()) GTEST_SKIP() << test::tshark_missing;
    }
};

r2s_proto rx(unsigned ptt_type, unsigned squ, unsigned ptt_id, unsigned pm, unsigned ptts,
             unsigned sct) {
    r2s_proto r;
    r2s_proto_init(&r, R2S_PROTO_RX);
    r2s_proto_set_rx_header(&r, ptt_type, squ, ptt_id, pm, ptts, sct);
    return r;
}

r2s_proto tx(unsigned ptt_type, unsigned ptt_id, unsigned pm, unsigned ptts) {
    r2s_proto r;
    r2s_proto_init(&r, R2S_PROTO_TX);
    r2s_proto_set_tx_header(&r, ptt_type, ptt_id, pm, ptts);
    return r;
}

r2s_proto_rx_additional_rrc rrc(unsigned bits, unsigned form) {
    r2s_proto_rx_additional_rrc item{};
    for (int i = 0; i < 8; ++i) item.bits[i] = (bits >> (7 - i)) & 1;
    item.form = form;
    item.long_bits[0] = 1;
    item.long_bytes[0] = 0x5A;
    item.long_bytes[1] = 0xC3;
    return item;
}

TEST_F(Ed137Tshark, RxExtensionsDissectToTheirOwnValues) {
    std::vector<r2s_proto> records = {rx(1, 1, 5, 1, 0, 1), rx(4, 0, 63, 0, 1, 0),
                                      rx(0, 1, 42, 1, 1, 1), rx(7, 0, 1, 0, 0, 0),
                                      rx(2, 1, 33, 0, 0, 0), rx(3, 0, 0, 1, 1, 0)};
    r2s_proto_add_rx_sqi(&records[1], 31, 2);
    r2s_proto_add_rx_sqi(&records[1], 6, 5);
    const r2s_proto_rx_additional_rrc shortRrc = rrc(0xA5, R2S_PROTO_RRC_SHORT);
    const r2s_proto_rx_additional_rrc otherRrc = rrc(0x5A, R2S_PROTO_RRC_SHORT);
    r2s_proto_add_rx_rrc(&records[2], &shortRrc);
    r2s_proto_add_rx_rrc(&records[2], &otherRrc);
    const r2s_proto_rx_additional_mam mam = {1, 0x123456, 0, 0x7FFFFF, 0xABCD, 1, 0xFFFF};
    r2s_proto_add_rx_mam(&records[3], &mam);
    const r2s_proto_rx_additional_rrc longRrc = rrc(0x12, R2S_PROTO_RRC_LONG);
    r2s_proto_add_rx_rrc(&records[4], &longRrc);
    r2s_proto_add_rx_sqi(&records[5], 17, 1);
    r2s_proto_add_rx_rrc(&records[5], &shortRrc);
    r2s_proto_add_rx_mam(&records[5], &mam);

    std::vector<test::Bytes> extensions;
    for (const r2s_proto& r : records) extensions.push_back(packed(r));
    size_t next = 0;
    expect_dissected(extensions, [&](const test::Bytes& wire) {
        return expected_of(records.at(next++), wire);
    });
}

TEST_F(Ed137Tshark, TxExtensionsDissectToWhatTheCodecReads) {
    std::vector<r2s_proto> records = {tx(1, 5, 0, 1), tx(6, 63, 1, 0), tx(1, 0, 0, 0),
                                      tx(2, 17, 1, 1), tx(5, 2, 0, 0)};
    const r2s_proto_tx_additional_climax_time_delay relative = {0x2A}, absolute = {0x85};
    const r2s_proto_tx_additional_rrc txRrc = {{0, 1, 0, 1, 1, 0, 1, 0}};
    const r2s_proto_tx_additional_rrm rrm = {1, 0x012345};
    r2s_proto_add_tx_time_delay(&records[1], &relative);
    r2s_proto_add_tx_time_delay(&records[2], &absolute);
    r2s_proto_add_tx_rrc(&records[3], &txRrc);
    r2s_proto_add_tx_rrm(&records[4], &rrm);
    r2s_proto_add_tx_rrc(&records[4], &txRrc);
    r2s_proto_add_tx_time_delay(&records[4], &absolute);

    std::vector<test::Bytes> extensions;
    for (const r2s_proto& r : records) extensions.push_back(packed(r));
    expect_dissected(extensions, [](const test::Bytes& wire) {
        r2s_proto read;
        r2s_proto_init(&read, 0);
        EXPECT_EQ(0, r2s_proto_unpack_tx(&read, wire.data(), int(wire.size())));
        return expected_of(read, wire);
    });
}

// What the ED-137 gateway writes for a host's RX command, through the
// simulated header-extension device.
TEST_F(Ed137Tshark, TheGatewaysRxExtensionCarriesTheHostsHeaderAndQuality) {
    test::VirtualLoop loop;
    board::sim::Board::instance().reset();
    const Fd rtp = test::open_rtp_session();
    RTPSignalling::ED137RadioGWControl gateway(
        5, {rtp.get(), -1}, {board::rtp_ext::kEd137Profile, 0, {1, 123, 10, 1}});
    TERM::RadioModifier command;
    std::istringstream("ed-137 : { addr { session-addr \"127.0.0.2\", session-ssrc 9 }, "
                       "params rx : { header { ptt normal-ptt-on, squ squ-on, ptt-id 5, "
                       "ptt-mute FALSE, ptt-summation FALSE, sct FALSE }, "
                       "sqi { bss-method c-n, bss-quality 20 } } }") >>
        command;
    ASSERT_EQ(1, gateway.SendASNToChan(command));

    std::string error;
    const auto packets = test::tshark_fields(
        test::capture_of(*test::rtp_ext().session(gateway.ext_fd())),
        {"-d", "udp.port==5004,rtp"},
        {std::string(a) + "ptt_type", std::string(a) + "squ", std::string(a) + "ptt_id",
         std::string(a) + "ft.sqi.qidx", std::string(a) + "ft.sqi.qidx-ml"},
        &error);
    ASSERT_EQ(1u, packets.size()) << error;
    const std::map<std::string, std::string> expected = {
        {"ptt_type", "1"}, {"squ", "1"}, {"ptt_id", "5"}, {"ft.sqi.qidx", "20"},
        {"ft.sqi.qidx-ml", "2"}};
    for (const auto& [field, value] : expected)
        EXPECT_EQ(value, packets[0].at(std::string(a) + field)) << field;
}

}  // namespace
