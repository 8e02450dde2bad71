#include "link/control_links.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "runtime/descriptor_end.h"
#include "tests/link/packet_pool_check.h"
#include "tests/support/descriptor_shortage.h"
#include "tests/support/forked_child.h"
#include "tests/support/loopback.h"
#include "tests/support/stream_capture.h"
#include "tests/support/tpkt.h"
#include "tests/support/virtual_loop.h"

namespace {

using Events = std::vector<std::string>;

// The user of a link: writes down what it hears.
class NotifyProbe : public Control::Notify {
public:
    void OnConnect() override { events.push_back("connect"); }
    void OnDisconnect() override { events.push_back("disconnect"); }
    void OnMessage(const char* data, int length) override {
        events.push_back("message " + std::string(data, static_cast<size_t>(length)));
    }
    Events events;
};

std::string joined(const Events& events) {
    std::string text;
    for (const std::string& e : events) text += (text.empty() ? "" : ", ") + e;
    return text;
}

size_t count_of(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class LinkTest : public PacketPoolCheck {
protected:
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    test::StreamCapture notices{std::cout};
    test::StreamCapture errors{std::cerr};
    test::StreamCapture progress{std::clog};
    NotifyProbe notify;
};

// ---- The controller's acceptor

class Acceptor : public LinkTest {
protected:
    Acceptor() : port(test::free_port()), link(port) {
        link.Bind(&notify);
        link.service_name("server");
        link.Activate();
    }

    Fd connect_client() {
        Fd client = test::connect_loopback(port);
        loop.pump();
        return client;
    }

    // What the shortage runs, run first with descriptors to spare
    // (tests/support/descriptor_shortage.h).
    void rehearse_a_rest() {
        connect_client().close();
        loop.pump(2);
        test::rehearse_listen_rest([&](uint64_t ms) { loop.advance(ms); });
        notify.events.clear();
        errors.clear();
        notices.clear();
    }

    unsigned short port;
    Control::AcceptorNetCheckConnection link;
};

TEST_F(Acceptor, SendsNothingWhileNoControllerIsConnected) {
    EXPECT_EQ(Control::Service::State::Connecting, link.state());
    link.Send("hello", 5);
    EXPECT_EQ("Control::Service::Send() ignore Send request in Connecting state.\n", errors.str());
}

TEST_F(Acceptor, CarriesFramesBothWaysWithAController) {
    Fd client = connect_client();
    ASSERT_EQ(Control::Service::State::Connected, link.state());
    EXPECT_EQ((Events{"connect"}), notify.events);
    EXPECT_EQ("new connection from " + link.peer() + "\n", notices.str());
    EXPECT_EQ(0u, link.peer().find("127.0.0.1:"));

    link.Send("hello", 5);
    EXPECT_EQ(test::tpkt_frame("hello"), test::read_available(client.get()));

    test::write_bytes(client.get(), test::tpkt_frame("ping") + test::tpkt_frame("pong"));
    loop.pump();
    EXPECT_EQ((Events{"connect", "message ping", "message pong"}), notify.events);
}

TEST_F(Acceptor, AControllerThatClosesIsReportedOnTheNextPass) {
    Fd client = connect_client();
    client.close();
    loop.pump();
    EXPECT_EQ("control connection " + link.peer() + " closed.\n", errors.str());
    EXPECT_EQ(Control::Service::State::Deactivating, link.state());
    EXPECT_EQ((Events{"connect"}), notify.events);
    loop.pump();
    EXPECT_EQ(Control::Service::State::Connecting, link.state());
    EXPECT_EQ((Events{"connect", "disconnect"}), notify.events);
}

TEST_F(Acceptor, ADroppedControllerSeesItsConnectionClosedAndIsReportedOnce) {
    Fd client = connect_client();
    link.Disconnect();
    link.Disconnect();  // already going down
    loop.pump(2);
    EXPECT_EQ((Events{"connect", "disconnect"}), notify.events);
    EXPECT_TRUE(test::closed_by_peer(client.get()));
}

TEST_F(Acceptor, ASecondControllerIsRefusedAndPutsTheFirstUnderCloseWatch) {
    Fd first = connect_client();
    Fd second = connect_client();
    EXPECT_TRUE(test::closed_by_peer(second.get()));
    EXPECT_EQ("refuse connection from 127.0.0.1:", errors.str().substr(0, 33));
    EXPECT_EQ(1u, count_of(errors.str(), "CheckConnectionState CheckConnection\n"));
    EXPECT_EQ(Control::AcceptorNetCheckConnection::CheckState::CheckConnection, link.check_state());

    Fd third = connect_client();  // the watch is already on
    EXPECT_EQ(1u, count_of(errors.str(), "CheckConnectionState CheckConnection\n"));

    // The first controller is healthy: the next check ends the watch.
    loop.advance(1000);
    EXPECT_EQ(1u, count_of(errors.str(), "CheckConnectionState Idle\n"));
    EXPECT_EQ(Control::AcceptorNetCheckConnection::CheckState::Idle, link.check_state());
    EXPECT_EQ(Control::Service::State::Connected, link.state());
    EXPECT_FALSE(test::closed_by_peer(first.get()));
}

// A flood of controllers while one is served gets one line a second.
TEST_F(Acceptor, RefusedControllersAreLoggedOnceASecond) {
    Fd first = connect_client();
    std::vector<Fd> refused;
    for (int k = 0; k < 5; ++k) refused.push_back(connect_client());
    EXPECT_EQ(1u, count_of(errors.str(), "refuse connection from"));
    loop.advance(1000);
    refused.push_back(connect_client());
    EXPECT_EQ(2u, count_of(errors.str(), "refuse connection from"));
    EXPECT_EQ(1u, count_of(errors.str(), " (4 more since)\n"));
    for (const Fd& fd : refused) EXPECT_TRUE(test::closed_by_peer(fd.get()));
}

// The listening socket on `port` in this process.
int listener_on(unsigned short port) {
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int listening = 0;
        socklen_t size = sizeof listening;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
            ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening)
            return fd;
    }
    return -1;
}

