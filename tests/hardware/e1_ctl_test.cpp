// E1 trunk control on the simulated maintenance and CAS drivers: trunk
// status from the driver's record, the TCLK mask, the CAS commands and the
// far end's signalling changes.

#include "hardware/e1_ctl.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "board/sim/e1_cas_model.h"
#include "board/sim/maintenance_model.h"
#include "tests/hardware/hardware_test.h"
#include "tests/support/hardware_commands.h"
#include "tests/support/throttled_lines.h"

namespace {

namespace cas = board::e1_cas;
namespace maintenance = board::maintenance;
using board::sim::E1CasModel;
using board::sim::MaintenanceModel;
using board::sim::Op;
using State = ACP::TrunkState;

using test::Cas;
using test::trunk_cfg;

using test::cas_close;
using test::cas_get;
using test::cas_open;
using test::cas_set;

class E1Trunks : public test::HardwareTest {
protected:
    std::vector<Cas> cas_signals() {
        std::vector<Cas> out;
        for (const LGCP::Signal& signal : recorder.signals)
            if (auto cas = test::cas_of(signal)) out.push_back(*cas);
        return out;
    }
    std::vector<const ACP::TrunkStatus*> trunks() {
        return recorder.trunk_states(ACP::TrunkType::e1);
    }

    E1Ctl& e1 = E1Ctl::instance();
    MaintenanceModel& maintenance_ = model<MaintenanceModel>(maintenance::kDevice);
    E1CasModel& cas_ = model<E1CasModel>(cas::kDevice);
    test::BoundServices bound{{&recorder, &e1}};
};

TEST_F(E1Trunks, StatusCarriesTheRecordsCountersAndState) {
    for (int t = 0; t < 4; ++t) {
        maintenance::trunk_status& r = maintenance_.trunks[t];
        r.trunk = 9;  // as the driver leaves word 0: not what is reported
        r.slips = 10 * t + 1;
        r.lossBF = 10 * t + 2;
        r.lossCarrier = 10 * t + 3;
        r.lossAIS = 10 * t + 4;
        r.lossRAI = 10 * t + 5;
    }
    maintenance_.trunks[0].state = State::rai;
    maintenance_.trunks[1].state = State::disabled;
    maintenance_.trunks[2].state = 7;  // beyond the states the controller knows
    maintenance_.trunks[3].state = -1;
    e1.SendStatus();

    auto states = trunks();
    ASSERT_EQ(4u, states.size());
    const State::NamedNumber expected[] = {State::rai, State::disabled, State::unknown,
                                           State::unknown};
    for (int t = 0; t < 4; ++t) {
        const ACP::TrunkStatus& s = *states[t];
        EXPECT_EQ(t, s.get_trunk().getValue());
        EXPECT_EQ(expected[t], s.get_state().getValue());
        EXPECT_EQ(10 * t + 1, s.get_slips().getValue());
        EXPECT_EQ(10 * t + 2, s.get_lossBF().getValue());
        EXPECT_EQ(10 * t + 3, s.get_lossCarrier().getValue());
        EXPECT_EQ(10 * t + 4, s.get_lossAIS().getValue());
        EXPECT_EQ(10 * t + 5, s.get_lossRAI().getValue());
        EXPECT_FALSE(s.get_clockMaster().getValue());
        EXPECT_TRUE(s.get_name().empty());
    }
    // Heard by the other services only: no controller, so nothing was sent.
    EXPECT_EQ("", errors.str());
    EXPECT_TRUE(held_close_on_exec(maintenance::kDevice));
}

TEST_F(E1Trunks, ATrunkThatCannotBeReadIsLoggedAndTheOthersReported) {
    maintenance_.failure[2] = EIO;
    e1.SendStatus();
    auto states = trunks();
    ASSERT_EQ(3u, states.size());
    EXPECT_EQ(3, states[2]->get_trunk().getValue());
    EXPECT_EQ("E1: synchronization status read fail, trunk = 2 cause = Input/output error\n",
              errors.str());
}

// A driver that fails two trunks' status at every poll and at the report of
// a controller's connect between: each failing trunk is named once a
// second with the count of its own lines held back, the other one failing
// too; the others are reported.
TEST_F(E1Trunks, StatusReadsThatFailAreLoggedOnceASecondPerTrunkWithTheirCount) {
    maintenance_.failure[0] = maintenance_.failure[2] = EIO;
    e1.OnConnect();
    e1.SendStatus();
    loop.advance(E1Ctl::kStatusPeriodMs);
    for (const char* trunk : {"trunk = 0 ", "trunk = 2 "})
        EXPECT_TRUE(test::written_twice_with_a_count(errors.str(), trunk, 1));
    EXPECT_EQ(6u, trunks().size());
}

TEST_F(E1Trunks, WithoutTheMaintenanceDeviceNothingIsSentUntilItOpens) {
    maintenance_.absent = true;
    e1.OnConnect();
    loop.advance(2000);
    EXPECT_TRUE(trunks().empty());
    EXPECT_EQ("", errors.str());

    maintenance_.absent = false;
    loop.advance(1000);
    EXPECT_EQ(4u, trunks().size());
}

TEST_F(E1Trunks, TrunkModesSetTheTclkMask) {
    using Mode = LGCP::TrunkMode;
    EXPECT_TRUE(e1.SetMode(trunk_cfg(2, Mode::slave)));
    EXPECT_TRUE(e1.SetMode(trunk_cfg(0, Mode::slave)));
    EXPECT_TRUE(e1.SetMode(trunk_cfg(2, Mode::master)));
    EXPECT_TRUE(e1.SetMode(trunk_cfg(-1, Mode::slave)));   // changes nothing
    EXPECT_FALSE(e1.SetMode(trunk_cfg(32, Mode::slave)));  // beyond the mask
    EXPECT_EQ((std::vector<uint32_t>{0x4, 0x5, 0x1}), maintenance_.tclk_history);
    EXPECT_EQ("E1: TCLT = 0x4\nE1: TCLT = 0x5\nE1: TCLT = 0x1\n", progress.str());

    e1.OnConnect();
    EXPECT_EQ(0u, maintenance_.tclk);
    EXPECT_EQ(4u, maintenance_.tclk_history.size());
}

// A controller's connect makes every trunk a master again: a mask the
// driver refused or could not be opened for then is written at the next
// status poll, not left to the next trunkCfg.
TEST_F(E1Trunks, TheConnectsMaskIsWrittenAtTheNextPollWhenItWasNotTaken) {
    using Mode = LGCP::TrunkMode;
    ASSERT_TRUE(e1.SetMode(trunk_cfg(2, Mode::slave)));
    sim().fail_next(Op::Ioctl, maintenance::kDevice, EIO, maintenance::kSetTclk);
    e1.OnConnect();
    EXPECT_EQ(0x4u, maintenance_.tclk);
    sim().fail_next(Op::Ioctl, maintenance::kDevice, EINTR, maintenance::kSetTclk);
    EXPECT_FALSE(e1.SetMode(trunk_cfg(1, Mode::slave)));
    loop.advance(E1Ctl::kStatusPeriodMs);
    EXPECT_EQ(0u, maintenance_.tclk) << "trunk 1 stayed a master";
    loop.advance(E1Ctl::kStatusPeriodMs);
    EXPECT_EQ((std::vector<uint32_t>{0x4, 0}), maintenance_.tclk_history);

    ASSERT_TRUE(e1.SetMode(trunk_cfg(3, Mode::slave)));
    e1.reset_for_test();  // the device closed
    maintenance_.absent = true;
    e1.OnConnect();
    maintenance_.absent = false;
    loop.advance(E1Ctl::kStatusPeriodMs);
    EXPECT_EQ(0u, maintenance_.tclk);
}

TEST_F(E1Trunks, ATclkWriteThatFailsIsReported) {
    sim().fail_next(Op::Ioctl, maintenance::kDevice, EIO, maintenance::kSetTclk);
    EXPECT_FALSE(e1.SetMode(trunk_cfg(1, LGCP::TrunkMode::slave)));
    EXPECT_EQ("E1: fail to set TCLK [cause=Input/output error]\n", errors.str());
    maintenance_.absent = true;
    EXPECT_TRUE(e1.UpdateTclk());  // opened already
    e1.reset_for_test();
    EXPECT_FALSE(e1.UpdateTclk());
}

TEST_F(E1Trunks, SelectsAClockSourceOnAnOpenDeviceOnly) {
    e1.select_source(3);
    EXPECT_EQ(-1, maintenance_.clock_source);
    ASSERT_TRUE(e1.IsOpen());
    e1.select_source(3);
    EXPECT_EQ(3, maintenance_.clock_source);
    sim().fail_next(Op::Ioctl, maintenance::kDevice, EIO, maintenance::kSelectClockSource);
    e1.select_source(2);
    EXPECT_EQ("E1: fail to set clock source\n", errors.str());
}

struct CasCase {
    const char* name;
    std::function<void(E1CasModel&)> setup;
    std::vector<LGCP::IoctlParams> commands;
    std::vector<Cas> signals;
    std::function<void(const E1CasModel&, const E1Ctl&)> check;
};

void PrintTo(const CasCase& c, std::ostream* os) { *os << c.name; }

const auto kNothing = [](E1CasModel&) {};
const auto kNoCheck = [](const E1CasModel&, const E1Ctl&) {};

const CasCase kCasCases[] = {
    {"open_a_timeslot_of_a_closed_trunk",
     [](E1CasModel& m) { m.channels[1][5].rx = 0x6; },
     {cas_open(1, 5, 9)},
     {{1, 0, 0, 0}, {1, 5, 6, 9}},
     [](const E1CasModel& m, const E1Ctl& e1) {
         EXPECT_TRUE(m.trunks[1].open && e1.cas_open(1));
         EXPECT_TRUE(m.channels[1][5].open);
         EXPECT_EQ(9, m.channels[1][5].tx);
     }},
    {"open_keeps_four_bits",
     kNothing,
     {cas_open(0, 1, 0x1F)},
     {{0, 0, 0, 0}, {0, 1, 0, 15}},
     kNoCheck},
    {"open_timeslot_16_opens_only_the_trunk",
     kNothing,
     {cas_open(1, 16, 3)},
     {{1, 0, 0, 0}},
     [](const E1CasModel& m, const E1Ctl&) { EXPECT_TRUE(m.trunks[1].open); }},
    {"open_an_open_trunk",
     kNothing,
     {cas_open(2, 0, 0), cas_open(2, 3, 1)},
     {{2, 0, 0, 0}, {2, 0, 0, 0}, {2, 3, 0, 1}},
     kNoCheck},
    {"open_refused",
     [](E1CasModel& m) { m.trunks[3].open_result = -EBUSY; },
     {cas_open(3, 5, 1)},
     {{3, 0, -1, 0}},
     [](const E1CasModel&, const E1Ctl& e1) { EXPECT_FALSE(e1.cas_open(3)); }},
    {"open_a_timeslot_the_driver_refuses",
     kNothing,
     {cas_open(1, 40, 1)},
     {{1, 0, 0, 0}, {1, 40, -1, 0}},
     kNoCheck},
    {"close_the_trunk",
     kNothing,
     {cas_open(1, 5, 9), cas_close(1, 0), cas_get(1, 5)},
     {{1, 0, 0, 0}, {1, 5, 0, 9}, {1, 0, 1, 0}},
     [](const E1CasModel& m, const E1Ctl& e1) {
         EXPECT_FALSE(m.trunks[1].open || e1.cas_open(1));
     }},
    {"close_result_as_the_driver_gives_it",
     [](E1CasModel& m) { m.trunks[0].close_result = 2; },
     {cas_close(0, 0)},
     {{0, 0, 2, 0}},
     kNoCheck},
    {"close_a_timeslot",
     kNothing,
     {cas_open(1, 5, 9), cas_close(1, 5)},
     {{1, 0, 0, 0}, {1, 5, 0, 9}, {1, 5, -1, 1}},
     [](const E1CasModel& m, const E1Ctl& e1) {
         EXPECT_FALSE(m.channels[1][5].open);
         EXPECT_TRUE(e1.cas_open(1));
     }},
    {"close_a_timeslot_of_a_closed_trunk", kNothing, {cas_close(1, 5)}, {}, kNoCheck},
    {"set_bits",
     [](E1CasModel& m) { m.channels[0][7].rx = 0x3; },
     {cas_open(0, 7, 0), cas_set(0, 7, 0x2A)},
     {{0, 0, 0, 0}, {0, 7, 3, 0}, {0, 7, 3, 0xA}},
     [](const E1CasModel& m, const E1Ctl&) { EXPECT_EQ(0xA, m.channels[0][7].tx); }},
    {"set_on_a_timeslot_not_open",
     kNothing,
     {cas_open(0, 0, 0), cas_set(0, 7, 1)},
     {{0, 0, 0, 0}, {0, 7, -1, 0}},
     kNoCheck},
    {"set_and_get_on_a_closed_trunk", kNothing, {cas_set(2, 7, 1), cas_get(2, 7)}, {}, kNoCheck},
    {"trunk_4_and_a_negative_trunk",
     kNothing,
     {cas_open(4, 1, 1), cas_get(4, 1), cas_close(4, 0), cas_open(-1, 1, 1), cas_close(-1, 0)},
     {},
     kNoCheck},
};

class CasCommands : public E1Trunks, public ::testing::WithParamInterface<CasCase> {};

TEST_P(CasCommands, SignalWhatTheDriverDid) {
    GetParam().setup(cas_);
    for (const LGCP::IoctlParams& command : GetParam().commands) e1.HandleCas(command);
    EXPECT_EQ(GetParam().signals, cas_signals());
    GetParam().check(cas_, e1);
}

INSTANTIATE_TEST_SUITE_P(E1Ctl, CasCommands, ::testing::ValuesIn(kCasCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(E1Trunks, TrunkOpenAndFailureAreLogged) {
    cas_.trunks[2].open_result = -EIO;
    e1.HandleCas(cas_open(1, 0, 0));
    e1.HandleCas(cas_open(2, 0, 0));
    EXPECT_EQ(
        "E1: cas interface opened!\n"
        "E1: open cas signalling on trunk(1) - ok\n"
        "E1: open cas signalling on trunk(2) - fail(-1)\n",
        progress.str());
    EXPECT_TRUE(held_close_on_exec(cas::kDevice));
}

TEST_F(E1Trunks, WithoutTheCasDeviceCommandsDoNothing) {
    cas_.absent = true;
    e1.HandleCas(cas_open(1, 5, 9));
    EXPECT_TRUE(recorder.signals.empty());
    cas_.absent = false;
    e1.HandleCas(cas_open(1, 5, 9));
    EXPECT_EQ(2u, cas_signals().size());
}

// A CAS device that hangs up is read once and closed with one line; the
// next status poll opens it again.
TEST_F(E1Trunks, ACasDeviceThatEndsIsClosedOnceAndThePollOpensItAgain) {
    e1.OnConnect();
    sim().channels(cas::kDevice).at(0)->hang_up();
    errors.clear();
    EXPECT_EQ(1u, loop.ready_passes(50));
    EXPECT_EQ("E1: cas read fail: hung up\n", errors.str());
    EXPECT_TRUE(sim().channels(cas::kDevice).empty());
    loop.advance(1000);
    cas::cas_channel record{2, 9, 1, 2, {0, 0}};
    cas_.deliver_raw(&record, sizeof record);
    loop.pump();
    EXPECT_EQ((std::vector<Cas>{{2, 9, 1, 2}}), cas_signals());
}

// A read of 0 ends the burst (of one record), not the device: the record
// after it comes in the next pass.
TEST_F(E1Trunks, AReadOf0FromTheCasDeviceEndsTheBurstNotTheDevice) {
    e1.OnConnect();
    errors.clear();
    cas::cas_channel record{2, 9, 1, 2, {0, 0}};
    cas_.deliver_raw(&record, 0);
    cas_.deliver_raw(&record, sizeof record);
    EXPECT_EQ(2u, loop.ready_passes(50));
    EXPECT_EQ((std::vector<Cas>{{2, 9, 1, 2}}), cas_signals());
    EXPECT_EQ("", errors.str());
    EXPECT_EQ(1u, sim().channels(cas::kDevice).size());
}

TEST_F(E1Trunks, RecordsOfAnotherSizeAreDropped) {
    ASSERT_TRUE(e1.CheckOpenCas());
    const uint8_t shortRecord[7] = {};
    cas_.deliver_raw(shortRecord, sizeof shortRecord);
    cas::cas_channel record{2, 9, 1, 2, {0, 0}};
    cas_.deliver_raw(&record, sizeof record);
    loop.pump(3);
    EXPECT_EQ((std::vector<Cas>{{2, 9, 1, 2}}), cas_signals());
}

}  // namespace
