// Connect and Disconnect through the controller's commands: which side does
// the hardware work, what the streams report, and that the switch carries
// what the graph shows after every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/slots/slot_fixture.h"

namespace {

using Alternative = LGCP::Command::Alternative;
using Cause = LGCP::ErrorCause::NamedNumber;

class Wiring : public test::SlotTest {
protected:
    // Every message that one command brings, its answer last.
    std::vector<LGCP::Message> exchange(const LGCP::Command& command, unsigned slot) {
        controller.send(command, 1, slot);
        std::vector<LGCP::Message> messages;
        while (auto message = controller.receive()) {
            messages.push_back(*message);
            if (test::is_response(*message)) break;
        }
        return messages;
    }
    std::vector<std::string> hardware_hooks() { return factory.journaled("IHw"); }
    // The channel a stream signal reports active, -1 when inactive.
    static int stream_channel(const LGCP::Stream& stream) {
        return stream.is_active() ? stream.get_active()->getValue() : -1;
    }
    Slot& slot(unsigned n) { return *Slots::instance()->at(n); }
    // As the journal prints a scripted slot.
    static std::string name(unsigned n) {
        return (n < 10 ? "0" : "") + std::to_string(n) + ":test";
    }
    static bool fed_by(Slot& destination, Slot& source) { return destination.source() == &source; }
};

TEST_F(Wiring, TheFirstConnectionReportsBothStreamsAndARepeatChangesNothing) {
    for (unsigned n : {1u, 2u, 3u}) create(n);
    auto messages = exchange(test::connect_command(2), 1);
    ASSERT_EQ(3u, messages.size());
    const LGCP::Signal* transmitter = messages[0].get_pdu().get_signal();
    const LGCP::Signal* receiver = messages[1].get_pdu().get_signal();
    ASSERT_TRUE(transmitter && transmitter->is_transmitter());
    EXPECT_EQ(1u, test::slot_of(messages[0]));
    EXPECT_EQ(slot(1).IGetTransmitChannel(), stream_channel(*transmitter->get_transmitter()));
    ASSERT_TRUE(receiver && receiver->is_receiver());
    EXPECT_EQ(2u, test::slot_of(messages[1]));
    EXPECT_EQ(slot(2).IGetReceiveChannel(), stream_channel(*receiver->get_receiver()));
    EXPECT_TRUE(test::is_success(messages[2]));
    expect_sound();

    sim().clear_journal();
    factory.journal.clear();
    messages = exchange(test::connect_command(2), 1);
    ASSERT_EQ(1u, messages.size());
    EXPECT_TRUE(test::is_success(messages[0]));
    EXPECT_TRUE(factory.journal.empty());
    for (const board::sim::Call& call : sim().journal(board::hal::kDevice))
        EXPECT_NE(board::hal::kMuxConnect, call.request);

    // A second receiver: the transmitter is reported once only.
    messages = exchange(test::connect_command(3), 1);
    ASSERT_EQ(2u, messages.size());
    EXPECT_TRUE(messages[0].get_pdu().get_signal()->is_receiver());
    expect_sound();
}

TEST_F(Wiring, AReconnectionMovesTheReceiverToItsNewSource) {
    for (bool oldKeepsAReceiver : {false, true}) {
        SCOPED_TRACE(oldKeepsAReceiver ? "the old source keeps a receiver" : "its last receiver");
        const unsigned old = oldKeepsAReceiver ? 11 : 1, next = old + 1, moved = old + 2,
                       kept = old + 3;
        for (unsigned n = old; n <= kept; ++n) create(n);
        connect(old, moved);
        if (oldKeepsAReceiver) connect(old, kept);
        factory.journal.clear();

        connect(next, moved);
        EXPECT_TRUE(fed_by(slot(moved), slot(next)));
        EXPECT_EQ(std::vector<Slot*>{&slot(moved)}, slot(next).receivers());
        EXPECT_EQ(oldKeepsAReceiver ? std::vector<Slot*>{&slot(kept)} : std::vector<Slot*>{},
                  slot(old).receivers());
        EXPECT_EQ(
            (std::vector<std::string>{"IHwDisconnectTransmitter " + name(old) + " " + name(moved),
                                      "IHwConnectReceiver " + name(moved) + " " + name(next)}),
            hardware_hooks());
        EXPECT_EQ(oldKeepsAReceiver ? 0u : 1u,
                  factory.journaled("IOnOutputRelease " + name(old)).size());
        EXPECT_TRUE(factory.journaled("IOnInputRelease").empty());
        expect_sound();
    }
}

TEST_F(Wiring, TheSideOfHigherPriorityDoesTheHardwareWork) {
    factory.scripts[10].priority = 1;
    factory.scripts[11].priority = -1;
    struct Row {
        int sourceScript, destinationScript;
        const char* make;
        const char* brk;
    };
    const std::vector<Row> rows = {
        {0, 0, "IHwConnectReceiver D S", "IHwDisconnectTransmitter S D"},
        {10, 10, "IHwConnectReceiver D S", "IHwDisconnectTransmitter S D"},
        {10, 0, "IHwConnectTransmitter S D", "IHwDisconnectTransmitter S D"},
        {0, 10, "IHwConnectReceiver D S", "IHwDisconnectReceiver D S"},
        {11, 0, "IHwConnectReceiver D S", "IHwDisconnectReceiver D S"},
    };
    unsigned n = 100;
    for (const Row& row : rows) {
        const unsigned s = n++, d = n++;
        create(s, row.sourceScript);
        create(d, row.destinationScript);
        auto expand = [&](std::string text) {
            for (size_t at; (at = text.find(" S")) != std::string::npos;)
                text.replace(at, 2, " " + name(s));
            for (size_t at; (at = text.find(" D")) != std::string::npos;)
                text.replace(at, 2, " " + name(d));
            return text;
        };
        factory.journal.clear();
        connect(s, d);
        EXPECT_EQ(std::vector<std::string>{expand(row.make)}, hardware_hooks()) << row.make;
        expect_sound();
        factory.journal.clear();
        ASSERT_EQ(std::nullopt, outcome(test::command(Alternative::disconnect), d));
        EXPECT_EQ(std::vector<std::string>{expand(row.brk)}, hardware_hooks()) << row.brk;
        expect_sound();
    }
}

TEST_F(Wiring, AnOutputGoingAwayDisconnectsEveryReceiverEvenWhenTheyRewire) {
    // 2 passes its loss on to its own receiver 5; 3 turns to source 6 (once).
    factory.scripts[2].onInputRelease = [](Slot& self) { self.OnChangeOutputStream(false); };
    auto turned = std::make_shared<bool>(false);
    factory.scripts[3].onInputRelease = [turned](Slot& self) {
        if (!*turned) Connect(*Slots::instance()->at(6), self);
        *turned = true;
    };
    for (unsigned n = 1; n <= 6; ++n) create(n, n <= 3 ? int(n) : 0);
    for (unsigned d : {2u, 3u, 4u}) connect(1, d);
    connect(2, 5);
    factory.journal.clear();

    slot(1).OnChangeOutputStream(false);

    EXPECT_TRUE(slot(1).receivers().empty());
    EXPECT_FALSE(slot(1).outputActive());
    for (unsigned d : {2u, 4u, 5u}) EXPECT_EQ(nullptr, slot(d).source()) << d;
    EXPECT_TRUE(fed_by(slot(3), slot(6)));
    for (unsigned d : {2u, 3u, 4u, 5u})
        EXPECT_EQ(1u, factory.journaled("IOnInputRelease " + name(d)).size()) << d;
    EXPECT_EQ("", errors.str());
    expect_sound();
}

// A release hook that disconnects a sibling runs the receivers out early:
// one line, and the server serves on.
TEST_F(Wiring, AReleaseHookThatDisconnectsASiblingDoesNotStopTheServer) {
    // Whichever of the two the source releases first (their order is their
    // addresses') disconnects the other.
    auto once = std::make_shared<bool>(false);
    for (unsigned n : {2u, 3u})
        factory.scripts[n].onInputRelease = [once, sibling = 5 - n](Slot&) {
            if (!*once) Disconnect(*Slots::instance()->at(sibling));
            *once = true;
        };
    for (unsigned n = 1; n <= 3; ++n) create(n, n == 1 ? 0 : int(n));
    for (unsigned d : {2u, 3u}) connect(1, d);

    slot(1).OnChangeOutputStream(false);

    EXPECT_TRUE(slot(1).receivers().empty());
    EXPECT_EQ("mux: internal error: expected slots not exists.\n", errors.str());
    EXPECT_FALSE(multiplexer.terminated());
    EXPECT_EQ(std::nullopt, outcome(test::ping(), 1));
    expect_sound();
}

// A reconnection that fails leaves the graph as it was. The driver refuses
// the new path: the old link is put back (its path owed where the driver
// refuses that too, made by the refresh). The old source lost its hardware:
// its link, which has no path, stays. The new source's channel is another
// live call's: known before anything is broken, the driver is asked nothing.
TEST_F(Wiring, AFailedReconnectionPutsTheOldLinkBack) {
    enum Why { refused, refusedTwice, oldLost, heldElsewhere };
    factory.scripts[1].transmit = factory.scripts[1].receive = 9000;
    factory.scripts[1].holds = true;
    const char* const kWhy[] = {"refused", "refused twice", "old source lost", "held elsewhere"};
    for (Why why : {refused, refusedTwice, oldLost, heldElsewhere}) {
        SCOPED_TRACE(kWhy[why]);
        const unsigned old = 10 * (why + 1), next = old + 1, moved = old + 2;
        for (unsigned n : {old, next, moved}) create(n, n == next && why == heldElsewhere);
        if (why == heldElsewhere) create(old + 3, 1);  // the driver gave it on
        connect(old, moved);
        if (why == oldLost) slot(old).LetGoOfHardware(Slot::Loss::silent);
        factory.journal.clear();
        sim().clear_journal();
        if (why != heldElsewhere)
            sim().fail_next(board::sim::Op::Ioctl, board::hal::kDevice, EIO,
                            board::hal::kMuxConnect, why == refusedTwice ? 2 : 1);

        EXPECT_EQ(Cause::connectFail, outcome(test::connect_command(moved), next));
        EXPECT_TRUE(slot(next).receivers().empty());
        EXPECT_EQ(why != heldElsewhere, factory.journaled("IOnOutputRelease " + name(next)).size());
        EXPECT_TRUE(fed_by(slot(moved), slot(old)));
        EXPECT_TRUE(factory.journaled("IOnInputRelease").empty());
        const auto& calls = sim().journal(board::hal::kDevice);
        EXPECT_EQ(why == heldElsewhere, std::none_of(calls.begin(), calls.end(), [](auto& call) {
                      return call.request == board::hal::kMuxConnect ||
                             call.request == board::hal::kMuxWriteByte;
                  }));
        server.pump();
        if (why != oldLost) {
            EXPECT_EQ(slot(old).IGetTransmitChannel(),
                      fabric().channel(slot(moved).IGetReceiveChannel()).value);
        }
        expect_sound();
    }
}

// The hardware of slot 1 goes while it feeds 2 and 3 feeds it: the paths go
// at once, and from then on neither its hooks nor its far sides' are asked
// for hardware work; a connect fails, also where it is linked already.
TEST_F(Wiring, ASlotThatLostItsHardwareLetsGoOfItAtOnceAndIsWiredToNothing) {
    for (unsigned n : {1u, 2u, 3u, 4u}) create(n);
    connect(1, 2);
    connect(3, 1);
    const int receive = slot(1).IGetReceiveChannel();
    factory.journal.clear();
    slot(1).LetGoOfHardware(Slot::Loss::abort, 7);
    slot(1).LetGoOfHardware(Slot::Loss::abort, 8);

    auto abort = controller.receive();
    ASSERT_TRUE(abort && test::is_signal(*abort));
    EXPECT_EQ(7, abort->get_pdu().get_signal()->get_abort()->getValue());
    EXPECT_FALSE(controller.receive(3)) << "a second signal";
    EXPECT_EQ((std::vector<std::string>{"IHwDisconnectTransmitter 03:test 01:test",
                                        "IHwDisconnectTransmitter 01:test 02:test",
                                        "IReleaseHardware 01:test"}),
              factory.journal);
    EXPECT_EQ(board::sim::HalModel::Output::Off, fabric().channel(receive).output);
    EXPECT_EQ(-1, slot(1).IGetTransmitChannel());
    factory.journal.clear();
    for (auto [source, destination] : {std::pair{1u, 2u}, {3u, 1u}, {1u, 4u}, {4u, 1u}})
        EXPECT_EQ(Cause::connectFail, outcome(test::connect_command(destination), source))
            << source << " -> " << destination;
    EXPECT_NE(
        std::string::npos,
        errors.str().find("slot 01:test lost its hardware: no connect from 03:test to 01:test"));
    EXPECT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), 1));
    EXPECT_TRUE(hardware_hooks().empty());
    expect_sound();
}

