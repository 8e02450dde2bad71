// The VARK controllers: each host command becomes its packet on the side
// that sends it (and only state on the other), each packet from the network
// reaches the host as the same command; the gateway repeats its reports
// every second and lets only the radio's own source (or a more urgent PTT)
// drive a keyed radio.
#include "radio/vark_radio_control.h"

#include <algorithm>

#include "radio/vark_radio_asn.h"
#include "tests/radio/radio_fixture.h"

namespace radio_test {
namespace {

using namespace RTPSignalling;
namespace drv = board::rtp_ext;

const std::string kFlags =
    "{ prio 5, ptt TRUE, bss TRUE, vad-rx FALSE, vad-tx TRUE, sql FALSE, sh TRUE, pwr FALSE, "
    "rv TRUE, resv FALSE, selcall 2, li 300 }";
// The header of every packet below: priority 5, flags t, p, b, rv and sh,
// status 300, flag_c 2.
const std::string kHeader = " 5C E9 64";

TERM::RadioModifier modifier(const std::string& params, const char* addr = "127.0.0.2") {
    return value_of<TERM::RadioModifier>(std::string("vark : { addr { session-addr \"") + addr +
                                         "\", session-ssrc 9 }, params " + params + " }");
}

class VarkTest : public RadioFixture {
protected:
    VarkTest()
        : gateway(make<VarkRadioGWControl>(drv::kVarkProfile)),
          workstation(make<VarkRadioWSControl>(drv::kVarkProfile)) {
        workstation->SetSide(RadioControl::WorkstationSide);
    }

    std::unique_ptr<VarkRadioGWControl> gateway;
    std::unique_ptr<VarkRadioWSControl> workstation;
};

// ---- The twenty commands, both ways

struct Command {
    const char* params;      // value notation
    const char* wire;        // the packet after the type byte and header
    const char* heard = "";  // the command the receiver reports, when it differs
};

const Command kCommands[] = {
    {"gw-set-flags : { flags %F }", ""},
    {"gw-set-freq : { freq { channel 7, frequency \"118.500000\" } }", " 00 00 00 07 42 ED 00 00"},
    {"gw-set-ptt : { flags %F }", ""},
    {"gw-set-bss : { flags %F }", ""},
    {"gw-set-sh : { flags %F }", ""},
    {"gw-set-pwr : { flags %F }", ""},
    {"gw-set-rv : { flags %F }", ""},
    {"gw-set-resv : { flags %F }", ""},
    {"gw-set-selcall : { flags %F, ip \"10.0.0.1\", ssrc 5, cid \"abc\" }", " 03 61 62 63",
     // the packet carries no session
     "gw-set-selcall : { flags %F, ip \"0.0.0.0\", ssrc 0, cid \"abc\" }"},
    {"gw-set-remote : { remote { no 3, ch 4 } }", " 03 04 00 00"},
    {"gw-set-squelshe : { squelshe on }", " 02 00 00 00"},
    {"gw-set-rte : { rte j3e }", " 07 00 00 00"},
    {"gw-set-standby : { state standby }", " 01 00 00 00"},
    {"wm-flags : { flags %F }", ""},
    {"wm-trans : { flags %F, ip \"10.1.2.3\", ssrc 5 }", " 03 02 01 0A 00 00 00 05"},
    {"wm-quality : { bss-val \"0.750000\" }", " 3F 40 00 00"},
    {"wm-chan : { freq { channel 7, frequency \"118.500000\" }, squelshe off, rte a1b }",
     " 00 00 00 07 42 ED 00 00 01 02 00 00"},
    {"wm-selcall : { flags %F, ip \"10.1.2.3\", ssrc 5, cid \"abcd\" }",
     " 03 02 01 0A 00 00 00 05 04 61 62 63 64 00 00 00"},
    {"wm-remote : { remote { no 3, ch 4 } }", " 03 04 00 00"},
    {"wm-standby : { state-channel standby, group 9, state-receiver active }", " 01 09 00 00"},
};

std::string with_flags(std::string text) {
    const size_t at = text.find("%F");
    return at == std::string::npos ? text : text.replace(at, 2, kFlags);
}

TEST_F(VarkTest, EachCommandTravelsAsItsPacketAndBack) {
    for (int alternative = 0; alternative < 20; ++alternative) {
        const Command& c = kCommands[alternative];
        const int type = VarkPacketType(alternative);
        const bool wm = type >= WM_FLAG;
        VarkRadioControl& sender = wm ? static_cast<VarkRadioControl&>(*gateway) : *workstation;
        VarkRadioControl& other = wm ? static_cast<VarkRadioControl&>(*workstation) : *gateway;
        VarkRadioControl& receiver = other;
        const TERM::RadioModifier sent = modifier(with_flags(c.params));
        SCOPED_TRACE(c.params);

        // The sender writes the packet; the other side keeps only state.
        for (VarkRadioControl* side : {&sender, &other}) side->SendASNToChan(vark_status(kFlags));
        EXPECT_EQ(1, sender.SendASNToChan(sent));
        EXPECT_EQ(1, other.SendASNToChan(sent));
        char typeByte[3];
        snprintf(typeByte, sizeof typeByte, "%02X", type);
        EXPECT_EQ(std::vector<std::string>{typeByte + kHeader + c.wire}, written(sender));
        EXPECT_TRUE(written(other).empty());

        // The packet from the network reaches the host as the command.
        receiver.SendASNToChan(vark_status());  // not keyed: every source is heard
        receive(receiver, {test::hex_bytes(typeByte + kHeader + c.wire)});
        ASSERT_EQ(1u, probe.reports.size());
        const TERM::VarkRadioModifier& heard = *probe.reports[0].get_request()->get_vark();
        const std::string expected = with_flags(*c.heard ? c.heard : c.params);
        EXPECT_EQ(text_of(value_of<TERM::VarkRadioModifierParams>(expected)),
                  text_of(heard.get_params()));
        EXPECT_EQ("127.0.0.2", heard.get_addr().get_session_addr());
        const TERM::RadioStatus unkeyed = vark_status();
        EXPECT_EQ(text_of(unkeyed), text_of(probe.reports[0].get_status()));
        probe.clear();
        written(receiver);
    }
}

// ---- The gateway's reports in virtual time

class GatewayReports : public RadioFixture, public ::testing::WithParamInterface<uint32_t> {
protected:
    GatewayReports() {
        loop.clock().set_milliseconds(GetParam());
        gateway = make<VarkRadioGWControl>(drv::kVarkProfile);
        gateway->SetTimerEnable(true);
    }

