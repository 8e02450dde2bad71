// The slot registry and the factory chain, served to a test controller.
#include "slots/slots.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "signalling/pstn_factory.h"
#include "slots/map_factory.h"
#include "slots/rtp_factory.h"
#include "tests/slots/slot_fixture.h"

namespace {

using Alternative = LGCP::Command::Alternative;
using Cause = LGCP::ErrorCause::NamedNumber;
using test::Shutdown;

// A factory that reports three modems and counts the signals it is offered.
class RecordingFactory : public SlotFactory {
public:
    static RecordingFactory& instance() {
        static RecordingFactory factory;
        return factory;
    }
    const char* GetName() const override { return "recording"; }
    Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
    void Query(LGCP::Resources& resources) override { resources.set_modem(3); }
    void SelfSignal(const LGCP::Signal& signal) override { signals.push_back(signal); }

    std::vector<LGCP::Signal> signals;
};

// Another service that signals, as the trunk controls do.
class SignallingService : public CtrlSrv::Service {
public:
    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(const LGCP::Command&) override { return false; }
};

std::vector<std::string> chain_names() {
    std::vector<std::string> names;
    for (SlotFactory* f = firstFactory; f; f = f->next())
        if (f != &RecordingFactory::instance() && f != &test::TestSlotFactory::instance())
            names.push_back(f->GetName());
    return names;
}

TEST(SlotFactoryChain, RunsFromTheLastFactoryMadeToTheFirst) {
    MapFactory::instance();
    PstnFactory::instance();
    RtpFactory::instance();
    MapFactory::instance();  // made once only

    EXPECT_EQ((std::vector<std::string>{"RTP", "PSTN", "Map"}), chain_names());
}

// A message with `connect` to a number the encoder refuses: the two
// aligned octets of the target are the ones that differ between 0 and 1023.
std::string connect_beyond_range(unsigned target, unsigned slot) {
    auto encoded = [&](unsigned n) {
        LGCP::Message message;
        message.set_seq(1);
        message.set_slot(slot);
        message.get_pdu().set_command(test::connect_command(n));
        return test::encode(message);
    };
    std::string low = encoded(0);
    const std::string high = encoded(1023);
    for (size_t i = 0; i + 1 < low.size(); ++i) {
        if (low[i] == 0 && low[i + 1] == 0 && high[i] == 0x03 && high[i + 1] == char(0xFF)) {
            low[i] = static_cast<char>(target >> 8);
            low[i + 1] = static_cast<char>(target & 0xFF);
            break;
        }
    }
    return low;
}

class SlotRegistry : public test::SlotTest {
protected:
    SlotRegistry() {
        RecordingFactory::instance().signals.clear();
        factory.scripts[1].shutdown = Shutdown::WhenTold;
        factory.scripts[2].refuse = true;
        factory.scripts[3].output = false;
        factory.scripts[4].invalid = true;
        factory.scripts[5].decline = true;
        factory.scripts[6].shutdown = Shutdown::OnTimer;
        factory.scripts[7].announce = true;
        factory.scripts[8].sideList = true;
        factory.scripts[8].shutdown = Shutdown::Never;
    }

