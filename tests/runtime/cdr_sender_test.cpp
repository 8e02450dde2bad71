#include "runtime/cdr_sender.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <string>

#include "runtime/fd.h"

namespace {

// A UDP socket on the loopback address that collects datagrams.
class Receiver {
public:
    Receiver() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(0, ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a));
        socklen_t len = sizeof a;
        ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }

    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

    // The next datagram, or "<none>" when none arrives (waits at most 1 s
    // for loopback delivery, normally not at all).
    std::string next() {
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, 1000) != 1) return "<none>";
        char buffer[2048];
        ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        return n < 0 ? "<none>" : std::string(buffer, size_t(n));
    }

    // True when nothing more is queued.
    bool drained() {
        char byte;
        return ::recv(fd_.get(), &byte, 1, MSG_DONTWAIT) < 0;
    }

private:
    Fd fd_;
    int port_ = 0;
};

TEST(CdrSender, EmptyListSendsNothing) {
    CDR_Sender::Sender sender;
    EXPECT_TRUE(sender.SendTo("record", ""));
    EXPECT_TRUE(sender.SendTo("record", " \t\n"));
}

TEST(CdrSender, OneDatagramPerDestination) {
    Receiver a, b, c;
    CDR_Sender::Sender sender;
    std::string record = "cdr;1;2;3";
    EXPECT_TRUE(sender.SendTo(
        record, a.address() + " " + b.address() + "\t\n" + c.address() + " " + a.address()));
    EXPECT_EQ(record, a.next());
    EXPECT_EQ(record, a.next());
    EXPECT_EQ(record, b.next());
    EXPECT_EQ(record, c.next());
    EXPECT_TRUE(a.drained());
    EXPECT_TRUE(b.drained());
}

TEST(CdrSender, BadWordsAreSkippedAndReported) {
    Receiver a;
    CDR_Sender::Sender sender;
    for (const char* bad : {"127.0.0.1", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:x",
                            "127.0.0.1:70000", "127.0.0.1:5x", "host:5000", "127.0.0.1:-5"}) {
        EXPECT_FALSE(sender.SendTo("r", std::string(bad) + " " + a.address())) << bad;
        EXPECT_EQ("r", a.next()) << bad;
        EXPECT_TRUE(a.drained()) << bad;
    }
}

TEST(CdrSender, FailedDestinationDoesNotStopTheRest) {
    Receiver a;
    CDR_Sender::Sender sender;
    // Broadcast without permission fails locally (EACCES): nothing leaves.
    EXPECT_FALSE(sender.SendTo("r", "255.255.255.255:9 " + a.address()));
    EXPECT_EQ("r", a.next());
}

}  // namespace
