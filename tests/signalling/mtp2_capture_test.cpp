// A capture of two links back to back, read back by tshark: every unit well
// formed, and tshark's reading of numbers, indicator bits, lengths and
// statuses the same as ours.

#include <gtest/gtest.h>

#include <set>

#include "tests/link/packet_pool_check.h"
#include "tests/support/line_capture.h"
#include "tests/support/mtp2_rig.h"
#include "tests/support/mtp2_units.h"
#include "tests/support/tshark.h"
#include "tests/support/virtual_loop.h"

namespace {

namespace mtp2 = test::mtp2;
using test::Mtp2Rig;

// 7-bit numbers and no FCS (tshark's defaults, pinned against local
// preferences); the payloads are opaque MTP3 that tshark would flag.
const std::vector<std::string> mtp2_options = {
    "-o", "mtp2.use_extended_sequence_numbers:FALSE",
    "-o", "mtp2.capture_contains_frame_check_sequence:FALSE",
    "--disable-protocol", "mtp3"};

const std::vector<std::string> fields = {"mtp2.bsn", "mtp2.bib", "mtp2.fsn",     "mtp2.fib",
                                         "mtp2.li",  "mtp2.sf",  "mtp2.li.bad", "_ws.malformed"};

// tshark's reading of one unit in the form of mtp2::describe.
std::string describe(const test::TsharkFields& unit) {
    static const char* const statuses[] = {"SIO", "SIN", "SIE", "SIOS"};
    if (!unit.at("mtp2.sf").empty()) {
        const unsigned sf = std::stoul(unit.at("mtp2.sf"), nullptr, 0);
        return sf < 4 ? statuses[sf] : "LSSU " + std::to_string(sf);
    }
    const std::string numbers = unit.at("mtp2.bsn") + "/" + unit.at("mtp2.bib") + " " +
                                unit.at("mtp2.fsn") + "/" + unit.at("mtp2.fib");
    return (unit.at("mtp2.li") == "0" ? "FISU " : "MSU ") + numbers;
}

class Mtp2CaptureTest : public PacketPoolCheck {
protected:
    void TearDown() override {
        rig.reset();
        PacketPoolCheck::TearDown();
    }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<Mtp2Rig> rig{new Mtp2Rig};
};

// Emergency alignment on one side, MSUs of 3 to 273 octets both ways with
// one lost and resent, then deactivation: all four statuses, FISUs, both
// indicator bits and every LI from 3 to 63 are on the line.
TEST_F(Mtp2CaptureTest, CaptureReadsAsWeSentIt) {
    if (test::tshark_program().empty()) GTEST_SKIP() << test::tshark_missing;
    test::PcapWriter pcap(test::PcapWriter::mtp2);
    std::vector<std::string> ours;
    std::vector<unsigned> payloadLengths;
    {
        test::LineCapture fromA(pcap, rig->line.a, test::LineCapture::sent_as_is);
        test::LineCapture fromB(pcap, rig->line.b, test::LineCapture::sent_as_is);
        for (test::HdlcEnd* end : {&rig->line.a, &rig->line.b})
            end->add_tap([&](const Packet& su, bool sent) {
                if (!sent) return;
                ours.push_back(mtp2::describe(su));
                payloadLengths.push_back(su.length() - 3);
            });
        rig->a->set_emergency(true);
        rig->align(loop);
        rig->line.a.drop = test::nth(3, mtp2::is_msu);
        for (unsigned length : {3u, 20u, 61u, 62u, 63u, 64u, 273u}) {
            Mtp2Rig::send(*rig->a, std::string(length, char(length)));
            Mtp2Rig::send(*rig->b, std::string(length, char(length)));
        }
        loop.advance(10);
        rig->a->deactivate();
        loop.advance(10);
    }
    ASSERT_EQ(7u, rig->bOwner->messages.size());
    ASSERT_EQ(1u, rig->a->statistics().repeatCntr);

    std::string error;
    const auto units = test::tshark_fields(pcap, mtp2_options, fields, &error);
    ASSERT_TRUE(error.empty()) << error;
    std::vector<std::string> theirs;
    std::set<std::string> statuses;
    for (size_t i = 0; i < units.size(); ++i) {
        const auto& unit = units[i];
        EXPECT_EQ("", unit.at("_ws.malformed")) << i;
        EXPECT_EQ("", unit.at("mtp2.li.bad")) << i;
        theirs.push_back(describe(unit));
        if (!unit.at("mtp2.sf").empty()) {
            statuses.insert(theirs.back());
        } else {
            EXPECT_EQ(std::to_string(std::min(payloadLengths[i], 63u)), unit.at("mtp2.li")) << i;
        }
    }
    EXPECT_EQ(ours, theirs);
    EXPECT_EQ((std::set<std::string>{"SIO", "SIN", "SIE", "SIOS"}), statuses);
    const auto msu62 = std::find(payloadLengths.begin(), payloadLengths.end(), 62u);
    ASSERT_NE(payloadLengths.end(), msu62);
    EXPECT_EQ("62", units[msu62 - payloadLengths.begin()].at("mtp2.li"));
}

}  // namespace