// Slot 1 and then slot 3 were given channel 9000 (both ways); 2 feeds 1.
// Where the driver gave it to another call, slot 1 lost it: 3 took the
// channel without 2's path, 4 feeds 3, and asking to connect 5 into 1, or
// 1 into 5 (reading what is now 3's call), is refused, though
// disconnecting 1 (which leaves 3's path) is not. Slots that share it by
// design (those of a mixer channel), both fed by 2, may unwire, which
// leaves 2's path to 3, and read it.
TEST_F(Wiring, TheSwitchRefusesASlotAChannelThatAnotherLiveCallHolds_NotItsSharers) {
    static const int kShared = 0;
    for (bool shared : {false, true}) {
        SCOPED_TRACE(shared ? "shared" : "another call's");
        for (int script : {1, 3}) {
            factory.scripts[script].transmit = factory.scripts[script].receive = 9000;
            factory.scripts[script].holds = true;
            factory.scripts[script].share = shared ? &kShared : nullptr;
        }
        create(1, 1);
        create(2);
        connect(2, 1);
        create(3, 3);
        create(4);
        const unsigned feedsThree = shared ? 2 : 4;
        connect(feedsThree, 3);
        create(5);
        errors.clear();

        EXPECT_EQ(std::nullopt, outcome(test::command(Alternative::disconnect), 1));
        EXPECT_EQ(slot(feedsThree).IGetTransmitChannel(), fabric().channel(9000).value);
        if (!shared) {
            EXPECT_EQ(Cause::connectFail, outcome(test::connect_command(1), 5));
            EXPECT_EQ(Cause::connectFail, outcome(test::connect_command(5), 1));
            const std::string line = "mux: 01:test asks for [9000], which 03:test holds: refused\n";
            const std::string said = errors.str();
            EXPECT_NE(said.find(line), said.rfind(line)) << said;  // both refused
        } else {
            connect(1, 5);
        }
        expect_sound();
        for (unsigned n = 1; n <= 5; ++n)
            ASSERT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), n));
    }
}

TEST_F(Wiring, ASideWithoutItsStreamRefusesTheConnection) {
    factory.scripts[1].output = false;
    factory.scripts[2].input = false;
    create(1, 1);
    create(2, 2);
    create(3);
    EXPECT_EQ(Cause::connectFail, outcome(test::connect_command(3), 1));
    EXPECT_NE(std::string::npos,
              errors.str().find("slot 01:test don't have output stream to 03:test"));
    EXPECT_EQ(Cause::connectFail, outcome(test::connect_command(2), 3));
    EXPECT_NE(std::string::npos,
              errors.str().find("slot 02:test don't have input stream from 03:test"));
    expect_sound();
}

}  // namespace