// A listener whose accept() fails for good (here: shut down, so it polls
// hung up and accept() says EINVAL; out of descriptors it polls readable and
// says EMFILE) would be ready on every pass: it rests a second after a line.
TEST_F(Acceptor, AListenerWhoseAcceptFailsRestsASecondAfterOneLine) {
    ASSERT_EQ(0, ::shutdown(listener_on(port), SHUT_RDWR));
    EXPECT_EQ(1u, loop.ready_passes(50));
    EXPECT_EQ("can't accept connection: Invalid argument\n", errors.str());
    loop.advance(kListenRestMs);
    EXPECT_EQ(2u, count_of(errors.str(), "can't accept connection")) << "the next look";
}

// Out of descriptors the acceptor rests after one line. The descriptor its
// watch let go of is taken meanwhile, so the watch finds none after the rest
// and rests again; once descriptors are free the waiting controller gets in.
TEST_F(Acceptor, AListenerOutOfDescriptorsAcceptsAgainOnceSomeAreFree) {
    const std::string report = test::in_forked_child([&] {
        rehearse_a_rest();
        Fd client = test::connect_loopback(port);
        test::rest_out_of_descriptors([&] { loop.pump(); }, [&](uint64_t ms) { loop.advance(ms); });
        test::write_bytes(client.get(), test::tpkt_frame("ping"));
        loop.pump(2);
        return joined(notify.events) + "; lines: " + errors.str();
    });
    EXPECT_EQ("connect, message ping; lines: can't accept connection: Too many open files\n",
              report);
}

// A controller accepted with the next to last descriptor cannot be watched:
// it is closed at once, and the next one is served. One accepted with three
// free is served, and the checks a second later find it healthy.
TEST_F(Acceptor, AControllerIsServedWhenItCanBeWatched) {
    struct Row {
        unsigned spare;
        std::string outcome;
    };
    for (const Row& row : {Row{2, "1 line, closed: 1, then disconnect, connect"},
                           Row{3, "0 line, closed: 0, then connect"}}) {
        const std::string report = test::in_forked_child([&] {
            rehearse_a_rest();
            Fd client = test::connect_loopback(port);
            {
                test::DescriptorShortage shortage(row.spare);
                loop.pump(2);
            }
            loop.advance(1000);
            const bool closed = test::closed_by_peer(client.get());
            Fd next = connect_client();
            return std::to_string(count_of(errors.str(), " closed")) +
                   " line, closed: " + std::to_string(closed) + ", then " + joined(notify.events);
        });
        EXPECT_EQ(row.outcome, report) << row.spare << " descriptors free";
    }
}

