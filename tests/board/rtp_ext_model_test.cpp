// The simulated "/dev/rtp_ext": a session is initialised before it attaches
// or sends, attaches only to an RTP session of this process, hands out the
// extensions the network sent one read at a time (the receive information
// naming the next) and keeps what was written.
#include "board/sim/rtp_ext_model.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "board/devio.h"
#include "tests/support/rtp_ext_session.h"

namespace {

using namespace board::rtp_ext;
using board::sim::Board;
using board::sim::Op;
using Session = board::sim::RtpExtModel::Session;

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

class RtpExtModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        Board::instance().reset();
        rtp = test::open_rtp_session();
        fd.reset(board::open(kDevice, O_RDWR | O_NONBLOCK));
        ASSERT_GE(fd.get(), 0);
    }
    Session& session() { return *test::rtp_ext().session(fd.get()); }
    int init(uint16_t etype = kEd137Profile) {
        rtp_ext_init_params record{etype, 0, {1, 123, 10, 1}};
        return board::ioctl(fd.get(), kInit, &record);
    }
    int attach(int fdRtp, int pid) {
        rtp_ext_attach_session_params record{fdRtp, pid};
        return board::ioctl(fd.get(), kAttach, &record);
    }

    Fd rtp;
    Fd fd;
};

TEST_F(RtpExtModelTest, AttachAndWriteWaitForInit) {
    EXPECT_EQ(-1, attach(rtp.get(), -1));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(-1, board::write(fd.get(), "\x21\x40\0\0", 4));
    EXPECT_EQ(EINVAL, errno);
    ASSERT_EQ(0, init());
    EXPECT_EQ(kEd137Profile, session().etype());
    EXPECT_EQ(10, session().init->params[2]);
    EXPECT_EQ(4, board::write(fd.get(), "\x21\x40\0\0", 4));
    EXPECT_EQ(1u, session().sent.size());
}

TEST_F(RtpExtModelTest, AttachesOnlyToAnRtpSessionOfThisProcess) {
    ASSERT_EQ(0, init());
    int pipeFds[2];
    ASSERT_EQ(0, ::pipe(pipeFds));
    const int closed = ::dup(rtp.get());
    ::close(closed);
    struct Case {
        const char* what;
        int fdRtp, pid, result;
    } cases[] = {
        {"another device", fd.get(), -1, EBADF},
        {"no simulated device", pipeFds[0], -1, EBADF},
        {"a closed descriptor", closed, -1, EBADF},
        {"another process", rtp.get(), ::getpid() + 1, EBADF},
        {"any process", rtp.get(), -1, 0},
        {"this process", rtp.get(), ::getpid(), 0},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(c.result ? -1 : 0, attach(c.fdRtp, c.pid)) << c.what;
        EXPECT_EQ(c.result, c.result ? errno : 0) << c.what;
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    EXPECT_EQ(Board::instance().channel(rtp.get()), session().rtp);
    EXPECT_EQ(::getpid(), session().attach->pid_rtp);

    rtp_ext_attach_session_params record = *session().attach;
    EXPECT_EQ(0, board::ioctl(fd.get(), kDetach, &record));
    EXPECT_FALSE(session().attach);
    EXPECT_EQ(-1, board::ioctl(fd.get(), kDetach, &record));
}

TEST_F(RtpExtModelTest, EachReadTakesOneExtensionThatTheReceiveInformationDescribes) {
    ASSERT_EQ(0, init());
    rtp_ext_receive_info info{};
    EXPECT_EQ(-1, board::ioctl(fd.get(), kReceiveInfo, &info));
    EXPECT_FALSE(readable(fd.get()));

    EXPECT_TRUE(session().inject({1, 2, 3}, test::ip("127.0.0.2"), 7));
    EXPECT_TRUE(session().inject({4, 5}, test::ip("127.0.0.3"), 8));
    EXPECT_TRUE(readable(fd.get()));
    uint8_t bytes[kMaxExtension];
    for (auto [addr, ssrc, length] : {std::tuple{"127.0.0.2", 7u, 3}, {"127.0.0.3", 8u, 2}}) {
        ASSERT_EQ(0, board::ioctl(fd.get(), kReceiveInfo, &info));
        EXPECT_EQ(test::ip(addr), info.addr);
        EXPECT_EQ(ssrc, info.ssrc);
        EXPECT_EQ(length, board::read(fd.get(), bytes, sizeof bytes));
    }
    EXPECT_FALSE(readable(fd.get())) << "the queue is empty";
    EXPECT_EQ(-1, board::read(fd.get(), bytes, sizeof bytes));
    EXPECT_EQ(EAGAIN, errno);

    for (int i = 0; i < 1000; ++i) session().inject({uint8_t(i)}, test::ip("127.0.0.2"), 7);
    Board::instance().fail_next(Op::Read, kDevice, EIO);
    EXPECT_EQ(-1, board::read(fd.get(), bytes, sizeof bytes));
    EXPECT_EQ(1000u, session().received.size()) << "a failed read takes nothing";
    EXPECT_TRUE(readable(fd.get()));
}

TEST_F(RtpExtModelTest, TheFilterDropsOtherSourcesUnlessEnforcementIsOff) {
    ASSERT_EQ(0, init());
    rtp_ext_source_filter filter{test::ip("127.0.0.2"), 0};
    ASSERT_EQ(0, board::ioctl(fd.get(), kSetFilter, &filter));
    EXPECT_TRUE(session().inject({1}, test::ip("127.0.0.2"), 99));
    EXPECT_FALSE(session().inject({2}, test::ip("127.0.0.3"), 7));
    session().enforce_filter = false;
    EXPECT_TRUE(session().inject({3}, test::ip("127.0.0.3"), 7));
    session().enforce_filter = true;
    filter = {};
    ASSERT_EQ(0, board::ioctl(fd.get(), kRemoveFilter, &filter));
    EXPECT_TRUE(session().inject({4}, test::ip("127.0.0.3"), 7));
    EXPECT_EQ(3u, session().received.size());
}

TEST_F(RtpExtModelTest, FailuresAndAbsenceComeFromTheBoard) {
    ASSERT_EQ(0, init());
    Board::instance().fail_next(Op::Write, kDevice, EIO);
    EXPECT_EQ(-1, board::write(fd.get(), "\x21\x40\0\0", 4));
    EXPECT_TRUE(session().sent.empty());

    fd.reset();
    EXPECT_TRUE(test::rtp_ext().sessions().empty()) << "a closed open leaves no session";
    test::rtp_ext().absent = true;
    EXPECT_EQ(-1, board::open(kDevice, O_RDWR));
    EXPECT_EQ(ENOENT, errno);
}

}  // namespace
