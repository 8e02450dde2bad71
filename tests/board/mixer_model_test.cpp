// The simulated conference mixer: what it refuses, and the state it keeps
// across the opens (one per request).
#include "board/sim/mixer_model.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "board/devio.h"
#include "tests/support/board_root.h"

namespace {

using namespace board::mixer;
using board::sim::Board;
using Sum = board::sim::MixerModel::Sum;

// One request on its own open: the result, or -errno.
template <class Record>
int request(uint32_t number, Record& record) {
    const int fd = board::open(kDevice, O_RDONLY);
    const int result = board::ioctl(fd, number, &record);
    const int error = errno;
    ::close(fd);
    return result < 0 ? -error : result;
}

class MixerModelTest : public ::testing::Test {
protected:
    test::BoardRoot root;  // a fresh board
    board::sim::MixerModel& model = *Board::instance().model_as<board::sim::MixerModel>(kDevice);
};

TEST_F(MixerModelTest, RefusesUnknownUnitsTypesAndChannels) {
    struct Case {
        mix_slot slot;
        int expected;
    } cases[] = {
        {{0, kTdm, 31}, 0}, {{2, kTdm, 1}, -EINVAL},  {{0, 1, 1}, -EINVAL},
        {{0, kTdm, -1}, -EINVAL}, {{0, kTdm, 32}, -EINVAL},
    };
    for (auto& c : cases) {
        mix_slot slot = c.slot;
        EXPECT_EQ(c.expected, request(MIX_RX_CLEAR, slot)) << c.slot.dev_no << "/" << c.slot.number;
        mix_rx_record add{c.slot, {0, kTdm, 1}, kUnityGain};
        EXPECT_EQ(c.expected, request(MIX_RX_ADD, add));
    }
    mix_rx_record absent{{0, kTdm, 4}, {0, kTdm, 2}, 0};
    EXPECT_EQ(-ENOENT, request(MIX_RX_REMOVE, absent));
}

TEST_F(MixerModelTest, KeepsSumsAndTimeslotsAcrossOpens_AndWalksItsUnits) {
    mix_rx_record add{{1, kTdm, 4}, {1, kTdm, 2}, 100};
    ASSERT_EQ(0, request(MIX_RX_ADD, add));
    EXPECT_EQ((Sum{{2, 100}}), model.sum(1, 4));
    mix_slot channel{1, kTdm, 2};
    EXPECT_EQ(model.timeslot(1, 2), request(MIX_TDM, channel));
    EXPECT_EQ(board::sim::MixerModel::kTimeslotBase + 32 + 2, model.timeslot(1, 2));
    ASSERT_EQ(0, request(MIX_RX_REMOVE, add));
    EXPECT_EQ(Sum{}, model.sum(1, 4));

    ASSERT_TRUE(model.add_unit(7, 8, 3));
    std::vector<int> units;
    mix_enum_record record{-1, 0, 0, 0};
    while (request(MIX_NEXT, record) == 0) units.push_back(record.unit);
    EXPECT_EQ((std::vector<int>{0, 1, 7}), units);
    EXPECT_EQ(8, record.channels);
    EXPECT_EQ(3, record.inputs);
    EXPECT_EQ(-ENODEV, request(MIX_NEXT, record));
}

}  // namespace
