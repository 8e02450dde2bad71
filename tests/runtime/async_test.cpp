#include "runtime/async.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/loopback.h"
#include "tests/support/virtual_loop.h"

namespace {

using CopyStatus = ASync::Copy::Status;
using ConnectStatus = ASync::Connect::Status;

// Both ends non-blocking: [0] reads, [1] writes.
struct Pipe {
    Pipe() {
        int ends[2];
        EXPECT_EQ(0, ::pipe2(ends, O_CLOEXEC | O_NONBLOCK));
        read.reset(ends[0]);
        write.reset(ends[1]);
    }
    Fd read, write;
};

// A stream socket pair with a small send buffer on `near`, so that writes
// to it are partial and then would block.
struct Channel {
    Channel() {
        int ends[2];
        EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends));
        near.reset(ends[0]);
        far.reset(ends[1]);
        int size = 4096;
        ::setsockopt(near.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    // Everything that has arrived at the far end.
    std::string drain() {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(far.get(), buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
        return text;
    }
    void fill() {
        char buffer[4096] = {};
        while (::write(near.get(), buffer, sizeof buffer) > 0) {
        }
    }
    Fd near, far;
};

std::string pattern(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = char('a' + i % 23);
    return text;
}

void put(const Fd& fd, const std::string& text) {
    ASSERT_EQ(ssize_t(text.size()), ::write(fd.get(), text.data(), text.size()));
}

// The owner of a copy or a connect, recording each completion.
struct Owner {
    Owner() {
        copy.Bind(&Owner::OnCopied, this);
        connect.Bind(&Owner::OnConnected, this);
    }
    void OnCopied(CopyStatus::Type status) {
        copyStatuses.push_back(status);
        if (deleteSelf) delete this;
    }
    void OnConnected(ConnectStatus::Type status, Fd socket) {
        connectStatuses.push_back(status);
        connected = std::move(socket);
        if (deleteSelf) delete this;
    }

    ASync::Copy copy;
    ASync::Connect connect;
    std::vector<CopyStatus::Type> copyStatuses;
    std::vector<ConnectStatus::Type> connectStatuses;
    Fd connected;
    bool deleteSelf = false;
};

class AsyncTest : public ::testing::Test {
protected:
    AsyncTest() { ::signal(SIGPIPE, SIG_IGN); }

    // Pumps until `done` or a bounded number of passes.
    template <class Done>
    void pump_until(Done done, Channel* channel = nullptr, std::string* received = nullptr) {
        for (int i = 0; i < 10000 && !done(); ++i) {
            loop_.pump();
            if (channel) *received += channel->drain();
        }
    }

    test::VirtualLoop loop_;
    test::IdleDescriptor idle_;
    Owner owner_;
};

// --- Copy

TEST_F(AsyncTest, CopyMovesEverythingThroughPartialWrites) {
    Pipe source;
    Channel destination;
    std::string data = pattern(50000);
    put(source.write, data);
    source.write.close();
    ASSERT_TRUE(owner_.copy.set_bufsize(65536));  // one read; many partial writes

    owner_.copy.Start(source.read, destination.near);
    EXPECT_EQ(CopyStatus::copying, owner_.copy.state());
    EXPECT_LT(owner_.copy.copied(), data.size());
    std::string received;
    pump_until([&] { return !owner_.copyStatuses.empty(); }, &destination, &received);

    EXPECT_EQ(std::vector<CopyStatus::Type>{CopyStatus::done}, owner_.copyStatuses);
    EXPECT_EQ(data.size(), owner_.copy.copied());
    EXPECT_EQ(data, received + destination.drain());
}

TEST_F(AsyncTest, EmptySourceCompletesAtOnceOrAfterTheFlushEvent) {
    Pipe source;
    Channel destination;
    source.write.close();
    owner_.copy.set_events({POLLIN, POLLOUT, 0});
    owner_.copy.Start(source.read, destination.near);
    EXPECT_EQ(std::vector<CopyStatus::Type>{CopyStatus::done}, owner_.copyStatuses);

    owner_.copyStatuses.clear();
    owner_.copy.set_events(ASync::Copy::EventsParams());
    owner_.copy.Start(source.read, destination.near);
    EXPECT_EQ(CopyStatus::flushing, owner_.copy.state());
    EXPECT_TRUE(owner_.copyStatuses.empty());
    loop_.pump();
    EXPECT_EQ(std::vector<CopyStatus::Type>{CopyStatus::done}, owner_.copyStatuses);
}

TEST_F(AsyncTest, ReadErrorOnTheFirstReadFails) {
    Pipe source;
    Channel destination;
    owner_.copy.Start(source.write, destination.near);  // not readable: EBADF
    EXPECT_EQ(std::vector<CopyStatus::Type>{CopyStatus::failed}, owner_.copyStatuses);
    EXPECT_EQ(EBADF, owner_.copy.last_error());
}

// A loopback TCP listener. With a backlog that is full, a new connection
// gets no answer.
struct Listener {
    explicit Listener(bool full = false) {
        fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(0, ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length));
        EXPECT_EQ(0, ::listen(fd.get(), 0));
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        if (full) filler = connect_to();
    }
    std::string text() const { return "127.0.0.1:" + std::to_string(port); }
    // A connection made with a blocking connect.
    Fd connect_to() const {
        Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        EXPECT_EQ(0, ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address),
                               sizeof address));
        return socket;
    }

    Fd fd, filler;
    sockaddr_in address{};
    int port = 0;
};