    // The types of the packets written since the last call.
    std::vector<std::string> types() {
        std::vector<std::string> out;
        for (const std::string& packet : written(*gateway)) out.push_back(packet.substr(0, 2));
        return out;
    }

    std::unique_ptr<VarkRadioGWControl> gateway;
};

TEST_P(GatewayReports, GoOutEverySecondAndCatchUpOnALateOne) {
    using V = std::vector<std::string>;
    loop.advance(999);
    EXPECT_EQ(V{}, types());
    loop.advance(1);
    EXPECT_EQ((V{"81", "84", "86"}), types()) << "no standby report before the host sets it";
    loop.advance(1000);
    EXPECT_EQ((V{"81", "84", "86"}), types());

    gateway->SendASNToChan(vark_status());  // standby fields now set
    loop.advance(300);
    gateway->SendASNToChan(modifier("wm-flags : { flags " + kFlags + " }"));
    EXPECT_EQ(V{"81"}, types());
    loop.advance(700);
    EXPECT_EQ((V{"84", "86", "87"}), types()) << "the flag report is 700 ms old";
    loop.advance(309);
    EXPECT_EQ(V{}, types()) << "next tick at 1000 - 700 + 10";
    loop.advance(1);
    EXPECT_EQ((V{"82", "86"}), types()) << "keyed without caller: WM_TRANS";
}

INSTANTIATE_TEST_SUITE_P(Clock, GatewayReports, ::testing::Values(5000u, 0xFFFFFFFFu - 1500));

// ---- Who may drive a keyed radio

TEST_F(VarkTest, AKeyedGatewayHearsItsSessionAndMoreUrgentPttOnly) {
    gateway->SendASNToChan(vark_status());
    const auto keyed = [&](const char* prio) {
        std::string flags = kFlags;
        flags.replace(flags.find("prio 5"), 6, std::string("prio ") + prio);
        gateway->SendASNToChan(
            modifier("wm-trans : { flags " + flags + ", ip \"127.0.0.2\", ssrc 5 }"));
    };
    keyed("5");
    EXPECT_FALSE(session(*gateway).filter) << "a more urgent PTT may take the radio over";

    struct Case {
        const char* what;
        const char* source;
        uint32_t priority;
        bool heard;
    } cases[] = {
        {"its session", "127.0.0.2", 15, true},
        {"another source", "127.0.0.3", 15, false},
        {"a more urgent PTT", "127.0.0.3", 3, true},
    };
    for (const Case& c : cases) {
        receive(*gateway, {vark_header(GW_FLAG_PTT, c.priority, 1)}, c.source);
        EXPECT_EQ(c.heard ? 1u : 0u, probe.reports.size()) << c.what;
        probe.clear();
    }
    keyed("0");
    ASSERT_TRUE(session(*gateway).filter) << "nothing is more urgent";
    EXPECT_EQ(test::ip("127.0.0.2"), session(*gateway).filter->addr);
    EXPECT_FALSE(session(*gateway).passes(test::ip("127.0.0.3"), 9));

    const std::string unkeyed =
        "{ prio 5, ptt FALSE, bss FALSE, vad-rx FALSE, vad-tx FALSE, "
        "sql FALSE, sh FALSE, pwr FALSE, rv FALSE, resv FALSE, selcall 0, "
        "li 0 }";
    gateway->SendASNToChan(modifier("wm-flags : { flags " + unkeyed + " }"));
    EXPECT_FALSE(session(*gateway).filter);
    receive(*gateway, {vark_header(GW_FLAG_PTT, 15, 1)}, "127.0.0.3");
    EXPECT_EQ(1u, probe.reports.size()) << "an unkeyed radio hears everyone";
}

// Keyed at priority 0 for a new position whose filter the driver refuses,
// and the old one's removal too, the radio asks again at each packet: the
// refusal is written once a second, with the count.
TEST_F(VarkTest, ARefusedFilterAskedAtEachPacketIsWrittenOnceASecond) {
    gateway->SendASNToChan(vark_status());
    const auto keyed = [&](const std::string& ip) {
        std::string flags = kFlags;
        flags.replace(flags.find("prio 5"), 6, "prio 0");
        gateway->SendASNToChan(
            modifier("wm-trans : { flags " + flags + ", ip \"" + ip + "\", ssrc 5 }"));
    };
    keyed("127.0.0.2");
    ASSERT_TRUE(session(*gateway).filter);
    Board::instance().refuse = [](Op op, const std::string&, uint32_t request, const void*) {
        const bool filter = request == drv::kSetFilter || request == drv::kRemoveFilter;
        return op == Op::Ioctl && filter ? EIO : 0;
    };
    test::StreamCapture err(std::cerr);
    keyed("127.0.0.4");
    for (int packet = 0; packet < 100; ++packet)
        receive(*gateway, {vark_header(GW_FLAG_PTT, 15, 1)});
    loop.advance(1000);
    receive(*gateway, {vark_header(GW_FLAG_PTT, 15, 1)});
    Board::instance().refuse = nullptr;
    const std::string text = err.str();
    int lines = 0;
    for (size_t at = text.find(":set filer"); at != std::string::npos;
         at = text.find(":set filer", at + 1))
        ++lines;
    EXPECT_EQ(2, lines) << text;
    EXPECT_NE(std::string::npos, text.find(":set filer rtp_ext session fail !!! (100 more since)"))
        << text;
}

// ---- What the host gets back

TEST_F(VarkTest, TheAnswerSaysWhetherThePacketWentOut) {
    EXPECT_EQ(0, gateway->SendASNToChan(value_of<TERM::RadioStatus>(
                     "ed-137 : { header { ptt ptt-off, squ squ-off, ptt-id 0, ptt-mute FALSE, "
                     "ptt-summation FALSE, sct FALSE } }")));
    const TERM::RadioModifier flags = modifier("wm-flags : { flags " + kFlags + " }");
    Board::instance().fail_next(Op::Write, drv::kDevice, EIO);
    EXPECT_EQ(0, gateway->SendASNToChan(flags)) << "a packet that was not written";
    EXPECT_EQ(1, gateway->SendASNToChan(flags));
    EXPECT_EQ(1, gateway->SendASNToChan(modifier("gw-set-ptt : { flags " + kFlags + " }")))
        << "state only";

    VarkRadioGWControl onRtp(6, rtp, rtp_attach_session_params{rtp.get(), -1});
    EXPECT_EQ(1, onRtp.SendASNToChan(flags)) << "no session of its own to write on";
}

TEST_F(VarkTest, BadHostInputIsBoundedOrRefused) {
    const std::string cid(1000, 'x');
    workstation->SendASNToChan(vark_status());
    EXPECT_EQ(1, workstation->SendASNToChan(modifier("gw-set-selcall : { flags " + kFlags +
                                                     ", ip \"10.0.0.1\", ssrc 5, cid \"" + cid +
                                                     "\" }")));
    EXPECT_EQ(std::string(255, 'x'), workstation->radio_state().caller_id);
    const auto packets = written(*workstation);
    ASSERT_EQ(1u, packets.size());
    EXPECT_EQ("FF", packets[0].substr(12, 2)) << "255 bytes of caller identity";

    test::StreamCapture err(std::cerr);
    for (const char* addr : {"no address", "", "300.1.2.3"})
        EXPECT_EQ(0, gateway->SendASNToChan(modifier("wm-flags : { flags " + kFlags + " }", addr)))
            << addr;
    EXPECT_EQ(0, gateway->SendASNToChan(
                     modifier("wm-trans : { flags " + kFlags + ", ip \"x\", ssrc 5 }")));
    EXPECT_NE(std::string::npos, err.str().find("refused radio command: address text \"x\""));
    EXPECT_TRUE(written(*gateway).empty());
    EXPECT_EQ(0, gateway->radio_state().ptt) << "a refused command changes nothing";
}

TEST_F(VarkTest, APacketNoRadioMessageCanCarryIsDroppedWithALogLine) {
    gateway->SendASNToChan(vark_status());
    workstation->SendASNToChan(vark_status());
    const auto body = [](auto set) { return [set](sig_proto& r) { set(r.body); }; };
    struct Case {
        const char* what;
        VarkRadioControl* receiver;
        Bytes packet;
    } cases[] = {
        {"squelch 3", gateway.get(),
         vark_packet(GW_ADJUST_SQUELSHE, body([](auto& b) { b.gw_adjust_squelsh.squelsh = 3; }))},
        {"rte 8", gateway.get(),
         vark_packet(GW_ADJUST_RTE, body([](auto& b) { b.gw_adjust_rte.rte = 8; }))},
        {"standby 2", gateway.get(),
         vark_packet(GW_ADJUST_STANDBY, body([](auto& b) { b.gw_adjust_standby.state = 2; }))},
        {"channel squelch", workstation.get(),
         vark_packet(WM_CHAN, body([](auto& b) { b.wm_chan.squelsh = 0xFF; }))},
        {"channel rte", workstation.get(),
         vark_packet(WM_CHAN, body([](auto& b) { b.wm_chan.rte = 9; }))},
        {"standby receiver", workstation.get(),
         vark_packet(WM_STANDBY, body([](auto& b) { b.wm_standby.receiver_state = 7; }))},
    };
    for (const Case& c : cases) {
        loop.advance(1000);  // the line goes out once a second
        test::StreamCapture err(std::cerr);
        const VarkRadioState before = c.receiver->channel_state();
        receive(*c.receiver, {vark_header(GW_FLAG_PTT, 15, 1), c.packet});
        ASSERT_EQ(1u, probe.reports.size()) << c.what << ": the packet before it is heard";
        EXPECT_NE(std::string::npos, err.str().find("dropped")) << c.what;
        EXPECT_EQ(before.squelsh, c.receiver->channel_state().squelsh) << c.what;
        EXPECT_EQ(before.standby_state, c.receiver->channel_state().standby_state) << c.what;
        probe.clear();
    }

    // A flood: one line, and a second later the next counts the others.
    test::StreamCapture err(std::cerr);
    receive(*gateway, std::vector<Bytes>(50, cases[0].packet));
    loop.advance(1000);
    receive(*gateway, {cases[0].packet});
    const std::string lines = err.str();
    EXPECT_EQ(2, std::count(lines.begin(), lines.end(), '\n')) << lines;
    EXPECT_NE(std::string::npos, lines.find("no value of the radio messages (49 more since)"));
}

}  // namespace
}  // namespace radio_test
