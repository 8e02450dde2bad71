// The BRI line transceivers behind SPI on the simulated "/dev/hal": how the
// lines are prepared, how their status register becomes line states, which
// line is clock master, and a driver without SPI.

#include "hardware/spi_ctrl.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "board/sim/hal_model.h"
#include "tests/hardware/hardware_test.h"
#include "tests/support/throttled_lines.h"

namespace {

namespace hal = board::hal;
using board::sim::HalModel;
using board::sim::Op;
using State = ACP::TrunkState;

struct Write {
    unsigned line, reg, value;
    bool operator==(const Write& o) const {
        return line == o.line && reg == o.reg && value == o.value;
    }
};

std::ostream& operator<<(std::ostream& os, const Write& w) {
    return os << "{" << w.line << ", " << w.reg << ", " << w.value << "}";
}

class BriLines : public test::HardwareTest {
protected:
    std::vector<Write> writes() {
        std::vector<Write> out;
        for (const auto& r : requests<hal::spi_register>(hal::kDevice, hal::kSpiWrite))
            out.push_back({r.line, r.reg, r.data});
        return out;
    }
    std::vector<const ACP::TrunkStatus*> lines() {
        return recorder.trunk_states(ACP::TrunkType::bri);
    }
    void set_status(std::initializer_list<uint8_t> values) {
        unsigned line = 0;
        for (uint8_t value : values) lines_.spi[line++][spiCtrl::kStatus] = value;
    }

    spiCtrl& spi = spiCtrl::instance();
    HalModel& lines_ = model<HalModel>(hal::kDevice);
    test::BoundServices bound{{&recorder, &spi}};
};

TEST_F(BriLines, CreationPreparesThenEnablesEachLineInTurn) {
    spi.init_device_and_channels();

    std::vector<Write> expected;
    for (unsigned line = 0; line < 8; ++line) {
        for (auto [reg, value] : std::initializer_list<std::pair<unsigned, unsigned>>{
                 {50, 128}, {48, 8}, {87, 48}, {52, 96}, {53, 0}, {54, 0}, {55, 0}, {50, 0}})
            expected.push_back({line, reg, value});
    }
    EXPECT_EQ(expected, writes());
    EXPECT_EQ(0, lines_.spi[7][50]);
    EXPECT_TRUE(held_close_on_exec(hal::kDevice));
    EXPECT_EQ(0u,
              progress.str().find("spi: try init\nspi: init channel 0\nspi: enable channel 0\n"));
}

TEST_F(BriLines, StatusRegisterBecomesEachLinesState) {
    spi.init_device_and_channels();
    set_status({0x05, 0xC5, 0x85, 0x04, 0x01, 0x00, 0x45, 0xFF});
    spi.status();

    const State::NamedNumber expected[] = {State::ais,         State::normal, State::rai,
                                           State::lossCarrier, State::lossBF, State::lossCarrier,
                                           State::ais,         State::normal};
    auto states = lines();
    ASSERT_EQ(8u, states.size());
    for (int line = 0; line < 8; ++line) {
        EXPECT_EQ(line, states[line]->get_trunk().getValue());
        EXPECT_EQ(expected[line], states[line]->get_state().getValue()) << line;
        EXPECT_EQ(0, states[line]->get_lossCarrier().getValue());
        EXPECT_FALSE(states[line]->get_clockMaster().getValue());
    }
    EXPECT_TRUE(spi.polling());
}

TEST_F(BriLines, EachLineCountsASlipOnceWhenItFirstShowsIt) {
    spi.init_device_and_channels();
    auto slips = [&] {
        recorder.signals.clear();
        spi.status();
        std::vector<int> out;
        for (const ACP::TrunkStatus* state : lines()) out.push_back(state->get_slips().getValue());
        return out;
    };
    set_status({0x25, 0x25, 0x05, 0x25});
    EXPECT_EQ((std::vector<int>{1, 1, 0, 1, 0, 0, 0, 0}), slips());
    set_status({0x25, 0x05, 0x25, 0x25});
    EXPECT_EQ((std::vector<int>{0, 0, 1, 0, 0, 0, 0, 0}), slips());
    set_status({0x25, 0x25});
    EXPECT_EQ((std::vector<int>{0, 1, 0, 0, 0, 0, 0, 0}), slips());
}

struct ClockCase {
    int channel;
    std::vector<Write> writes;
    const char* line;
};

TEST_F(BriLines, ClockMasterIsOneLineOrNone) {
    std::vector<Write> none;
    for (unsigned line = 0; line < 8; ++line) none.push_back({line, 87, 48});
    std::vector<Write> third = none;
    third.push_back({3, 87, 56});
    const ClockCase cases[] = {
        {3, third, "spi: set clock master on channel 3\n"},
        {-1, none, "spi: clock master disabled\n"},
        {8, {}, "spi: bad channel for set clock master 8\n"},
        {-2, {}, "spi: bad channel for set clock master -2\n"},
    };
    spi.init_device_and_channels();
    for (const ClockCase& c : cases) {
        sim().clear_journal();
        progress.clear();
        spi.clock(c.channel);
        EXPECT_EQ(c.writes, writes()) << c.channel;
        EXPECT_EQ(c.line, progress.str());
    }
    EXPECT_EQ(48, lines_.spi[3][87]);
}

// ENODEV from any request: the driver has no SPI, and the lines stay alone.
class WithoutSpi : public BriLines, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(WithoutSpi, LeavesTheLinesAloneForGood) {
    spi.init_device_and_channels();
    spi.OnConnect();
    progress.clear();
    sim().fail_next(Op::Ioctl, hal::kDevice, ENODEV, GetParam());
    GetParam() == hal::kSpiRead ? spi.status() : spi.clock(2);
    EXPECT_NE(std::string::npos, progress.str().find("spi: hal without spi\n"));
    EXPECT_FALSE(spi.spi_present());
    EXPECT_FALSE(spi.polling());

