// The creation chain as the server makes it, and what its factories report
// to a controller in-process on the simulated board.
#include "server/slot_factories.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "board/drivers/mcc.h"
#include "board/drivers/mctl.h"
#include "board/drivers/mixer.h"
#include "board/drivers/voice.h"
#include "board/sim/mcc_model.h"
#include "board/sim/rtp_ext_model.h"
#include "board/sim/rtp_model.h"
#include "board/sim/sim_board.h"
#include "radio/rtp_ed137_factory.h"
#include "radio/rtp_vark_factory.h"
#include "runtime/child_wait.h"
#include "server/services.h"
#include "signalling/hdlc_slot_factory.h"
#include "signalling/isdn_factory.h"
#include "signalling/pstn_factory.h"
#include "slots/echo_factory.h"
#include "slots/ext_factory.h"
#include "slots/hdlc_modem_slot.h"
#include "slots/map_factory.h"
#include "slots/mcc_factory.h"
#include "slots/mixer_factory.h"
#include "slots/modem_factory.h"
#include "slots/rtp_factory.h"
#include "slots/slots.h"
#include "slots/t38soft_factory.h"
#include "slots/trunk_factory.h"
#include "slots/voice_factory.h"
#include "tests/support/controller_inputs.h"
#include "tests/support/deadline.h"
#include "tests/support/descriptor_shortage.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/mixer_voice_commands.h"
#include "tests/support/rtp_commands.h"
#include "tests/support/stand_ins.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"
#include "tests/support/udp_peer.h"
#include "tests/support/value_notation.h"

namespace {

TEST(SlotFactories, TheChainRunsFromHdlcToTheTrunksLast) {
    CreateSlotFactories();
    CreateSlotFactories();  // each is made once

    TrunkFactories& trunks = TrunkFactories::instance();
    std::vector<SlotFactory*> expected{
        &HdlcSlotFactory::instance(),     &RtpED137Factory::instance(), &RtpVARKFactory::instance(),
        &IsdnFactory::instance(),         &T38SoftFactory::instance(),  &VoiceFactory::instance(),
        &EchoFactory::instance(),         &MccFactory::instance(),      &ExtFactory::instance(),
        &Mixer::MixerFactory::instance(), &ModemFactory::instance(),    &RtpFactory::instance(),
        &PstnFactory::instance(),         &MapFactory::instance()};
    for (unsigned trunk = TrunkFactories::kBriTrunks; trunk-- > 0;)
        expected.push_back(&trunks.bri(trunk));
    for (unsigned trunk = TrunkFactories::kE1Trunks; trunk-- > 0;)
        expected.push_back(&trunks.e1(trunk));

    std::vector<SlotFactory*> chain;
    for (SlotFactory* factory = firstFactory; factory; factory = factory->next())
        chain.push_back(factory);
    EXPECT_EQ(expected, chain);
}

// The server's services and factories in-process, and a controller.
class ServerFactories : public ::testing::Test {
protected:
    ServerFactories() { CreateSlotFactories(); }

