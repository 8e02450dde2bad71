// Eight BRI terminals and the network side on one bus, in virtual time.

#include <gtest/gtest.h>

#include <set>

#include "tests/link/packet_pool_check.h"
#include "tests/support/bri_rig.h"
#include "tests/support/lapd_capture.h"
#include "tests/support/lapd_frames.h"
#include "tests/support/lapd_rig.h"
#include "tests/support/tshark.h"
#include "tests/support/virtual_loop.h"

namespace {

using test::BriRig;
namespace lapd = test::lapd;

class BriBusTest : public PacketPoolCheck {
protected:
    void TearDown() override {
        rig.reset();
        PacketPoolCheck::TearDown();
    }
    // The removal a network sends when it starts: every terminal asks for
    // a TEI.
    void remove_all() {
        Packet remove = lapd::identity(true, ISDN::identity_remove, 0, 127);
        rig->bus.network.hdlc_transmit(remove);
    }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<BriRig> rig{new BriRig};
};

// Messages of one call reference, in the order they arrived.
std::vector<std::string> of_call(const std::vector<std::string>& messages, unsigned cr) {
    std::vector<std::string> mine;
    for (const auto& m : messages)
        if (m.size() > 3 && (static_cast<unsigned char>(m[2]) & 0x7F) == cr)
            mine.push_back(m.substr(4));
    return mine;
}

std::vector<std::string> numbered(const std::string& prefix, unsigned count) {
    std::vector<std::string> v;
    for (unsigned i = 0; i < count; ++i) v.push_back(prefix + std::to_string(i));
    return v;
}

// Every tenth frame each port sends is lost.
bool tenth(const Packet&, unsigned index) { return index % 10 == 0; }

TEST_F(BriBusTest, EightTerminalsGetTeisEstablishAndExchangeByCallReference) {
    remove_all();
    loop.advance(100);
    rig->network.activate();  // a TEI check: every terminal answers
    loop.advance(3000);
    for (unsigned i = 0; i < 8; ++i) {
        EXPECT_EQ(64 + int(i), rig->terminal(i).full_state().selfTEI) << i;
        EXPECT_EQ(ISDN::multiple_frame_established, rig->terminal(i).full_state().state) << i;
        EXPECT_EQ(ISDN::LAPD_NT_user::assigned, rig->network.nt().link(i).state()) << i;
    }

    rig->bus.network.drop = tenth;
    for (unsigned i = 0; i < 8; ++i) rig->bus.terminal(i).drop = tenth;
    // Each terminal opens its call; then messages go both ways.
    const unsigned count = 40;
    for (unsigned i = 0; i < 8; ++i)
        test::LapdRig::send(rig->terminal(i), BriRig::q931(i + 1, 0x05, "setup"));
    for (unsigned t = 0; t < 100 && rig->network.messages.size() < 8; ++t) loop.advance(100);
    ASSERT_EQ(8u, rig->network.messages.size());
    for (unsigned sent = 0; sent < count; sent += 5) {
        for (unsigned i = 0; i < 8; ++i)
            for (unsigned n = sent; n < sent + 5; ++n) {
                const std::string tag = std::to_string(i) + "-" + std::to_string(n);
                test::LapdRig::send(rig->terminal(i), BriRig::q931(i + 1, 0x7B, "t" + tag));
                rig->network.send(BriRig::q931((i + 1) | 0x80, 0x7B, "n" + tag));
            }
        loop.advance(3000);
    }
    loop.advance(20000);
    for (unsigned i = 0; i < 8; ++i) {
        std::vector<std::string> up = {"setup"};
        for (const auto& m : numbered("t" + std::to_string(i) + "-", count)) up.push_back(m);
        EXPECT_EQ(up, of_call(rig->network.messages, i + 1)) << i;
        EXPECT_EQ(numbered("n" + std::to_string(i) + "-", count),
                  of_call(rig->owner(i).messages, i + 1))
            << i;
        EXPECT_GE(rig->terminal(i).full_state().state, ISDN::multiple_frame_established) << i;
        EXPECT_TRUE(rig->owner(i).deactivations.empty()) << i;
    }
    EXPECT_GT(rig->bus.network.counters().dropped, 10u);
}

// Our reading of a frame in the form of tshark's fields: "sapi tei", and
// for TEI management "msg reference action", the reference as tshark
// reads it (big-endian: the Ri travels least significant octet first).
std::string our_reading(const Packet& frame) {
    std::string text = std::to_string(lapd::sapi(frame)) + " " + std::to_string(lapd::tei(frame));
    lapd::Identity message;
    if (lapd::identity_of(frame, message)) {
        const unsigned reference = (message.ri & 0xFF) << 8 | message.ri >> 8;
        text += " " + std::to_string(message.type) + " " + std::to_string(reference) + " " +
                std::to_string(message.ai);
    }
    return text;
}

std::string tshark_reading(const test::TsharkFields& packet) {
    std::string text = packet.at("lapd.sapi") + " " + packet.at("lapd.tei");
    if (!packet.at("tei.msg").empty())
        text += " " + packet.at("tei.msg") + " " + packet.at("tei.reference") + " " +
                packet.at("tei.action");
    return text;
}

// What the network port sends and receives while terminals come, get TEIs
// and talk, read back by tshark.
TEST_F(BriBusTest, NetworkPortCaptureReadsAsWeSentIt) {
    if (test::tshark_program().empty()) GTEST_SKIP() << test::tshark_missing;
    test::PcapWriter pcap(test::PcapWriter::linux_lapd);
    std::vector<std::string> ours;
    {
        test::LapdCapture capture(pcap, rig->bus.network, /*networkSide=*/true);
        rig->bus.network.add_tap(
            [&ours](const Packet& frame, bool) { ours.push_back(our_reading(frame)); });
        remove_all();
        loop.advance(100);
        rig->network.activate();
        loop.advance(100);
        for (unsigned i = 0; i < 8; ++i)
            test::LapdRig::send(rig->terminal(i), BriRig::q931(i + 1, 0x05));
        loop.advance(100);
        rig->network.send(BriRig::q931(0x81, 0x02));
        rig->network.send(BriRig::q931(0x09, 0x05));
        Packet denied = lapd::identity(false, ISDN::identity_request, 0x1234, 70);
        rig->bus.terminal(0).hdlc_transmit(denied);
        loop.advance(12000);
    }
    std::string error;
    const auto packets =
        test::tshark_fields(pcap, {"--disable-protocol", "q931"},
                            {"lapd.sapi", "lapd.tei", "tei.msg", "tei.reference", "tei.action",
                             "_ws.malformed", "_ws.expert.severity"},
                            &error);
    ASSERT_TRUE(error.empty()) << error;
    std::vector<std::string> theirs;
    std::set<std::string> messages;
    for (const auto& packet : packets) {
        EXPECT_EQ("", packet.at("_ws.malformed"));
        EXPECT_EQ("", packet.at("_ws.expert.severity"));
        theirs.push_back(tshark_reading(packet));
        if (!packet.at("tei.msg").empty()) messages.insert(packet.at("tei.msg"));
    }
    EXPECT_EQ(ours, theirs);
    // Remove, request, assigned, denied, check request and response.
    EXPECT_EQ((std::set<std::string>{"1", "2", "3", "4", "5", "6"}), messages);
}

}  // namespace
