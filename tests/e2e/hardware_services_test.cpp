// The board hardware seen from a controller, in-process: the server's whole
// set of services bound in the server's order on the simulated board, with
// the loop in virtual time.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "board/drivers/e1_cas.h"
#include "board/drivers/hal.h"
#include "board/drivers/maintenance.h"
#include "board/sim/e1_cas_model.h"
#include "board/sim/hal_model.h"
#include "board/sim/maintenance_model.h"
#include "hardware/bus_ctl.h"
#include "hardware/hw_mux.h"
#include "hardware/spi_ctrl.h"
#include "server/services.h"
#include "signalling/pstn_factory.h"
#include "slots/slot_factory.h"
#include "slots/trunk_factory.h"
#include "tests/support/hardware_commands.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/signalling_commands.h"
#include "tests/support/slot_commands.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

namespace {

using board::sim::Board;
using board::sim::E1CasModel;
using board::sim::HalModel;
using board::sim::MaintenanceModel;
using Cause = LGCP::ErrorCause::NamedNumber;
using Mode = LGCP::BpcTestMode::Alternative;

// Counts the trunk states that reach the factories.
class TrunkStateFactory : public SlotFactory {
public:
    static TrunkStateFactory& instance() {
        static TrunkStateFactory factory;
        return factory;
    }
    const char* GetName() const override { return "trunk states"; }
    Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}
    void SelfSignal(const LGCP::Signal& signal) override {
        if (const ACP::TrunkStatus* state = signal.get_trunkStatus())
            ++(state->get_type().getValue() == ACP::TrunkType::e1 ? e1 : bri);
    }
    int e1 = 0, bri = 0;
};

bool is_cas(const LGCP::Message& m) {
    return test::is_signal(m) && m.get_pdu().get_signal()->is_cas();
}

class BoardHardware : public ::testing::Test {
protected:
    // As the server starts: the switch opens, the services are bound (which
    // prepares the BRI lines), a controller connects.
    BoardHardware() {
        factory.e1 = factory.bri = 0;
        HwMux::instance().IsOpened();
        spiCtrl::instance().init_device_and_channels();
        EXPECT_TRUE(controller.connect());
    }

    std::optional<Cause> answer_to(const LGCP::Command& command,
                                   std::optional<unsigned> slot = {}) {
        controller.send(command, 1, slot);
        auto answer = controller.receive_until(test::is_response);
        EXPECT_TRUE(answer);
        return answer ? test::error_of(*answer) : Cause::internal;
    }
    // Every message the controller has been sent so far.
    std::vector<LGCP::Message> received() {
        std::vector<LGCP::Message> out;
        while (auto message = controller.receive(1)) out.push_back(*message);
        return out;
    }
    // The switch refuses to switch `channel` off.
    static void refuse_disable_of(int channel) {
        Board::instance().refuse = [channel](board::sim::Op, const std::string& path,
                                             uint32_t request, const void* record) {
            if (path != board::hal::kDevice || request != board::hal::kMuxDisable) return 0;
            int32_t asked = -1;
            std::memcpy(&asked, record, sizeof asked);
            return asked == channel ? EIO : 0;
        };
    }
    void disconnect() {
        controller.close();
        for (int i = 0; i < 20 && server.serving(); ++i) server.pump();
        EXPECT_FALSE(server.serving());
        server.pump(2);  // the services hear it on the next pass
    }

    test::StreamCapture notices{std::cout};
    test::StreamCapture errors{std::cerr};
    test::StreamCapture progress{std::clog};
    test::HardwareReset hardware;
    TrunkStateFactory& factory = TrunkStateFactory::instance();
    test::ServerHarness server{ControllerServices()};
    HalModel& hal = *Board::instance().model_as<HalModel>(board::hal::kDevice);
    MaintenanceModel& maintenance =
        *Board::instance().model_as<MaintenanceModel>(board::maintenance::kDevice);
    E1CasModel& cas = *Board::instance().model_as<E1CasModel>(board::e1_cas::kDevice);
    test::TestController controller{server};
};

TEST_F(BoardHardware, TheClockFollowsClockCfgAndReturnsToFreeRunWithEachController) {
    LGCP::Command command;
    command.set_clockCfg(test::clock_cfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2));
    EXPECT_EQ(std::nullopt, answer_to(command));
    EXPECT_EQ(2, hal.clock_source);
    disconnect();
    EXPECT_EQ((std::vector<int>{4, 2, 4}), hal.clock_history);
}

TEST_F(BoardHardware, AClockThatCannotBeSelectedIsAnInternalError) {
    LGCP::Command command;
    command.set_clockCfg(test::clock_cfg(LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0));
    Board::instance().fail_next(board::sim::Op::Ioctl, board::hal::kDevice, EIO,
                                board::hal::kClockSelect);
    EXPECT_EQ(Cause::internal, answer_to(command));

    // A configuration that selects nothing is no failure.
    command.set_clockCfg(test::clock_cfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, -3));
    EXPECT_EQ(std::nullopt, answer_to(command));

    BusCtl::instance().DisableControl();
    EXPECT_EQ(Cause::unsupported, answer_to(command));
}

