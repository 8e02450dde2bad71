// What a controller-facing service can do through its base: answer once,
// answer later, send signals; seen from the controller's side.
#include "link/ctrl_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "link/heartbeat.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

namespace {

using Cause = LGCP::ErrorCause::NamedNumber;
using Alternative = LGCP::Command::Alternative;

LGCP::Signal activated() {
    LGCP::Signal signal;
    signal.select_activated();
    return signal;
}

// Takes `destroy` and runs the test's reaction to it; notes the signals
// that other services send.
class Scripted : public CtrlSrv::Service {
public:
    void OnConnect() override {}
    void OnDisconnect() override { ++disconnects; }
    bool OnCommand(const LGCP::Command& command) override {
        if (command.selection() != Alternative::destroy) return false;
        if (react) react(*this);
        return true;
    }
    void OnSignal(const LGCP::Signal&) override { ++signalsHeard; }

    std::function<void(Scripted&)> react;
    int signalsHeard = 0;
    int disconnects = 0;
};

class ServiceBase : public ::testing::Test {
protected:
    ServiceBase() { EXPECT_TRUE(controller.connect()); }

    // The messages that one destroy command brings back.
    std::vector<LGCP::Message> answers_to_destroy(std::optional<int> seq, std::optional<unsigned> slot) {
        controller.send(test::command(Alternative::destroy), seq, slot);
        std::vector<LGCP::Message> answers;
        while (auto message = controller.receive()) answers.push_back(*message);
        return answers;
    }

