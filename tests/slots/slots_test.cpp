// The slot registry and the factory chain, served to a test controller.
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "link/heartbeat.h"
#include "signalling/pstn_factory.h"
#include "slots/map_factory.h"
#include "slots/rtp_factory.h"
#include "slots/slots.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

namespace {

using Alternative = LGCP::Command::Alternative;

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
        if (f != &RecordingFactory::instance()) names.push_back(f->GetName());
    return names;
}

TEST(SlotFactoryChain, RunsFromTheLastFactoryMadeToTheFirst) {
    MapFactory::instance();
    PstnFactory::instance();
    RtpFactory::instance();
    MapFactory::instance();  // made once only

    EXPECT_EQ((std::vector<std::string>{"RTP", "PSTN", "Map"}), chain_names());
}

class SlotRegistry : public ::testing::Test {
protected:
    SlotRegistry() { RecordingFactory::instance().signals.clear(); }

    std::optional<LGCP::Message> answer() { return controller.receive_until(test::is_response); }

    test::StreamCapture notices{std::cout};
    test::StreamCapture progress{std::clog};
    test::StreamCapture errors{std::cerr};
    SignallingService trunks;
    test::ServerHarness server{{&HeartBeatCtl::instance(), Slots::instance(), &trunks}};
    test::TestController controller{server};
};

TEST_F(SlotRegistry, AnswersAQueryThenSignalsEveryFactorysShare) {
    ASSERT_TRUE(controller.connect());
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

TEST_F(SlotRegistry, RefusesEverySlotCommandForLackOfResources) {
    ASSERT_TRUE(controller.connect());
    for (Alternative alternative : {Alternative::disconnect, Alternative::destroy,
                                    Alternative::deactivate}) {
        controller.send(test::command(alternative), 1, 40);
        auto reply = answer();
        ASSERT_TRUE(reply);
        EXPECT_EQ(LGCP::ErrorCause::insufficientResources, test::error_of(*reply));
        EXPECT_EQ(40u, test::slot_of(*reply));
    }
}

TEST_F(SlotRegistry, LeavesOtherCommandsToTheNextServices) {
    ASSERT_TRUE(controller.connect());
    controller.send(test::command(Alternative::query), 1, 40);      // a query names no slot
    controller.send(test::command(Alternative::destroy), 2);        // a destroy names one
    for (int seq : {1, 2}) {
        auto reply = answer();
        ASSERT_TRUE(reply);
        EXPECT_EQ(seq, test::seq_of(*reply));
        EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, test::error_of(*reply));
    }
}

TEST_F(SlotRegistry, HandsTrunkStateThatAnotherServiceSignalsToEveryFactory) {
    LGCP::Signal state;
    state.select_trunkStatus();
    LGCP::Signal activated;
    activated.select_activated();
    trunks.SendSignal(activated);
    trunks.SendSignal(state);

    ASSERT_EQ(1u, RecordingFactory::instance().signals.size());
    EXPECT_TRUE(RecordingFactory::instance().signals[0].is_trunkStatus());
}

}  // namespace
