// The simulated multi-channel controller: its requests' refusals, the
// pools, and packets carried where the switch connects the channels.
#include "board/sim/mcc_model.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board/devio.h"
#include "board/drivers/hal.h"
#include "tests/support/board_root.h"

namespace {

using board::sim::Board;
namespace mcc = board::mcc;
namespace hal = board::hal;

class MccModelTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (int fd : fds) ::close(fd);
    }
    int open(int flags = O_RDWR | O_NONBLOCK) {
        fds.push_back(board::open(mcc::kDevice, flags));
        return fds.back();
    }
    // The request's result, or -errno.
    static int allocate(int fd, uint32_t type, uint32_t size = 512) {
        mcc::mcc_allocation record{type, size, 0, 1, 1};
        return board::ioctl(fd, mcc::MCC_ALLOCATE, &record) < 0 ? -errno : 0;
    }
    static int timeslot(int fd) {
        const int result = board::ioctl_value(fd, mcc::MCC_TIMESLOT, 0);
        return result < 0 ? -errno : result;
    }
    // Switches `destination` to receive `source`, as the server's switch does.
    static void switch_into(int source, int destination) {
        const int fd = board::open(hal::kDevice, O_RDWR);
        hal::mux_connect record{destination, source};
        EXPECT_EQ(0, board::ioctl(fd, hal::kMuxConnect, &record));
        ::close(fd);
    }
    static std::vector<uint8_t> read_packet(int fd) {
        uint8_t buffer[16];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        return std::vector<uint8_t>(buffer, buffer + std::max<ssize_t>(n, 0));
    }

    test::BoardRoot root;  // a fresh board
    board::sim::MccModel& model = *Board::instance().model_as<board::sim::MccModel>(mcc::kDevice);
    std::vector<int> fds;
};

TEST_F(MccModelTest, RefusesWhatTheDriverWould) {
    const int fd = open();
    EXPECT_EQ(-EINVAL, timeslot(fd));  // before the allocation
    EXPECT_EQ(-EINVAL, allocate(fd, 4));
    EXPECT_EQ(0, allocate(fd, mcc::kBri));
    EXPECT_EQ(-EBUSY, allocate(fd, mcc::kBri));
    EXPECT_EQ(-1, board::write(fd, "", 0));
    EXPECT_EQ(EINVAL, errno);

    model.pool_size[mcc::kSs7] = 0;
    EXPECT_EQ(-ENOSPC, allocate(open(), mcc::kSs7));
    const int readOnly = open(O_RDONLY);
    EXPECT_EQ(0, allocate(readOnly, mcc::kData));
    EXPECT_EQ(-1, board::write(readOnly, "x", 1));
    EXPECT_EQ(EBADF, errno);
}

TEST_F(MccModelTest, ClosingTheLastDescriptorFreesTheChannel) {
    model.pool_size[mcc::kData] = 1;
    const int fd = open();
    ASSERT_EQ(0, allocate(fd, mcc::kData));
    const int first = timeslot(fd);
    const int copy = ::dup(fd);
    ::close(fd);
    fds.clear();
    EXPECT_EQ(0u, model.free_channels(mcc::kData));  // the copy holds it
    ::close(copy);
    EXPECT_EQ(1u, model.free_channels(mcc::kData));

    mcc::mcc_resources resources{};
    ASSERT_EQ(0, board::ioctl(open(O_RDONLY), mcc::MCC_RESOURCES, &resources));
    EXPECT_EQ(1u, resources.data);
    EXPECT_EQ(0, allocate(open(), mcc::kData));
    EXPECT_EQ(first, timeslot(fds.back()));
}

// Through a bus channel too; a receiver whose packet size is smaller does
// not get it. (The slot suites show the plain paths.)
TEST_F(MccModelTest, APacketReachesTheChannelsThatReceiveItsTimeslot) {
    const int a = open(), b = open(), small = open();
    for (int fd : {a, b}) ASSERT_EQ(0, allocate(fd, mcc::kData));
    ASSERT_EQ(0, allocate(small, mcc::kData, 2));
    switch_into(timeslot(a), hal::kBusBase + 7);
    for (int fd : {b, small}) switch_into(hal::kBusBase + 7, timeslot(fd));

    ASSERT_EQ(3, board::write(a, "abc", 3));
    EXPECT_EQ((std::vector<uint8_t>{'a', 'b', 'c'}), read_packet(b));
    EXPECT_TRUE(read_packet(small).empty());
    EXPECT_EQ(2, model.line_packet(timeslot(a), {'h', 'i'}));
}

