// Radio RTP slots made by the VARK and ED-137 factories for a test
// controller, on the simulated RTP engine and header-extension device: the
// sessions they open, the radio signalling both ways, their ioctls, codec
// changes, squelch and end.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "board/devio.h"
#include "radio/r2s_proto.h"
#include "radio/rtp_ed137_factory.h"
#include "radio/rtp_vark_factory.h"
#include "radio/rtp_vark_slot.h"
#include "tests/radio/radio_fixture.h"
#include "tests/slots/rtp_fixture.h"
#include "tests/support/case_name.h"
#include "tests/support/controller_inputs.h"

namespace {

namespace rtp = board::rtp;
namespace ext = board::rtp_ext;
using board::sim::Channel;
using board::sim::Op;
using Cause = LGCP::ErrorCause::NamedNumber;
using radio_test::text_of;
using radio_test::value_of;
using Change = std::function<void(LGCP::CreateRtpParams&)>;

constexpr unsigned kSlot = 7;
constexpr unsigned kOther = 8;

// An ED-137 header in value notation.
std::string header(const char* ptt, const char* squ, int id) {
    return std::string("{ ptt ") + ptt + ", squ " + squ + ", ptt-id " + std::to_string(id) +
           ", ptt-mute FALSE, ptt-summation FALSE, sct FALSE }";
}

// The radio response of the sessions below, before its optional tail.
const std::string kResponse =
    "type radio-txrx, txrxmode txrx, sigtime 1, r2s-keepalive-period 200, "
    "r2s-keepalive-multiplier 10, ptt-id 3";

TERM::RadioStatus ed137_status(const char* squ = "squ-off",
                               const std::string& response = kResponse) {
    std::string text = "ed-137 : { header " + header("ptt-off", squ, 3);
    if (!response.empty()) text += ", radio-response { " + response + " }";
    return value_of<TERM::RadioStatus>(text + " }");
}

TERM::RadioModifier ed137_rx(const char* squ) {
    return value_of<TERM::RadioModifier>(
        "ed-137 : { addr { session-addr \"127.0.0.2\", session-ssrc 9 }, params rx : { header " +
        header("ptt-off", squ, 3) + " } }");
}

// Keyed by the position at `position` with PTT type `ptt`.
TERM::RadioModifier ed137_keyed(const char* ptt, const std::string& position = "127.0.0.2") {
    return value_of<TERM::RadioModifier>("ed-137 : { addr { session-addr \"" + position +
                                         "\", session-ssrc 9 }, params rx : { header " +
                                         header(ptt, "squ-off", 3) + " } }");
}

// A wm-trans that keys the radio for the position at `position` (or, with
// `ptt` "FALSE", un-keys it).
TERM::RadioModifier vark_keyed(int prio, const char* ptt = "TRUE",
                               const std::string& position = "127.0.0.2") {
    return value_of<TERM::RadioModifier>(
        "vark : { addr { session-addr \"127.0.0.3\", session-ssrc 5 }, params wm-trans : { flags "
        "{ prio " +
        std::to_string(prio) + ", ptt " + ptt +
        ", bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, rv "
        "FALSE, resv FALSE, selcall 0, li 0 }, ip \"" +
        position + "\", ssrc 5 } }");
}

r2s_proto unpack_rx(const std::vector<uint8_t>& bytes) {
    r2s_proto record;
    EXPECT_EQ(0, r2s_proto_unpack_rx(&record, bytes.data(), static_cast<int>(bytes.size())));
    return record;
}

// A TX extension of a controlling position.
test::Bytes ed137_tx(unsigned ptt, unsigned id) {
    r2s_proto record;
    r2s_proto_init(&record, R2S_PROTO_TX);
    r2s_proto_set_tx_header(&record, ptt, id, 0, 0);
    unsigned char bytes[8];
    return test::Bytes(bytes, bytes + r2s_proto_pack(&record, bytes, sizeof bytes));
}

sig_proto unpack_vark(const std::vector<uint8_t>& bytes) {
    sig_proto record;
    EXPECT_EQ(0, sig_proto_unpack(&record, bytes.data(), static_cast<int>(bytes.size())));
    return record;
}

// The controller's `only-rtp` {7, 1234}.
void only_rtp(LGCP::CreateRtpParams& p) {
    auto& only = p.get_codecRTP().include_rtp_e2m().include_mode().select_only_rtp();
    only.set_fd(7);
    only.set_pid(1234);
}

LGCP::Command ioctl_rtp_ext(const TERM::RadioModifier& modifier) {
    LGCP::Command command;
    command.select_ioctl().set_rtpExt(modifier);
    return command;
}

// Descriptors this process holds.
int open_descriptors() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (dirent* entry = dir ? ::readdir(dir) : nullptr)
        if (entry->d_name[0] != '.') ++count;
    if (dir) ::closedir(dir);
    return count;
}

class RadioSlotTest : public test::RtpSlotTest {
public:
    // For the tables' steps.
    using RtpSlotTest::connect;
    using RtpSlotTest::create;
    using RtpSlotTest::outcome;

    RadioSlotTest() {
        RtpVARKFactory::instance();
        RtpED137Factory::instance();
    }

    static board::sim::RtpExtModel& ext_model() { return test::rtp_ext(); }

    LGCP::Command vark_command(const Change& change = {}) {
        return ed137_command(radio_test::vark_status(), change);
    }
    // A creation with the radio status (an ED-137 one unless told otherwise).
    LGCP::Command ed137_command(const TERM::RadioStatus& status = ed137_status(),
                                const Change& change = {}) {
        return create_command([&](LGCP::CreateRtpParams& p) {
            p.get_codecRTP().include_radio().set_status(status);
            if (change) change(p);
        });
    }
    // A command for a second slot: the same far end, other local ports.
    static LGCP::Command on_other_ports(LGCP::Command command) {
        command.get_create()->get_rtp()->get_codecRTP().get_shost()->set_port(
            test::free_udp_pair());
        return command;
    }

    static RtpExtSlot& slot(unsigned number) {
        return dynamic_cast<RtpExtSlot&>(*Slots::instance()->at(number));
    }
    // The open of "/dev/rtp" that carries the slot's stream now.
    static Channel* rtp_open_of(unsigned number) {
        for (Channel* open : sim().channels(rtp::kDevice)) {
            const auto* stream = rtp_model().stream_of(*open);
            if (stream && stream->channel == slot(number).channel()) return open;
        }
        return nullptr;
    }
    static const board::sim::RtpModel::Stream& stream(unsigned number) {
        return *rtp_model().stream_of(*rtp_open_of(number));
    }
    // The extension session attached to the slot's current stream through a
    // descriptor of this process that names that stream.
    static board::sim::RtpExtModel::Session* ext_session_of(unsigned number) {
        Channel* open = rtp_open_of(number);
        for (auto* session : ext_model().sessions())
            if (open && session->rtp == open && session->attach &&
                sim().channel(session->attach->fd_rtp) == open)
                return session;
        return nullptr;
    }

    // The driver passes only `addr` to the slot's extension session.
    static bool filters(unsigned number, const char* addr) {
        const auto* session = ext_session_of(number);
        return session && session->filter && session->filter->addr == test::ip(addr);
    }