    LGCP::Command create_nobody_takes() {
        LGCP::Command command;
        command.select_create().select_rtpOnMixer();
        return command;
    }
    LGCP::Command activate() {
        LGCP::Command command;
        command.select_activate().select_empty();
        return command;
    }
    LGCP::Command user_data() {
        LGCP::Command command;
        command.set_userData({'h', 'i'});
        return command;
    }
    LGCP::Command ioctl() {
        LGCP::Command command;
        command.select_ioctl().select_ss7RqBSN();
        return command;
    }
};

TEST_F(SlotRegistry, AnswersAQueryThenSignalsEveryFactorysShare) {
    controller.send(test::command(Alternative::query), 2);

    auto reply = controller.receive();
    ASSERT_TRUE(reply);
    EXPECT_TRUE(test::is_success(*reply));
    EXPECT_EQ(2, test::seq_of(*reply));

    auto signal = controller.receive();
    ASSERT_TRUE(signal);
    const LGCP::Resources* resources = signal->get_pdu().get_signal()->get_query();
    ASSERT_TRUE(resources);
    EXPECT_TRUE(resources->get_mux().getValue());
    EXPECT_EQ(3, resources->get_modem().getValue());
    EXPECT_EQ(0, resources->get_rtp_g729().getValue());
    EXPECT_FALSE(resources->has_drvVersion());
    EXPECT_FALSE(signal->has_seq());
}

TEST_F(SlotRegistry, LeavesOtherCommandsToTheNextServices) {
    controller.send(test::command(Alternative::query), 1, 40);  // a query names no slot
    controller.send(test::command(Alternative::destroy), 2);    // a destroy names one
    for (int seq : {1, 2}) {
        auto reply = controller.receive_until(test::is_response);
        ASSERT_TRUE(reply);
        EXPECT_EQ(seq, test::seq_of(*reply));
        EXPECT_EQ(Cause::unexpectedMsgType, test::error_of(*reply));
    }
}

TEST_F(SlotRegistry, HandsTrunkStateThatAnotherServiceSignalsToEveryFactory) {
    static SignallingService trunks;  // bound until the server is reset
    CtrlSrv::ctrlServer.Bind(&trunks);
    LGCP::Signal state;
    state.select_trunkStatus();
    LGCP::Signal activated;
    activated.select_activated();
    trunks.SendSignal(activated);
    trunks.SendSignal(state);

    ASSERT_EQ(1u, RecordingFactory::instance().signals.size());
    EXPECT_TRUE(RecordingFactory::instance().signals[0].is_trunkStatus());
}

TEST_F(SlotRegistry, AnswersEveryCommandOnceWithItsCause) {
    struct Row {
        const char* what;
        std::function<void()> before;
        LGCP::Command command;
        unsigned slot;
        std::optional<Cause> expected;
    };
    auto nothing = [] {};
    auto make = [this](unsigned n, int script) { return [this, n, script] { create(n, script); }; };
    // `before`, then the switch refuses its next request of a kind.
    auto then_refuse = [](std::function<void()> before, uint32_t request) {
        return [=] {
            before();
            sim().fail_next(board::sim::Op::Ioctl, board::hal::kDevice, EIO, request);
        };
    };
    // `before`, then the switch refuses every request of a kind (0: none).
    auto then_refuse_all = [](std::function<void()> before, uint32_t request) {
        return [=] {
            before();
            sim().refuse = [=](board::sim::Op, const std::string&, uint32_t r, const void*) {
                return request && r == request ? EIO : 0;
            };
        };
    };
    static const int kMixerChannel = 0;
    for (int script : {9, 10}) {
        factory.scripts[script].transmit = factory.scripts[script].receive = 9000 + script;
        factory.scripts[script].holds = true;
    }
    factory.scripts[10].share = &kMixerChannel;
    const std::vector<Row> rows = {
        {"connect from nothing", make(11, 0), test::connect_command(11), 10, Cause::slotNotExists},
        {"connect to nothing", nothing, test::connect_command(12), 11, Cause::slotNotExists},
        {"connect without output", make(13, 3), test::connect_command(11), 13, Cause::connectFail},
        {"connect refused by the switch", then_refuse(make(14, 0), board::hal::kMuxConnect),
         test::connect_command(11), 14, Cause::connectFail},
        {"connect", nothing, test::connect_command(11), 14, std::nullopt},
        {"disconnect", nothing, test::command(Alternative::disconnect), 11, std::nullopt},
        {"disconnect without a source", nothing, test::command(Alternative::disconnect), 11,
         std::nullopt},
        {"disconnect nothing", nothing, test::command(Alternative::disconnect), 20,
         Cause::slotNotExists},
        {"activate", nothing, activate(), 11, std::nullopt},
        {"activate refused", make(15, 2), activate(), 15, Cause::unsupported},
        {"activate nothing", nothing, activate(), 20, Cause::slotNotExists},
        {"deactivate", nothing, test::command(Alternative::deactivate), 11, std::nullopt},
        {"deactivate refused", nothing, test::command(Alternative::deactivate), 15,
         Cause::unsupported},
        {"deactivate nothing", nothing, test::command(Alternative::deactivate), 20,
         Cause::slotNotExists},
        {"user data", nothing, user_data(), 11, std::nullopt},
        {"user data refused", nothing, user_data(), 15, Cause::unsupported},
        {"user data to nothing", nothing, user_data(), 20, Cause::slotNotExists},
        {"ioctl", nothing, ioctl(), 11, std::nullopt},
        {"ioctl refused", nothing, ioctl(), 15, Cause::unsupported},
        {"ioctl to nothing", nothing, ioctl(), 20, Cause::slotNotExists},
        {"destroy nothing", nothing, test::command(Alternative::destroy), 20, Cause::slotNotExists},
        {"create nobody takes", nothing, create_nobody_takes(), 20, Cause::insufficientResources},
        {"create declined", nothing, test::create_command(5), 20, Cause::insufficientResources},
        {"create with values refused", nothing, test::create_command(4), 20, Cause::invalidParams},
        {"create over a delayed shutdown", make(16, 1), test::create_command(0), 16,
         Cause::slotIdBusy},
        {"create while it shuts down", nothing, test::create_command(0), 16,
         Cause::destroyInProgress},
        {"destroy while it shuts down", nothing, test::command(Alternative::destroy), 16,
         Cause::destroyInProgress},
        {"connect to it while it shuts down", nothing, test::connect_command(16), 11,
         Cause::destroyInProgress},
        {"connect from it while it shuts down", nothing, test::connect_command(11), 16,
         Cause::destroyInProgress},
        {"destroy", nothing, test::command(Alternative::destroy), 15, std::nullopt},
        // Slots 17, 21 and 22 hold the channel a driver gave them, 21 and 22
        // shared. 17's goes back with the path into 18 whose release the
        // switch refused; 22 keeps its path from 18 when 21 goes.
        {"destroy of a holder whose receiver kept its path",
         then_refuse([this] { create(17, 9); create(18); connect(17, 18); },
                     board::hal::kMuxWriteByte),
         test::command(Alternative::destroy), 17, std::nullopt},
        {"destroy of a sharer",
         [this] { create(21, 10); create(22, 10); connect(18, 21); connect(18, 22); },
         test::command(Alternative::destroy), 21, std::nullopt},
        {"destroy of the last sharer", nothing, test::command(Alternative::destroy), 22,
         std::nullopt},
        // The link goes; the switch keeps the path, whose silence is owed:
        // a mute tried again says whether it is done.
        {"disconnect whose silence the switch refuses",
         then_refuse_all([this] { connect(14, 11); }, board::hal::kMuxWriteByte),
         test::command(Alternative::disconnect), 11, std::nullopt},
        {"disconnect again while the switch refuses", nothing,
         test::command(Alternative::disconnect), 11, Cause::disconnectFail},
        {"disconnect again", then_refuse_all(nothing, 0), test::command(Alternative::disconnect),
         11, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.before();
        EXPECT_EQ(row.expected, outcome(row.command, row.slot));
        EXPECT_EQ("", test::graph_faults());
        if (std::string(row.what).find("refuse") == std::string::npos) {
            EXPECT_EQ("", test::switch_faults(fabric()));
        }
    }
    EXPECT_EQ(nullptr, Slots::instance()->at(11)->source());
    EXPECT_EQ(nullptr, Slots::instance()->at(15));
    EXPECT_EQ(nullptr, Slots::instance()->at(20));
}

TEST_F(SlotRegistry, RefusesToConnectBeyondTheTable) {
    create(3);
    controller.send_frame(connect_beyond_range(1024, 3));
    auto reply = controller.receive_until(test::is_response);
    ASSERT_TRUE(reply);
    EXPECT_EQ(Cause::invalidSlot, test::error_of(*reply));
    EXPECT_EQ(3u, test::slot_of(*reply));
}

TEST_F(SlotRegistry, CreationOverAnImmediateSlotReplacesIt) {
    create(5);
    create(5, 7);
    EXPECT_EQ(1u, factory.journaled("deleted 05:test").size());
    EXPECT_EQ(2u, factory.journaled("IAfterCreate 05:test").size());
    EXPECT_TRUE(Slots::instance()->at(5)->outputActive());  // the new one, of script 7

    // Also when no factory makes the new one: the old slot is gone.
    EXPECT_EQ(Cause::insufficientResources, outcome(create_nobody_takes(), 5));
    EXPECT_EQ(nullptr, Slots::instance()->at(5));
    EXPECT_EQ(2u, factory.journaled("deleted 05:test").size());
}

TEST_F(SlotRegistry, SignalsOfTheNewSlotFollowTheSuccess) {
    controller.send(test::create_command(7), 4, 9);
    auto first = controller.receive();
    auto second = controller.receive();
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(test::is_success(*first));
    ASSERT_TRUE(test::is_signal(*second));
    EXPECT_EQ(9u, test::slot_of(*second));
    EXPECT_TRUE(second->get_pdu().get_signal()->is_transmitter());
}

TEST_F(SlotRegistry, ADelayedDestroyIsAnsweredOnceWhenTheSlotFinishes) {
    for (std::optional<int> seq : {std::optional<int>(9), std::optional<int>()}) {
        create(30, 1);
        controller.send(test::command(Alternative::destroy), seq, 30);
        EXPECT_FALSE(controller.receive_until(test::is_response, 5)) << "answered early";
        EXPECT_TRUE(test::scripted(30)->shutting_down());

        test::scripted(30)->finish();
        auto reply = controller.receive_until(test::is_response);
        ASSERT_TRUE(reply);
        EXPECT_TRUE(test::is_success(*reply));
        EXPECT_EQ(seq, test::seq_of(*reply));
        EXPECT_EQ(30u, test::slot_of(*reply));
        EXPECT_FALSE(controller.receive_until(test::is_response, 3));
        EXPECT_EQ(nullptr, Slots::instance()->at(30));
    }
    EXPECT_EQ("", errors.str());  // no answer was attempted twice
}

TEST_F(SlotRegistry, ASlotFinishingOnItsOwnTimerAnswersItsDestroy) {
    create(31, 6);
    controller.send(test::command(Alternative::destroy), 12, 31);
    EXPECT_FALSE(controller.receive_until(test::is_response, 3));
    server.advance(100);
    auto reply = controller.receive_until(test::is_response);
    ASSERT_TRUE(reply);
    EXPECT_EQ(12, test::seq_of(*reply));
    EXPECT_EQ(nullptr, Slots::instance()->at(31));
}

TEST_F(SlotRegistry, AReleaseStartedByCreationAnswersNothing) {
    create(32, 1);
    EXPECT_EQ(Cause::slotIdBusy, outcome(test::create_command(0), 32));
    test::scripted(32)->finish();
    EXPECT_FALSE(controller.receive_until(test::is_response, 5));
    create(32);  // the number is free again
}

// The clock the loop runs on, with the pauses asked of it (polls without
// descriptors) noted.
class PauseWatch : public Mux::Clock {
public:
    explicit PauseWatch(test::ManualClock& clock) : clock_(clock) { Mux::set_clock(this); }
    ~PauseWatch() override { Mux::set_clock(&clock_); }
    int gettimeofday(Mux::timeval& tv) override { return clock_.gettimeofday(tv); }
    int getmonotonic(Mux::timeval& tv) override { return clock_.getmonotonic(tv); }
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override {
        if (count == 0) pauses.push_back(timeoutMs);
        return clock_.poll(fds, count, timeoutMs);
    }
    std::vector<int> pauses;

private:
    test::ManualClock& clock_;
};

class Teardown : public SlotRegistry {
protected:
    // Immediate, delayed, timed and never-ending slots, wired together.
    void populate() {
        for (unsigned n : {1u, 2u, 3u}) create(n, 0);
        create(4, 1);
        create(5, 6);
        create(6, 8);
        connect(1, 2);
        connect(1, 4);
        connect(4, 6);
        connect(6, 3);
        // One is already shutting down when the controller goes.
        ASSERT_FALSE(answer(test::command(Alternative::destroy), 2, 5));
        ASSERT_EQ(1u, factory.side.size());
    }
    // Every number serves the next controller.
    void expect_all_numbers_free() {
        test::TestController next(server);
        ASSERT_TRUE(next.connect());
        for (unsigned n = 1; n <= 6; ++n) {
            next.send(test::create_command(0), 1, n);
            auto reply = next.receive_until(test::is_response);
            ASSERT_TRUE(reply);
            EXPECT_TRUE(test::is_success(*reply)) << n;
        }
    }

    // The controller goes; the server notices on a later pass.
    void depart() {
        controller.close();
        for (int i = 0; i < 20 && !Slots::instance()->live().empty(); ++i) server.pump();
    }

    PauseWatch watch{server.loop().clock()};
};

TEST_F(Teardown, TheControllersDepartureDropsEverySlotAfterOnePause) {
    populate();
    depart();
    EXPECT_EQ("", test::leftovers());
    EXPECT_EQ(std::vector<int>{1000}, watch.pauses);
    EXPECT_EQ(3u, factory.journaled("IForcedRelease").size());  // 4, 5 and 6
    EXPECT_TRUE(factory.journaled("IForcedRelease 01:test").empty());
    expect_all_numbers_free();
}

TEST_F(Teardown, AHeartbeatTimeOutDropsEverySlot) {
    populate();
    server.advance(HeartBeatCtl::timeout_ms);
    EXPECT_TRUE(controller.closed_by_server());
    EXPECT_EQ("", test::leftovers());
    expect_all_numbers_free();
}

TEST_F(Teardown, ImmediateSlotsGoWithoutAPause) {
    for (unsigned n : {1u, 2u}) create(n, 0);
    connect(1, 2);
    depart();
    EXPECT_EQ("", test::leftovers());
    EXPECT_TRUE(watch.pauses.empty());
}

}  // namespace
