// The simulated TDM fabric's frames: carried where the switch connects data
// channels, across test cables, to and from endpoints; and the QSIG data
// device's channels on it.
#include "board/sim/tdm_fabric.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "board/devio.h"
#include "board/drivers/dsp_data.h"
#include "board/drivers/hal.h"
#include "board/drivers/mcc.h"
#include "board/sim/dsp_data_model.h"
#include "board/sim/hal_model.h"
#include "tests/support/board_root.h"

namespace {

using board::sim::Board;
using Frame = board::sim::TdmFabric::Frame;
namespace hal = board::hal;
namespace mcc = board::mcc;
namespace dsp_data = board::dsp_data;

class TdmFabricTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (int fd : fds) ::close(fd);
    }
    // An allocated data channel's descriptor and TDM number.
    std::pair<int, int> data_channel() {
        const int fd = board::open(mcc::kDevice, O_RDWR | O_NONBLOCK);
        fds.push_back(fd);
        mcc::mcc_allocation record{mcc::kData, 512, 0, 1, 1};
        EXPECT_EQ(0, board::ioctl(fd, mcc::MCC_ALLOCATE, &record));
        return {fd, board::ioctl_value(fd, mcc::MCC_TIMESLOT, 0)};
    }
    static void switch_into(int source, int destination) {
        const int fd = board::open(hal::kDevice, O_RDWR);
        hal::mux_connect record{destination, source};
        EXPECT_EQ(0, board::ioctl(fd, hal::kMuxConnect, &record));
        ::close(fd);
    }
    // The frames waiting on a descriptor.
    static std::vector<Frame> frames_on(int fd) {
        std::vector<Frame> out;
        uint8_t buffer[600];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            out.emplace_back(buffer, buffer + n);
        return out;
    }

    test::BoardRoot root;  // a fresh board
    board::sim::TdmFabric& frames =
        Board::instance().model_as<board::sim::HalModel>(hal::kDevice)->frames;
    std::vector<int> fds;
};

// Two channels on cabled trunk timeslots, each switched both ways with its
// timeslot, hear each other and nothing of themselves.
TEST_F(TdmFabricTest, ACableCarriesWhatIsSwitchedIntoOneEndToTheOther) {
    auto [a, aTdm] = data_channel();
    auto [b, bTdm] = data_channel();
    for (auto [tdm, line] : {std::pair{aTdm, 48}, std::pair{bTdm, 80}}) {
        switch_into(tdm, line);
        switch_into(line, tdm);
    }
    frames.cable(48, {80});
    Frame sent;
    frames.tap = [&](int source, const Frame& frame) {
        if (source == aTdm) sent = frame;
    };
    ASSERT_EQ(2, board::write(a, "hi", 2));
    ASSERT_EQ(1, board::write(b, "!", 1));
    EXPECT_EQ((std::vector<Frame>{{'h', 'i'}}), frames_on(b));
    EXPECT_EQ((std::vector<Frame>{{'!'}}), frames_on(a));
    EXPECT_EQ((Frame{'h', 'i'}), sent);

    frames.cut(80);
    ASSERT_EQ(1, board::write(a, "x", 1));
    EXPECT_TRUE(frames_on(b).empty());
}

// A bus: the network end hears every terminal, each terminal the network
// end only. A loop of cables delivers nothing twice.
TEST_F(TdmFabricTest, ABusCableReachesSeveralEndsOnce) {
    auto [nt, ntTdm] = data_channel();
    auto [te1, te1Tdm] = data_channel();
    auto [te2, te2Tdm] = data_channel();
    const std::pair<int, int> wiring[] = {{ntTdm, 6}, {te1Tdm, 10}, {te2Tdm, 14}};
    for (auto [tdm, line] : wiring) {
        switch_into(tdm, line);
        switch_into(line, tdm);
    }
    frames.cable(6, {10, 14});
    frames.cable(10, {14});  // a loop back to the sender's own line
    EXPECT_EQ(2, frames.send(ntTdm, "n", 1));
    EXPECT_EQ((std::vector<Frame>{{'n'}}), frames_on(te1));
    EXPECT_EQ((std::vector<Frame>{{'n'}}), frames_on(te2));
    EXPECT_EQ(2, frames.send(te1Tdm, "t", 1));
    EXPECT_EQ((std::vector<Frame>{{'t'}}), frames_on(nt));
    EXPECT_TRUE(frames_on(te1).empty());
}