    test::StreamCapture notices{std::cout};
    test::StreamCapture errors{std::cerr};
    test::StreamCapture progress{std::clog};
    Scripted service, other;
    test::ServerHarness server{{&HeartBeatCtl::instance(), &service, &other}};
    test::TestController controller{server};
};

TEST_F(ServiceBase, AnswersEachCommandOnceAndLogsASecondAnswer) {
    service.react = [](Scripted& s) {
        s.Success();
        s.Error(Cause::busError);
        s.Success();
    };
    auto answers = answers_to_destroy(6, 2);
    ASSERT_EQ(1u, answers.size());
    EXPECT_TRUE(test::is_success(answers[0]));
    const std::string lines = errors.str();
    EXPECT_EQ(2, std::count(lines.begin(), lines.end(), '\n'));
    EXPECT_NE(std::string::npos, lines.find("software error: second answer to one command suppressed"));

    service.react = [](Scripted& s) {
        s.Error(Cause::busError);
        s.Error(Cause::internal);
    };
    answers = answers_to_destroy(7, 2);
    ASSERT_EQ(1u, answers.size());
    EXPECT_EQ(Cause::busError, test::error_of(answers[0]));
}

TEST_F(ServiceBase, ADelayedAnswerCarriesTheSeqOfItsOwnCommand) {
    CtrlSrv::Seq withSeq, withoutSeq;
    service.react = [&](Scripted& s) { withSeq = s.delayResponse(); };
    EXPECT_TRUE(answers_to_destroy(5, 30).empty());  // promised, not sent
    service.react = [&](Scripted& s) { withoutSeq = s.delayResponse(); };
    EXPECT_TRUE(answers_to_destroy(std::nullopt, 31).empty());
    EXPECT_TRUE(withSeq.present);
    EXPECT_EQ(5, withSeq.value);
    EXPECT_FALSE(withoutSeq.present);

    service.delayedSuccess(31, withoutSeq);
    service.delayedSuccess(30, withSeq);
    auto first = controller.receive();
    auto second = controller.receive();
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(test::is_success(*first));
    EXPECT_FALSE(test::seq_of(*first));
    EXPECT_EQ(31u, test::slot_of(*first));
    EXPECT_EQ(5, test::seq_of(*second));
    EXPECT_EQ(30u, test::slot_of(*second));
}

TEST_F(ServiceBase, OnceDelayedOnlyTheDelayedAnswerGoesOut) {
    CtrlSrv::Seq seq;
    service.react = [&](Scripted& s) {
        seq = s.delayResponse();  // as the registry's delayed destroy
        s.Success();
        s.Error(Cause::busError);
    };
    EXPECT_TRUE(answers_to_destroy(4, 20).empty());
    EXPECT_NE(std::string::npos,
              errors.str().find("software error: immediate answer to a delayed command suppressed!!!"));
    service.delayedSuccess(20, seq);
    auto answer = controller.receive();
    ASSERT_TRUE(answer);
    EXPECT_TRUE(test::is_success(*answer));
    EXPECT_EQ(4, test::seq_of(*answer));
    EXPECT_EQ(20u, test::slot_of(*answer));
    EXPECT_FALSE(controller.receive());
}

TEST_F(ServiceBase, AnAnswerThatDoesNotEncodeBecomesInternal) {
    CtrlSrv::Seq seq;
    service.react = [&](Scripted& s) { seq = s.delayResponse(); };
    answers_to_destroy(8, 1);
    service.delayedSuccess(5000, seq);  // no slot of the protocol
    auto answer = controller.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(Cause::internal, test::error_of(*answer));
    EXPECT_EQ(8, test::seq_of(*answer));
    EXPECT_FALSE(test::slot_of(*answer));
    // The line shows the message that failed, in value notation.
    EXPECT_EQ(0u, errors.str().find("ctrl [" + controller.address() + "]: send fail: encode error!{"));
    EXPECT_NE(std::string::npos, errors.str().find("slot 5000,"));
}

TEST_F(ServiceBase, ASignalReachesTheOtherServicesFirstAndCarriesTheCommandsSlot) {
    service.react = [](Scripted& s) {
        s.SendSignal(activated());
        s.Success();
    };
    auto answers = answers_to_destroy(9, 44);
    ASSERT_EQ(2u, answers.size());
    EXPECT_TRUE(answers[0].get_pdu().is_signal());
    EXPECT_EQ(44u, test::slot_of(answers[0]));
    EXPECT_FALSE(test::seq_of(answers[0]));
    EXPECT_TRUE(test::is_success(answers[1]));
    EXPECT_EQ(1, other.signalsHeard);
    EXPECT_EQ(0, service.signalsHeard);
}

TEST_F(ServiceBase, ASignalBetweenCommandsCarriesOnlyTheSlotItIsGiven) {
    answers_to_destroy(1, 44);  // leaves no slot behind
    service.SendSignal(activated());
    service.SendSignal(12, activated());
    auto plain = controller.receive();
    auto addressed = controller.receive();
    ASSERT_TRUE(plain && addressed);
    EXPECT_FALSE(test::slot_of(*plain));
    EXPECT_FALSE(test::seq_of(*plain));
    EXPECT_EQ(12u, test::slot_of(*addressed));
    EXPECT_EQ(2, other.signalsHeard);
}

TEST_F(ServiceBase, TellsTheServicesAboutTheLinkAndNamesThePeerInItsLines) {
    bool connected = false;
    EXPECT_TRUE(service.CheckServerConnection(connected));
    EXPECT_TRUE(connected);
    EXPECT_NE(std::string::npos, progress.str().find("ctrl [" + controller.address() + "]: controller connect.\n"));
    controller.close();
    server.pump(2);
    EXPECT_TRUE(service.CheckServerConnection(connected));
    EXPECT_FALSE(connected);
    EXPECT_EQ(1, service.disconnects);
    std::ostringstream header;
    CtrlSrv::ctrlServer.PutHeader(header);
    EXPECT_EQ("ctrl [not connected]: ", header.str());

    CtrlSrv::ctrlServer.Deactivate();  // the services hear it even without a controller
    EXPECT_EQ(2, service.disconnects);
    EXPECT_FALSE(service.CheckServerConnection(connected));
    CtrlSrv::ctrlServer.Deactivate();
    EXPECT_EQ(2, service.disconnects);
}

TEST(UnboundService, LogsEveryCallAndDoesNothing) {
    test::StreamCapture errors{std::cerr};
    Scripted lonely;
    lonely.Success();
    lonely.SendSignal(activated());
    EXPECT_EQ(CtrlSrv::Server::no_slot, lonely.GetSlot());
    EXPECT_FALSE(lonely.delayResponse().present);
    const std::string line = "CtrlSrv::Service error! service not connected to server.\n";
    EXPECT_EQ(line + line + line + line, errors.str());
    bool connected = true;
    EXPECT_FALSE(lonely.CheckServerConnection(connected));  // without a line
    EXPECT_EQ(line + line + line + line, errors.str());
}

TEST(ServerHeader, SaysWhetherAControllerIsConnected) {
    test::StreamCapture notices{std::cout};
    std::ostringstream header;
    CtrlSrv::Server server;
    server.PutHeader(header);
    EXPECT_EQ("ctrl [null]: ", header.str());
}

}  // namespace
