// What every radio controller does alike: it opens, initialises and attaches
// its header-extension session (or attaches the RTP session itself), keeps
// the receive filter, and serves a bounded burst of received packets in one
// event, handing on the last packet of each run from one source of one type.
#include "radio/radio_control.h"

#include <unistd.h>

#include <algorithm>
#include <functional>

#include "radio/ed137_radio_control.h"
#include "radio/vark_radio_control.h"
#include "tests/radio/radio_fixture.h"

namespace radio_test {
namespace {

using namespace RTPSignalling;
namespace drv = board::rtp_ext;

class RadioControlTest : public RadioFixture {
protected:
    using Call = board::sim::Call;
    std::vector<Call> requests(uint32_t request) {
        std::vector<Call> out;
        for (const Call& call : Board::instance().journal())
            if (call.op == Op::Ioctl && call.request == request) out.push_back(call);
        return out;
    }
    const rtp_ext_init_params init{drv::kVarkProfile, 0, {0, 0, 0, 0}};

    // A VARK and an ED-137 gateway controller, made when called.
    std::vector<std::function<std::unique_ptr<RadioControl>()>> gateways() {
        return {[&] { return make<VarkRadioGWControl>(drv::kVarkProfile); },
                [&] { return make<ED137RadioGWControl>(drv::kEd137Profile); }};
    }
};

TEST_F(RadioControlTest, EachTypeReachesTheExtensionItsOwnWay) {
    RadioControl own(5, rtp_ext_attach_session_params{rtp.get(), ::getpid()}, init);
    RadioControl detached(init);
    RadioControl onRtp(6, rtp, rtp_attach_session_params{12, ::getpid()});

    Session& attached = session(own);
    EXPECT_EQ(drv::kVarkProfile, attached.etype());
    EXPECT_EQ(Board::instance().channel(rtp.get()), attached.rtp);
    EXPECT_TRUE(session(detached).init);
    EXPECT_FALSE(session(detached).attach);
    EXPECT_EQ(-1, onRtp.ext_fd());
    const auto rtpAttach = requests(board::rtp::kAttach);
    ASSERT_EQ(1u, rtpAttach.size());
    EXPECT_EQ(board::rtp::kDevice, rtpAttach[0].path);
    EXPECT_EQ(0, rtpAttach[0].result);

    EXPECT_EQ(1, detached.RtpExtStart(false)) << "a second start of type 2 opens nothing";
    EXPECT_EQ(2u, test::rtp_ext().sessions().size());
}

// A refused step is logged and leaves no descriptor open; the session is
// asked for again every second until it is in place.
TEST_F(RadioControlTest, AFailingStepIsLoggedAndTriedAgainEverySecond) {
    const rtp_ext_attach_session_params toRtp{rtp.get(), -1};
    struct Case {
        const char* what;
        Op op;
        uint32_t request;
        const char* line;
    } cases[] = {
        {"open", Op::Open, 0, "create rtp_ext session fail !!!"},
        {"init", Op::Ioctl, drv::kInit, "init rtp_ext session fail !!!"},
        {"attach", Op::Ioctl, drv::kAttach, "attach rtp_ext session fail !!!"},
    };
    for (const Case& c : cases) {
        Board::instance().fail_next(c.op, drv::kDevice, EIO, c.request, 2);
        test::StreamCapture err(std::cerr);
        RadioControl control(5, toRtp, init);
        EXPECT_NE(std::string::npos, err.str().find(c.line)) << c.what;
        EXPECT_EQ(0u, err.str().rfind("rtp_ext[5] ", 0)) << err.str();
        EXPECT_EQ(-1, control.ext_fd()) << c.what;
        EXPECT_TRUE(Board::instance().channels(drv::kDevice).empty()) << c.what;
        loop.advance(1000);
        EXPECT_TRUE(Board::instance().channels(drv::kDevice).empty()) << c.what << ", once more";
        loop.advance(1000);
        ASSERT_NE(-1, control.ext_fd()) << c.what;
        EXPECT_EQ(Board::instance().channel(rtp.get()), session(control).rtp) << c.what;
    }
    Board::instance().fail_next(Op::Ioctl, board::rtp::kDevice, EIO, board::rtp::kAttach, 2);
    test::StreamCapture err(std::cerr);
    RadioControl onRtp(6, rtp, rtp_attach_session_params{rtp.get(), -1});
    EXPECT_NE(std::string::npos, err.str().find("attach rtp session fail !!!"));
    loop.advance(2000);
    const auto attaches = requests(board::rtp::kAttach);
    ASSERT_EQ(3u, attaches.size());
    EXPECT_EQ(0, attaches.back().result);
    loop.advance(3000);
    EXPECT_EQ(3u, requests(board::rtp::kAttach).size()) << "asked again once in place";
}

TEST_F(RadioControlTest, StopDetachesAndClosesOnlyAnAttachedSessionOfItsOwn) {
    RadioControl own(5, rtp_ext_attach_session_params{rtp.get(), -1}, init);
    RadioControl detached(init);
    RadioControl onRtp(6, rtp, rtp_attach_session_params{rtp.get(), -1});
    for (RadioControl* control : {&detached, &onRtp}) EXPECT_EQ(1, control->RtpExtStop());
    EXPECT_TRUE(requests(drv::kDetach).empty());
    EXPECT_EQ(1, own.RtpExtStop());
    ASSERT_EQ(1u, requests(drv::kDetach).size());
    EXPECT_EQ(0, requests(drv::kDetach)[0].result);
    EXPECT_EQ(-1, own.ext_fd());
    EXPECT_EQ(1u, test::rtp_ext().sessions().size()) << "the detached session stays";
}

TEST_F(RadioControlTest, TheFilterIsRequestedOnlyWhenItChanges) {
    RadioControl control(5, rtp_ext_attach_session_params{rtp.get(), -1}, init);
    const in_addr a{test::ip("127.0.0.2")}, b{test::ip("127.0.0.3")};
    control.UpdateAccess(false, a);
    EXPECT_TRUE(requests(drv::kRemoveFilter).empty()) << "no filter, nothing to remove";
    control.UpdateAccess(true, a);
    control.UpdateAccess(true, a);
    EXPECT_EQ(1u, requests(drv::kSetFilter).size());
    EXPECT_EQ(a.s_addr, session(control).filter->addr);
    control.UpdateAccess(true, b);
    EXPECT_EQ(b.s_addr, session(control).filter->addr);
    control.UpdateAccess(true, in_addr{0});
    EXPECT_FALSE(session(control).filter) << "no source known: every source passes";
    control.UpdateAccess(true, b);
    control.UpdateAccess(false, a);
    EXPECT_FALSE(session(control).filter);

    // A set owed when the radio is un-keyed is wanted no more, and the
    // driver has no filter to remove.
    control.SetTimerEnable(true);
    Board::instance().fail_next(Op::Ioctl, drv::kDevice, EIO, drv::kSetFilter);
    test::StreamCapture err(std::cerr);
    control.UpdateAccess(true, a);
    EXPECT_NE(std::string::npos, err.str().find("set filer rtp_ext session fail !!!"));
    EXPECT_TRUE(control.filter_active()) << "the flag follows the request";
    Board::instance().fail_next(Op::Ioctl, drv::kDevice, EIO, drv::kRemoveFilter, 2);
    EXPECT_TRUE(control.UpdateAccess(false, a));
    loop.advance(1000);
    EXPECT_FALSE(session(control).filter) << "the older set does not undo the un-key";

    ASSERT_TRUE(control.UpdateAccess(true, a));
    EXPECT_FALSE(control.UpdateAccess(false, a) || control.UpdateAccess(false, a)) << "owed";
    const std::string line = "reset filer rtp_ext session fail !!!";
    EXPECT_EQ(err.str().find(line), err.str().rfind(line)) << "once a second";
    EXPECT_TRUE(session(control).filter);
    EXPECT_TRUE(control.UpdateAccess(false, a)) << "asked again";
    EXPECT_FALSE(session(control).filter);

    RadioControl onRtp(6, rtp, rtp_attach_session_params{rtp.get(), -1});
    onRtp.UpdateAccess(true, a);
    EXPECT_TRUE(onRtp.UpdateAccess(false, a)) << "no session of its own: no filter to owe";
}

// A filter for another position that the driver refuses does not leave the
// old position's in force: the old one goes (every position passes, the
// access rule keeping the others out) and the next update asks again;
// while its removal is refused too, the update fails and the removal is owed.
TEST_F(RadioControlTest, AFilterForAnotherPositionTheDriverRefusedTakesTheOldOneAway) {
    RadioControl control(5, rtp_ext_attach_session_params{rtp.get(), -1}, init);
    const in_addr a{test::ip("127.0.0.2")}, b{test::ip("127.0.0.3")};
    ASSERT_TRUE(control.UpdateAccess(true, a));
    Board::instance().fail_next(Op::Ioctl, drv::kDevice, EIO, drv::kSetFilter);
    EXPECT_TRUE(control.UpdateAccess(true, b));
    EXPECT_FALSE(session(control).filter) << "the old position's filter went";
    EXPECT_TRUE(control.UpdateAccess(true, b));
    ASSERT_TRUE(session(control).filter) << "asked again";
    EXPECT_EQ(b.s_addr, session(control).filter->addr);

    Board::instance().fail_next(Op::Ioctl, drv::kDevice, EINTR, drv::kSetFilter);
    Board::instance().fail_next(Op::Ioctl, drv::kDevice, EINTR, drv::kRemoveFilter);
    EXPECT_FALSE(control.UpdateAccess(true, a)) << "the old filter's removal owed";
    EXPECT_EQ(b.s_addr, session(control).filter->addr);
    EXPECT_TRUE(control.filter_active());
    EXPECT_TRUE(control.UpdateAccess(true, a));
    EXPECT_EQ(a.s_addr, session(control).filter->addr);
}

TEST_F(RadioControlTest, ARestartedSessionGetsTheFilterAgain) {
    RadioControl control(5, rtp_ext_attach_session_params{rtp.get(), -1}, init);
    const in_addr a{test::ip("127.0.0.2")};
    control.UpdateAccess(true, a);
    control.RtpExtStop();
    ASSERT_EQ(1, control.RtpExtStart(false));
    ASSERT_TRUE(session(control).filter) << "before the next radio command";
    EXPECT_EQ(a.s_addr, session(control).filter->addr);

    Board::instance().fail_next(Op::Ioctl, drv::kDevice, EIO, drv::kRemoveFilter);
    control.UpdateAccess(false, a);
    control.RtpExtStop();
    ASSERT_EQ(1, control.RtpExtStart(false));
    EXPECT_FALSE(session(control).filter) << "a removal the old session refused went with it";
}

// A session that hangs up is read once and closed with one line, and the
// slot hears that the radio is lost; a restart opens a new one.
TEST_F(RadioControlTest, ASessionThatEndsIsClosedOnceAndTheRadioLost) {
    for (const auto& make_control : gateways()) {
        std::unique_ptr<RadioControl> control = make_control();
        SCOPED_TRACE(control->GetPrefix());
        test::StreamCapture err(std::cerr);
        Board::instance().channel(control->ext_fd())->hang_up();
        EXPECT_EQ(1u, loop.ready_passes(50));
        const std::string lines = err.str();
        EXPECT_EQ(0u, lines.rfind("rtp_ext[5] ", 0));
        EXPECT_NE(std::string::npos, lines.find(":rtp_ext session read fail: hung up\n"));
        EXPECT_EQ(1, std::count(lines.begin(), lines.end(), '\n')) << lines;
        EXPECT_EQ(-1, control->ext_fd());
        EXPECT_EQ(std::vector<int>{RadioControl::kSessionEnded}, probe.aborts);
        probe.clear();
        EXPECT_EQ(1, control->RtpExtStart(false));
        EXPECT_NE(-1, control->ext_fd());
    }
}

// A read of 0 (an empty extension from the network, or a driver that
// answers a drained queue with 0) ends the burst, not the session: the
// packet after it is read in the next pass.
TEST_F(RadioControlTest, AReadOf0EndsTheBurstNotTheSession) {
    Board::instance().model(drv::kDevice)->drained_reads_zero = true;
    for (const auto& make_control : gateways()) {
        std::unique_ptr<RadioControl> control = make_control();
        SCOPED_TRACE(control->GetPrefix());
        test::StreamCapture err(std::cerr);
        for (const Bytes& packet : {Bytes{}, Bytes{0x81}})
            session(*control).inject(packet, test::ip("127.0.0.2"), 9);
        EXPECT_EQ(2u, loop.ready_passes(50));
        EXPECT_TRUE(session(*control).received.empty());
        EXPECT_EQ("", err.str());
        EXPECT_TRUE(probe.aborts.empty());
    }
}

TEST_F(RadioControlTest, TheLogPrefixNamesTheControllerAndTheTime) {
    RadioControl numbered(5, rtp_ext_attach_session_params{rtp.get(), -1}, init);
    RadioControl detached(init);
    EXPECT_EQ(0u, numbered.GetPrefix().rfind("rtp_ext[5] 20", 0)) << numbered.GetPrefix();
    EXPECT_EQ(0u, detached.GetPrefix().rfind("rtp_ext 20", 0)) << detached.GetPrefix();
    EXPECT_EQ(':', detached.GetPrefix().back());
}

// ---- Bursts, seen through the VARK workstation, which reports every packet

class BurstTest : public RadioFixture {
protected:
    BurstTest() : control(make<VarkRadioWSControl>(drv::kVarkProfile)) {
        control->SendASNToChan(vark_status());
    }