TEST_F(TdmFabricTest, AnEndpointHearsItsChannelAndSpeaksOnIt) {
    auto [fd, tdm] = data_channel();
    switch_into(tdm, 33);
    switch_into(33, tdm);
    auto& device = frames.endpoint(33);
    ASSERT_EQ(3, board::write(fd, "abc", 3));
    EXPECT_EQ((std::deque<Frame>{{'a', 'b', 'c'}}), device.frames);
    EXPECT_EQ(1, device.send({1, 2}));
    EXPECT_EQ((std::vector<Frame>{{1, 2}}), frames_on(fd));
}

// A frame larger than the receiver's 512 octets, or one for a full
// receiver, is lost and counted.
TEST_F(TdmFabricTest, AReceiverLosesAFrameTooLargeOrTooManyAndItIsCounted) {
    auto [fd, tdm] = data_channel();
    switch_into(40, tdm);
    EXPECT_EQ(0, frames.endpoint(40).send(Frame(513, 0x55)));
    EXPECT_EQ(1u, frames.lost);
    EXPECT_EQ(1, frames.endpoint(40).send(Frame(512, 0x55)));
    EXPECT_EQ((std::vector<Frame>{Frame(512, 0x55)}), frames_on(fd));

    const Frame big(500, 0x55);
    unsigned delivered = 0;
    while (frames.lost == 1 && delivered < 100000)
        delivered += static_cast<unsigned>(frames.endpoint(40).send(big));
    EXPECT_EQ(2u, frames.lost);
    EXPECT_EQ(delivered, frames_on(fd).size());
}

// Per open a signalling channel; B channels 0 to 2 with numbers of their own.
TEST_F(TdmFabricTest, TheQsigDeviceAddsAndRemovesBChannels) {
    auto& qsig = *Board::instance().model_as<board::sim::DspDataModel>(dsp_data::kDevice);
    const int fd = board::open(dsp_data::kDevice, O_RDWR | O_NONBLOCK);
    fds.push_back(fd);
    const int signalling = board::ioctl_value(fd, dsp_data::kSignallingChannel, 0);
    EXPECT_EQ(board::sim::DspDataModel::kFirstChannel, signalling);

    dsp_data::b_channel add{1, -1};
    ASSERT_EQ(0, board::ioctl(fd, dsp_data::kAddBChannel, &add));
    EXPECT_EQ(signalling + 1, add.tdm);
    for (int32_t index : {1, 3, -1}) {
        dsp_data::b_channel again{index, -1};
        EXPECT_EQ(-1, board::ioctl(fd, dsp_data::kAddBChannel, &again)) << index;
    }
    EXPECT_EQ((std::array<int, 3>{-1, signalling + 1, -1}), qsig.opens().at(0).b);

    int32_t index = 0;
    EXPECT_EQ(-1, board::ioctl(fd, dsp_data::kRemoveBChannel, &index));
    index = 1;
    EXPECT_EQ(0, board::ioctl(fd, dsp_data::kRemoveBChannel, &index));
    EXPECT_EQ((std::array<int, 3>{-1, -1, -1}), qsig.opens().at(0).b);

    ASSERT_EQ(0, board::ioctl(fd, dsp_data::kAddBChannel, &add));
    ::close(fd);
    fds.clear();
    EXPECT_TRUE(qsig.opens().empty());
}

}  // namespace