    // The radio-relevant requests of the journal, in order.
    static std::vector<std::string> radio_calls() {
        struct Name {
            const char* path;
            uint32_t request;
            const char* name;
        };
        static const Name names[] = {
            {ext::kDevice, ext::kInit, "ext init"},
            {ext::kDevice, ext::kAttach, "ext attach"},
            {ext::kDevice, ext::kDetach, "ext detach"},
            {rtp::kDevice, rtp::kBeginSession, "rtp begin"},
            {rtp::kDevice, rtp::kAddChannel, "rtp add channel"},
            {rtp::kDevice, rtp::kAttach, "rtp attach"},
            {rtp::kDevice, rtp::kInputOn, "rtp input on"},
            {rtp::kDevice, rtp::kInputOff, "rtp input off"},
            {rtp::kDevice, rtp::kTeardown1, "rtp teardown"},
        };
        std::vector<std::string> out;
        for (const auto& call : sim().journal()) {
            for (const Name& n : names)
                if (call.op == Op::Ioctl && call.path == n.path && call.request == n.request)
                    out.push_back(n.name);
            if (call.op == Op::Write && call.path == ext::kDevice) out.push_back("ext write");
        }
        return out;
    }

    // The next signal of one alternative; nullopt when none comes.
    std::optional<LGCP::Message> next_of(LGCP::Signal::Alternative alternative) {
        return controller.receive_until(
            [&](const LGCP::Message& m) {
                return test::is_signal(m) && m.get_pdu().get_signal()->selection() == alternative;
            },
            5);
    }
};

// ---- Which factory makes the slot

struct ChoiceCase {
    const char* what;
    std::function<void(TERM::RtpParams&)> radio;
    const char* name;
    const char* header;  // the factory's log lines
    const char* log;     // each creation's
};

const ChoiceCase kChoiceCases[] = {
    {"no radio", nullptr, "rtp", "rtp[", "]: do create rtp: {"},
    {"vark", [](auto& c) { c.include_radio().set_status(radio_test::vark_status()); },
     "rtp ext VARK (GW)", "rtp ext VARK[", "]: do create rtp ext VARK: {"},
    {"ed137", [](auto& c) { c.include_radio().set_status(ed137_status()); }, "rtp ext ED137 (GW)",
     "rtp ext ED137[", "]: do create rtp ext ED137: {"},
};

class RadioFactoryChoice : public RadioSlotTest,
                           public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(RadioFactoryChoice, TheRadioStatusPicksTheFactory_AndTheQueryStaysTheRtpFactorys) {
    create(kSlot, [](LGCP::CreateRtpParams& p) {
        if (GetParam().radio) GetParam().radio(p.get_codecRTP());
    });
    EXPECT_STREQ(GetParam().name, Slots::instance()->at(kSlot)->GetName());
    const std::string log = progress.str();
    EXPECT_NE(std::string::npos, log.find(std::string("\n") + GetParam().header)) << log;
    EXPECT_EQ(1, count_of(log, GetParam().log)) << log;
    EXPECT_EQ(1u, peer.rtcp().size()) << "the source description";

    voice_model().capacity = {{4, 3}, {2, 5}, {8, 7}, {0x41, 9}};
    EXPECT_EQ("g729 3 g723 5 g711 31 g711mcc 7 universal 9", query()) << "one channel in use";
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioFactoryChoice, ::testing::ValuesIn(kChoiceCases),
                         test::CaseName());

// ---- VARK

TEST_F(RadioSlotTest, VarkGatewayAttachesItsOwnSessionAndReportsTheCreationStatusEverySecond) {
    auto reply = answer(vark_command(), 1, kSlot);
    ASSERT_TRUE(reply && test::is_success(*reply));
    EXPECT_EQ("transmitter : active : " + std::to_string(slot(kSlot).channel()), next_signal());
    EXPECT_EQ("receiver : active : " + std::to_string(slot(kSlot).channel()), next_signal());

    auto* session = ext_session_of(kSlot);
    ASSERT_NE(nullptr, session);
    ASSERT_TRUE(session->init);
    EXPECT_EQ(ext::kVarkProfile, session->init->etype);
    EXPECT_EQ((std::vector<int32_t>{0, 0, 0, 0}),
              std::vector<int32_t>(session->init->params, session->init->params + 4));
    EXPECT_EQ(::getpid(), session->attach->pid_rtp);
    EXPECT_TRUE(session->sent.empty()) << "a status is kept, not sent";

    server.advance(1000);
    std::vector<uint32_t> types;
    for (const auto& bytes : session->sent) {
        const sig_proto report = unpack_vark(bytes);
        types.push_back(report.type);
        if (report.type == WM_CHAN) {
            EXPECT_EQ(1u, report.body.wm_chan.id);
            EXPECT_FLOAT_EQ(121.5f, report.body.wm_chan.freq);
            EXPECT_EQ(TERM::RadioSquelshe::on, report.body.wm_chan.squelsh);
            EXPECT_EQ(TERM::RadioRTE::a1b, report.body.wm_chan.rte);
        }
        if (report.type == WM_STANDBY) {
            EXPECT_EQ(3, report.body.wm_standby.group);
        }
    }
    EXPECT_EQ((std::vector<uint32_t>{WM_FLAG, WM_CHAN, WM_SELECT_RC_CHAN, WM_STANDBY}), types);
    session->sent.clear();
    server.advance(1000);
    EXPECT_EQ(4u, session->sent.size());
}

TEST_F(RadioSlotTest, VarkCommandsGoOutAndThePositionsPacketsComeBackAsRtpExtSignals) {
    create(kSlot, vark_command());
    auto& session = *ext_session_of(kSlot);
    const TERM::RadioModifier trans = value_of<TERM::RadioModifier>(
        "vark : { addr { session-addr \"127.0.0.2\", session-ssrc 9 }, params wm-trans : { flags "
        "{ prio 5, ptt FALSE, bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr "
        "FALSE, rv FALSE, resv FALSE, selcall 0, li 0 }, ip \"127.0.0.3\", ssrc 5 } }");

    EXPECT_EQ(std::nullopt, outcome(ioctl_rtp_ext(trans), kSlot));
    ASSERT_EQ(1u, session.sent.size());
    EXPECT_EQ(uint32_t(WM_TRANS), unpack_vark(session.sent[0]).type);
    EXPECT_EQ(5u, unpack_vark(session.sent[0]).body.wm_trans.ssrc);

    session.inject(radio_test::vark_header(GW_FLAG_PTT, 3, 1), test::ip("127.0.0.2"), 9);
    server.pump();
    auto signal = next_of(LGCP::Signal::Alternative::rtpExt);
    ASSERT_TRUE(signal);
    EXPECT_EQ(kSlot, test::slot_of(*signal));
    const TERM::RtpRadioRequest& report = *signal->get_pdu().get_signal()->get_rtpExt();
    EXPECT_EQ("\"121.500000\"",
              text_of(report.get_status().get_vark()->get_freq().get_frequency()));
    const TERM::VarkRadioModifier& heard = *report.get_request()->get_vark();
    EXPECT_TRUE(heard.get_params().is_gw_set_ptt());
    EXPECT_EQ("127.0.0.2", heard.get_addr().get_session_addr());
    EXPECT_EQ(9u, heard.get_addr().get_session_ssrc().getUnsignedValue());
}