    // The types and priorities of the packets reported, in order.
    std::vector<std::string> reported() {
        std::vector<std::string> out;
        for (const auto& report : probe.reports) {
            const auto& params = report.get_request()->get_vark()->get_params();
            std::string text = text_of(params).substr(0, text_of(params).find(' '));
            if (const auto* flags = params.get_wm_flags())
                text += " " + std::to_string(flags->get_flags().get_prio().getValue());
            out.push_back(text);
        }
        probe.clear();
        return out;
    }

    std::unique_ptr<VarkRadioWSControl> control;
    const Bytes flag1 = vark_header(WM_FLAG, 1), flag2 = vark_header(WM_FLAG, 2),
                flag3 = vark_header(WM_FLAG, 3), chan = vark_packet(WM_CHAN, [](sig_proto&r) {
                                                     r.body.wm_chan.squelsh = 2;
                                                     r.body.wm_chan.rte = 1;
                                                 });
    const Bytes bad = {0xC8, 0, 0, 0};  // type 200: no VARK packet
};

TEST_F(BurstTest, OfEachRunOnlyTheLastPacketIsHandedOn) {
    struct Case {
        const char* what;
        std::vector<Bytes> packets;
        std::vector<std::string> reported;
    } cases[] = {
        {"three flags, then a channel", {flag1, flag2, flag3, chan}, {"wm-flags 3", "wm-chan"}},
        {"a run ending in a bad packet", {flag1, flag2, bad}, {"wm-flags 2"}},
        {"a bad packet between runs", {flag1, bad, chan, bad}, {"wm-flags 1", "wm-chan"}},
        {"a bad packet alone", {bad}, {}},
    };
    for (const Case& c : cases) {
        receive(*control, c.packets);
        EXPECT_EQ(c.reported, reported()) << c.what;
    }
}

TEST_F(BurstTest, PacketsOfOneTypeFromTwoSourcesAreBothHandedOn) {
    session(*control).inject(flag1, test::ip("127.0.0.2"), 9);
    session(*control).inject(flag2, test::ip("127.0.0.2"), 10);
    session(*control).inject(flag3, test::ip("127.0.0.3"), 10);
    loop.pump();
    std::vector<std::string> sources;
    for (const auto& report : probe.reports) {
        const auto& addr = report.get_request()->get_vark()->get_addr();
        sources.push_back(addr.get_session_addr() + " " +
                          std::to_string(addr.get_session_ssrc().getValue()));
    }
    EXPECT_EQ((std::vector<std::string>{"wm-flags 1", "wm-flags 2", "wm-flags 3"}), reported());
    EXPECT_EQ((std::vector<std::string>{"127.0.0.2 9", "127.0.0.2 10", "127.0.0.3 10"}), sources);
}

// One event serves a bounded burst: a flood cannot hold the loop.
TEST_F(BurstTest, ABurstIsServedABoundedNumberOfPacketsAPass) {
    for (int i = 0; i < 1000; ++i)
        session(*control).inject(i % 2 ? flag1 : flag2, test::ip("127.0.0.2"), 9 + i % 2);
    loop.pump();
    EXPECT_EQ(kRecordsPerEvent, reported().size());
    loop.pump(15);
    EXPECT_EQ(1000 - kRecordsPerEvent, reported().size());
    EXPECT_TRUE(session(*control).received.empty());
    receive(*control, std::vector<Bytes>(kRecordsPerEvent, flag3));
    EXPECT_EQ(std::vector<std::string>{"wm-flags 3"}, reported());
}

}  // namespace
}  // namespace radio_test