// A mode the driver refused is no trunk's mode: the next trunk's command
// writes the mask without it.
TEST_F(BoardHardware, TrunkCfgSetsTheTclkMask) {
    LGCP::Command command;
    Board::instance().fail_next(board::sim::Op::Ioctl, board::maintenance::kDevice, EIO,
                                board::maintenance::kSetTclk);
    command.set_trunkCfg(test::trunk_cfg(2, LGCP::TrunkMode::slave));
    EXPECT_EQ(Cause::internal, answer_to(command));
    command.set_trunkCfg(test::trunk_cfg(0, LGCP::TrunkMode::slave));
    EXPECT_EQ(std::nullopt, answer_to(command));
    EXPECT_EQ(0x1u, maintenance.tclk) << "trunk 2 is still a master";
    command.set_trunkCfg(test::trunk_cfg(40, LGCP::TrunkMode::slave));
    EXPECT_EQ(Cause::invalidParams, answer_to(command));
    maintenance.absent = true;
    E1Ctl::instance().reset_for_test();
    command.set_trunkCfg(test::trunk_cfg(1, LGCP::TrunkMode::slave));
    EXPECT_EQ(Cause::internal, answer_to(command));
    EXPECT_EQ((std::vector<uint32_t>{0, 0x1}), maintenance.tclk_history);
}

TEST_F(BoardHardware, ASlotLessCasIoctlSignalsThenSucceeds) {
    received();
    controller.send(test::ioctl(test::cas_open(1, 5, 9)), 4);
    std::vector<LGCP::Message> messages = received();
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ((test::Cas{1, 0, 0, 0}), test::cas_of(*messages[0].get_pdu().get_signal()));
    EXPECT_EQ((test::Cas{1, 5, 0, 9}), test::cas_of(*messages[1].get_pdu().get_signal()));
    EXPECT_FALSE(test::slot_of(messages[1]));
    EXPECT_TRUE(test::is_success(messages[2]));
    EXPECT_EQ(4, test::seq_of(messages[2]));

    // With a slot it is the slot's: the registry has it, and slot 7 does not exist.
    EXPECT_EQ(Cause::slotNotExists, answer_to(test::ioctl(test::cas_open(2, 5, 9)), 7));
    EXPECT_FALSE(cas.trunks[2].open);
}

TEST_F(BoardHardware, AFarEndChangeArrivesAsACasSignal) {
    EXPECT_EQ(std::nullopt, answer_to(test::ioctl(test::cas_open(3, 12, 1))));
    received();
    cas.far_end(3, 13, 0x5);  // not open: the driver says nothing
    cas.far_end(3, 12, 0xB);
    auto signal = controller.receive_until(is_cas);
    ASSERT_TRUE(signal);
    EXPECT_EQ((test::Cas{3, 12, 0xB, 1}), test::cas_of(*signal->get_pdu().get_signal()));
}

TEST_F(BoardHardware, BusTestsWriteReadAndDisconnect) {
    EXPECT_EQ(std::nullopt, answer_to(test::bus_test(1, 0, 127, 11, Mode::write)));

    hal.stuck[8192 + 128 + 64] = 0;
    hal.stuck[8192 + 128 + 65] = 0xFF;
    EXPECT_EQ(Cause::busError, answer_to(test::bus_test(1, 0, 127, 11, Mode::write)));

    std::vector<uint8_t> sequence = test::bus_sequence(99, 16);
    for (int i = 0; i < 16; ++i) hal.foreign[8192 + 3 * 128 + i] = sequence[i];
    EXPECT_EQ(std::nullopt, answer_to(test::bus_test(3, 0, 16, 99, Mode::read)));
    EXPECT_EQ(Cause::busError, answer_to(test::bus_test(3, 0, 16, 98, Mode::read)));
}

// A disconnect is answered as the switch did it: a channel it did not
// switch off may still carry the test's byte onto a bus other cards use.
TEST_F(BoardHardware, ABusDisconnectIsABusErrorWhereTheSwitchDidNot) {
    const int bus1 = 8192 + 128;
    const struct {
        const char* what;
        unsigned bus, start, length;
        std::function<void()> arrange;
        std::optional<Cause> answer;
        int channel;  // and what it then carries
        HalModel::Output output;
    } cases[] = {
        {"all switched off", 1, 0, 64, [] {}, std::nullopt, bus1 + 63, HalModel::Output::Off},
        {"one refused", 1, 0, 8, [] { refuse_disable_of(bus1 + 2); }, Cause::busError, bus1 + 3,
         HalModel::Output::Off},
        {"past the last bus", 15, 127, 2, [] {}, Cause::busError, 10239, HalModel::Output::Off},
        {"no switch", 1, 0, 8, [&] { HwMux::instance().reset_for_test(), hal.absent = true; },
         Cause::busError, bus1, HalModel::Output::Driven},
    };
    for (const auto& c : cases) {
        const int first = 8192 + static_cast<int>(c.bus * 128 + c.start);
        for (int channel = first; channel < first + static_cast<int>(c.length); ++channel)
            HwMux::instance().Write(channel, 0x55);
        c.arrange();
        EXPECT_EQ(c.answer, answer_to(test::bus_test(c.bus, c.start, c.length, 0, Mode::disconnect)))
            << c.what;
        Board::instance().refuse = nullptr;
        EXPECT_EQ(c.output, hal.channel(c.channel).output) << c.what;
    }
}

