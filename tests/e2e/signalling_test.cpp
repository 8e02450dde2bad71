// Signalling slots on the server executable: two ISDN slots switched to
// each other establish their link and carry the controller's user data.

#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "tests/e2e/server_binary.h"
#include "tests/support/remote_controller.h"
#include "tests/support/signalling_commands.h"
#include "tests/support/slot_commands.h"

namespace {

bool is_activated(const LGCP::Message& m) {
    return test::is_signal(m) && m.get_pdu().get_signal()->is_activated();
}
bool is_user_data(const LGCP::Message& m) {
    return test::is_signal(m) && m.get_pdu().get_signal()->is_userData();
}

class SignallingOnTheServer : public test::RunningServer {
protected:
    void SetUp() override { start(); }
    void TearDown() override {
        if (server) stop();
    }
    void succeed(const LGCP::Command& command, unsigned slot) {
        controller.send(command, ++seq, slot);
        auto reply = controller.receive_until(test::is_response);
        ASSERT_TRUE(reply && !test::error_of(*reply)) << server->output();
    }

    test::RemoteController controller;
    int seq = 0;
};

TEST_F(SignallingOnTheServer, TwoIsdnSlotsSwitchedToEachOtherExchangeUserData) {
    ASSERT_TRUE(controller.connect(port));
    succeed(test::create_isdn(LGCP::IsdnType::pri, 1, test::Side::user), 20);
    succeed(test::create_isdn(LGCP::IsdnType::pri, 2, test::Side::network), 21);
    succeed(test::connect_command(21), 20);
    succeed(test::connect_command(20), 21);
    succeed(test::activate(), 20);
    succeed(test::activate(), 21);

    std::set<unsigned> up;
    while (up.size() < 2) {
        auto activated = controller.receive_until(is_activated);
        ASSERT_TRUE(activated) << server->output();
        up.insert(*test::slot_of(*activated));
    }
    controller.send(test::user_data({8, 1, 1, 5}), ++seq, 20);
    auto data = controller.receive_until(is_user_data);
    ASSERT_TRUE(data) << server->output();
    EXPECT_EQ(21u, test::slot_of(*data));
    EXPECT_EQ((std::vector<char>{8, 1, 1, 5}), *data->get_pdu().get_signal()->get_userData());
}

}  // namespace