TEST_F(RadioSlotTest, VarkOnlyRtpAttachesTheStreamToTheNamedSessionAndOpensNone) {
    create(kSlot, vark_command(only_rtp));
    EXPECT_TRUE(sim().channels(ext::kDevice).empty());
    const auto& attached = rtp_model().stream_of(*rtp_open_of(kSlot))->attached;
    ASSERT_TRUE(attached);
    EXPECT_EQ(7, attached->fd_rtp);
    EXPECT_EQ(1234, attached->pid_rtp);
    EXPECT_EQ(RTPSignalling::RadioControlOnRtpSession, slot(kSlot).control()->type());
}

// ---- ED-137

TEST_F(RadioSlotTest, Ed137GatewayKeepsTheLinkAliveReportsTxAndTheFarEndsSilence) {
    create(kSlot, ed137_command(ed137_status("squ-on"),
                                [](LGCP::CreateRtpParams& p) { p.get_codecRTP().set_pfactor(2); }));
    auto& session = *ext_session_of(kSlot);
    EXPECT_EQ(ext::kEd137Profile, session.init->etype);
    EXPECT_EQ((std::vector<int32_t>{1, 123, 10, 1}),
              std::vector<int32_t>(session.init->params, session.init->params + 4));
    EXPECT_EQ(-1, session.attach->pid_rtp);
    EXPECT_EQ(1000u, slot(kSlot).control()->interval());

    // The creation status went out at once; the keep-alive repeats it.
    ASSERT_EQ(1u, session.sent.size());
    const auto status = session.sent[0];
    r2s_proto rx;
    ASSERT_EQ(0, r2s_proto_unpack_rx(&rx, status.data(), static_cast<int>(status.size())));
    EXPECT_EQ(1u, rx.header.rx.squ);
    EXPECT_EQ(3u, rx.header.rx.ptt_id);
    for (int second = 1; second <= 3; ++second) {
        session.sent.clear();
        server.advance(1000);
        EXPECT_EQ(std::vector<std::vector<uint8_t>>{status}, session.sent) << second;
        if (second == 1) {
            session.inject(ed137_tx(1, 5), test::ip("127.0.0.2"), 9);
            server.pump();
            auto signal = next_of(LGCP::Signal::Alternative::rtpExt);
            ASSERT_TRUE(signal);
            const auto& tx = *signal->get_pdu().get_signal()->get_rtpExt()->get_request();
            EXPECT_EQ(
                text_of(value_of<TERM::ED137RadioHeader>(header("normal-ptt-on", "squ-off", 5))),
                text_of(tx.get_ed_137()->get_params().get_tx()->get_header()));
        }
        if (second == 2) {
            EXPECT_FALSE(next_of(LGCP::Signal::Alternative::abort));
        }
    }
    auto abort = next_of(LGCP::Signal::Alternative::abort);
    ASSERT_TRUE(abort) << "2 s after the last TX extension";
    EXPECT_EQ(151, abort->get_pdu().get_signal()->get_abort()->getValue());
    EXPECT_EQ(kSlot, test::slot_of(*abort));
}

struct InitCase {
    const char* what;
    int pfactor;  // -1: none
    std::string response;
    int32_t word3, word4;
    unsigned long interval;
};

const InitCase kInitCases[] = {
    {"period 200 pfactor 2 sigtime 1", 2, kResponse, 10, 1, 1000},
    {"pfactor 0 counts as 2", 0, kResponse, 10, 1, 1000},
    {"no pfactor counts as 2", -1, kResponse, 10, 1, 1000},
    {"sigtime 3", 2,
     "type radio-txrx, txrxmode txrx, sigtime 3, r2s-keepalive-period 200, ptt-id 0", 30, 3, 1000},
    {"period 1000 pfactor 5 multiplier 4", 5,
     "type radio-txrx, txrxmode txrx, r2s-keepalive-period 1000, r2s-keepalive-multiplier 4, "
     "ptt-id 0",
     20, 1, 2000},
    {"no radio response", 2, "", 10, 1, 1000},
};

class Ed137InitWords : public RadioSlotTest, public ::testing::WithParamInterface<InitCase> {};

TEST_P(Ed137InitWords, ComeFromTheKeepAlivePeriodPacketFactorAndSigtime) {
    const InitCase& c = GetParam();
    create(kSlot, ed137_command(ed137_status("squ-off", c.response), [&](auto& p) {
               if (c.pfactor >= 0) p.get_codecRTP().set_pfactor(c.pfactor);
           }));
    const auto& init = *ext_session_of(kSlot)->init;
    EXPECT_EQ(c.word3, init.params[2]);
    EXPECT_EQ(c.word4, init.params[3]);
    EXPECT_EQ(c.interval, slot(kSlot).control()->interval());
}

INSTANTIATE_TEST_SUITE_P(Radio, Ed137InitWords, ::testing::ValuesIn(kInitCases), test::CaseName());

// The creation is answered success whatever the first write of its status:
// the status is the radio's state, and the next write carries it (the
// keep-alive, or the first of a session a codec change opens).
class Ed137UnwrittenStatus : public RadioSlotTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Ed137UnwrittenStatus, GoesOutWithTheNextWrite) {
    const bool noSession = GetParam();
    if (noSession)
        ext_model().absent = true;
    else
        sim().fail_next(Op::Write, ext::kDevice, EIO);
    create(kSlot, ed137_command(ed137_status(
                      "squ-on", kResponse + ", transmission-depend-on-squ TRUE")));
    EXPECT_TRUE(slot(kSlot).input_on()) << "the squelch of the status is open";
    if (noSession) {
        ext_model().absent = false;
        ASSERT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    } else {
        server.advance(1000);
    }
    const auto* session = ext_session_of(kSlot);
    ASSERT_TRUE(session && !session->sent.empty());
    const r2s_proto written = unpack_rx(session->sent.back());
    EXPECT_EQ(1u, written.header.rx.squ);
    EXPECT_EQ(3u, written.header.rx.ptt_id);
}

INSTANTIATE_TEST_SUITE_P(Radio, Ed137UnwrittenStatus, ::testing::Bool(), [](const auto& info) {
    return info.param ? "NoSessionUntilACodecChange" : "FirstWriteFails";
});

// ---- Ioctls

TEST_F(RadioSlotTest, RtpExtIsUnsupportedOnAPlainSlotAndWhenTheExtensionCannotBeWritten) {
    create(kSlot);
    const auto command = ioctl_rtp_ext(ed137_rx("squ-on"));
    EXPECT_EQ(Cause::unsupported, outcome(command, kSlot));

    create(kOther, on_other_ports(ed137_command()));
    auto& session = *ext_session_of(kOther);
    session.sent.clear();
    sim().fail_next(Op::Write, ext::kDevice, EIO);
    EXPECT_EQ(Cause::unsupported, outcome(command, kOther));
    EXPECT_EQ(std::nullopt, outcome(command, kOther)) << "written the next time";
    ASSERT_EQ(1u, session.sent.size());
    EXPECT_EQ(1u, unpack_rx(session.sent[0]).header.rx.squ);
}

