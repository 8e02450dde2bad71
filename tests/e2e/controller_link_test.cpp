// The controller link end to end: a test controller talks TPKT and aligned
// PER to the server over loopback while the loop runs in virtual time.
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "link/heartbeat.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

namespace {

using Cause = LGCP::ErrorCause::NamedNumber;
using Alternative = LGCP::Command::Alternative;

// A service that records what reaches it and takes one kind of command
// without answering it.
class Recorder : public CtrlSrv::Service {
public:
    Recorder(std::vector<std::string>& log, std::string name) : log_(log), name_(std::move(name)) {}
    void OnConnect() override { log_.push_back(name_ + " connect"); }
    void OnDisconnect() override { log_.push_back(name_ + " disconnect"); }
    bool OnCommand(const LGCP::Command& command) override {
        return command.selection() == Alternative::destroy;
    }

private:
    std::vector<std::string>& log_;
    std::string name_;
};

class ControllerLink : public ::testing::Test {
protected:
    test::StreamCapture notices{std::cout};
    test::StreamCapture errors{std::cerr};
    test::StreamCapture progress{std::clog};
    test::ServerHarness server;
    test::TestController controller{server};
};

// ---- Commands and their answers

TEST_F(ControllerLink, AnswersAPingWithItsSeq) {
    ASSERT_TRUE(controller.connect());
    controller.send(test::ping(), 7);
    auto answer = controller.receive();
    ASSERT_TRUE(answer);
    EXPECT_TRUE(test::is_success(*answer));
    EXPECT_EQ(7, test::seq_of(*answer));
    EXPECT_FALSE(test::slot_of(*answer));
}

TEST_F(ControllerLink, RefusesASlotAboveTheRange) {
    ASSERT_TRUE(controller.connect());
    controller.send(test::ping(), 3, 1024);
    auto answer = controller.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(Cause::invalidSlot, test::error_of(*answer));
    EXPECT_EQ(3, test::seq_of(*answer));
    EXPECT_FALSE(test::slot_of(*answer));
    EXPECT_FALSE(HeartBeatCtl::instance().armed());  // refused before any service saw it

    controller.send(test::ping(), 4, 1023);
    answer = controller.receive();
    ASSERT_TRUE(answer);
    EXPECT_TRUE(test::is_success(*answer));
    EXPECT_EQ(1023u, test::slot_of(*answer));
}

TEST_F(ControllerLink, RefusesAMessageThatIsNoCommand) {
    ASSERT_TRUE(controller.connect());
    LGCP::Message response;
    response.set_seq(4);
    response.set_slot(9);
    response.get_pdu().select_response().select_success();
    LGCP::Message signal;
    signal.get_pdu().select_signal().select_activated();
    for (const LGCP::Message& message : {response, signal}) {
        controller.send(message);
        auto answer = controller.receive();
        ASSERT_TRUE(answer);
        EXPECT_EQ(Cause::unexpectedMsgType, test::error_of(*answer));
        EXPECT_EQ(test::seq_of(message), test::seq_of(*answer));
        EXPECT_FALSE(test::slot_of(*answer));
    }
    EXPECT_FALSE(HeartBeatCtl::instance().armed());
}

// A command of a later protocol version: the command, or a kind anywhere
// inside it, is an extension alternative this server does not know. It is
// answered with its seq and slot once its alternative is whole in the frame;
// octets that no version sends are dropped.
TEST_F(ControllerLink, RefusesACommandOfALaterProtocolWithItsSeqAndSlot) {
    struct Row {
        const char* what;
        std::string tail;  // from the octet of the command's index on
        bool answered;
    };
    // After the envelope's pdu index: the command's extension bit and index
    // (create 4, activate 6, ioctl 9, display 13, or an extension
    // alternative), then the extension bit of the CHOICE in it (for a voice
    // player, after the slot kind 3 and the player alternative 1), its index
    // 0 as a normally small number, and the alternative's open type: a
    // length and its octets.
    const std::string later("\x00\x01\x00", 3);
    ASSERT_TRUE(controller.connect());
    for (const Row& row : {Row{"command", "\x20" + later, true},
                           Row{"slot kind", "\x09" + later, true},
                           Row{"ioctl kind", "\x13" + later, true},
                           Row{"activation kind", "\x0D" + later, true},
                           Row{"display kind", "\x1B" + later, true},
                           Row{"voice player kind", "\x08\x1E" + later, true},
                           Row{"slot kind running past the frame", std::string("\x09\x00\x05\x00", 4), false},
                           Row{"root slot kind past the roots", "\x08\xF8", false}}) {
        server.advance(1000);  // a decode error's line for each row
        errors.clear();
        LGCP::Message message;
        message.set_seq(5);
        message.set_slot(9);
        message.get_pdu().set_command(test::ping());
        std::string octets = test::encode(message);
        ASSERT_EQ('\x18', octets.back());
        octets.pop_back();
        controller.send_frame(octets + row.tail);
        auto answer = controller.receive();
        EXPECT_EQ(row.answered, bool(answer)) << row.what;
        EXPECT_EQ(row.answered, errors.str().empty()) << row.what;
        if (!answer) continue;
        EXPECT_EQ(Cause::unexpectedMsgType, test::error_of(*answer)) << row.what;
        EXPECT_EQ(5, test::seq_of(*answer)) << row.what;
        EXPECT_EQ(9u, test::slot_of(*answer)) << row.what;
    }
}

TEST_F(ControllerLink, RefusesACommandThatNoServiceTakes) {
    ASSERT_TRUE(controller.connect());
    controller.send(test::command(Alternative::query), 11, 3);
    auto answer = controller.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(Cause::unexpectedMsgType, test::error_of(*answer));
    EXPECT_EQ(11, test::seq_of(*answer));
    EXPECT_EQ(3u, test::slot_of(*answer));
}

TEST(ControllerLinkServices, AnswerInternalForACommandTakenButNotAnswered) {
    test::StreamCapture errors{std::cerr}, progress{std::clog};
    std::vector<std::string> log;
    Recorder silent(log, "silent");
    test::ServerHarness server({&HeartBeatCtl::instance(), &silent});
    test::TestController controller(server);
    ASSERT_TRUE(controller.connect());
    controller.send(test::command(Alternative::destroy), 12, 40);
    auto answer = controller.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(Cause::internal, test::error_of(*answer));
    EXPECT_EQ(12, test::seq_of(*answer));
    EXPECT_EQ(40u, test::slot_of(*answer));
    EXPECT_EQ("ctrl [" + controller.address() + "]: software error: server do NOT send ack!!!\n",
              errors.str());
}

// ---- Frames

TEST_F(ControllerLink, LogsAndDropsAFrameThatDoesNotDecode) {
    ASSERT_TRUE(controller.connect());
    controller.send_frame("\xFF\xFF\xFF");
    EXPECT_FALSE(controller.receive());
    EXPECT_EQ("ctrl [" + controller.address() + "]: receive fail: decode error!\n msg: FF FF FF \n",
              errors.str());
    controller.send(test::ping(), 1);  // the link stays up
    auto answer = controller.receive();
    ASSERT_TRUE(answer);
    EXPECT_TRUE(test::is_success(*answer));
}

// Frames that do not decode come as fast as a broken peer sends them: a
// line a second, showing the first octets of the frame.
TEST_F(ControllerLink, FramesThatDoNotDecodeAreLoggedOnceASecondInShort) {
    ASSERT_TRUE(controller.connect());
    const std::string header = "ctrl [" + controller.address() + "]: receive fail: decode error!";
    std::string dump;
    for (int k = 0; k < 64; ++k) dump += "FF ";
    controller.send_frame(std::string(1000, '\xFF'));
    EXPECT_FALSE(controller.receive());
    EXPECT_EQ(header + "\n msg: " + dump + "... (1000 octets)\n", errors.str());
    errors.clear();
    for (int k = 0; k < 3; ++k) controller.send_frame(std::string(64, '\xFF'));
    EXPECT_FALSE(controller.receive());
    server.advance(1000);
    controller.send_frame("\xFF");
    EXPECT_FALSE(controller.receive());
    EXPECT_EQ(header + " (3 more since)\n msg: FF \n", errors.str());
}

TEST_F(ControllerLink, AnswersAFrameSentOneByteAtATime) {
    ASSERT_TRUE(controller.connect());
    for (char byte : test::command_frame(test::ping(), 300)) {
        controller.send_raw(std::string(1, byte));
        server.pump();
    }
    auto answer = controller.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(300, test::seq_of(*answer));
}

// A link that stalls for three seconds inside a frame loses nothing: the
// frame is dropped, and its rest (here 03 00 05 18, which reads like a
// header) is skipped when it comes, so every command after it is answered.
TEST_F(ControllerLink, DropsAFrameStalledThreeSecondsAndAnswersTheCommandsAfterIt) {
    ASSERT_TRUE(controller.connect());
    const std::string stalled = test::command_frame(test::ping(), 3, 5);
    controller.send_raw(stalled.substr(0, 6));
    server.advance(2999);
    EXPECT_EQ("", progress.str().substr(progress.str().find("controller connect.") + 20));
    server.advance(1);
    EXPECT_NE(std::string::npos, progress.str().find(" TPKT packet timeout.\n"));
    std::string rest = stalled.substr(6);
    for (int seq = 10; seq < 30; ++seq) rest += test::command_frame(test::ping(), seq);
    controller.send_raw(rest);
    for (int seq = 10; seq < 30; ++seq) {
        auto answer = controller.receive();
        ASSERT_TRUE(answer) << seq;
        EXPECT_EQ(seq, test::seq_of(*answer));
    }
}

// ---- One controller at a time

TEST_F(ControllerLink, RefusesASecondControllerUntilTheFirstIsGone) {
    ASSERT_TRUE(controller.connect());
    test::TestController second(server);
    EXPECT_FALSE(second.connect());
    EXPECT_NE(std::string::npos, errors.str().find("refuse connection from 127.0.0.1:"));
    EXPECT_NE(std::string::npos, errors.str().find("CheckConnectionState CheckConnection\n"));

    controller.close();
    server.pump(2);
    ASSERT_TRUE(second.connect());
    second.send(test::ping(), 2);
    auto answer = second.receive();
    ASSERT_TRUE(answer);
    EXPECT_TRUE(test::is_success(*answer));
}

// A peer that sends no command (a telnet session left open, a port check)
// holds the place for two minutes after its connect; then a refused
// newcomer displaces it and gets in at its next attempt. A controller that
// sends is kept.
TEST_F(ControllerLink, APeerWithoutACommandGivesWayToANewcomerAfterTwoMinutes) {
    ASSERT_TRUE(controller.connect());
    test::TestController next(server);
    server.advance(HeartBeatCtl::timeout_ms - 1);
    EXPECT_FALSE(next.connect());
    EXPECT_FALSE(controller.closed_by_server(0));
    server.advance(1000);  // the newcomer tries again
    EXPECT_FALSE(next.connect());
    EXPECT_TRUE(controller.closed_by_server());
    EXPECT_NE(std::string::npos, progress.str().find("heartbeat: no command since connect for "
                                                     "120 s, peer dropped for a newcomer.\n"));
    ASSERT_TRUE(next.connect());

    next.send(test::ping(), 1);
    server.advance(HeartBeatCtl::timeout_ms / 2);
    next.send(test::ping(), 2);
    server.advance(HeartBeatCtl::timeout_ms / 2 + 1000);
    test::TestController third(server);
    EXPECT_FALSE(third.connect());
    EXPECT_FALSE(next.closed_by_server());
}

// ---- Heartbeat

TEST_F(ControllerLink, DropsAControllerSilentForTwoMinutes) {
    ASSERT_TRUE(controller.connect());
    controller.send(test::ping(), 1);
    ASSERT_TRUE(controller.receive());
    server.advance(HeartBeatCtl::timeout_ms - 1);
    EXPECT_EQ(std::string::npos, progress.str().find("heartbeat timeout!!!"));
    EXPECT_FALSE(controller.closed_by_server(0));
    server.advance(1);
    EXPECT_NE(std::string::npos, progress.str().find("heartbeat timeout!!!\n"));
    EXPECT_TRUE(controller.closed_by_server());
    EXPECT_FALSE(server.serving());
}

TEST_F(ControllerLink, EveryCommandGivesTheControllerTwoMoreMinutes) {
    ASSERT_TRUE(controller.connect());
    controller.send(test::ping(), 1);
    server.advance(100000);
    controller.send(test::command(Alternative::query), 2);  // not taken, still heard
    server.advance(100000);
    EXPECT_TRUE(server.serving());
    server.advance(20000);
    EXPECT_TRUE(controller.closed_by_server());
}

TEST_F(ControllerLink, RefusedMessagesDoNotKeepTheControllerAlive) {
    ASSERT_TRUE(controller.connect());
    controller.send(test::ping(), 1);
    server.advance(100000);
    controller.send(test::ping(), 2, 2000);
    controller.send_frame("\xFF");
    server.advance(20000);
    EXPECT_TRUE(controller.closed_by_server());
}

TEST_F(ControllerLink, KeepsAControllerThatNeverSentACommand) {
    ASSERT_TRUE(controller.connect());
    server.advance(10 * HeartBeatCtl::timeout_ms);
    EXPECT_TRUE(server.serving());
    EXPECT_EQ(std::string::npos, progress.str().find("heartbeat timeout!!!"));
}

TEST_F(ControllerLink, ForgetsTheHeartbeatOfAControllerThatLeft) {
    ASSERT_TRUE(controller.connect());
    controller.send(test::ping(), 1);
    server.pump();
    controller.close();
    server.pump(2);
    EXPECT_FALSE(HeartBeatCtl::instance().armed());
    server.advance(2 * HeartBeatCtl::timeout_ms);
    EXPECT_EQ(std::string::npos, progress.str().find("heartbeat timeout!!!"));
}

TEST(ControllerLinkServices, EveryServiceHearsConnectAndDisconnect) {
    test::StreamCapture notices{std::cout}, errors{std::cerr}, progress{std::clog};
    std::vector<std::string> log;
    Recorder first(log, "first"), second(log, "second");
    test::ServerHarness server({&HeartBeatCtl::instance(), &first, &second});
    test::TestController controller(server);
    ASSERT_TRUE(controller.connect());
    controller.send(test::ping(), 1);
    server.advance(HeartBeatCtl::timeout_ms);  // dropped by the heartbeat
    EXPECT_TRUE(controller.closed_by_server());
    ASSERT_TRUE(controller.connect());
    controller.close();  // gone by itself
    server.pump(2);
    EXPECT_EQ((std::vector<std::string>{"first connect", "second connect", "first disconnect",
                                        "second disconnect", "first connect", "second connect",
                                        "first disconnect", "second disconnect"}),
              log);
}

}  // namespace
