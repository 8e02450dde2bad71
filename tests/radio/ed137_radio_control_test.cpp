// The ED-137 gateway: it sends the radio's state as RX extensions when the
// host changes it, repeats it every interval as the keep-alive, reports the
// controlling positions' TX extensions (an unchanged one at most once per
// interval) and the loss of their keep-alives.
#include "radio/ed137_radio_control.h"

#include "tests/radio/radio_fixture.h"

namespace radio_test {
namespace {

using namespace RTPSignalling;
namespace drv = board::rtp_ext;
using V = std::vector<std::string>;

TERM::RadioModifier modifier(const std::string& params, const char* addr = "127.0.0.2") {
    return value_of<TERM::RadioModifier>(std::string("ed-137 : { addr { session-addr \"") + addr +
                                         "\", session-ssrc 9 }, params " + params + " }");
}

std::string header(const char* ptt, const char* squ, int id) {
    return std::string("header { ptt ") + ptt + ", squ " + squ + ", ptt-id " + std::to_string(id) +
           ", ptt-mute FALSE, ptt-summation FALSE, sct FALSE }";
}

TERM::RadioStatus status(const char* ptt, int id) {
    return value_of<TERM::RadioStatus>("ed-137 : { " + header(ptt, "squ-off", id) + " }");
}

// A TX extension with PTT type `ptt` and PTT id `id`.
Bytes tx(unsigned ptt, unsigned id) {
    r2s_proto record;
    r2s_proto_init(&record, R2S_PROTO_TX);
    r2s_proto_set_tx_header(&record, ptt, id, 0, 0);
    unsigned char bytes[8];
    return Bytes(bytes, bytes + r2s_proto_pack(&record, bytes, sizeof bytes));
}

class Ed137Test : public RadioFixture {
protected:
    // As the radio slot sets it up with the default parameters.
    std::unique_ptr<ED137RadioGWControl> gateway(int32_t word3 = 10, int32_t word4 = 1) {
        auto control = make<ED137RadioGWControl>(drv::kEd137Profile, word3, word4);
        control->SetParams(ED137RadioParams());
        control->SetTimerInterval(1000);
        control->SetTimerEnable(true);
        return control;
    }
    // The PTT types and ids the host heard, in order.
    V heard() {
        V out;
        for (const auto& report : probe.reports) {
            const auto& h = report.get_request()->get_ed_137()->get_params().get_tx()->get_header();
            out.push_back(std::string(h.get_ptt().getName()) + " " +
                          std::to_string(h.get_ptt_id().getValue()));
        }
        probe.clear();
        return out;
    }
};

TEST_F(Ed137Test, KeepsTheLinkAliveAndReportsTheFarEndsSilence) {
    auto control = gateway();
    loop.advance(1000);
    EXPECT_EQ(V{"00 00 00 00"}, written(*control)) << "the radio's state, all zero so far";
    EXPECT_TRUE(probe.aborts.empty());
    loop.advance(1000);
    EXPECT_EQ(V{"00 00 00 00"}, written(*control));
    EXPECT_EQ(std::vector<int>{151}, probe.aborts) << "2000 ms without an extension";
    loop.advance(1000);
    EXPECT_EQ((std::vector<int>{151, 151}), probe.aborts);

    receive(*control, {tx(1, 5)});
    probe.aborts.clear();
    loop.advance(1999);
    EXPECT_TRUE(probe.aborts.empty());
    loop.advance(1);
    EXPECT_EQ(std::vector<int>{151}, probe.aborts);
}

TEST_F(Ed137Test, AnUnchangedExtensionReachesTheHostOncePerInterval) {
    auto control = gateway();
    receive(*control, {tx(1, 5)});
    EXPECT_EQ(V{"normal-ptt-on 5"}, heard());
    EXPECT_EQ(test::ip("127.0.0.2"), control->channel_state().source_addr);
    loop.advance(500);
    receive(*control, {tx(1, 5)});
    EXPECT_EQ(V{}, heard());
    receive(*control, {tx(3, 5)});
    EXPECT_EQ(V{"priority-ptt-on 5"}, heard()) << "a change goes at once";
    loop.advance(1000);
    receive(*control, {tx(3, 5)});
    EXPECT_EQ(V{"priority-ptt-on 5"}, heard()) << "an interval later it goes again";
}

TEST_F(Ed137Test, AHostStateIsSentAgainOnlyWhenTheDriverDoesNotRepeatIt) {
    struct Case {
        const char* what;
        int32_t word3;
        size_t sent;
    } cases[] = {{"both words positive", 10, 1}, {"a word below 1", 0, 2}};
    for (const Case& c : cases) {
        auto control = gateway(c.word3);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(1, control->SendASNToChan(status("normal-ptt-on", 5)));
        EXPECT_EQ(V(c.sent, "21 40 00 00"), written(*control)) << c.what;
    }
}

TEST_F(Ed137Test, ARadioThatDoesNotTransmitHearsNoOne) {
    struct Case {
        const char* what;
        TERM::ED137RadioType::NamedNumber type;
        TERM::ED137RadioTxRxMode::NamedNumber mode;
        bool heard;
    } cases[] = {
        {"rx only", TERM::ED137RadioType::radio_rxonly, TERM::ED137RadioTxRxMode::txrx, false},
        {"idle", TERM::ED137RadioType::radio_idle, TERM::ED137RadioTxRxMode::txrx, false},
        {"rx mode", TERM::ED137RadioType::radio_txrx, TERM::ED137RadioTxRxMode::rx, false},
        {"coupling, tx mode", TERM::ED137RadioType::coupling, TERM::ED137RadioTxRxMode::tx, true},
    };
    for (const Case& c : cases) {
        auto control = gateway();
        ED137RadioParams params;
        params.radio_type = c.type;
        params.txrx_mode = c.mode;
        control->SetParams(params);
        receive(*control, {tx(1, 5)});
        EXPECT_EQ(c.heard ? 1u : 0u, heard().size()) << c.what;
    }
}

TEST_F(Ed137Test, TheSignalQualityTravelsWithQualityHighAndMethodLow) {
    auto control = gateway();
    ASSERT_EQ(1, control->SendASNToChan(modifier("rx : { " + header("normal-ptt-on", "squ-on", 5) +
                                                 ", sqi { bss-method c-n, bss-quality 20 } }")));
    // Header with X set, then the SQI item 0x11: quality 20 in bits 7-3,
    // method 2 in bits 2-0.
    EXPECT_EQ(V{"31 41 11 A2"}, written(*control));
    EXPECT_EQ(1, control->GetSQU());
}

TEST_F(Ed137Test, AfterATxStateTheKeepAliveStillCarriesTheRadiosHeader) {
    auto control = gateway();
    ASSERT_EQ(1, control->SendASNToChan(
                     modifier("tx : { " + header("normal-ptt-on", "squ-on", 5) + " }")));
    EXPECT_EQ(V{"21 40 00 00"}, written(*control)) << "a TX extension has no squelch";
    loop.advance(1000);
    EXPECT_EQ(V{"31 40 00 00"}, written(*control)) << "the keep-alive is RX, with squelch";
    ASSERT_EQ(1, control->SendASNToChan(status("ptt-off", 0)));
    loop.advance(1000);
    EXPECT_EQ((V{"00 00 00 00", "00 00 00 00"}), written(*control));
}

TEST_F(Ed137Test, TheAnswerSaysWhetherTheStateWentOut) {
    auto control = gateway();
    EXPECT_EQ(0, control->SendASNToChan(vark_status())) << "another protocol";
    EXPECT_EQ(0, control->SendASNToChan(
                     modifier("rx : { " + header("ptt-off", "squ-on", 1) + " }", "no address")));
    Board::instance().fail_next(Op::Write, drv::kDevice, EIO);
    EXPECT_EQ(0, control->SendASNToChan(status("normal-ptt-on", 7)));
    EXPECT_EQ(1, control->SendASNToChan(status("normal-ptt-on", 7))) << "the retry";
    EXPECT_EQ(1, control->SendASNToChan(status("normal-ptt-on", 8)));
    EXPECT_EQ((V{"21 C0 00 00", "22 00 00 00"}), written(*control));
}

}  // namespace
}  // namespace radio_test