// The answer and the radio agree: a key that was not written keys nothing,
// neither the driver's filter nor the reports; the retry does.
TEST_F(RadioSlotTest, AVarkCommandThatWasNotWrittenLeavesTheRadioAsItWas) {
    create(kSlot, vark_command());
    auto& session = *ext_session_of(kSlot);
    const auto reports = [&] {
        session.sent.clear();
        server.advance(1000);
        std::vector<uint32_t> types;
        for (const auto& bytes : session.sent) types.push_back(unpack_vark(bytes).type);
        return types;
    };
    sim().fail_next(Op::Write, ext::kDevice, EIO);
    EXPECT_EQ(Cause::unsupported, outcome(ioctl_rtp_ext(vark_keyed(0)), kSlot));
    EXPECT_FALSE(session.filter);
    EXPECT_EQ(uint32_t(WM_FLAG), reports().at(0));

    EXPECT_EQ(std::nullopt, outcome(ioctl_rtp_ext(vark_keyed(0)), kSlot));
    EXPECT_TRUE(filters(kSlot, "127.0.0.2"));
    EXPECT_EQ(uint32_t(WM_TRANS), reports().at(0));
}

// A codec change stops the extension around the RTP restart; every attach
// names the stream the slot has now, and the old stream is closed.
struct FormCase {
    const char* what;
    bool ed137;
    bool onlyRtp;
    std::vector<std::string> calls;
};

const std::vector<std::string> kRestartBoth = {"ext detach", "rtp begin", "rtp add channel",
                                               "ext init", "ext attach"};
// The new ED-137 session gets the radio's state at once.
const std::vector<std::string> kRestartEd137 = {"ext detach", "rtp begin",  "rtp add channel",
                                                "ext init",   "ext attach", "ext write"};
const FormCase kFormCases[] = {
    {"vark own session", false, false, kRestartBoth},
    {"vark only rtp", false, true, {"rtp begin", "rtp add channel", "rtp attach"}},
    {"ed137", true, false, kRestartEd137},
};

class RadioAttachAfterCodecChange : public RadioSlotTest,
                                    public ::testing::WithParamInterface<FormCase> {
protected:
    LGCP::Command command() {
        if (GetParam().ed137) return ed137_command();
        return GetParam().onlyRtp ? vark_command(only_rtp) : vark_command();
    }
    bool attached_to_own_stream(unsigned number) {
        if (!GetParam().onlyRtp) return ext_session_of(number) != nullptr;
        const auto& attached = rtp_model().stream_of(*rtp_open_of(number))->attached;
        return attached && attached->fd_rtp == 7 && attached->pid_rtp == 1234;
    }
};

TEST_P(RadioAttachAfterCodecChange, EachSlotIsAttachedToItsOwnCurrentStream) {
    create(kSlot, command());
    create(kOther, on_other_ports(command()));
    const board::sim::FileId old = rtp_open_of(kSlot)->id();
    sim().clear_journal();

    EXPECT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    EXPECT_EQ(GetParam().calls, radio_calls());
    EXPECT_EQ(0, rtp_model().stream_of(*rtp_open_of(kSlot))->params.tx_pt);
    EXPECT_TRUE(attached_to_own_stream(kSlot));
    EXPECT_TRUE(attached_to_own_stream(kOther));
    std::vector<board::sim::FileId> opens;
    for (Channel* open : sim().channels(rtp::kDevice)) opens.push_back(open->id());
    EXPECT_EQ(2u, opens.size());
    EXPECT_EQ(opens.end(), std::find(opens.begin(), opens.end(), old)) << "the old stream is open";
}

// The failed change begins the old stream again, and the radio goes on with
// it; the answer stays the change's.
TEST_P(RadioAttachAfterCodecChange, AFailedChangeLeavesTheRadioOnTheResumedStream) {
    create(kSlot, command());
    test::fail_rtp(Op::Ioctl, rtp::kBeginSession, EIO);

    EXPECT_EQ(Cause::unsupported, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    EXPECT_EQ(8, rtp_model().stream_of(*rtp_open_of(kSlot))->params.tx_pt);
    EXPECT_TRUE(attached_to_own_stream(kSlot));
}

// The radio's session does not open on the new stream (the device missing,
// no descriptor, the attach refused): the answer is a failure, so the stream
// goes back to the old codec and the radio on it.
TEST_P(RadioAttachAfterCodecChange, AChangeTheRadioCannotFollowLeavesTheOldCodec) {
    struct Failure {
        Op op;
        const char* device;
        int error;
        uint32_t request;
    };
    const std::vector<Failure> failures =
        GetParam().onlyRtp ? std::vector<Failure>{{Op::Ioctl, rtp::kDevice, EIO, rtp::kAttach}}
                           : std::vector<Failure>{{Op::Open, ext::kDevice, ENOENT, 0},
                                                  {Op::Open, ext::kDevice, EMFILE, 0},
                                                  {Op::Ioctl, ext::kDevice, EIO, ext::kAttach}};
    create(kSlot, command());
    for (const Failure& f : failures) {
        sim().fail_next(f.op, f.device, f.error, f.request);
        EXPECT_EQ(Cause::unsupported, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
        EXPECT_EQ(8, stream(kSlot).params.tx_pt) << std::strerror(f.error);
        EXPECT_TRUE(attached_to_own_stream(kSlot)) << std::strerror(f.error);
    }
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioAttachAfterCodecChange, ::testing::ValuesIn(kFormCases),
                         test::CaseName());

// A wired VARK slot whose failed codec change resumed the old stream
// without the input the driver refused it (the RTP slot's resume, or the
// radio's when its session did not open on the new stream): the input is
// asked again at each second until the trunk's voice goes out.
TEST_F(RadioSlotTest, AWiredStreamResumedWithoutItsInputHasItAskedAgain) {
    const struct {
        const char* what;
        int refusedInput;  // the first input-on refused, of the change's
        bool radioRefused;
    } cases[] = {{"new and resumed stream refused", 1, false},
                 {"the radio's session refused", 2, true}};
    create(3, test::create_trunk(1, 8));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        create(kSlot, vark_command());
        connect(3, kSlot);
        sim().refuse = [&c, seen = 0](Op, const std::string&, uint32_t request,
                                      const void*) mutable {
            return request == rtp::kInputOn && ++seen >= c.refusedInput && seen <= 3 ? EIO : 0;
        };
        if (c.radioRefused) sim().fail_next(Op::Ioctl, ext::kDevice, EIO, ext::kAttach);
        EXPECT_EQ(Cause::unsupported, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
        EXPECT_EQ(8, stream(kSlot).params.tx_pt);
        EXPECT_TRUE(ext_session_of(kSlot));
        advance(1000);
        EXPECT_FALSE(stream(kSlot).input) << "refused once more";
        advance(1000);
        EXPECT_TRUE(stream(kSlot).input);
        EXPECT_EQ(1, rtp_model().emit(1));
        sim().refuse = nullptr;
        ASSERT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), kSlot));
    }
}

// A radio slot that lost its stream (a codec change that could not begin
// it again, or its descriptor's end) says so once: the radio goes with the
// stream, its extension session ended, and nothing of it comes afterwards
// (ED-137's keep-alive watch, packets of the positions, the session's end).
struct LossCase {
    const char* what;
    bool onlyRtp;      // VARK on the stream's own descriptor, else ED-137
    bool codecChange;  // else the stream's descriptor ends
};

