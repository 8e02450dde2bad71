// RTP slots made by the RTP factory for a test controller, on the simulated
// RTP engine: the session each one begins, its RTCP packets at a far end on
// the loopback interface, its ioctls and events, and its end.
#include "slots/rtp_slot.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "board/devio.h"
#include "board/sim/dsp_model.h"
#include "board/sim/dtmf_model.h"
#include "board/sim/rtp_model.h"
#include "board/sim/voice_model.h"
#include "slots/rtp_factory.h"
#include "tests/board/byte_view.h"
#include "tests/slots/rtp_fixture.h"
#include "tests/support/case_name.h"

namespace {

namespace rtp = board::rtp;
using board::sim::Op;
using Cause = LGCP::ErrorCause::NamedNumber;
using Payload = TERM::Payload;
using test::Bytes;
using test::parse_rtcp;
using test::Rtcp;
using test::RtpSlotTest;

constexpr unsigned kSlot = 7;
// E1 trunk 1, timeslot 8.
constexpr int kTrunkChannel = 40;
constexpr unsigned kTrunk = 3;

// ---- Create

TEST_F(RtpSlotTest, SendsItsSourceDescriptionAndReportsBothStreamsOnTheEnginesChannel) {
    auto reply = answer(create_command(), 1, kSlot);
    ASSERT_TRUE(reply && test::is_success(*reply));
    const rtp::rtp_connection_params& params = only_stream().params;
    EXPECT_EQ(rtp_model().kPoolBase, only_stream().channel);

    const std::string channel = std::to_string(only_stream().channel);
    EXPECT_EQ("transmitter : active : " + channel, next_signal());
    EXPECT_EQ("receiver : active : " + channel, next_signal());

    auto packets = peer.rtcp();
    ASSERT_EQ(1u, packets.size());
    const Rtcp sdes = parse_rtcp(packets[0]);
    EXPECT_EQ(202, sdes.pt);
    EXPECT_EQ(params.ssrc, sdes.ssrc);
    EXPECT_EQ((std::vector<std::pair<int, std::string>>{
                  {1, "Zembrix Quadresta"}, {3, "support@zembrix.example"}, {4, "+1 555 0100"}}),
              sdes.items);
}

struct BeginCase {
    const char* what;
    std::function<void(LGCP::CreateRtpParams&)> change;
    std::function<void(rtp::rtp_connection_params&)> expect;
};

constexpr uint32_t kAnySsrc = 0xFFFFFFFF;

// The payload and both directions.
std::function<void(LGCP::CreateRtpParams&)> payload(Payload::NamedNumber main) {
    return [main](LGCP::CreateRtpParams& p) {
        p.get_codecRTP().set_payload(main);
        p.set_rxPayload(main);
        p.set_txPayload(main);
    };
}

const BeginCase kBeginCases[] = {
    {"the defaults", nullptr, nullptr},
    {"without shost the local port is dhosts", [](auto& p) { p.get_codecRTP().remove_shost(); },
     [](auto& r) {
         r.local_addr = 0;
         r.local_port = r.remote_port;
     }},
    {"shost on another loopback address",
     [](auto& p) { p.get_codecRTP().get_shost()->set_iaddr("127.0.0.2"); },
     [](auto& r) { r.local_addr = inet_addr("127.0.0.2"); }},
    {"pfactor keeps its low 16 bits", [](auto& p) { p.get_codecRTP().set_pfactor(0x10014); },
     [](auto& r) { r.packet_factor = 0x14; }},
    {"vad true", [](auto& p) { p.get_codecRTP().set_vad(true); }, [](auto& r) { r.vad = 1; }},
    {"crate not 0", [](auto& p) { p.get_codecRTP().set_crate(3); }, [](auto& r) { r.crate = 1; }},
    {"without ssrc", [](auto& p) { p.get_codecRTP().remove_ssrc(); },
     [](auto& r) { r.ssrc = kAnySsrc; }},
    {"ttl", [](auto& p) { p.get_codecRTP().set_ttl(64); }, [](auto& r) { r.ttl = 64; }},
    {"qos dscp ef", [](auto& p) { p.get_codecRTP().set_qos_dscp(TERM::IpQoSDSCP::ef); },
     [](auto& r) { r.tos = 184; }},
    {"ulaw receiving alaw",
     [](auto& p) {
         p.get_codecRTP().set_payload(Payload::ptG711_Ulaw);
         p.set_txPayload(Payload::ptG711_Ulaw);
     },
     [](auto& r) { r.tx_pt = 0; }},
    {"g729 with a g723 direction follows the main payload",
     [](auto& p) {
         p.get_codecRTP().set_payload(Payload::ptG729);
         p.set_rxPayload(Payload::ptG723);
         p.set_txPayload(Payload::ptG711_Ulaw);
     },
     [](auto& r) {
         r.rx_pt = 18;
         r.tx_pt = 0;
     }},
    {"mcc alaw",
     [](auto& p) {
         p.get_codecRTP().set_payload(Payload::ptG711mcc_Alaw);
         p.set_rxPayload(Payload::ptG711mcc_Alaw);
         p.set_txPayload(Payload::ptG729);
     },
     [](auto& r) { r.rx_pt = r.tx_pt = 136; }},
    {"g723", payload(Payload::ptG723), [](auto& r) { r.rx_pt = r.tx_pt = 4; }},
    {"mcc ulaw", payload(Payload::ptG711mcc_Ulaw), [](auto& r) { r.rx_pt = r.tx_pt = 128; }},
    {"g728", payload(Payload::ptG728), [](auto& r) { r.rx_pt = r.tx_pt = 15; }},
};

std::string describe(const rtp::rtp_connection_params& r, bool anySsrc) {
    std::ostringstream text;
    text << "remote " << std::hex << r.remote_addr << std::dec << ':' << r.remote_port << " local "
         << std::hex << r.local_addr << std::dec << ':' << r.local_port << " pt " << r.rx_pt << '/'
         << r.tx_pt << " pfactor " << r.packet_factor << " vad " << int(r.vad) << " crate "
         << int(r.crate) << " ssrc " << (anySsrc ? kAnySsrc : r.ssrc) << " ttl " << r.ttl << " tos "
         << r.tos;
    return text.str();
}

class RtpBeginRecord : public RtpSlotTest, public ::testing::WithParamInterface<BeginCase> {};

TEST_P(RtpBeginRecord, CarriesTheControllersParameters) {
    const BeginCase& c = GetParam();
    const LGCP::Command command = create_command(c.change);
    // Without shost the session takes the far end's ports.
    if (!command.get_create()->get_rtp()->get_codecRTP().has_shost()) peer.close();
    create(kSlot, command);

    // Payload A-law both ways, dhost the far end, shost 127.0.0.1:local.
    rtp::rtp_connection_params expected{};
    expected.remote_addr = inet_addr("127.0.0.1");
    expected.remote_port = remote_port();
    expected.local_addr = inet_addr("127.0.0.1");
    expected.local_port = local;
    expected.rx_pt = expected.tx_pt = 8;
    expected.ssrc = kSsrc;
    expected.tos = -1;
    if (c.expect) c.expect(expected);
    const bool anySsrc = expected.ssrc == kAnySsrc;
    EXPECT_EQ(describe(expected, anySsrc), describe(only_stream().params, anySsrc));
}

INSTANTIATE_TEST_SUITE_P(Rtp, RtpBeginRecord, ::testing::ValuesIn(kBeginCases), test::CaseName());

// ---- Declined

class RtpDeclined : public RtpSlotTest, public ::testing::WithParamInterface<test::DeclineCase> {};

TEST_P(RtpDeclined, LeavesNoDescriptorSocketOrStream) {
    LGCP::Command command = create_command();
    GetParam().arrange(*this, *command.get_create()->get_rtp());

    EXPECT_EQ(GetParam().cause, outcome(command, kSlot));
    release_held_port();
    EXPECT_EQ(nullptr, Slots::instance()->at(kSlot));
    EXPECT_TRUE(rtp_model().streams().empty());
    EXPECT_TRUE(sim().channels(rtp::kDevice).empty());
    EXPECT_TRUE(test::udp_bind(static_cast<unsigned short>(local + 1))) << "the RTCP port is held";
    EXPECT_TRUE(peer.rtcp().empty());
}

INSTANTIATE_TEST_SUITE_P(Rtp, RtpDeclined, ::testing::ValuesIn(test::kDeclineCases),
                         test::CaseName());

TEST_F(RtpSlotTest, TheEchoCancellerACreateAsksForIsOnOnceAnsweredSuccess) {
    create(kSlot, [](LGCP::CreateRtpParams& p) {
        auto& echo = p.get_codecRTP().include_echo();
        echo.set_suppressor(true);
        echo.set_canceller(true);
    });
    EXPECT_TRUE(dtmf_model().timeslot(only_stream().channel).echoCancel);
}

TEST_F(RtpSlotTest, RefusesATtlAboveTheRangeThatTheWireCarries) {
    controller.send_frame(create_frame_with_ttl_256(kSlot));
    auto reply = controller.receive_until(test::is_response);
    ASSERT_TRUE(reply);
    EXPECT_EQ(Cause::invalidParams, test::error_of(*reply));
    EXPECT_TRUE(rtp_model().streams().empty());
}

TEST_F(RtpSlotTest, ARadioRequestIsNotEvenLogged) {
    LGCP::Command command = create_command();
    command.get_create()->get_rtp()->get_codecRTP().include_radio().get_status().select_vark();
    EXPECT_EQ(Cause::insufficientResources, outcome(command, kSlot));
    EXPECT_EQ(std::string::npos, progress.str().find("do create rtp")) << progress.str();
}

// ---- Ioctls

// The record of the last request of this number on the engine, as passed.
Bytes last_rtp_record(uint32_t request) {
    Bytes record;
    for (const auto& call : board::sim::Board::instance().journal(rtp::kDevice))
        if (call.op == Op::Ioctl && call.request == request) record = call.data;
    return record;
}

Bytes detection_record(int32_t timeout) {
    rtp::rtp_event event{};
    event.type = rtp::kPacketDetection;
    event.timeout = event.timeout_copy = timeout;
    return test::bytes_of(event);
}

struct IoctlCase {
    const char* what;
    std::function<void(LGCP::IoctlParams&)> select;
    bool answered;
    std::function<bool(RtpSlotTest&, int channel)> done;  // the model's state afterwards
    std::function<void()> arrange = nullptr;
    std::function<void(LGCP::IoctlParams&)> before = nullptr;  // an ioctl answered success first
};

void RefuseNextDtmfRequest() {
    board::sim::Board::instance().fail_next(Op::Ioctl, board::dtmf::kDevice, EIO);
}

// The ringback plays on: 1 s of tone, 3 s of silence, and a tone the driver
// refuses is tried again at the next step of the cadence.
bool RingbackGoesOn(RtpSlotTest& t, int channel) {
    const auto tone = [&] { return t.dtmf_model().tone(channel)[0]; };
    if (tone() != 425) return false;
    t.advance(1500);
    RefuseNextDtmfRequest();
    t.advance(3000);
    const bool silent = tone() != 425;
    t.advance(3000);
    return silent && tone() == 425;
}

const IoctlCase kIoctlCases[] = {
    {"echo canceller on", [](auto& p) { p.set_echoSuppressor(true); }, true,
     [](auto& t, int ch) { return t.dtmf_model().timeslot(ch).echoCancel; }},
    {"echo canceller refused", [](auto& p) { p.set_echoSuppressor(true); }, false,
     [](auto& t, int ch) { return !t.dtmf_model().timeslot(ch).echoCancel; },
     RefuseNextDtmfRequest},
    {"dtmf detector on", [](auto& p) { p.set_dtmf_enable(true); }, true,
     [](auto& t, int ch) { return t.dtmf_model().timeslot(ch).enabled; }},
    {"wait tone", [](auto& p) { p.select_activateWaitTone(); }, true,
     [](auto& t, int ch) { return t.dtmf_model().tone(ch)[0] == 425; }},
    {"wait tone refused", [](auto& p) { p.select_activateWaitTone(); }, false,
     [](auto& t, int ch) { return t.dtmf_model().tone(ch)[0] == 0; }, RefuseNextDtmfRequest},
    {"wait tone off refused", [](auto& p) { p.select_deactivateWaitTone(); }, false, RingbackGoesOn,
     RefuseNextDtmfRequest, [](auto& p) { p.select_activateWaitTone(); }},
    {"vad on", [](auto& p) { p.set_vad_enable(true); }, true,
     [](auto& t, int ch) { return t.dsp_model().timeslot(ch).on(board::dsp::kVad); }},
    {"rx gain", [](auto& p) { p.select_rx_gain().set_gainDB(-6); }, true,
     [](auto& t, int ch) { return t.dsp_model().timeslot(ch).configure(board::dsp::kRxGain); }},
    {"tone filter",
     [](auto& p) {
         auto& filter = p.select_tone_filter();
         filter.set_freq(2100);
         filter.set_enable(true);
     },
     true, [](auto& t, int ch) { return t.dsp_model().timeslot(ch).on(board::dsp::kToneFilter); }},
    {"selcal", [](auto& p) { p.select_selcal().set_signs("ABCD"); }, true,
     [](auto& t, int ch) { return t.dtmf_model().timeslot(ch).selcalDialled; }},
    {"selcal refused", [](auto& p) { p.select_selcal().set_signs("ABCD"); }, false,
     [](auto& t, int ch) { return !t.dtmf_model().timeslot(ch).selcalDialled; },
     RefuseNextDtmfRequest},
    {"packet detection", [](auto& p) { p.select_pd_enable().set_timeout(300); }, true,
     [](auto& t, int ch) {
         auto* stream = t.rtp_model().on_channel(ch);
         return stream && stream->detecting && stream->pdTimeout == 300 &&
                last_rtp_record(rtp::kSetPacketDetection) == detection_record(300);
     }},
    {"packet detection off", [](auto& p) { p.select_pd_disable(); }, true,
     [](auto&, int) {
         return last_rtp_record(rtp::kResetPacketDetection) == test::bytes_of(rtp::kResetValue);
     }},
    {"mute is unsupported", [](auto& p) { p.select_mute_enable(); }, false,
     [](auto& t, int ch) {
         return !t.dsp_model().timeslot(ch).on(board::dsp::kMuteFirst) &&
                !t.dsp_model().timeslot(ch).on(board::dsp::kMuteSecond);
     }},
};

class RtpIoctl : public RtpSlotTest, public ::testing::WithParamInterface<IoctlCase> {};

TEST_P(RtpIoctl, ActsOnTheChannelsDevicesAndAnswersTheirResult) {
    create(kSlot);
    const int channel = only_stream().channel;
    if (GetParam().before) {
        LGCP::Command before;
        GetParam().before(before.select_ioctl());
        ASSERT_EQ(std::nullopt, outcome(before, kSlot));
    }
    LGCP::Command command;
    GetParam().select(command.select_ioctl());
    if (GetParam().arrange) GetParam().arrange();

    const auto cause = outcome(command, kSlot);
    EXPECT_EQ(GetParam().answered, !cause) << (cause ? int(*cause) : -1);
    EXPECT_TRUE(GetParam().done(*this, channel));
}

INSTANTIATE_TEST_SUITE_P(Rtp, RtpIoctl, ::testing::ValuesIn(kIoctlCases), test::CaseName());

TEST_F(RtpSlotTest, AWaitToneStartedDuringDigitsStopsWhenDeactivated) {
    create(kSlot);
    const int channel = only_stream().channel;
    const std::function<void(LGCP::IoctlParams&)> requests[] = {
        [](auto& p) {
            LGCP::DualTone& digit = p.select_translateDTMF().get_digits().append();
            digit.set_freq1(697);
            digit.set_freq2(1209);
        },
        [](auto& p) { p.select_activateWaitTone(); },
        [](auto& p) { p.select_deactivateWaitTone(); },
    };
    for (const auto& request : requests) {
        LGCP::Command command;
        request(command.select_ioctl());
        EXPECT_EQ(std::nullopt, outcome(command, kSlot));
    }
    for (unsigned ms = 0; ms < 10000; ms += 50) {
        ASSERT_EQ((board::sim::DtmfModel::Tone{0, 0, 0, 0}), dtmf_model().tone(channel))
            << ms << " ms after";
        server.advance(50);
    }
}

// ---- Codec changes

TEST_F(RtpSlotTest, ACodecModeOfTheCurrentPayloadTouchesNothing) {
    create(kSlot);
    sim().clear_journal();
    EXPECT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::alaw), kSlot));
    EXPECT_TRUE(sim().journal(rtp::kDevice).empty());
    EXPECT_NE(std::string::npos, progress.str().find(" - Nothing to do")) << progress.str();
}

