// Radio streams of the server executable: a VARK and an ED-137 gateway on
// the simulated board; the ED-137 one reports its silent far end.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/server_binary.h"
#include "tests/support/remote_controller.h"
#include "tests/support/rtp_commands.h"
#include "tests/support/udp_peer.h"
#include "tests/support/value_notation.h"

namespace {

constexpr unsigned kVark = 5;
constexpr unsigned kEd137 = 6;

const char kVarkStatus[] =
    "vark : { flags { prio 15, ptt FALSE, bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, "
    "sh FALSE, pwr FALSE, rv FALSE, resv FALSE, selcall 0, li 0 }, freq { channel 1, frequency "
    "\"121.500000\" }, remote { no 1, ch 2 }, squelshe on, rte a1b, standby-state-channel "
    "active, standby-group 3, standby-state-receiver standby }";
const char kEd137Status[] =
    "ed-137 : { header { ptt ptt-off, squ squ-on, ptt-id 3, ptt-mute FALSE, ptt-summation FALSE, "
    "sct FALSE }, radio-response { type radio-txrx, txrxmode txrx, ptt-id 3 } }";
const char kWmFlags[] =
    "vark : { addr { session-addr \"127.0.0.2\", session-ssrc 9 }, params wm-flags : { flags { "
    "prio 15, ptt FALSE, bss TRUE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, "
    "rv FALSE, resv FALSE, selcall 0, li 0 } } }";

class RadioStreams : public test::RunningServer {
protected:
    // Answered success.
    bool done(const LGCP::Command& command, unsigned slot) {
        controller.send(command, 1, slot);
        auto reply = controller.receive_until(test::is_response);
        return reply && test::is_success(*reply) && test::slot_of(*reply) == slot;
    }
    LGCP::Command create(const char* status) {
        LGCP::Command command =
            test::rtp_create_command(peer.rtp_port(), test::free_udp_pair(), 0xCAFE);
        command.get_create()->get_rtp()->get_codecRTP().include_radio().set_status(
            test::value_of<TERM::RadioStatus>(status));
        return command;
    }

    test::RemoteController controller;
    test::UdpPeer peer;
};

TEST_F(RadioStreams, VarkAndEd137GatewaysRunUntilDestroyed) {
    start();
    ASSERT_TRUE(controller.connect(port)) << server->output();
    ASSERT_TRUE(done(create(kVarkStatus), kVark)) << server->output();
    ASSERT_TRUE(done(create(kEd137Status), kEd137)) << server->output();

    LGCP::Command ioctl;
    ioctl.select_ioctl().set_rtpExt(test::value_of<TERM::RadioModifier>(kWmFlags));
    EXPECT_TRUE(done(ioctl, kVark)) << server->output();

    // No far end sends keep-alives: the limit is 200 ms x 10.
    auto abort = controller.receive_until([](const LGCP::Message& m) {
        return test::is_signal(m) && m.get_pdu().get_signal()->is_abort();
    });
    ASSERT_TRUE(abort) << server->output();
    EXPECT_EQ(kEd137, test::slot_of(*abort));
    EXPECT_EQ(151, abort->get_pdu().get_signal()->get_abort()->getValue());

    for (unsigned slot : {kVark, kEd137})
        EXPECT_TRUE(done(test::command(LGCP::Command::Alternative::destroy), slot))
            << server->output();
    stop();
}

}  // namespace