const LossCase kLossCases[] = {
    {"ed137 codec change fails", false, true},
    {"ed137 stream ends", false, false},
    {"vark only rtp stream ends", true, false},
};

class RadioLostStream : public RadioSlotTest, public ::testing::WithParamInterface<LossCase> {};

TEST_P(RadioLostStream, AbortsOnceAndEndsTheRadio) {
    const LossCase& c = GetParam();
    create(kSlot, c.onlyRtp ? vark_command(only_rtp) : ed137_command());
    if (c.codecChange) {
        sim().fail_next(Op::Ioctl, rtp::kDevice, EIO, rtp::kBeginSession, 2);
        controller.send(codec_mode(true, LGCP::CodecMode::ulaw), 1, kSlot);
    } else {
        rtp_open_of(kSlot)->hang_up();
    }
    server.pump();
    EXPECT_TRUE(sim().channels(ext::kDevice).empty()) << "an extension session is open";
    EXPECT_TRUE(sim().channels(rtp::kDevice).empty()) << "the stream is open";
    for (auto* session : ext_model().sessions())
        session->inject(ed137_tx(1, 5), test::ip("127.0.0.2"), 9);
    server.pump();
    for (Channel* open : sim().channels(ext::kDevice)) open->hang_up();
    server.advance(5000);
    std::vector<std::string> radio;  // aborts and reports
    for (std::string signal = next_signal(); !signal.empty(); signal = next_signal())
        if (signal.rfind("abort", 0) == 0 || signal.rfind("rtpExt", 0) == 0) radio.push_back(signal);
    EXPECT_EQ(std::vector<std::string>{"abort : 150"}, radio);
    EXPECT_EQ(Cause::unsupported, outcome(ioctl_rtp_ext(ed137_rx("squ-on")), kSlot));
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioLostStream, ::testing::ValuesIn(kLossCases),
                         test::CaseName());

// An extension session that ends is told once; the status timer waits for
// the session that a codec change opens.
TEST_F(RadioSlotTest, AnEndedExtensionSessionIsToldOnceUntilACodecChangeOpensAnother) {
    create(kSlot, ed137_command());
    sim().channel(slot(kSlot).control()->ext_fd())->hang_up();
    server.advance(10000);
    std::vector<int> causes;
    while (auto abort = next_of(LGCP::Signal::Alternative::abort))
        causes.push_back(abort->get_pdu().get_signal()->get_abort()->getValue());
    EXPECT_EQ(std::vector<int>{RTPSignalling::RadioControl::kSessionEnded}, causes);

    ASSERT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    auto& session = *ext_session_of(kSlot);
    session.sent.clear();
    server.advance(1000);
    EXPECT_EQ(1u, session.sent.size()) << "the keep-alive";
}

// ---- What a codec change keeps

// Each setting is in force on the sessions a codec change begins: the RTP
// session, and the extension session, which restarts also when the mode is
// the one in use.
struct SettingCase {
    const char* what;
    std::function<LGCP::Command(RadioSlotTest&)> create;
    std::function<void(RadioSlotTest&)> set;  // after the creation
    std::function<bool(RadioSlotTest&)> inForce;
};

const SettingCase kSettingCases[] = {
    {"ed137 source filter", [](RadioSlotTest& t) { return t.ed137_command(); },
     [](RadioSlotTest& t) {
         ASSERT_EQ(std::nullopt, t.outcome(ioctl_rtp_ext(ed137_keyed("emergency-ptt-on")), kSlot));
     },
     [](RadioSlotTest&) { return RadioSlotTest::filters(kSlot, "127.0.0.2"); }},
    {"vark source filter", [](RadioSlotTest& t) { return t.vark_command(); },
     [](RadioSlotTest& t) {
         ASSERT_EQ(std::nullopt, t.outcome(ioctl_rtp_ext(vark_keyed(0)), kSlot));
     },
     [](RadioSlotTest&) { return RadioSlotTest::filters(kSlot, "127.0.0.2"); }},
    {"packet detection", [](RadioSlotTest& t) { return t.vark_command(); },
     [](RadioSlotTest& t) {
         LGCP::Command command;
         command.select_ioctl().select_pd_enable().set_timeout(300);
         ASSERT_EQ(std::nullopt, t.outcome(command, kSlot));
     },
     [](RadioSlotTest&) {
         const auto& stream = RadioSlotTest::stream(kSlot);
         return stream.detecting && stream.pdTimeout == 300;
     }},
    {"bss word",
     [](RadioSlotTest& t) {
         return t.vark_command(
             [](LGCP::CreateRtpParams& p) { p.get_codecRTP().get_radio()->set_bss_enable(true); });
     },
     nullptr, [](RadioSlotTest&) { return RadioSlotTest::stream(kSlot).added.reserved == 1; }},
    {"ed137 radio state", [](RadioSlotTest& t) { return t.ed137_command(ed137_status("squ-on")); },
     nullptr,
     [](RadioSlotTest&) {
         const auto& sent = RadioSlotTest::ext_session_of(kSlot)->sent;
         return !sent.empty() && unpack_rx(sent.back()).header.rx.squ == 1;
     }},
    {"wired input", [](RadioSlotTest& t) { return t.vark_command(); },
     [](RadioSlotTest& t) {
         t.create(3, test::create_trunk(1, 8));
         t.connect(3, kSlot);
     },
     [](RadioSlotTest&) { return RadioSlotTest::stream(kSlot).input; }},
};

class RadioSessionSetting : public RadioSlotTest,
                            public ::testing::WithParamInterface<SettingCase> {};

TEST_P(RadioSessionSetting, StaysInForceAcrossCodecChanges) {
    const SettingCase& c = GetParam();
    create(kSlot, c.create(*this));
    if (c.set) c.set(*this);
    ASSERT_TRUE(c.inForce(*this)) << "once set";
    for (const char* change : {"a change", "nothing to do"}) {
        ASSERT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot)) << change;
        EXPECT_TRUE(c.inForce(*this)) << change;
    }
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioSessionSetting, ::testing::ValuesIn(kSettingCases),
                         test::CaseName());

// ---- PTT source filter

// A radio keyed before any source is known: the gateway hears every source
// (the VARK access rule still lets only a more urgent PTT through).
struct UnknownSourceCase {
    const char* what;
    std::function<LGCP::Command(RadioSlotTest&)> create;
    const char* modifier;  // an rtpExt ioctl after the creation, or null
    test::Bytes packet;    // from 127.0.0.2, reported
};

const std::string kVarkPtt =
    "{ prio 5, ptt TRUE, bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, "
    "rv FALSE, resv FALSE, selcall 0, li 0 }";

const UnknownSourceCase kUnknownSourceCases[] = {
    {"ed137 status with ptt",
     [](RadioSlotTest& t) {
         return t.ed137_command(value_of<TERM::RadioStatus>(
             "ed-137 : { header " + header("normal-ptt-on", "squ-off", 3) +
             ", radio-response { " + kResponse + " } }"));
     },
     nullptr, ed137_tx(1, 5)},
    {"vark status with ptt",
     [](RadioSlotTest& t) {
         return t.ed137_command(radio_test::vark_status(kVarkPtt));
     },
     nullptr, radio_test::vark_header(GW_FLAG_PTT, 3, 1)},
    {"vark wm flags with ptt before any wm trans",
     [](RadioSlotTest& t) { return t.vark_command(); },
     "vark : { addr { session-addr \"127.0.0.3\", session-ssrc 5 }, params wm-flags : { flags ",
     radio_test::vark_header(GW_FLAG_PTT, 3, 1)},
};