TEST_F(RtpSlotTest, LowBitRateModeGivesTheCreatedReceivePayloadBothWays_OnTheSameChannel) {
    create(kSlot, [](LGCP::CreateRtpParams& p) {
        p.get_codecRTP().set_payload(Payload::ptG729);
        p.set_rxPayload(Payload::ptG729);
        p.set_txPayload(Payload::ptG711_Ulaw);
    });
    const int channel = only_stream().channel;
    ASSERT_EQ(0, only_stream().params.tx_pt);

    EXPECT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::lbrc), kSlot));
    EXPECT_EQ(18, only_stream().params.tx_pt);
    EXPECT_EQ(std::nullopt, outcome(codec_mode(false, LGCP::CodecMode::alaw), kSlot));
    EXPECT_EQ(8, only_stream().params.rx_pt);
    EXPECT_EQ(std::nullopt, outcome(codec_mode(false, LGCP::CodecMode::lbrc), kSlot));
    EXPECT_EQ(18, only_stream().params.rx_pt);
    EXPECT_EQ(channel, only_stream().channel);
    EXPECT_EQ(local, only_stream().local_port());
}

// A failed restart gives the slot its old session back and answers the
// failure; the same request later is tried afresh.
TEST_F(RtpSlotTest, AFailedCodecChangeResumesTheOldSessionAndAnswersFailure) {
    create(kSlot);
    const int channel = only_stream().channel;
    test::fail_rtp(Op::Ioctl, rtp::kBeginSession, EIO);

    EXPECT_EQ(Cause::unsupported, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    EXPECT_EQ(8, only_stream().params.tx_pt);
    EXPECT_EQ(channel, only_stream().channel);
    EXPECT_NE(std::string::npos, errors.str().find("fail to restart RTP session!"));

    EXPECT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    EXPECT_EQ(0, only_stream().params.tx_pt);
    EXPECT_NE(std::string::npos, progress.str().find(" - OK")) << progress.str();
}

// When the old session will not begin again either, the slot has no stream:
// it says so once, and refuses from then on what needs one, connects too,
// also with the trunk it is linked with both ways.
TEST_F(RtpSlotTest, ASlotThatLostItsSessionAbortsOnce_AndRefusesIoctlsAndConnects) {
    create(kSlot);
    create(kTrunk, test::create_trunk(1, 8));
    create(kTrunk + 1, test::create_trunk(1, 9));
    connect(kSlot, kTrunk);
    connect(kTrunk, kSlot);
    sim().fail_next(Op::Ioctl, rtp::kDevice, EIO, rtp::kBeginSession, 2);

    controller.send(codec_mode(true, LGCP::CodecMode::ulaw), 1, kSlot);
    auto abort = controller.receive();  // before the answer
    ASSERT_TRUE(abort && test::is_signal(*abort) && abort->get_pdu().get_signal()->is_abort());
    EXPECT_EQ(RtpSlot::kAbortNoSession, abort->get_pdu().get_signal()->get_abort()->getValue());
    auto reply = controller.receive_until(test::is_response);
    ASSERT_TRUE(reply);
    EXPECT_EQ(Cause::unsupported, test::error_of(*reply));
    EXPECT_TRUE(rtp_model().streams().empty());

    EXPECT_EQ(Cause::unsupported, outcome(codec_mode(true, LGCP::CodecMode::alaw), kSlot))
        << "the payload it had";
    for (unsigned trunk : {kTrunk, kTrunk + 1}) {
        EXPECT_EQ(Cause::connectFail, outcome(test::connect_command(kSlot), trunk)) << trunk;
        EXPECT_EQ(Cause::connectFail, outcome(test::connect_command(trunk), kSlot)) << trunk;
    }
    EXPECT_EQ("", next_signal()) << "a second abort";
    EXPECT_NE(std::string::npos, errors.str().find("]: no RTP session, ioctl refused"));
    EXPECT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), kSlot));
}