TEST_F(Acceptor, TheNextControllerGetsInOnceTheFirstIsGone) {
    Fd first = connect_client();
    Fd refused = connect_client();
    first.close();
    loop.pump(2);
    Fd next = connect_client();
    EXPECT_EQ(Control::Service::State::Connected, link.state());
    EXPECT_EQ((Events{"connect", "disconnect", "connect"}), notify.events);
    EXPECT_FALSE(test::closed_by_peer(next.get()));
}

TEST_F(Acceptor, TheCheckDropsAControllerWhoseConnectionWasReset) {
    Fd client = connect_client();
    linger reset{1, 0};
    ::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    client.close();
    errors.clear();
    // The check's timer runs before the pass reads the socket.
    loop.clock().advance(1000);
    loop.pump();
    const std::string from = "connection from " + link.peer() + " closed: ";
    EXPECT_EQ(from + "tcp socket change state.\n" + from + "Connection reset by peer\n" +
                  "control connection " + link.peer() + " closed.\n" + "CheckConnectionState Idle\n",
              errors.str());
    loop.pump();
    EXPECT_EQ((Events{"connect", "disconnect"}), notify.events);
}

// An event served before the acceptor's in the same pass.
class Trigger {
public:
    explicit Trigger(Control::Service& link) : link_(link) {
        int sv[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv);
        ours_.reset(sv[0]);
        theirs_.reset(sv[1]);
        event_.Bind("Trigger", &Trigger::OnEvent, this);
        event_.Schedule(ours_, POLLIN);
    }
    void pull() { test::write_bytes(theirs_.get(), "x"); }

private:
    void OnEvent(int fd, short revents) {
        if (!(revents & POLLIN)) return;
        test::read_available(fd);
        link_.Disconnect();
    }
    Control::Service& link_;
    Fd ours_, theirs_;
    Event event_;
};

TEST(AcceptorShuttingDown, ClosesAConnectionThatArrivesMeanwhile) {
    test::VirtualLoop loop;
    test::StreamCapture notices{std::cout}, errors{std::cerr};
    unsigned short port = test::free_port();
    Control::AcceptorNetCheckConnection* link = nullptr;
    Trigger trigger(*(link = new Control::AcceptorNetCheckConnection(port)));
    link->Activate();
    Fd first = test::connect_loopback(port);
    loop.pump();
    ASSERT_EQ(Control::Service::State::Connected, link->state());

    trigger.pull();
    Fd second = test::connect_loopback(port);
    loop.pump();  // the link goes down, then the second connection is accepted
    EXPECT_EQ(2u, count_of(notices.str(), "new connection from "));
    EXPECT_TRUE(test::closed_by_peer(second.get()));
    loop.pump();
    EXPECT_EQ(Control::Service::State::Connecting, link->state());
    EXPECT_TRUE(test::closed_by_peer(first.get()));
    delete link;
}

TEST_F(LinkTest, ABusyPortIsRetriedEveryFiveSeconds) {
    unsigned short port = 0;
    Fd holder = test::listen_loopback(port);
    Control::AcceptorNet link(port);
    link.Activate();
    const std::string line = "can't bind to socket: \"Address already in use\"  waiting...\n";
    EXPECT_EQ(line, errors.str());
    loop.advance(4999);
    EXPECT_EQ(line, errors.str());
    loop.advance(1);
    EXPECT_EQ(line + line, errors.str());
    EXPECT_EQ(Control::Service::State::Connecting, link.state());

    holder.close();
    loop.advance(5000);
    Fd client = test::connect_loopback(port);
    loop.pump();
    EXPECT_EQ(Control::Service::State::Connected, link.state());
}

TEST_F(LinkTest, AQuietAcceptorWritesNoLines) {
    Control::AcceptorNet link(test::free_port(), false);
    link.Activate();
    link.Send("x", 1);
    Fd client = test::connect_loopback(link.port());
    loop.pump();
    client.close();
    loop.pump(2);
    EXPECT_EQ("", notices.str() + errors.str());
}