// A TCP connection whose peer sends some bytes and then resets it.
struct ResetConnection {
    ResetConnection() { test::tcp_pair(peer, local); }
    void reset() {
        linger hard{1, 0};
        ::setsockopt(peer.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        peer.close();
    }
    Fd peer, local;
};

TEST_F(AsyncTest, ReadErrorAfterSomeBytesFails) {
    ResetConnection source;
    Channel destination;
    put(source.peer, "abc");
    owner_.copy.Start(source.local, destination.near);
    pump_until([&] { return owner_.copy.copied() == 3; });
    ASSERT_EQ(3u, owner_.copy.copied());
    EXPECT_EQ("abc", destination.drain());

    source.reset();
    pump_until([&] { return !owner_.copyStatuses.empty(); });
    EXPECT_EQ(std::vector<CopyStatus::Type>{CopyStatus::failed}, owner_.copyStatuses);
    EXPECT_EQ(ECONNRESET, owner_.copy.last_error());
}

TEST_F(AsyncTest, StopStillWritesWhatWasRead) {
    Pipe source;
    Channel destination;
    destination.fill();
    std::string data = pattern(3000);
    put(source.write, data);
    owner_.copy.Start(source.read, destination.near);  // read 1024, cannot write
    owner_.copy.Stop();
    EXPECT_EQ(CopyStatus::draining, owner_.copy.state());

    std::string received;
    destination.drain();  // the filler
    pump_until([&] { return !owner_.copyStatuses.empty(); }, &destination, &received);
    EXPECT_EQ(std::vector<CopyStatus::Type>{CopyStatus::done}, owner_.copyStatuses);
    EXPECT_EQ(data.substr(0, 1024), received);
    owner_.copy.Stop();  // not copying: nothing happens
    EXPECT_EQ(1u, owner_.copyStatuses.size());
}

TEST_F(AsyncTest, ChangingMasksOrBufferAbortsButZeroSizeIsRefused) {
    Pipe source;
    Channel destination;
    owner_.copy.Start(source.read, destination.near);  // waits for input
    EXPECT_FALSE(owner_.copy.set_bufsize(0));
    EXPECT_EQ(CopyStatus::copying, owner_.copy.state());
    owner_.copy.set_events(ASync::Copy::EventsParams());
    EXPECT_EQ(std::vector<CopyStatus::Type>{CopyStatus::aborted}, owner_.copyStatuses);

    owner_.copy.Start(source.read, destination.near);
    EXPECT_TRUE(owner_.copy.set_bufsize(10));
    EXPECT_EQ(CopyStatus::aborted, owner_.copyStatuses.back());
    owner_.copy.set_bufsize(20);  // idle: only stored
    EXPECT_EQ(2u, owner_.copyStatuses.size());
}

TEST_F(AsyncTest, DestinationHangUpFails) {
    Pipe source;
    Channel destination;
    owner_.copy.Start(source.read, destination.near);
    destination.far.close();
    pump_until([&] { return !owner_.copyStatuses.empty(); });
    EXPECT_EQ(std::vector<CopyStatus::Type>{CopyStatus::failed}, owner_.copyStatuses);
    EXPECT_EQ(0, owner_.copy.last_error());
}

TEST_F(AsyncTest, CopyHandlerMayDeleteItsOwner) {
    Pipe emptySource, source;
    Channel destination;
    emptySource.write.close();
    auto* owner = new Owner;
    owner->deleteSelf = true;
    owner->copy.set_events({POLLIN, POLLOUT, 0});
    owner->copy.Start(emptySource.read, destination.near);  // done inside Start

    owner = new Owner;
    owner->deleteSelf = true;
    owner->copy.Start(source.read, destination.near);
    put(source.write, "x");
    source.write.close();
    for (int i = 0; i < 10; ++i) loop_.pump();  // done from an event
    EXPECT_EQ("x", destination.drain());
}

// --- Connect

int peer_port(const Fd& socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getpeername(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
    return ntohs(address.sin_port);
}

TEST_F(AsyncTest, ConnectHandsOverTheConnectedSocket) {
    Listener listener;
    owner_.connect.Start(listener.text(), 3000);
    pump_until([&] { return !owner_.connectStatuses.empty(); });
    EXPECT_EQ(std::vector<ConnectStatus::Type>{ConnectStatus::connected}, owner_.connectStatuses);
    EXPECT_EQ(listener.port, peer_port(owner_.connected));
}

TEST_F(AsyncTest, RefusedConnectFails) {
    int port;
    {
        Listener closed;
        port = closed.port;
    }
    owner_.connect.Start("127.0.0.1:" + std::to_string(port), 3000);
    pump_until([&] { return !owner_.connectStatuses.empty(); });
    EXPECT_EQ(std::vector<ConnectStatus::Type>{ConnectStatus::failed}, owner_.connectStatuses);
    EXPECT_FALSE(owner_.connected);
}

TEST_F(AsyncTest, AddressThatDoesNotParseFailsAtOnce) {
    for (const char* address : {"", "gateway:80", "999.1.1.1:80", "1.2.3.4.5"}) {
        owner_.connectStatuses.clear();
        owner_.connect.Start(address, 3000);
        EXPECT_EQ(std::vector<ConnectStatus::Type>{ConnectStatus::failed}, owner_.connectStatuses)
            << address;
    }
}

TEST_F(AsyncTest, SilentPeerTimesOut) {
    Listener listener(true);
    owner_.connect.Start(listener.text(), 3000);
    loop_.advance(2999);
    EXPECT_TRUE(owner_.connectStatuses.empty());
    loop_.advance(1);
    EXPECT_EQ(std::vector<ConnectStatus::Type>{ConnectStatus::failed}, owner_.connectStatuses);
    EXPECT_EQ(ConnectStatus::failed, owner_.connect.state());
}

TEST_F(AsyncTest, StopEndsAPendingConnect) {
    Listener listener(true);
    owner_.connect.Start(listener.text(), 3000);
    owner_.connect.Stop();
    owner_.connect.Stop();
    EXPECT_EQ(std::vector<ConnectStatus::Type>{ConnectStatus::stopped}, owner_.connectStatuses);
    loop_.advance(5000);  // the time-out went with it
    EXPECT_EQ(1u, owner_.connectStatuses.size());
}

TEST_F(AsyncTest, ConnectHandlerMayDeleteItsOwner) {
    Listener listener(true), open;
    auto* owner = new Owner;
    owner->deleteSelf = true;
    owner->connect.Start(listener.text(), 100);
    loop_.advance(100);  // deleted from the time-out

    owner = new Owner;
    owner->deleteSelf = true;
    owner->connect.Start(open.text(), 100);
    for (int i = 0; i < 10; ++i) loop_.pump();  // deleted from the event (or in Start)
}

}  // namespace