// The session of slot 7 ends while a trunk and a ringback are on its channel,
// and the next RTP slot gets that channel: the trunk hears nothing of the new
// call, the new slot gets the channel's digits, and the old slot's destroy
// leaves the new one's path alone.
TEST_F(RtpSlotTest, ASlotThatLostItsSessionLeavesItsChannelToTheNextSlot) {
    create(kSlot);
    const int channel = only_stream().channel;
    create(kTrunk, test::create_trunk(1, 8));
    connect(kSlot, kTrunk);
    connect(kTrunk, kSlot);
    LGCP::Command dtmf, ringback, echo;
    dtmf.select_ioctl().set_dtmf_enable(true);
    ringback.select_ioctl().select_activateWaitTone();
    echo.select_ioctl().set_echoSuppressor(true);
    ASSERT_EQ(std::nullopt, outcome(dtmf, kSlot));
    ASSERT_EQ(std::nullopt, outcome(ringback, kSlot));
    ASSERT_EQ(std::nullopt, outcome(echo, kSlot));
    sim().channels(rtp::kDevice).front()->hang_up();
    EXPECT_EQ("abort : 150", next_signal());
    EXPECT_EQ((board::sim::DtmfModel::Tone{0, 0, 0, 0}), dtmf_model().tone(channel));
    EXPECT_FALSE(dtmf_model().timeslot(channel).echoCancel);

    const unsigned short nextLocal = test::free_udp_pair();
    create(kSlot + 1, [&](auto& p) { p.get_codecRTP().get_shost()->set_port(nextLocal); });
    ASSERT_EQ(channel, only_stream().channel);
    peer.send_rtp(nextLocal, test::rtp_packet(8, 1, 0x99, 0x77));
    EXPECT_EQ(1, rtp_model().poll_network());
    EXPECT_NE(0x77, fabric().byte_on(kTrunkChannel));
    ASSERT_EQ(std::nullopt, outcome(dtmf, kSlot + 1));
    ASSERT_TRUE(dtmf_model().detect(channel, 5, 77));
    auto digit = controller.receive_until(test::is_signal);
    ASSERT_TRUE(digit && digit->get_pdu().get_signal()->is_tonec());
    EXPECT_EQ(kSlot + 1, test::slot_of(*digit));

    create(kTrunk + 1, test::create_trunk(1, 9));
    connect(kSlot + 1, kTrunk + 1);
    connect(kTrunk + 1, kSlot + 1);
    EXPECT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), kSlot));
    expect_sound();
    EXPECT_EQ(std::string::npos, errors.str().find("holds: refused")) << errors.str();
}

