// The simulated RTP engine: streams, their sockets and the channel pool, as
// the driver keeps them.
#include "board/sim/rtp_model.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "board/devio.h"
#include "tests/support/board_root.h"
#include "tests/support/udp_peer.h"

namespace {

namespace rtp = board::rtp;
using board::sim::Board;

class RtpModelTest : public ::testing::Test {
protected:
    RtpModelTest() { Board::instance().reset(); }
    ~RtpModelTest() override { Board::instance().reset(); }

    board::sim::RtpModel& model() {
        return *Board::instance().model_as<board::sim::RtpModel>(rtp::kDevice);
    }
    // A begun stream on a free local port; -1 when the driver refused.
    int begin(unsigned short port) {
        const int fd = board::open(rtp::kDevice, O_RDONLY);
        rtp::rtp_connection_params params{};
        params.local_addr = inet_addr("127.0.0.1");
        params.local_port = port;
        params.tos = -1;
        return board::ioctl(fd, rtp::kBeginSession, &params) == 0 ? fd : (::close(fd), -1);
    }
    // The channel the driver gave, or -errno.
    int add(int fd, int32_t tdm = -1) {
        rtp::rtp_channel_info info{tdm, -1, -1, 0};
        return board::ioctl(fd, rtp::kAddChannel, &info) == 0 ? info.tdm : -errno;
    }

    test::BoardRoot root;
    unsigned short port = test::free_udp_pair();
};

TEST_F(RtpModelTest, BeginBindsTheLocalPortOnce) {
    const int fd = begin(port);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(test::udp_bind(port)) << "the stream holds its port";
    rtp::rtp_connection_params again{};
    EXPECT_EQ(-1, board::ioctl(fd, rtp::kBeginSession, &again));
    EXPECT_EQ(EBUSY, errno);
    EXPECT_EQ(-1, begin(port)) << "a second stream on the port";
    ::close(fd);
}

TEST_F(RtpModelTest, GivesTheLowestFreeChannelAndFreesItWithTheLastClose) {
    model().pool_size = 2;
    const int unbegun = board::open(rtp::kDevice, O_RDONLY);
    EXPECT_EQ(-EINVAL, add(unbegun));
    ::close(unbegun);
    const int first = begin(port), second = begin(test::free_udp_pair());
    EXPECT_EQ(model().kPoolBase, add(first));
    EXPECT_EQ(-EBUSY, add(second, model().kPoolBase)) << "another stream holds it";
    EXPECT_EQ(model().kPoolBase + 1, add(second));
    const int third = begin(test::free_udp_pair());
    EXPECT_EQ(-ENOSPC, add(third));

    const int copy = ::dup(first);
    ::close(first);
    EXPECT_EQ(-ENOSPC, add(third)) << "a duplicate keeps the stream";
    ::close(copy);
    EXPECT_EQ(model().kPoolBase, add(third));
    EXPECT_TRUE(test::udp_bind(port)) << "the socket went with the stream";
    EXPECT_EQ(2u, model().streams().size());
    ::close(second);
    ::close(third);
}

}  // namespace