class RadioUnknownSource : public RadioSlotTest,
                           public ::testing::WithParamInterface<UnknownSourceCase> {};

TEST_P(RadioUnknownSource, SetsNoFilter_SoThatEverySourceIsHeard) {
    const UnknownSourceCase& c = GetParam();
    create(kSlot, c.create(*this));
    if (c.modifier) {
        const auto modifier = value_of<TERM::RadioModifier>(c.modifier + kVarkPtt + " } }");
        ASSERT_EQ(std::nullopt, outcome(ioctl_rtp_ext(modifier), kSlot));
    }
    auto& session = *ext_session_of(kSlot);
    EXPECT_FALSE(session.filter) << "a filter on " << session.filter->addr;
    EXPECT_TRUE(session.inject(c.packet, test::ip("127.0.0.2"), 9));
    server.pump();
    EXPECT_TRUE(next_of(LGCP::Signal::Alternative::rtpExt));
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioUnknownSource, ::testing::ValuesIn(kUnknownSourceCases),
                         test::CaseName());

// Keyed by the position at 127.0.0.2 below the most urgent level, the radio
// hears another position's PTT only when it is more urgent, and anything of
// its own; the driver's filter, which would hide that PTT, stays off.
struct KeyedCase {
    const char* what;
    bool ed137;
    TERM::RadioModifier key;
    struct Packet {
        const char* source;
        test::Bytes bytes;
        bool heard;
    };
    std::vector<Packet> packets;
};

const KeyedCase kKeyedCases[] = {
    {"vark priority 5",
     false,
     vark_keyed(5),
     {{"127.0.0.3", radio_test::vark_header(GW_FLAG_PTT, 15, 1), false},
      {"127.0.0.3", radio_test::vark_header(GW_FLAG_PTT, 3, 1), true},
      {"127.0.0.2", radio_test::vark_header(GW_FLAG_RV, 15, 1), true}}},
    {"ed137 normal ptt",
     true,
     ed137_keyed("normal-ptt-on"),
     {{"127.0.0.3", ed137_tx(1, 5), false},
      {"127.0.0.3", ed137_tx(4, 5), true},
      {"127.0.0.2", ed137_tx(0, 3), true}}},
};

class RadioKeyed : public RadioSlotTest, public ::testing::WithParamInterface<KeyedCase> {};