// ---- Events

TEST_F(RtpSlotTest, ReportsDetectedDigitsVoiceActivityAndTheFirstPacket) {
    create(kSlot);
    const int channel = only_stream().channel;
    for (auto select : std::vector<std::function<void(LGCP::IoctlParams&)>>{
             [](auto& p) { p.set_dtmf_enable(true); }, [](auto& p) { p.set_vad_enable(true); },
             [](auto& p) { p.select_pd_enable().set_timeout(300); }}) {
        LGCP::Command command;
        select(command.select_ioctl());
        ASSERT_EQ(std::nullopt, outcome(command, kSlot));
    }

    ASSERT_TRUE(dtmf_model().detect(channel, 5, 77));
    EXPECT_EQ("tonec : { timestamp 77, event dtmf : 5 }", next_signal());
    ASSERT_TRUE(dsp_model().vad(channel, 1, 1, 0));
    EXPECT_EQ("vad : { vad-rx TRUE }", next_signal());

    peer.send_rtp(local, test::rtp_packet(8, 1, 0x1234, 0x55));
    peer.send_rtp(local, test::rtp_packet(8, 2, 0x1234, 0x55));
    EXPECT_EQ(2, rtp_model().poll_network());
    EXPECT_EQ("rtp : pd : { value 1, timeout 300 }", next_signal());
    EXPECT_EQ("", next_signal()) << "a second packet detected";
}

