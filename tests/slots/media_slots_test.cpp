// Trunk, map, pass-through and echo slots through the controller's
// commands, and what the switch carries between them.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hardware/hw_mux.h"
#include "tests/slots/media_fixture.h"

namespace {

using Alternative = LGCP::Command::Alternative;
using Lines = std::vector<std::string>;
using Output = board::sim::HalModel::Output;
using test::BusChannel;
using test::create_map;
using test::create_trunk;
using test::create_trunk_bri;

constexpr auto npos = std::string::npos;
const std::optional<BusChannel> none;

class TrunkSlots : public test::MediaSlotTest {};
class MapSlots : public test::MediaSlotTest {};
class Switching : public test::MediaSlotTest {};
class PassThrough : public test::MediaSlotTest {};
class EchoSlots : public test::MediaSlotTest {};

Slot* at(unsigned number) {
    return Slots::instance()->at(number);
}
LGCP::Command destroy() {
    return test::command(Alternative::destroy);
}

TEST_F(TrunkSlots, TakeTheChannelOfTheirTimeslotAndReportBothStreams) {
    struct Case {
        const char* name;
        LGCP::Command create;
        Lines heard;
        int trunk, timeslot;
    };
    const Case cases[] = {
        {"E1 2/5",
         create_trunk(2, 5),
         {"3 success", "3 transmitter active 69", "3 receiver active 69"},
         2,
         5},
        {"E1 3/31",
         create_trunk(3, 31),
         {"3 success", "3 transmitter active 127", "3 receiver active 127"},
         3,
         31},
        {"BRI 3/2",
         create_trunk_bri(3, 2),
         {"3 success", "3 transmitter active 14", "3 receiver active 14"},
         3,
         2},
        {"BRI 7/3",
         create_trunk_bri(7, 3),
         {"3 success", "3 transmitter active 31", "3 receiver active 31"},
         7,
         3},
        {"BRI channel 4", create_trunk_bri(3, 4), {"3 insufficientResources"}, 0, 0},
        {"E1 trunk 4", create_trunk(4, 0), {"3 insufficientResources"}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.heard, heard(c.create, 3));
        if (auto* slot = dynamic_cast<TrunkSlot*>(at(3))) {
            EXPECT_EQ(c.trunk, slot->GetTrunk());
            EXPECT_EQ(c.timeslot, slot->GetTimeSlot());
            EXPECT_EQ(c.timeslot, slot->GetTrunkTimeSlot());
            heard(destroy(), 3);
        }
    }
}

TEST_F(TrunkSlots, ASecondCreationForTheTimeslotDestroysTheFirstUnannounced) {
    make(create_trunk(1, 3), 10);
    make(create_map(none, BusChannel{0, 1}), 12);
    connect(10, 12);
    errors.clear();

    EXPECT_EQ((Lines{"11 success", "11 transmitter active 35", "11 receiver active 35"}),
              heard(create_trunk(1, 3), 11));
    EXPECT_NE(npos, errors.str().find("trunk-slot: two slots require the same timeslot, remove "
                                      "old.\n old slot 10:trunk\n"));
    EXPECT_EQ(Lines{"10 slotNotExists"}, heard(destroy(), 10));
    EXPECT_EQ(at(11), TrunkFactories::instance().e1(1).at(3));
    EXPECT_EQ(nullptr, at(12)->source());
    expect_sound();
}

TEST_F(TrunkSlots, ADestroyFreesTheTimeslot) {
    make(create_trunk_bri(2, 1), 12);
    EXPECT_EQ(Lines{"12 success"}, heard(destroy(), 12));
    EXPECT_EQ(nullptr, TrunkFactories::instance().bri(2).at(1));
    errors.clear();
    make(create_trunk_bri(2, 1), 13);
    EXPECT_EQ(npos, errors.str().find("two slots")) << errors.str();
}

TEST_F(MapSlots, ReportTheirChannelsReceiverFirst) {
    struct Case {
        const char* name;
        LGCP::Command create;
        Lines heard;
    };
    const Case cases[] = {
        {"receiver 1/5",
         create_map(none, BusChannel{1, 5}),
         {"4 success", "4 receiver active 8325"}},
        {"transmitter 0/9",
         create_map(BusChannel{0, 9}, none),
         {"4 success", "4 transmitter active 8201"}},
        {"both",
         create_map(BusChannel{2, 0}, BusChannel{2, 1}),
         {"4 success", "4 receiver active 8449", "4 transmitter active 8448"}},
        {"neither", create_map(none, none), {"4 success"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.heard, heard(c.create, 4));
        for (int channel : {at(4)->IGetTransmitChannel(), at(4)->IGetReceiveChannel()}) {
            if (channel >= 0) {
                EXPECT_EQ(at(4), MapFactory::instance().owner(channel));
            }
        }
    }
}

TEST_F(MapSlots, ANewReceiverOnAnOlderSlotsTransmitChannelDestroysTheOlderSlot) {
    make(create_map(BusChannel{1, 5}, BusChannel{1, 6}), 20);
    errors.clear();
    EXPECT_EQ((Lines{"21 success", "21 receiver active 8325"}),
              heard(create_map(none, BusChannel{1, 5}), 21));
    EXPECT_NE(npos, errors.str().find("map-slot: two slots require the same ipc-slot, remove "
                                      "old.\nnew slot na:map <-> old slot 20:map\n"));
    EXPECT_EQ(Lines{"20 slotNotExists"}, heard(destroy(), 20));
    EXPECT_EQ(at(21), MapFactory::instance().owner(8325));
    EXPECT_EQ(nullptr, MapFactory::instance().owner(8326));
}

TEST_F(MapSlots, ADestroyDisablesOnlyTheReceiveChannel) {
    make(create_map(BusChannel{0, 8}, BusChannel{0, 9}), 22);
    make(create_trunk(0, 1), 23);
    connect(23, 22);
    HwMux::instance().Write(8200, 0x11);
    EXPECT_EQ(Lines{"22 success"}, heard(destroy(), 22));
    EXPECT_EQ(Output::Off, fabric().channel(8201).output);
    EXPECT_EQ(Output::Driven, fabric().channel(8200).output);
    EXPECT_NE(npos, progress.str().find("map: disable map channel 9\n"));
}

// The controller named bus channel 9 for both: the map slot's destroy
// leaves the pass-through slot its path.
TEST_F(MapSlots, ADestroyLeavesTheReceiveChannelToAnotherSlotFedThere) {
    make(create_map(none, BusChannel{0, 9}), 22);
    make(test::create_ext(100, 9), 24);
    heard(test::activate(), 24);
    make(create_trunk(0, 1), 23);
    connect(23, 24);
    EXPECT_EQ(Lines{"22 success"}, heard(destroy(), 22));
    EXPECT_EQ(1, fabric().origin(8201));
    EXPECT_NE(npos, progress.str().find("mux: 22:map leaves [8201] to 24:bri\n"));
}

TEST_F(MapSlots, OneChannelForBothDirectionsIsOwnedOnce) {
    EXPECT_EQ((Lines{"24 success", "24 receiver active 8330", "24 transmitter active 8330"}),
              heard(create_map(BusChannel{1, 10}, BusChannel{1, 10}), 24));
    EXPECT_EQ(at(24), MapFactory::instance().owner(8330));
    EXPECT_EQ(Lines{"24 success"}, heard(destroy(), 24));
    EXPECT_EQ(nullptr, MapFactory::instance().owner(8330));
    EXPECT_EQ(npos, errors.str().find("internal error")) << errors.str();
}

TEST_F(Switching, TheSwitchCarriesTheSourceUntilTheDisconnection) {
    struct Case {
        const char* name;
        LGCP::Command source;
        LGCP::Command destination;
        std::function<void(board::sim::HalModel&)> feed;
        int channel;  // the destination's
        uint8_t byte;
    };
    const Case cases[] = {
        {"a trunk into a map receiver", create_trunk(0, 1), create_map(none, BusChannel{1, 5}),
         [](board::sim::HalModel& fabric) { fabric.line[1] = 0x5A; }, 8325, 0x5A},
        {"a map transmitter into a trunk", create_map(BusChannel{0, 8}, none), create_trunk(0, 2),
         [](board::sim::HalModel& fabric) { fabric.foreign[8200] = 0x33; }, 2, 0x33},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make(c.source, 30);
        make(c.destination, 31);
        c.feed(fabric());
        connect(30, 31);
        EXPECT_EQ(c.byte, fabric().byte_on(c.channel));
        expect_sound();
        EXPECT_EQ(Lines{"31 success"}, heard(test::command(Alternative::disconnect), 31));
        EXPECT_EQ(HwMux::kIdleByte, fabric().byte_on(c.channel));
        for (unsigned n : {30u, 31u}) heard(destroy(), n);
    }
}

TEST_F(PassThrough, TakesAnInputOnlyWhileActivated) {
    EXPECT_EQ((Lines{"40 success", "40 transmitter active 8292"}),
              heard(test::create_ext(100, 101), 40));
    make(create_trunk(0, 3), 41);
    fabric().line[3] = 0x77;
    errors.clear();
    EXPECT_EQ(Lines{"41 connectFail"}, heard(test::connect_command(40), 41));
    EXPECT_NE(npos, errors.str().find("slot 40:bri don't have input stream from 41:trunk"));

    EXPECT_EQ((Lines{"40 receiver active 8293", "40 success"}), heard(test::activate(), 40));
    EXPECT_EQ(HwMux::kIdleByte, fabric().byte_on(8293));
    connect(41, 40);
    EXPECT_EQ(0x77, fabric().byte_on(8293));
    // Activated again, it keeps its source.
    EXPECT_EQ(Lines{"40 success"}, heard(test::activate(), 40));
    EXPECT_EQ(0x77, fabric().byte_on(8293));
    expect_sound();

    EXPECT_EQ((Lines{"40 receiver inactive", "40 success"}),
              heard(test::command(Alternative::deactivate), 40));
    EXPECT_EQ(nullptr, at(40)->source());
    EXPECT_EQ(Output::Off, fabric().channel(8293).output);
}

TEST_F(PassThrough, RefusesChannelsOffTheBuses) {
    for (auto [transmitter, receiver] : {std::pair{-1, 0}, {0, 2048}, {2048, 5}, {0, -7}}) {
        SCOPED_TRACE(std::to_string(transmitter) + " " + std::to_string(receiver));
        EXPECT_EQ(Lines{"42 invalidParams"}, heard(test::create_ext(transmitter, receiver), 42));
    }
    EXPECT_EQ((Lines{"42 success", "42 transmitter active 8192"}),
              heard(test::create_ext(0, 2047), 42));
}

TEST_F(EchoSlots, EveryCreationIsRefusedAndNoBusIsListed) {
    for (auto [bus, channel] : {std::pair{0, 0}, {15, 31}, {16, 0}, {-1, 0}}) {
        SCOPED_TRACE(std::to_string(bus) + "/" + std::to_string(channel));
        EXPECT_EQ(Lines{"43 insufficientResources"}, heard(test::create_echo(bus, channel), 43));
    }
    controller.send(test::command(Alternative::query), 1);
    auto query = controller.receive_until([](const LGCP::Message& m) {
        return test::is_signal(m) && m.get_pdu().get_signal()->is_query();
    });
    ASSERT_TRUE(query);
    EXPECT_EQ(0u, query->get_pdu().get_signal()->get_query()->get_echoBus().size());
}

}  // namespace