TEST_P(RadioKeyed, HearsItsPositionAndAMoreUrgentPttOfAnother) {
    create(kSlot, GetParam().ed137 ? ed137_command() : vark_command());
    ASSERT_EQ(std::nullopt, outcome(ioctl_rtp_ext(GetParam().key), kSlot));
    for (const auto& packet : GetParam().packets) {
        ext_session_of(kSlot)->inject(packet.bytes, test::ip(packet.source), 9);
        server.pump();
        EXPECT_EQ(packet.heard, bool(next_of(LGCP::Signal::Alternative::rtpExt)))
            << packet.source << " " << test::hex_text(packet.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioKeyed, ::testing::ValuesIn(kKeyedCases), test::CaseName());

// Keyed at the most urgent level, the driver passes the keying position
// only. An un-key whose filter removal the driver refused is answered so,
// and the radio asks again at its next status tick: from then on every
// position is heard. A filter the driver refuses is asked for again at the
// next tick.
class RadioUnkeyRefused : public RadioSlotTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RadioUnkeyRefused, IsAnsweredSo_AndTheFilterGoesAtTheNextTick) {
    const bool ed137 = GetParam();
    create(kSlot, ed137 ? ed137_command() : vark_command());
    const auto unkey = ioctl_rtp_ext(ed137 ? ed137_keyed("ptt-off") : vark_keyed(0, "FALSE"));
    ASSERT_EQ(std::nullopt,
              outcome(ioctl_rtp_ext(ed137 ? ed137_keyed("emergency-ptt-on") : vark_keyed(0)), kSlot));
    sim().fail_next(Op::Ioctl, ext::kDevice, EIO, ext::kRemoveFilter);
    EXPECT_EQ(Cause::unsupported, outcome(unkey, kSlot));
    EXPECT_TRUE(filters(kSlot, "127.0.0.2"));
    advance(1000);
    EXPECT_FALSE(ext_session_of(kSlot)->filter);
    const auto otherPtt = ed137 ? ed137_tx(1, 5) : radio_test::vark_header(GW_FLAG_PTT, 15, 1);
    EXPECT_TRUE(ext_session_of(kSlot)->inject(otherPtt, test::ip("127.0.0.3"), 9));
    server.pump();
    EXPECT_TRUE(next_of(LGCP::Signal::Alternative::rtpExt));
    EXPECT_EQ(std::nullopt, outcome(unkey, kSlot)) << "the controller's retry";
}

TEST_P(RadioUnkeyRefused, AKeyWhoseFilterWasRefusedHasItAtTheNextTick) {
    const bool ed137 = GetParam();
    create(kSlot, ed137 ? ed137_command() : vark_command());
    sim().fail_next(Op::Ioctl, ext::kDevice, EIO, ext::kSetFilter);
    ASSERT_EQ(std::nullopt,
              outcome(ioctl_rtp_ext(ed137 ? ed137_keyed("emergency-ptt-on") : vark_keyed(0)), kSlot));
    EXPECT_FALSE(ext_session_of(kSlot)->filter);
    advance(1000);
    EXPECT_TRUE(filters(kSlot, "127.0.0.2"));
}

// Keyed at the most urgent level by another position while the removal is
// owed, with the driver refusing that position's filter as well: the driver
// must not go on passing the old position only, and passes the new one's
// from the next tick.
TEST_P(RadioUnkeyRefused, AnotherPositionKeyingMeanwhileIsHeard) {
    const bool ed137 = GetParam();
    create(kSlot, ed137 ? ed137_command() : vark_command());
    ASSERT_EQ(std::nullopt,
              outcome(ioctl_rtp_ext(ed137 ? ed137_keyed("emergency-ptt-on") : vark_keyed(0)), kSlot));
    sim().fail_next(Op::Ioctl, ext::kDevice, EIO, ext::kRemoveFilter);
    ASSERT_EQ(Cause::unsupported,
              outcome(ioctl_rtp_ext(ed137 ? ed137_keyed("ptt-off") : vark_keyed(0, "FALSE")), kSlot));
    sim().fail_next(Op::Ioctl, ext::kDevice, EIO, ext::kSetFilter);
    EXPECT_EQ(std::nullopt,
              outcome(ioctl_rtp_ext(ed137 ? ed137_keyed("emergency-ptt-on", "127.0.0.4")
                                          : vark_keyed(0, "TRUE", "127.0.0.4")),
                      kSlot));
    EXPECT_FALSE(filters(kSlot, "127.0.0.2"));
    const auto own = ed137 ? ed137_tx(4, 5) : radio_test::vark_header(GW_FLAG_RV, 0, 1);
    EXPECT_TRUE(ext_session_of(kSlot)->inject(own, test::ip("127.0.0.4"), 9));
    server.pump();
    EXPECT_TRUE(next_of(LGCP::Signal::Alternative::rtpExt));
    advance(1000);
    EXPECT_TRUE(filters(kSlot, "127.0.0.4"));
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioUnkeyRefused, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Ed137" : "Vark"; });

// ---- Values beyond their bits on the wire

// A refused value leaves the radio as it was: its reports go on, on the
// wire and to the controller.
TEST_F(RadioSlotTest, ARefusedRadioFlagLeavesTheReportsAsTheyWere) {
    create(kSlot, vark_command());
    auto& session = *ext_session_of(kSlot);
    const test::CommandForm& wmFlags = test::form("vark wm-flags");
    const std::pair<const char*, int> refused[] = {
        {"prio", 16}, {"prio", -5}, {"li", 600}, {"li", 65535}};
    for (const auto& [field, value] : refused) {
        SCOPED_TRACE(std::string(field) + " " + std::to_string(value));
        controller.send_frame(wmFlags.octets_with(field, value, 1, kSlot));
        auto reply = controller.receive_until(test::is_response);
        ASSERT_TRUE(reply);
        EXPECT_EQ(Cause::invalidParams, test::error_of(*reply));

        session.sent.clear();
        server.advance(1000);
        ASSERT_FALSE(session.sent.empty());
        for (const auto& bytes : session.sent) {
            EXPECT_EQ(15u, unpack_vark(bytes).priority);
            EXPECT_EQ(0u, unpack_vark(bytes).status);
        }
        session.inject(radio_test::vark_header(GW_FLAG_PTT, 3, 1), test::ip("127.0.0.2"), 9);
        server.pump();
        EXPECT_TRUE(next_of(LGCP::Signal::Alternative::rtpExt));
    }
}

// ---- Squelch

struct SquelchCase {
    const char* what;
    const char* follow;  // transmission-depend-on-squ
    const char* squ;
    bool inputOn;
};

const SquelchCase kSquelchCases[] = {
    {"open squelch switches the input on at creation", "TRUE", "squ-on", true},
    {"closed squelch leaves it off", "TRUE", "squ-off", false},
    {"not following the squelch", "FALSE", "squ-on", false},
};

class RadioSquelch : public RadioSlotTest, public ::testing::WithParamInterface<SquelchCase> {};

TEST_P(RadioSquelch, TheInputFollowsTheRadiosSquelchFromCreationOn) {
    const SquelchCase& c = GetParam();
    create(kSlot, ed137_command(
                      ed137_status(c.squ, kResponse + ", transmission-depend-on-squ " + c.follow)));
    EXPECT_EQ(c.inputOn, rtp_model().stream_of(*rtp_open_of(kSlot))->input);
    EXPECT_EQ(c.inputOn, slot(kSlot).input_on());
    if (!slot(kSlot).follows_squelch()) return;

    // Every radio command afterwards leaves the input as the squelch, and so
    // does a codec change, whose new stream begins with its input off.
    for (const char* squ : {"squ-off", "squ-on", "squ-on", "squ-off", "squ-on"}) {
        ASSERT_EQ(std::nullopt, outcome(ioctl_rtp_ext(ed137_rx(squ)), kSlot));
        const bool open = std::string(squ) == "squ-on";
        EXPECT_EQ(open, rtp_model().stream_of(*rtp_open_of(kSlot))->input) << squ;
    }
    test::fail_rtp(Op::Ioctl, rtp::kInputOn, EIO);  // the new stream's: the slot asks again
    ASSERT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    EXPECT_TRUE(rtp_model().stream_of(*rtp_open_of(kSlot))->input) << "after the codec change";
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioSquelch, ::testing::ValuesIn(kSquelchCases), test::CaseName());

// An input the driver did not switch on is not on: the command that opened
// the squelch is answered so, and the radio's next status tick asks again,
// so that the radio's voice goes out while its squelch is open.
TEST_F(RadioSlotTest, ARefusedSquelchInputIsAskedAgainAtTheNextTick) {
    create(kSlot, ed137_command(
                      ed137_status("squ-off", kResponse + ", transmission-depend-on-squ TRUE")));
    test::fail_rtp(Op::Ioctl, rtp::kInputOn, EIO);
    EXPECT_EQ(Cause::unsupported, outcome(ioctl_rtp_ext(ed137_rx("squ-on")), kSlot));
    EXPECT_FALSE(slot(kSlot).input_on());
    advance(1000);
    EXPECT_TRUE(stream(kSlot).input);
    EXPECT_EQ(1, rtp_model().emit(1));
    EXPECT_EQ(1u, peer.rtp().size()) << "the radio's voice at the far end";
}

// The input stays owed when the radio's extension session ends meanwhile:
// the stream still carries the radio's voice.
TEST_F(RadioSlotTest, ARefusedSquelchInputIsAskedAgainAfterTheExtensionSessionEnded) {
    create(kSlot, ed137_command(
                      ed137_status("squ-off", kResponse + ", transmission-depend-on-squ TRUE")));
    test::fail_rtp(Op::Ioctl, rtp::kInputOn, EIO);
    EXPECT_EQ(Cause::unsupported, outcome(ioctl_rtp_ext(ed137_rx("squ-on")), kSlot));
    sim().channel(slot(kSlot).control()->ext_fd())->hang_up();
    server.pump(2);
    advance(1000);
    EXPECT_TRUE(stream(kSlot).input);
    EXPECT_TRUE(slot(kSlot).input_on());
}

// ---- Voice processing

struct VoiceCase {
    const char* what;
    std::function<void(TERM::RtpRadioRequest&)> set;
    int32_t channelWord;
    std::function<bool(const board::sim::DspModel::Timeslot&)> dsp;
    uint32_t refused = 0;  // the voice-processing request the driver refuses
};

const VoiceCase kVoiceCases[] = {
    {"bss enabled", [](auto& r) { r.set_bss_enable(true); }, 1,
     [](const auto& ts) { return ts.on(board::dsp::kBss) && !ts.configure(board::dsp::kDelays); }},
    {"noise gate", [](auto& r) { r.set_ng_enable(true); }, 0,
     [](const auto& ts) { return ts.on(board::dsp::kNg) && !ts.on(board::dsp::kBss); }},
    {"rx delay only", [](auto& r) { r.set_rx_delay(40); }, 0,
     [](const auto& ts) {
         const auto* delays = ts.configure(board::dsp::kDelays);
         return delays && delays->params.delays.rx == 40 && delays->params.delays.tx == 0 &&
                delays->params.delays.selcal == 0;
     }},
    {"nothing asked", nullptr, 0,
     [](const auto& ts) { return ts.enabled.empty() && ts.configured.empty(); }},
    {"bss refused after the delays",
     [](auto& r) {
         r.set_rx_delay(40);
         r.set_bss_enable(true);
     },
     1, nullptr, board::dsp::kEnable},
};

class RadioVoiceProcessing : public RadioSlotTest,
                             public ::testing::WithParamInterface<VoiceCase> {};

// A request the driver refuses declines the create, what was set undone.
TEST_P(RadioVoiceProcessing, TheRadioRequestSetsTheChannelsVoiceProcessing) {
    const LGCP::Command command = vark_command([](LGCP::CreateRtpParams& p) {
        if (GetParam().set) GetParam().set(*p.get_codecRTP().get_radio());
    });
    if (GetParam().refused) {
        sim().fail_next(Op::Ioctl, board::dsp::kDevice, EIO, GetParam().refused);
        EXPECT_EQ(Cause::insufficientResources, outcome(command, kSlot));
        EXPECT_TRUE(rtp_model().streams().empty());
        for (const auto& [ts, state] : dsp_model().timeslots()) EXPECT_TRUE(state.enabled.empty());
        return;
    }
    create(kSlot, command);
    const int channel = slot(kSlot).channel();
    EXPECT_EQ(GetParam().channelWord, rtp_model().on_channel(channel)->added.reserved);
    EXPECT_TRUE(GetParam().dsp(dsp_model().timeslot(static_cast<uint32_t>(channel))));
    ASSERT_EQ(std::nullopt, outcome(codec_mode(true, LGCP::CodecMode::ulaw), kSlot));
    EXPECT_EQ(GetParam().channelWord, rtp_model().on_channel(channel)->added.reserved)
        << "after a codec change";
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioVoiceProcessing, ::testing::ValuesIn(kVoiceCases),
                         test::CaseName());

// ---- Destroy

class RadioDestroy : public RadioSlotTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RadioDestroy, DetachesBeforeTheStreamGoes_AndNothingReachesTheFreedSlot) {
    create(kSlot, GetParam() ? ed137_command() : vark_command());
    sim().clear_journal();
    EXPECT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), kSlot));
    EXPECT_EQ((std::vector<std::string>{"ext detach", "rtp teardown"}), radio_calls());
    EXPECT_TRUE(sim().channels(ext::kDevice).empty());
    EXPECT_TRUE(sim().channels(rtp::kDevice).empty());

    sim().clear_journal();
    server.advance(5000);
    EXPECT_TRUE(radio_calls().empty());
    EXPECT_FALSE(controller.receive_until(test::is_signal, 5));
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioDestroy, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Ed137" : "Vark"; });