TEST_F(RtpSlotTest, ReadsABurstOfRecordsInOnePass_WithALineEach_AndNothingForNoMore) {
    create(kSlot);
    rtp::rtp_event event{};
    event.type = rtp::kPacketDetection;
    for (int value = 1; value <= 3; ++value) {
        event.value = value;
        ASSERT_TRUE(sim().channels(rtp::kDevice).front()->deliver(&event, sizeof event));
    }
    server.pump();
    for (int value = 1; value <= 3; ++value)
        EXPECT_EQ("rtp : pd : { value " + std::to_string(value) + ", timeout 0 }", next_signal());
    EXPECT_EQ(3, count_of(progress.str(), "]: rtp event:  type=1\n")) << progress.str();
    EXPECT_EQ("", errors.str());
}

// A failed read or a hang-up ends the session: one line, and the slot has
// no session any more, as after a failed restart.
TEST_F(RtpSlotTest, AFailedReadOrAHangUpEndsTheSessionWithOneLine) {
    struct Case {
        const char* name;
        void (*end)();
        const char* logged;
    };
    const Case cases[] = {
        {"EIO", [] { test::fail_rtp(Op::Read, 0, EIO); },
         "fail to read from rtp: Input/output error"},
        {"hang-up", [] { sim().channels(rtp::kDevice).front()->hang_up(); },
         "fail to read from rtp: hung up"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        create(kSlot);
        rtp::rtp_event event{};
        sim().channels(rtp::kDevice).front()->deliver(&event, sizeof event);
        errors.clear();
        c.end();
        EXPECT_EQ(1u, server.loop().ready_passes(50));
        EXPECT_EQ(1, count_of(errors.str(), "\n")) << errors.str();
        EXPECT_NE(std::string::npos, errors.str().find(c.logged)) << errors.str();
        EXPECT_TRUE(sim().channels(rtp::kDevice).empty());
        EXPECT_EQ("abort : 150", next_signal());
        EXPECT_EQ(Cause::unsupported, outcome(codec_mode(true, LGCP::CodecMode::alaw), kSlot));
        ASSERT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), kSlot));
    }
}