    recorder.signals.clear();
    sim().clear_journal();
    spi.OnConnect();
    spi.clock(3);
    spi.status();
    spi.init_channel(1);
    loop.advance(2000);
    EXPECT_FALSE(spi.polling());
    EXPECT_TRUE(recorder.signals.empty());
    EXPECT_TRUE(sim().journal(hal::kDevice).empty());
}

INSTANTIATE_TEST_SUITE_P(Spi, WithoutSpi, ::testing::Values(hal::kSpiRead, hal::kSpiWrite),
                         [](const auto& info) {
                             return std::string(info.param == hal::kSpiRead ? "read" : "write");
                         });

TEST_F(BriLines, ADriverWithoutSpiAtCreationLogsOnce) {
    lines_.no_spi = true;
    spi.init_device_and_channels();
    EXPECT_EQ("spi: try init\nspi: hal without spi\nspi: init channel 0\n", progress.str());
    EXPECT_EQ(0, lines_.spi[0][50]);
}

TEST_F(BriLines, OtherFailuresAreLoggedAndAFailedReadIsNoCarrier) {
    spi.init_device_and_channels();
    set_status({0xC5});
    progress.clear();
    sim().fail_next(Op::Ioctl, hal::kDevice, EIO, hal::kSpiRead);
    spi.status();
    ASSERT_EQ(8u, lines().size());
    EXPECT_EQ(State::lossCarrier, lines()[0]->get_state().getValue());
    EXPECT_EQ("spi: read error: channel=0 addr=51\n", progress.str());

    progress.clear();
    sim().fail_next(Op::Ioctl, hal::kDevice, EIO, hal::kSpiWrite, 9);
    spi.clock(3);
    EXPECT_NE(std::string::npos,
              progress.str().find("spi: write error: channel=3 addr=87 data=56\n"));
    EXPECT_TRUE(spi.spi_present());
}

// Two transceivers whose reads fail, at every poll and at polls between:
// each failing line is named once a second with the count of its own lines
// held back, the other one failing too.
TEST_F(BriLines, ReadsThatFailAreLoggedOnceASecondPerLineWithTheirCount) {
    spi.init_device_and_channels();
    spi.OnConnect();
    progress.clear();
    sim().refuse = [](Op op, const std::string&, uint32_t request, const void* arg) {
        if (op != Op::Ioctl || request != hal::kSpiRead) return 0;
        const unsigned line = static_cast<const hal::spi_register*>(arg)->line;
        return line == 0 || line == 5 ? EIO : 0;
    };
    spi.status();
    spi.status();
    loop.advance(spiCtrl::kStatusPeriodMs);
    EXPECT_EQ(24u, lines().size()) << "every line's state goes out all the same";
    for (const char* line : {"spi: read error: channel=0 ", "spi: read error: channel=5 "})
        EXPECT_TRUE(test::written_twice_with_a_count(progress.str(), line, 1));
}

TEST_F(BriLines, AMissingDeviceIsTriedAgainAtEachUse) {
    lines_.absent = true;
    spi.init_device_and_channels();
    spi.clock(-1);
    EXPECT_EQ(
        "spi: try init\nspi: /dev/hal open fail\n"
        "spi: try init\nspi: /dev/hal open fail\nspi: clock master disabled\n",
        progress.str());
    spi.OnConnect();
    EXPECT_FALSE(spi.polling());

    lines_.absent = false;
    spi.clock(-1);
    EXPECT_EQ(0, lines_.spi[5][50]);  // prepared and enabled on the way
}

}  // namespace
