// Captures of a user/network pair read back by tshark: every frame well
// formed, and tshark's reading of numbers, P/F and command/response the same
// as ours.

#include <gtest/gtest.h>

#include <map>

#include "tests/link/packet_pool_check.h"
#include "tests/support/lapd_frames.h"
#include "tests/support/lapd_rig.h"
#include "tests/support/lapd_capture.h"
#include "tests/support/tshark.h"
#include "tests/support/virtual_loop.h"

namespace {

namespace lapd = test::lapd;
using test::LapdRig;

// The payloads are not Q.931: tshark would flag them.
const std::vector<std::string> no_q931 = {"--disable-protocol", "q931"};

// tshark's reading of one frame in the form of lapd::describe; the fields
// are those of `columns`.
const std::vector<std::string> columns = {
    "lapd.control.ftype", "lapd.control.n_s", "lapd.control.n_r",
    "lapd.control.s_ftype", "lapd.control.p", "lapd.control.f",
    "lapd.control.u_modifier_cmd", "lapd.control.u_modifier_resp",
    "lapd.cr", "lapd.direction"};

std::string describe(const test::TsharkFields& packet) {
    std::vector<std::string> f;
    for (const auto& column : columns) f.push_back(packet.at(column));
    std::string text;
    if (f[0] == "0x0000") {
        text = "I " + f[1] + "/" + f[2];
    } else if (f[0] == "0x0001") {
        static const char* const names[] = {"RR", "RNR", "REJ", "S?"};
        text = std::string(names[std::stoi(f[3], nullptr, 16) & 3]) + " " + f[2];
    } else {
        // The modifier bits as tshark packs them.
        static const std::map<std::string, std::string> names = {
            {"0x1b", "SABME"}, {"0x10", "DISC"}, {"0x18", "UA"}, {"0x03", "DM"}};
        const std::string& modifier = f[6].empty() ? f[7] : f[6];
        text = names.count(modifier) ? names.at(modifier) : "U " + modifier;
    }
    // tshark takes the direction from the pseudo-header: 0 user to network.
    const bool fromUser = f[9] == "0";
    const bool command = fromUser ? f[8] == "0" : f[8] == "1";
    if (f[4] == "1" || f[5] == "1") text += command ? " P" : " F";
    return text + (command ? " cmd" : " resp");
}

class LapdCaptureTest : public PacketPoolCheck, public ::testing::WithParamInterface<bool> {
protected:
    void TearDown() override {
        rig.reset();
        PacketPoolCheck::TearDown();
    }
    // Establishment, ten messages each way with one I frame lost, an idle
    // poll and release; what the capture end saw, described by us.
    std::vector<std::string> run_scenario(test::HdlcEnd& end, bool networkSide) {
        std::vector<std::string> seen;
        const int tap = end.add_tap([&seen, networkSide](const Packet& frame, bool sent) {
            seen.push_back(lapd::describe(frame, sent == networkSide));
        });
        rig->line.a.drop = test::nth(3, lapd::is_i);
        rig->establish();
        loop.advance(10);
        for (unsigned i = 0; i < 10; ++i) {
            rig->send(*rig->user, LapdRig::numbered("u", i));
            rig->send(*rig->network, LapdRig::numbered("n", i));
        }
        loop.advance(10500);
        rig->user->deactivate();
        loop.advance(10);
        end.remove_tap(tap);
        return seen;
    }
    void check(const test::PcapWriter& capture, const std::vector<std::string>& ours) {
        std::vector<std::string> fields = columns;
        fields.insert(fields.end(), {"_ws.malformed", "_ws.expert.severity"});
        std::string error;
        const auto packets = test::tshark_fields(capture, no_q931, fields, &error);
        ASSERT_TRUE(error.empty()) << error;
        std::vector<std::string> theirs;
        for (const auto& packet : packets) {
            EXPECT_EQ("", packet.at("_ws.malformed"));
            EXPECT_EQ("", packet.at("_ws.expert.severity"));
            theirs.push_back(describe(packet));
        }
        EXPECT_EQ(ours, theirs);
    }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<LapdRig> rig{new LapdRig};
};

// Each side's capture: what the end at that side sent and received.
TEST_P(LapdCaptureTest, CaptureReadsAsWeSentIt) {
    if (test::tshark_program().empty()) GTEST_SKIP() << test::tshark_missing;
    const bool networkSide = GetParam();
    test::HdlcEnd& end = networkSide ? rig->line.b : rig->line.a;
    test::PcapWriter pcap(test::PcapWriter::linux_lapd);
    std::vector<std::string> ours;
    {
        test::LapdCapture capture(pcap, end, networkSide);
        ours = run_scenario(end, networkSide);
    }
    // The scenario's loss, its recovery and the idle poll are there.
    EXPECT_NE(ours.end(), std::find(ours.begin(), ours.end(), "REJ 2 resp"));
    EXPECT_NE(ours.end(), std::find(ours.begin(), ours.end(), "RR 10 P cmd"));
    check(pcap, ours);
}

INSTANTIATE_TEST_SUITE_P(Sides, LapdCaptureTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Network" : "User"; });

}  // namespace