// A read of 0 ends the burst, not the session: the event after it comes in
// the next pass.
TEST_F(RtpSlotTest, AReadOf0EndsTheBurstNotTheSession) {
    create(kSlot);
    rtp_model().drained_reads_zero = true;
    board::sim::Channel* session = sim().channels(rtp::kDevice).front();
    rtp::rtp_event event{};
    for (size_t length : {sizeof event, size_t(0), sizeof event}) session->deliver(&event, length);
    errors.clear();
    progress.clear();
    EXPECT_EQ(2u, server.loop().ready_passes(50));
    EXPECT_EQ(2, count_of(progress.str(), "rtp event:"));
    EXPECT_EQ("", errors.str());
    EXPECT_EQ(1u, sim().channels(rtp::kDevice).size());
}

// ---- Media

TEST_F(RtpSlotTest, CarriesMediaBothWaysBetweenTheNetworkAndTheTrunksWiredToIt) {
    create(kSlot);
    create(kTrunk, test::create_trunk(1, 8));
    fabric().line[kTrunkChannel] = 0x42;

    sim().fail_next(Op::Ioctl, rtp::kDevice, EIO, rtp::kInputOn);
    EXPECT_EQ(Cause::connectFail, outcome(test::connect_command(kSlot), kTrunk));
    EXPECT_FALSE(only_stream().input);
    connect(kTrunk, kSlot);
    ASSERT_TRUE(only_stream().input);
    ASSERT_EQ(3, rtp_model().emit(3));
    const auto packets = peer.rtp();
    ASSERT_EQ(3u, packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        const Bytes& p = packets[i];
        ASSERT_EQ(12u + board::sim::RtpModel::kSamples, p.size());
        EXPECT_EQ(0x80, p[0]);
        EXPECT_EQ(8, p[1]);
        EXPECT_EQ(kSsrc, test::word_at(p, 8));
        EXPECT_EQ(uint16_t((packets[0][2] << 8 | packets[0][3]) + i), (p[2] << 8) | p[3]);
        EXPECT_EQ(Bytes(board::sim::RtpModel::kSamples, 0x42), Bytes(p.begin() + 12, p.end()));
    }
    ASSERT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    EXPECT_TRUE(only_stream().input) << "the restarted session";

    connect(kSlot, kTrunk);
    peer.send_rtp(local, test::rtp_packet(8, 1, 0x99, 0x77));
    EXPECT_EQ(1, rtp_model().poll_network());
    EXPECT_EQ(0x77, fabric().byte_on(kTrunkChannel));

    ASSERT_EQ(std::nullopt, outcome(test::command(Alternative::disconnect), kSlot));
    EXPECT_FALSE(only_stream().input);
    EXPECT_EQ(0, rtp_model().emit(1));
}