// ---- The connector

class Connector : public LinkTest {
protected:
    // Advances one second at a time and counts the failed attempts in each.
    std::vector<size_t> attempts_per_second(unsigned seconds) {
        std::vector<size_t> counts;
        for (unsigned s = 0; s < seconds; ++s) {
            errors.clear();
            loop.advance(1000);
            counts.push_back(count_of(errors.str(), "fail to connect to "));
        }
        return counts;
    }
};

TEST_F(Connector, RetriesSevenTimesASecondApartThenEveryFifteenSeconds) {
    Control::ConnectorNet link("127.0.0.1", test::free_port());
    link.Activate();
    loop.pump();
    EXPECT_EQ(1u, count_of(errors.str(), "fail to connect to 127.0.0.1:"));
    // The refused attempt ends in POLLERR: 15 s once the quick retries are gone.
    std::vector<size_t> expected(7, 1);
    expected.resize(7 + 15, 0);
    expected.back() = 1;
    EXPECT_EQ(expected, attempts_per_second(7 + 15));
    EXPECT_EQ(Control::Service::State::Connecting, link.state());
}

TEST_F(Connector, ReconnectsTenSecondsAfterALostConnection) {
    unsigned short port = 0;
    Fd listener = test::listen_loopback(port);
    Control::ConnectorNet link("127.0.0.1:" + std::to_string(port));
    EXPECT_EQ("127.0.0.1", link.host());
    link.Bind(&notify);
    link.Activate();
    loop.pump(2);
    Fd server(::accept(listener.get(), nullptr, nullptr));
    ASSERT_EQ(Control::Service::State::Connected, link.state());
    EXPECT_EQ("connected to 127.0.0.1:" + std::to_string(port) + ".\n", notices.str());

    server.close();
    loop.pump(2);
    EXPECT_EQ((Events{"connect", "disconnect"}), notify.events);
    loop.advance(9999);
    EXPECT_EQ(Control::Service::State::Connecting, link.state());
    loop.advance(1);
    loop.pump();
    EXPECT_EQ(Control::Service::State::Connected, link.state());
    EXPECT_EQ((Events{"connect", "disconnect", "connect"}), notify.events);
}

TEST_F(Connector, DeactivationStopsTheAttempts) {
    Control::ConnectorNet link("127.0.0.1", test::free_port());
    link.Activate();
    loop.pump();
    link.Deactivate();
    EXPECT_EQ(Control::Service::State::Idle, link.state());
    EXPECT_EQ((std::vector<size_t>(30, 0)), attempts_per_second(30));
}

// ---- Unix-domain links and names

TEST_F(LinkTest, UnixDomainLinksCarryFrames) {
    const std::string path = std::string(getenv("BOARD_TEST_TMP") ? getenv("BOARD_TEST_TMP") : "/tmp") +
                             "/link-" + std::to_string(getpid());
    Control::AcceptorUnix server(path);
    NotifyProbe clientNotify;
    Control::ConnectorUnix client(path);
    server.Bind(&notify);
    client.Bind(&clientNotify);
    server.Activate();
    client.Activate();
    loop.pump();
    ASSERT_EQ(Control::Service::State::Connected, server.state());
    ASSERT_EQ(Control::Service::State::Connected, client.state());
    client.Send("up", 2);
    server.Send("down", 4);
    loop.pump();
    EXPECT_EQ((Events{"connect", "message up"}), notify.events);
    EXPECT_EQ((Events{"connect", "message down"}), clientNotify.events);
    ::unlink(path.c_str());
}

TEST(LinkState, HasATextForEveryState) {
    using State = Control::Service::State;
    EXPECT_STREQ("Idle", Control::GetTextNotation(State::Idle));
    EXPECT_STREQ("Connecting", Control::GetTextNotation(State::Connecting));
    EXPECT_STREQ("Deactivating", Control::GetTextNotation(State::Deactivating));
    EXPECT_STREQ("Connected", Control::GetTextNotation(State::Connected));
    EXPECT_STREQ("Unknown", Control::GetTextNotation(static_cast<State::Type>(7)));
}

}  // namespace
