#include "link/strm_protocol.h"

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "tests/link/packet_pool_check.h"
#include "tests/link/stack_probe.h"
#include "tests/support/loopback.h"
#include "tests/support/stream_capture.h"
#include "tests/support/virtual_loop.h"

namespace {

// A clock under which the peer never drains: each wait for room ends after
// at most 600 ms with "writable", and the next write still finds no room.
// The date is set back an hour during the first wait.
class StuckPeerClock : public test::ManualClock {
public:
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override {
        if (count != 1) return ManualClock::poll(fds, count, timeoutMs);
        if (waits == 0) step_date(-60 * 60 * 1000);
        advance(std::min(timeoutMs, 600));
        ++waits;
        fds[0].revents = POLLOUT;
        return 1;
    }
    int waits = 0;
};

class StreamLayer : public PacketPoolCheck {
protected:
    StreamLayer() {
        test::tcp_pair(ours, peer);
        stack.add_protocol_tail(strm = new StrmProtocol);
        strm->set_display_name("test");
    }

    // The layer keeps a duplicate of the socket, and from here the only one.
    void connect_and_activate() {
        strm->attach(ours);
        ours.close();
        stack.activate();
    }
    Packet packet_of(const std::string& bytes) {
        Packet p;
        stack.prepare_head(p);
        p.put(bytes.data(), static_cast<unsigned>(bytes.size()));
        return p;
    }

    test::VirtualLoop loop;
    Fd ours, peer;
    test::OwnerProbe stack;
    StrmProtocol* strm;
};

TEST_F(StreamLayer, BytesGoUpAsTheyArrive) {
    connect_and_activate();
    test::write_bytes(peer.get(), "ab");
    loop.pump();
    test::write_bytes(peer.get(), "c");
    loop.pump();
    EXPECT_EQ((std::vector<std::string>{"61 62", "63"}), stack.frames);
}

TEST_F(StreamLayer, APacketIsWrittenWhole) {
    connect_and_activate();
    Packet p = packet_of("hello");
    stack.message(p);
    EXPECT_EQ("hello", test::read_available(peer.get()));
}

TEST_F(StreamLayer, APeerThatClosesEndsInAReadError) {
    connect_and_activate();
    peer.close();
    loop.pump();
    ASSERT_EQ(1u, stack.statuses.size());
    EXPECT_EQ(0u, stack.statuses[0].find("read error: ")) << stack.statuses[0];
    EXPECT_FALSE(strm->attached());
}

TEST_F(StreamLayer, ActivationWithoutASocketReportsAnError) {
    stack.activate();
    EXPECT_EQ((std::vector<std::string>{"fd not attached"}), stack.statuses);
}

TEST_F(StreamLayer, DeactivationClosesTheSocket) {
    connect_and_activate();
    stack.deactivate();
    EXPECT_EQ((std::vector<std::string>{"success"}), stack.statuses);
    EXPECT_TRUE(test::closed_by_peer(peer.get()));
}

TEST_F(StreamLayer, APeerThatStopsReadingCostsTheConnectionAfterOneSecond) {
    StuckPeerClock clock;
    Mux::set_clock(&clock);
    const std::string block(65536, 'x');
    while (test::write_bytes(ours.get(), block)) {
    }
    connect_and_activate();
    test::StreamCapture errors(std::cerr);
    const uint64_t start = clock.now_us();

    Packet p = packet_of("more");
    stack.message(p);

    EXPECT_EQ(1000000u, clock.now_us() - start);
    EXPECT_EQ(2, clock.waits);
    EXPECT_EQ(0u, errors.str().find("SockStream[test]: write timeout, sendbuf=")) << errors.str();
    EXPECT_EQ(1u, strm->overflow_counter());
    EXPECT_EQ((std::vector<std::string>{"write timeout"}), stack.statuses);
    EXPECT_FALSE(strm->attached());
}

}  // namespace
