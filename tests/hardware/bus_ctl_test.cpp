// The bus clock on the simulated "/dev/hal": which source each
// configuration selects, free-run at every connect and disconnect (owed
// while the driver refuses it), and what a missing or refusing device does.

#include "hardware/bus_ctl.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "board/sim/hal_model.h"
#include "hardware/spi_ctrl.h"
#include "tests/hardware/hardware_test.h"
#include "tests/support/hardware_commands.h"

namespace {

namespace hal = board::hal;
using board::sim::HalModel;
using board::sim::Op;

using test::clock_cfg;

struct SourceCase {
    const char* name;
    LGCP::ClockCfg cfg;
    std::vector<int> selected;
    const char* logged;  // after "clkctl: clock source = "; null when nothing is selected
};

void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.name; }

using Sel = LGCP::ClkSel0;
using Ext = LGCP::BExtEn;

const SourceCase kSources[] = {
    {"external_enabled", clock_cfg(Sel::external, Ext::enabled, 2), {2}, "f2"},
    {"external_negative", clock_cfg(Sel::external, Ext::enabled, -3), {}, nullptr},
    {"external_disabled", clock_cfg(Sel::external, Ext::disabled, 1), {5}, "X3"},
    {"internal", clock_cfg(Sel::internal, Ext::enabled, 2), {4}, "freerun"},
    {"beyond_the_names", clock_cfg(Sel::external, Ext::enabled, 9), {9}, "9"},
};

class BusClock : public test::HardwareTest {
protected:
    BusCtl& bus = BusCtl::instance();
    HalModel& hal_ = model<HalModel>(hal::kDevice);
};

class ClockSource : public BusClock, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(ClockSource, IsChosenFromTheConfiguration) {
    EXPECT_TRUE(bus.SetClockSrc(GetParam().cfg));
    EXPECT_EQ(GetParam().selected, hal_.clock_history);
    EXPECT_TRUE(held_close_on_exec(hal::kDevice));
    const std::string log = errors.str();
    EXPECT_EQ(0u, log.find("clkctl: set clock source cmd: {"));
    if (GetParam().logged)
        EXPECT_NE(std::string::npos,
                  log.find(std::string("\nclkctl: clock source = ") + GetParam().logged + "\n"));
    else
        EXPECT_EQ(std::string::npos, log.find("clock source ="));
}

INSTANTIATE_TEST_SUITE_P(BusCtl, ClockSource, ::testing::ValuesIn(kSources),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BusClock, WithoutTheDeviceNoBriLineIsMasterAndTheSelectionFails) {
    hal_.absent = true;
    EXPECT_FALSE(bus.SetClockSrc(clock_cfg(Sel::internal, Ext::enabled, 0)));
    EXPECT_EQ("clkctl: set clock source fail: code 1.\n", errors.str());
    EXPECT_NE(std::string::npos, progress.str().find("spi: clock master disabled\n"));

    hal_.absent = false;
    EXPECT_TRUE(bus.SetClockSrc(clock_cfg(Sel::internal, Ext::enabled, 0)));
    EXPECT_EQ(4, hal_.clock_source);
}

TEST_F(BusClock, ADriverRefusalFailsTheSelection) {
    sim().fail_next(Op::Ioctl, hal::kDevice, EINVAL, hal::kClockSelect);
    EXPECT_FALSE(bus.SetClockSrc(clock_cfg(Sel::external, Ext::enabled, 3)));
    EXPECT_NE(std::string::npos, errors.str().find("\nclkctl: HW_CLOCK_SELECT fail.\n"));
    EXPECT_EQ(-1, hal_.clock_source);
}

// The departed controller's trunk must not clock the board until the next
// one connects: a free-run the driver refuses is asked again every second
// until it takes it, a connect's takes, or a configuration selects another
// source; one that selects none, or that the driver refuses, leaves it owed.
struct OwedFreeRunCase {
    const char* name;
    int refusals;  // of the clock selects from the disconnect's on
    std::function<void(BusCtl&)> then;
    unsigned doneAfterMs;  // from the disconnect
    std::vector<int> selected;
};

void PrintTo(const OwedFreeRunCase& c, std::ostream* os) { *os << c.name; }

void configure(BusCtl& bus, int source) {
    LGCP::Command command;
    command.set_clockCfg(clock_cfg(Sel::external, Ext::enabled, source));
    bus.OnCommand(command);
}

const OwedFreeRunCase kOwedFreeRuns[] = {
    {"once", 1, nullptr, 1000, {2, 4}},
    {"four_times_in_a_row", 4, nullptr, 4000, {2, 4}},
    {"taken_at_a_connect", 1, [](BusCtl& bus) { bus.OnConnect(); }, 0, {2, 4}},
    {"replaced_by_a_source", 1, [](BusCtl& bus) { configure(bus, 1); }, 0, {2, 1}},
    {"not_replaced_by_no_source", 1, [](BusCtl& bus) { configure(bus, -3); }, 1000, {2, 4}},
    {"not_replaced_by_a_refused_source", 2, [](BusCtl& bus) { configure(bus, 1); }, 1000,
     {2, 4}},
};

class OwedFreeRun : public BusClock, public ::testing::WithParamInterface<OwedFreeRunCase> {};

TEST_P(OwedFreeRun, IsAskedAgainEverySecondUntilDone) {
    const OwedFreeRunCase& c = GetParam();
    ASSERT_TRUE(bus.SetClockSrc(clock_cfg(Sel::external, Ext::enabled, 2)));
    sim().fail_next(Op::Ioctl, hal::kDevice, EIO, hal::kClockSelect, c.refusals);
    bus.OnDisconnect();
    if (c.then) c.then(bus);
    if (c.doneAfterMs > 0) {
        loop.advance(c.doneAfterMs - 1);
        EXPECT_TRUE(bus.free_run_owed());
        EXPECT_EQ(2, hal_.clock_source);
        loop.advance(1);
    }
    EXPECT_FALSE(bus.free_run_owed());
    loop.advance(5 * Owed<>::kRetryMs);
    EXPECT_EQ(c.selected, hal_.clock_history);
}

INSTANTIATE_TEST_SUITE_P(BusCtl, OwedFreeRun, ::testing::ValuesIn(kOwedFreeRuns),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BusClock, DisabledControlNeverTouchesTheDevice) {
    bus.DisableControl();
    EXPECT_EQ("clock control disabled.\n", progress.str());
    bus.OnConnect();
    bus.OnDisconnect();
    EXPECT_FALSE(bus.IsOpen());
    EXPECT_TRUE(sim().journal(hal::kDevice).empty());
}

TEST_F(BusClock, SelectsByNumberWhatTheDriverTakes) {
    EXPECT_TRUE(bus.DrvSetClkSrc(7));
    EXPECT_FALSE(bus.DrvSetClkSrc(-1));  // the model refuses it
    EXPECT_EQ("clkctl: clock source = ?2\nclkctl: HW_CLOCK_SELECT fail.\n", errors.str());
    auto sources = requests<int32_t>(hal::kDevice, hal::kClockSelect);
    EXPECT_EQ((std::vector<int32_t>{7, -1}), sources);
}

}  // namespace