// ---- Failures

class RadioDeclined : public RadioSlotTest,
                      public ::testing::WithParamInterface<std::tuple<test::DeclineCase, bool>> {};

TEST_P(RadioDeclined, ClosesWhatItOpened) {
    const test::DeclineCase& c = std::get<0>(GetParam());
    LGCP::Command command = std::get<1>(GetParam()) ? ed137_command() : vark_command();
    sim().channels(rtp::kDevice);  // forgets closed opens
    // The receivers' devices, which a slot made before the decline opens, stay.
    Hardware::TonecReceiverService::instance();
    Hardware::DSProcReceiverService::instance();
    const int before = open_descriptors();
    c.arrange(*this, *command.get_create()->get_rtp());

    EXPECT_EQ(c.cause, outcome(command, kSlot));
    release_held_port();
    EXPECT_TRUE(sim().channels(rtp::kDevice).empty());
    EXPECT_TRUE(sim().channels(ext::kDevice).empty());
    EXPECT_EQ(before, open_descriptors());
}

INSTANTIATE_TEST_SUITE_P(Radio, RadioDeclined,
                         ::testing::Combine(::testing::ValuesIn(test::kDeclineCases),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return test::CaseName()(::testing::TestParamInfo<test::DeclineCase>(
                                        std::get<0>(info.param), info.index)) +
                                    (std::get<1>(info.param) ? "_Ed137" : "_Vark");
                         });

// The encoder refuses a sigtime of 51, but the wire carries it: its 6-bit
// field holds the offset from 1, and the bits of offsets 32 and 18 together
// are those of 50.
TEST_F(RadioSlotTest, Ed137KeepAliveValuesAboveTheirRangeAreInvalid) {
    const auto encoded = [&](int sigtime) {
        TERM::RadioStatus status = ed137_status();
        status.get_ed_137()->get_radio_response()->set_sigtime(sigtime);
        LGCP::Message message;
        message.set_seq(1);
        message.set_slot(kSlot);
        message.get_pdu().set_command(ed137_command(status));
        return test::encode(message);
    };
    std::string octets = encoded(1);
    const std::string offset32 = encoded(33), offset18 = encoded(19);
    for (size_t i = 0; i < octets.size(); ++i)
        octets[i] = static_cast<char>(octets[i] ^ offset32[i] ^ offset18[i]);

    controller.send_frame(octets);
    auto reply = controller.receive_until(test::is_response);
    ASSERT_TRUE(reply);
    EXPECT_EQ(Cause::invalidParams, test::error_of(*reply));
    EXPECT_NE(std::string::npos, errors.str().find("sigtime outside 1..50")) << errors.str();
    EXPECT_TRUE(sim().channels(rtp::kDevice).empty());
}

// A radio whose extension session the driver refused is made: its stream
// goes, and the session is asked for every second until it opens, the
// radio's reports and keying from then on.
TEST_F(RadioSlotTest, WithoutAnExtensionSessionTheSlotCarriesItsStreamAndAsksForOne) {
    ext_model().absent = true;
    create(kSlot, vark_command());
    EXPECT_NE(std::string::npos, errors.str().find("create rtp_ext session fail !!!"))
        << errors.str();
    EXPECT_STREQ("rtp ext VARK (GW)", slot(kSlot).GetName());
    create(3, test::create_trunk(1, 8));
    connect(3, kSlot);
    EXPECT_EQ(1, rtp_model().emit(1));
    advance(2000);
    EXPECT_EQ(nullptr, ext_session_of(kSlot));

    ext_model().absent = false;
    advance(1000);
    ASSERT_NE(nullptr, ext_session_of(kSlot));
    ext_session_of(kSlot)->sent.clear();
    advance(1000);
    EXPECT_FALSE(ext_session_of(kSlot)->sent.empty()) << "the status reports";
    EXPECT_EQ(std::nullopt, outcome(ioctl_rtp_ext(vark_keyed(0)), kSlot));
    EXPECT_TRUE(filters(kSlot, "127.0.0.2"));
}

// The slot kinds no factory makes, on a session of their own.
TEST_F(RadioSlotTest, TheWorkstationAndTheOtherFormsRunNoStatusTimer) {
    create(kSlot);
    const OwnSession own = begin_own_session();
    const RtpExtSlot::ExtInit init{ext::kVarkProfile, 0, {0, 0, 0, 0}};

    RtpVARKRadioWSSlot workstation(own.channel, own.fd, own.params, RtpExtSlot::ExtAttach{-1, -1},
                                   init);
    RtpVARKRadioGWSlot detached(own.channel, own.fd, own.params, init);
    EXPECT_STREQ("rtp ext VARK (WS)", workstation.GetName());
    EXPECT_EQ(RTPSignalling::RadioControlOwnDetached, detached.control()->type());
    ASSERT_EQ(2u, ext_model().sessions().size());
    EXPECT_EQ(sim().channel(own.fd.get()),
              sim().channel(ext_model().sessions()[0]->attach->fd_rtp));
    EXPECT_FALSE(ext_model().sessions()[1]->attach);
    server.advance(3000);
    for (auto* s : ext_model().sessions()) EXPECT_TRUE(s->sent.empty());
}

}  // namespace