// A codec change's new session has its input on exactly while the slot is
// wired: not after a disconnect whose input-off the driver refused, and a
// new session whose input-on the driver refuses is a failed change, the old
// session resumed with its input on.
TEST_F(RtpSlotTest, ACodecChangeLeavesTheInputAsTheWiringWantsIt) {
    create(kSlot);
    create(kTrunk, test::create_trunk(1, 8));
    connect(kTrunk, kSlot);
    sim().fail_next(Op::Ioctl, rtp::kDevice, EIO, rtp::kInputOn);
    EXPECT_EQ(Cause::unsupported, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    EXPECT_EQ(8, only_stream().params.tx_pt);
    EXPECT_TRUE(only_stream().input) << "the old session resumed";

    sim().fail_next(Op::Ioctl, rtp::kDevice, EINTR, rtp::kInputOff);
    outcome(test::command(Alternative::disconnect), kSlot);
    ASSERT_TRUE(only_stream().input) << "refused";
    ASSERT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    EXPECT_FALSE(only_stream().input) << "nothing wired to the new session";
    EXPECT_FALSE(dynamic_cast<RtpSlot&>(*Slots::instance()->at(kSlot)).input_on());
    connect(kTrunk, kSlot);
    EXPECT_TRUE(only_stream().input);
}

// What a codec change's session did not get from the driver stays owed, asked
// again every second until done: the input of a wired slot whose new
// session and resumed old one were both refused it (the change failed), and
// packet detection (the change done). An unwired slot owes no input-on, and
// detection set off meanwhile is owed no more; a disconnect's input-off the
// driver refuses is owed too.
TEST_F(RtpSlotTest, WhatTheDriverRefusedACodecChangesSessionIsAskedAgainUntilDone) {
    create(kSlot);
    create(kTrunk, test::create_trunk(1, 8));
    connect(kTrunk, kSlot);
    auto requests = [](uint32_t request) {
        int n = 0;
        for (const auto& call : sim().journal(rtp::kDevice)) n += call.request == request;
        return n;
    };
    sim().fail_next(Op::Ioctl, rtp::kDevice, EIO, rtp::kInputOn, 4);
    EXPECT_EQ(Cause::unsupported, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    EXPECT_EQ(8, only_stream().params.tx_pt);
    advance(2000);
    EXPECT_FALSE(only_stream().input) << "refused twice more";
    advance(1000);
    EXPECT_TRUE(only_stream().input);
    EXPECT_EQ(1, rtp_model().emit(1));

    LGCP::Command detection;
    detection.select_ioctl().select_pd_enable().set_timeout(300);
    ASSERT_EQ(std::nullopt, outcome(detection, kSlot));
    sim().fail_next(Op::Ioctl, rtp::kDevice, EIO, rtp::kSetPacketDetection, 2);
    EXPECT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    advance(1000);
    EXPECT_FALSE(only_stream().detecting) << "refused once more";
    advance(1000);
    EXPECT_TRUE(only_stream().detecting);
    EXPECT_EQ(300, only_stream().pdTimeout);

    sim().fail_next(Op::Ioctl, rtp::kDevice, EIO, rtp::kInputOn, 2);
    sim().fail_next(Op::Ioctl, rtp::kDevice, EIO, rtp::kSetPacketDetection, 2);
    EXPECT_EQ(Cause::unsupported, outcome(codec_mode(true, LGCP::CodecMode::alaw), kSlot));
    ASSERT_EQ(std::nullopt, outcome(test::command(Alternative::disconnect), kSlot));
    LGCP::Command noDetection;
    noDetection.select_ioctl().select_pd_disable();
    ASSERT_EQ(std::nullopt, outcome(noDetection, kSlot));
    sim().clear_journal();
    advance(3000);
    EXPECT_EQ(0, requests(rtp::kInputOn));
    EXPECT_EQ(0, requests(rtp::kSetPacketDetection));
    EXPECT_FALSE(only_stream().input);

    connect(kTrunk, kSlot);
    sim().fail_next(Op::Ioctl, rtp::kDevice, EIO, rtp::kInputOff, 2);
    EXPECT_EQ(std::nullopt, outcome(test::command(Alternative::disconnect), kSlot));
    advance(1000);
    EXPECT_TRUE(only_stream().input) << "refused once more";
    advance(1000);
    EXPECT_FALSE(only_stream().input);

    // Wired again while the off is owed: the input, still on, stays on.
    connect(kTrunk, kSlot);
    sim().fail_next(Op::Ioctl, rtp::kDevice, EIO, rtp::kInputOff);
    EXPECT_EQ(std::nullopt, outcome(test::command(Alternative::disconnect), kSlot));
    sim().fail_next(Op::Ioctl, rtp::kDevice, EIO, rtp::kInputOn);
    connect(kTrunk, kSlot);
    advance(1000);
    EXPECT_TRUE(only_stream().input);
}

// As the radio slots do: the radio's squelch switches the input on, while
// a disconnection still switches it off.
class SquelchFollowingSlot : public RtpSlot {
public:
    using RtpSlot::RtpSlot;
    void follow() { followsSquelch_ = true; }
};

TEST_F(RtpSlotTest, FollowingTheSquelchWiringOnlySwitchesTheInputOff) {
    create(kSlot);
    const OwnSession own = begin_own_session();
    SquelchFollowingSlot slot(own.channel, own.fd, own.params);
    slot.follow();
    auto stream = [&] { return rtp_model().on_channel(own.channel); };

    EXPECT_TRUE(slot.IOnInputStream());
    EXPECT_FALSE(stream()->input);
    board::ioctl(own.fd.get(), rtp::kInputOn, nullptr);
    slot.IOnInputRelease();
    EXPECT_FALSE(stream()->input);
    EXPECT_FALSE(slot.input_on());
}

// ---- Destroy and query

TEST_F(RtpSlotTest, DestroyTearsTheSessionDownInOrder_SwitchesTheChannelOff_AndSaysBye) {
    create(kSlot);
    const int channel = only_stream().channel;
    const uint32_t ssrc = only_stream().params.ssrc;
    LGCP::Command echo;
    echo.select_ioctl().set_echoSuppressor(true);
    ASSERT_EQ(std::nullopt, outcome(echo, kSlot));
    peer.rtcp();
    sim().clear_journal();

    EXPECT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), kSlot));
    EXPECT_FALSE(dtmf_model().timeslot(channel).echoCancel) << "the next call's to ask for";
    std::vector<uint32_t> requests;
    for (const auto& call : sim().journal(rtp::kDevice))
        if (call.op == Op::Ioctl) requests.push_back(call.request);
    EXPECT_EQ((std::vector<uint32_t>{rtp::kTeardown1, rtp::kTeardown2, rtp::kTeardown3,
                                     rtp::kResetPacketDetection}),
              requests);
    EXPECT_EQ(1u, disables_on_switch(channel));
    EXPECT_TRUE(rtp_model().streams().empty());

    auto packets = peer.rtcp();
    ASSERT_EQ(1u, packets.size());
    const Rtcp bye = parse_rtcp(packets[0]);
    EXPECT_EQ(20u, packets[0].size());
    EXPECT_EQ(203, bye.pt);
    EXPECT_EQ(ssrc, bye.ssrc);
    EXPECT_EQ("session end", bye.reason);
}

// A request the driver refuses keeps what was known.
TEST_F(RtpSlotTest, ReportsTheVoiceChannels_AndWithoutTheDeviceKeepsTheLastTwo) {
    voice_model().capacity = {{4, 3}, {2, 5}, {8, 7}, {0x41, 9}};
    EXPECT_EQ("g729 3 g723 5 g711 32 g711mcc 7 universal 9", query());
    sim().fail_next(Op::Ioctl, board::voice::kDevice, EIO, board::voice::kCapacity, 5);
    EXPECT_EQ("g729 3 g723 5 g711 32 g711mcc 7 universal 9", query());
    voice_model().absent = true;
    EXPECT_EQ("g729 0 g723 0 g711 0 g711mcc 7 universal 9", query());
}

TEST(RtpStrError, NamesKnownCodesAndFormatsOthers) {
    EXPECT_STREQ("No error", RTPStrError(0));
    EXPECT_STREQ("Can't bind socket", RTPStrError(0x3000105));
    EXPECT_STREQ("Don't send this packet now", RTPStrError(0x3000122));
    EXPECT_STREQ("Unknown RTP Error 50331917", RTPStrError(0x300010d));
}

}  // namespace