TEST_F(BoardHardware, AByteDrivenOnOneChannelIsReadWhereItIsSwitched) {
    EXPECT_EQ(std::nullopt, answer_to(test::bus_test(0, 0, 1, 7, Mode::write)));
    ASSERT_TRUE(HwMux::instance().Connect(8192, 8192 + 108));
    EXPECT_EQ(std::nullopt, answer_to(test::bus_test(0, 108, 1, 7, Mode::read)));
}

TEST_F(BoardHardware, TrunkAndLineStatesReachTheFactoriesAndTheController) {
    received();
    EXPECT_EQ(4, factory.e1);  // the E1 trunks at connect
    server.advance(1000);
    int e1 = 0, bri = 0;
    for (const LGCP::Message& m : received())
        if (const ACP::TrunkStatus* state = m.get_pdu().get_signal()->get_trunkStatus())
            ++(state->get_type().getValue() == ACP::TrunkType::e1 ? e1 : bri);
    EXPECT_EQ(4, e1);
    EXPECT_EQ(8, bri);
    EXPECT_EQ(8, factory.e1);
    EXPECT_EQ(8, factory.bri);

    disconnect();
    server.advance(2000);
    EXPECT_EQ(16, factory.e1);  // the E1 poll goes on; the BRI poll stopped
    EXPECT_EQ(8, factory.bri);
    EXPECT_EQ(std::string::npos, errors.str().find("ignore Send request"));
}

// Two SS7 links on E1 trunks 1 and 2, cabled to each other, while BRI
// lines 1 and 2 have nothing plugged in (`lossCarrier` every second): the
// links come into service and stay there for minutes; their own E1 trunk's
// loss of carrier still takes them out.
TEST_F(BoardHardware, AnSs7LinkHearsTheStateOfItsE1TrunkAlone) {
    TrunkFactories::instance();
    PstnFactory::instance();
    hal.frames.cable(1 * 32 + 16, {2 * 32 + 16});
    const std::pair<unsigned, LGCP::Command> commands[] = {
        {10, test::create_trunk(1, 16)},   {11, test::create_trunk(2, 16)},
        {20, test::create_pstn_ss7(2, 1)}, {21, test::create_pstn_ss7(3, 2)},
        {10, test::connect_command(20)},   {20, test::connect_command(10)},
        {11, test::connect_command(21)},   {21, test::connect_command(11)},
    };
    for (const auto& [slot, command] : commands) ASSERT_EQ(std::nullopt, answer_to(command, slot));

    // Each second on the board: what the controller heard of slot 20 and of
    // BRI line 1. The controller pings as it does to keep the link.
    std::vector<std::string> heard;
    auto run = [&](unsigned seconds) {
        for (unsigned s = 0; s < seconds; ++s) {
            if (s % 60 == 59) controller.send(test::ping());
            server.loop().advance_settled(1000);
            for (const LGCP::Message& m : received()) {
                const LGCP::Signal* signal = m.get_pdu().get_signal();
                if (!signal) continue;
                const ACP::TrunkStatus* line = signal->get_trunkStatus();
                if (line && line->get_type().getValue() == ACP::TrunkType::bri &&
                    line->get_trunk().getValue() == 1)
                    heard.push_back(std::string("BRI line 1 ") + line->get_state().getName());
                else if (test::slot_of(m) == 20u && signal->is_activated())
                    heard.push_back("20 activated");
                else if (test::slot_of(m) == 20u && signal->is_deactivated())
                    heard.push_back("20 deactivated");
            }
        }
    };
    run(2);
    ASSERT_EQ((std::vector<std::string>{"20 activated", "BRI line 1 lossCarrier",
                                        "BRI line 1 lossCarrier"}),
              heard);
    heard.clear();
    run(300);
    EXPECT_EQ(std::vector<std::string>(300, "BRI line 1 lossCarrier"), heard);

    heard.clear();
    maintenance.trunks[1].state = ACP::TrunkState::lossCarrier;
    run(1);
    EXPECT_EQ((std::vector<std::string>{"20 deactivated", "BRI line 1 lossCarrier"}), heard);
    disconnect();
}

}  // namespace
