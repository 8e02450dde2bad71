#include "runtime/fd.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(Fd, CopyDuplicatesAndBothCloseOnDestruction) {
    int p[2];
    ASSERT_EQ(0, ::pipe(p));
    ::close(p[1]);
    int original = p[0];
    int copied;
    {
        Fd a(original);
        Fd b(a);
        copied = b.get();
        EXPECT_NE(original, copied);
        EXPECT_TRUE(::fcntl(copied, F_GETFD) & FD_CLOEXEC) << "a copy is close-on-exec";
        EXPECT_TRUE(is_open(original));
    }
    EXPECT_FALSE(is_open(original));
    EXPECT_FALSE(is_open(copied));
}

TEST(Fd, InvalidDescriptorCopiesInvalidAndClosesWithEbadf) {
    Fd invalid;
    Fd copy(invalid);
    EXPECT_FALSE(copy);
    EXPECT_EQ(-1, copy.dup());
    errno = 0;
    EXPECT_EQ(-1, copy.close());
    EXPECT_EQ(EBADF, errno);
}

TEST(Fd, CloseTwiceFailsTheSecondTime) {
    int p[2];
    ASSERT_EQ(0, ::pipe(p));
    ::close(p[1]);
    Fd fd(p[0]);
    EXPECT_EQ(0, fd.close());
    EXPECT_FALSE(fd);
    errno = 0;
    EXPECT_EQ(-1, fd.close());
    EXPECT_EQ(EBADF, errno);
}

TEST(Fd, AssignmentClosesTheOldDescriptor) {
    int p[2];
    ASSERT_EQ(0, ::pipe(p));
    Fd a(p[0]);
    Fd b(p[1]);
    a = b;
    EXPECT_FALSE(is_open(p[0]));
    EXPECT_TRUE(is_open(p[1]));
    EXPECT_NE(a.get(), b.get());
    a = a;  // self-assignment keeps the descriptor
    EXPECT_TRUE(is_open(a.get()));
}

TEST(Fd, ModeSwitches) {
    int p[2];
    ASSERT_EQ(0, ::pipe(p));
    Fd r(p[0]), w(p[1]);
    EXPECT_TRUE(r.NonBlock());
    EXPECT_TRUE(::fcntl(r.get(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(BlockMode(r.get()));
    EXPECT_FALSE(::fcntl(r.get(), F_GETFL) & O_NONBLOCK);
    EXPECT_FALSE(NonBlockMode(-1));
    EXPECT_FALSE(Fd().NonBlock());
    SetCloexec(w.get(), true);
    EXPECT_TRUE(::fcntl(w.get(), F_GETFD) & FD_CLOEXEC);
    SetCloexec(w.get(), false);
    EXPECT_FALSE(::fcntl(w.get(), F_GETFD) & FD_CLOEXEC);
}

}  // namespace