    test::StreamCapture progress{std::clog}, errors{std::cerr};
    test::HardwareReset hardware;
    test::ServerHarness server{ControllerServices()};
    test::TestController controller{server};
};

// An open refused for want of a descriptor says nothing about the board:
// with the server's services and factories in-process, a query and a SIGHUP
// meanwhile report what was known, and the HDLC interfaces known stay free
// for digital calls (one released meanwhile too).
TEST_F(ServerFactories, AReportWithoutAFreeDescriptorSaysWhatWasKnown) {
    ChildWait::Activate();  // the count's end is reaped
    ASSERT_TRUE(controller.connect());
    auto created = [&](unsigned slot) {
        controller.send(test::forms::modem<test::forms::Modem::digital>({}), 1, slot);
        auto reply = controller.receive_until(test::is_response);
        return reply && test::is_success(*reply);
    };
    // The next report, once the t38 program (a real process) has counted.
    auto report = [&]() -> std::optional<LGCP::Resources> {
        for (test::Deadline deadline(5000); !deadline.passed(); ::usleep(1000))
            if (auto m = controller.receive(1))
                if (const LGCP::Signal* s = m->get_pdu().get_signal(); s && s->is_query())
                    return *s->get_query();
        return std::nullopt;
    };
    // The simulated board's own open would first close the ends of the
    // channels the server closed, which frees descriptors.
    auto refuse_board_opens = [] {
        board::sim::Board& sim = board::sim::Board::instance();
        sim.fail_next(board::sim::Op::Open, board::voice::kDevice, EMFILE, 0, 4);  // 3 RTP, mixer
        for (const char* device :
             {board::mcc::kDevice, board::mixer::kDevice, board::mctl::kDevice})
            sim.fail_next(board::sim::Op::Open, device, EMFILE);
        sim.netifs().fail_next_socket(EMFILE);
    };
    server.board().write_program("/usr/local/sbin/t38", test::stand_in::t38("", "8"));
    controller.send(test::command(LGCP::Command::Alternative::query), 1);
    const auto known = report();
    ASSERT_TRUE(known && created(5));
    std::optional<LGCP::Resources> queried, hangup;
    {
        test::DescriptorShortage shortage;
        refuse_board_opens();
        controller.send(test::command(LGCP::Command::Alternative::query), 2);
        queried = report();
        refuse_board_opens();
        Slots::instance()->UpdateHardwareResources();  // as SIGHUP does
        hangup = report();
    }
    ASSERT_TRUE(queried && hangup);
    EXPECT_EQ(8, known->get_t38_instances().getValue());
    EXPECT_EQ(*known, *queried);
    EXPECT_EQ(*known, *hangup);
    EXPECT_EQ(std::string::npos, progress.str().find("t38 daemon not found!"));
    Slots::instance()->Destroy(Slots::instance()->at(5));
    ASSERT_TRUE(created(6));
    auto* digital = dynamic_cast<HdlcModemSlot*>(Slots::instance()->at(6));
    ASSERT_TRUE(digital);
    EXPECT_EQ("hdlc1", digital->interfaceName());
    EXPECT_EQ(std::list<std::string>{"hdlc0"}, ModemFactory::instance().freeInterfaces());
    Slots::instance()->Destroy(digital);
    ChildWait::Deactivate();
}

// A create short of descriptors gets all it needs or nothing: at every
// count of free descriptors from 1 to 8 (on the simulated board an open
// takes two), a voice player, a recorder, an RTP slot and a VARK and an
// ED-137 radio is either whole (its channel held, an RTP slot's RTCP socket
// bound, a radio's extension session open) or refused
// `insufficientResources` with nothing held. Each runs once first with
// descriptors to spare (descriptor_shortage.h).
TEST_F(ServerFactories, ACreateShortOfDescriptorsIsWholeOrRefused) {
    ASSERT_TRUE(controller.connect());
    board::sim::Board& sim = board::sim::Board::instance();
    auto transparent = [&] {
        return static_cast<int>(sim.model_as<board::sim::MccModel>(board::mcc::kDevice)
                                    ->free_channels(board::mcc::kTransparent));
    };
    auto engine = [&] {
        return sim.model_as<board::sim::RtpModel>(board::rtp::kDevice)->free_channels();
    };
    const unsigned short far = test::free_udp_pair(), local = test::free_udp_pair();
    auto rtcp_bound = [&] { return !test::udp_bind(static_cast<unsigned short>(local + 1)); };
    auto radio_sessions = [&] {
        sim.drop_closed();
        return sim.model_as<board::sim::RtpExtModel>(board::rtp_ext::kDevice)->sessions().size();
    };
    auto radio = [&](const char* status) {
        LGCP::Command command = test::rtp_create_command(far, local, 5);
        command.get_create()->get_rtp()->get_codecRTP().include_radio().set_status(
            test::value_of<TERM::RadioStatus>(status));
        return command;
    };
    struct Case {
        const char* name;
        LGCP::Command create;
        std::function<int()> free;  // the driver's free channels of the slot's kind
        bool rtcp;
        bool radio = false;  // with its extension session
    } cases[] = {
        {"player", test::create_file_player({"hello"}, 1), transparent, false},
        {"recorder", test::create_recorder(far), transparent, false},
        {"rtp", test::rtp_create_command(far, local, 5), engine, true},
        {"vark",
         radio("vark : { flags { prio 15, ptt FALSE, bss FALSE, vad-rx FALSE, vad-tx FALSE, "
               "sql FALSE, sh FALSE, pwr FALSE, rv FALSE, resv FALSE, selcall 0, li 0 }, freq { "
               "channel 1, frequency \"121.500000\" }, remote { no 1, ch 2 }, squelshe on, rte "
               "a1b, standby-state-channel active, standby-group 3, standby-state-receiver "
               "standby }"),
         engine, true, true},
        {"ed137",
         radio("ed-137 : { header { ptt ptt-off, squ squ-on, ptt-id 3, ptt-mute FALSE, "
               "ptt-summation FALSE, sct FALSE }, radio-response { type radio-txrx, txrxmode "
               "txrx, ptt-id 3 } }"),
         engine, true, true},
    };
    auto ask = [&](const LGCP::Command& command) {
        controller.send(command, 1, 7);
        return controller.receive_until(test::is_response);
    };
    // A refused create walks the whole chain: once with descriptors to spare.
    LGCP::Command noneTakes;
    noneTakes.select_create().select_rtpOnMixer();
    auto refused = ask(noneTakes);
    ASSERT_TRUE(refused);
    EXPECT_EQ(LGCP::ErrorCause::insufficientResources, test::error_of(*refused));
    // A radio short of its session asks for it again on a timer: once with
    // descriptors to spare, the driver refusing the session.
    sim.fail_next(board::sim::Op::Ioctl, board::rtp_ext::kDevice, EIO, board::rtp_ext::kInit);
    auto owed = ask(cases[3].create);
    ASSERT_TRUE(owed && test::is_success(*owed));
    auto destroyed = ask(test::command(LGCP::Command::Alternative::destroy));
    ASSERT_TRUE(destroyed && test::is_success(*destroyed));
    for (const Case& c : cases) {
        for (unsigned spare = 0; spare <= 8; ++spare) {
            SCOPED_TRACE(std::string(c.name) +
                         ", descriptors free: " + (spare ? std::to_string(spare) : "enough"));
            // A command served with descriptors to spare calls every watch the
            // last row left, as the loop does in each pass that serves one.
            controller.send(test::command(LGCP::Command::Alternative::ping), 2);
            auto pinged = controller.receive_until(test::is_response);
            ASSERT_TRUE(pinged && test::is_success(*pinged));
            sim.drop_closed();  // their model ends would be freed during the create
            const int free = c.free();
            std::optional<LGCP::Message> reply;
            {
                std::optional<test::DescriptorShortage> shortage;
                if (spare) shortage.emplace(spare);
                reply = ask(c.create);
            }
            ASSERT_TRUE(reply);
            const bool made = test::is_success(*reply);
            EXPECT_EQ(made ? std::nullopt : std::optional(LGCP::ErrorCause::insufficientResources),
                      test::error_of(*reply));
            EXPECT_TRUE(made || spare);
            EXPECT_EQ(made ? free - 1 : free, c.free());
            EXPECT_EQ(c.rtcp && made, rtcp_bound());
            EXPECT_EQ(c.radio && made ? 1u : 0u, radio_sessions());
            if (made) {
                auto destroyed = ask(test::command(LGCP::Command::Alternative::destroy));
                EXPECT_TRUE(destroyed && test::is_success(*destroyed));
            }
            EXPECT_EQ(free, c.free());
            EXPECT_EQ(0u, radio_sessions());
        }
    }
}

}  // namespace