// A transparent channel carries a stream: a write of any length reaches a
// transparent receiver in packets of at most its size; a stalled writer
// gets EAGAIN, and a receiver whose data has ended reads 0 after the rest.
TEST_F(MccModelTest, TransparentChannelsCarryAStream) {
    const int writer = open(), reader = open();
    ASSERT_EQ(0, allocate(writer, mcc::kTransparent, 1024));
    ASSERT_EQ(0, allocate(reader, mcc::kTransparent, 4));
    switch_into(timeslot(writer), timeslot(reader));

    model.stall(timeslot(writer), true);
    EXPECT_EQ(-1, board::write(writer, "abcdefghij", 10));
    EXPECT_EQ(EAGAIN, errno);
    model.stall(timeslot(writer), false);
    ASSERT_EQ(10, board::write(writer, "abcdefghij", 10));
    model.end_data(timeslot(reader));
    EXPECT_EQ(0, model.line_packet(timeslot(writer), {'x'}));  // nothing after the end

    std::vector<std::string> packets;
    char buffer[16];
    ssize_t n;
    while ((n = board::read(reader, buffer, sizeof buffer)) > 0) packets.emplace_back(buffer, n);
    EXPECT_EQ(0, n);
    EXPECT_EQ((std::vector<std::string>{"abcd", "efgh", "ij"}), packets);
    EXPECT_EQ(1u, model.sent.size());  // one write
}

// While the board has a clock, a channel takes 8000 octets a second. A
// player that writes a phrase whenever its descriptor polls POLLOUT, and
// otherwise waits as long as the board says, plays 10 s of the line (and
// what the queue holds) and wakes a few times a second; a write that does
// not wait is refused.
TEST_F(MccModelTest, AChannelTakesDataAtItsLinesPace) {
    uint64_t nowUs = 0;
    Board::instance().clock = [&] { return nowUs; };
    const int player = open(O_WRONLY | O_NONBLOCK);
    ASSERT_EQ(0, allocate(player, mcc::kTransparent, 1024));
    const std::string phrase(3000, 'p');
    size_t played = 0;
    unsigned wakes = 0;
    for (int step = 0; step < 200 && nowUs < 10000000; ++step) {
        pollfd p{player, POLLOUT, 0};
        if (::poll(&p, 1, 0) == 1) {
            ASSERT_EQ(3000, board::write(player, phrase.data(), phrase.size()));
            played += phrase.size();
            continue;
        }
        ASSERT_EQ(-1, board::write(player, "x", 1));
        EXPECT_EQ(EAGAIN, errno);
        const int waitMs = Board::instance().pace();
        ASSERT_GT(waitMs, 0);
        nowUs += uint64_t(waitMs) * 1000;
        EXPECT_EQ(-1, Board::instance().pace()) << "none full";
        ++wakes;
    }
    EXPECT_GE(played, 80000u);
    EXPECT_LE(played, 80000u + 6000);
    EXPECT_LE(wakes, 30u);
}

// A hung-up open polls POLLHUP and reads 0 until the caller closes it; its
// channel is freed then, as with any close.
TEST_F(MccModelTest, AHungUpOpenReadsNothingUntilItIsClosed) {
    model.pool_size[mcc::kData] = 1;
    const int fd = open();
    ASSERT_EQ(0, allocate(fd, mcc::kData));
    Board::instance().channels(mcc::kDevice).at(0)->hang_up();

    pollfd p{fd, POLLIN | POLLOUT, 0};
    ASSERT_EQ(1, ::poll(&p, 1, 0));
    EXPECT_TRUE(p.revents & POLLHUP);
    char byte;
    EXPECT_EQ(0, board::read(fd, &byte, 1));
    EXPECT_EQ(-1, board::write(fd, "x", 1));
    EXPECT_EQ(EPIPE, errno);
    EXPECT_EQ(0u, model.free_channels(mcc::kData));

    ::close(fd);
    fds.clear();
    EXPECT_EQ(1u, model.free_channels(mcc::kData));
}

}  // namespace
