#include "board/sim/sim_board.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "board/devio.h"
#include "board/drivers/hal.h"
#include "board/drivers/hdlc_if.h"
#include "board/drivers/maintenance.h"
#include "board/drivers/mcc.h"
#include "board/drivers/mctl.h"
#include "board/drivers/rtp.h"
#include "board/drivers/rtp_ext.h"
#include "board/drivers/watchdog.h"
#include "board/ioc.h"
#include "board/netif.h"
#include "board/paths.h"
#include "board/sim/hal_model.h"
#include "board/sim/maintenance_model.h"
#include "board/sim/mcc_model.h"
#include "board/sim/mctl_model.h"
#include "board/sim/rtp_ext_model.h"
#include "board/sim/rtp_model.h"
#include "board/sim/watchdog_model.h"
#include "runtime/net.h"
#include "tests/support/board_root.h"
#include "tests/support/forked_child.h"
#include "tests/support/loopback.h"

namespace {

using board::sim::Board;
using board::sim::Op;

constexpr uint32_t kSetValue = board::ppc_ioc(board::ppc_ioc_write, 't', 1, 4);
constexpr uint32_t kGetValue = board::ppc_ioc(board::ppc_ioc_read, 't', 2, 4);

// A device that keeps one word, set and read by ioctl.
class WordDevice : public board::sim::Model {
public:
    int ioctl(board::sim::Channel&, uint32_t request, void* arg) override {
        if (request == kSetValue) {
            std::memcpy(&word, arg, sizeof word);
            return 0;
        }
        if (request == kGetValue) {
            std::memcpy(arg, &word, sizeof word);
            return 0;
        }
        errno = ENOTTY;
        return -1;
    }
    void reset() override { word = 0; }
    int32_t word = 0;
};

class SimBoard : public ::testing::Test {
protected:
    void SetUp() override {
        Board::instance().install("/dev/test-word", std::make_unique<WordDevice>());
        Board::instance().reset();
    }
    test::BoardRoot root;
};

TEST_F(SimBoard, UnknownPathIsEnoent) {
    errno = 0;
    EXPECT_EQ(-1, board::open("/dev/no-such-device", O_RDWR));
    EXPECT_EQ(ENOENT, errno);
    ASSERT_EQ(1u, Board::instance().journal().size());
    EXPECT_EQ(ENOENT, Board::instance().journal()[0].error);
}

TEST_F(SimBoard, DescriptorPollsDupsAndClosesLikeARealOne) {
    int fd = board::open("/dev/test-word", O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(0, ::poll(&p, 1, 0)) << "nothing delivered yet";

    const uint8_t record[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(1, Board::instance().deliver("/dev/test-word", record, sizeof record));
    EXPECT_EQ(1, ::poll(&p, 1, 0));
    EXPECT_TRUE(p.revents & POLLIN);

    int copy = ::dup(fd);
    uint8_t got[16];
    EXPECT_EQ(6, board::read(copy, got, sizeof got)) << "a record is read back whole";
    EXPECT_EQ(0, std::memcmp(record, got, 6));
    EXPECT_EQ(-1, board::read(fd, got, sizeof got));
    EXPECT_EQ(EAGAIN, errno);

    int32_t value = 42;
    EXPECT_EQ(0, board::ioctl(copy, kSetValue, &value)) << "a dup reaches the same open";
    ::close(fd);
    int32_t back = 0;
    EXPECT_EQ(0, board::ioctl(copy, kGetValue, &back));
    EXPECT_EQ(42, back);
    ::close(copy);
    EXPECT_TRUE(Board::instance().channels("/dev/test-word").empty());
}

TEST_F(SimBoard, JournalRecordsCallsWithTheirBytes) {
    int fd = board::open("/dev/test-word", O_RDWR);
    int32_t value = 7;
    board::ioctl(fd, kSetValue, &value);
    board::ioctl_value(fd, kSetValue, 3);
    board::write(fd, "PING", 4);
    ::close(fd);
    auto calls = Board::instance().journal("/dev/test-word");
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ(Op::Open, calls[0].op);
    EXPECT_EQ(kSetValue, calls[1].request);
    EXPECT_EQ(4u, calls[1].data.size());
    EXPECT_EQ(-1, calls[2].result);
    EXPECT_EQ(ENOTTY, calls[2].error);
    EXPECT_EQ(std::string("PING"), std::string(calls[3].data.begin(), calls[3].data.end()));
}

TEST_F(SimBoard, TheJournalKeepsTheLatestCallsUnlessItsDeviceIsLeftOut) {
    Board& sim = Board::instance();
    int fd = board::open("/dev/test-word", O_RDWR);
    const unsigned long total = Board::kJournalLimit + 3;
    for (unsigned long n = 0; n < total; ++n) board::ioctl_value(fd, kSetValue, n);
    auto calls = sim.journal();
    ASSERT_EQ(Board::kJournalLimit, calls.size());
    EXPECT_EQ(3u, calls.front().value);
    EXPECT_EQ(total - 1, calls.back().value);

    sim.clear_journal();
    sim.set_journaled("/dev/test-word", false);
    int32_t value = 1;
    EXPECT_EQ(0, board::ioctl(fd, kSetValue, &value));
    ::close(fd);
    ::close(board::open("/dev/test-word", O_RDWR));  // nor its opens
    EXPECT_EQ(-1, board::open("/dev/none", O_RDWR));
    EXPECT_EQ(1u, sim.journal().size()) << "the open of no device, while the board journals";
    sim.set_journaled(false);
    EXPECT_EQ(-1, board::open("/dev/none", O_RDWR));
    EXPECT_EQ(1u, sim.journal().size());
}

// A model keeps its own history of its device's calls only while the device
// is journaled: the server executable, which journals nothing, keeps none.
TEST_F(SimBoard, ModelsKeepAHistoryOnlyOfJournaledDevices) {
    namespace sim = board::sim;
    Board& simulated = Board::instance();
    auto ioctl_of = [](uint32_t request, auto record) {
        return [=](int fd) mutable { board::ioctl(fd, request, &record); };
    };
    const struct {
        const char* device;
        std::function<void(int fd)> call;
        std::function<size_t(int fd)> history;
    } rows[] = {
        {board::mcc::kDevice,
         [](int fd) {
             board::mcc::mcc_allocation record{board::mcc::kData, 512, 0, 1, 1};
             board::ioctl(fd, board::mcc::MCC_ALLOCATE, &record);
             board::write(fd, "frame", 5);
         },
         [&](int) { return simulated.model_as<sim::MccModel>(board::mcc::kDevice)->sent.size(); }},
        {board::rtp_ext::kDevice,
         [](int fd) {
             board::rtp_ext::rtp_ext_init_params record{board::rtp_ext::kEd137Profile, 0, {}};
             board::ioctl(fd, board::rtp_ext::kInit, &record);
             board::write(fd, "\x21\x40\0\0", 4);
         },
         [&](int fd) {
             return simulated.model_as<sim::RtpExtModel>(board::rtp_ext::kDevice)
                 ->session(fd)
                 ->sent.size();
         }},
        {board::rtp::kDevice, [](int fd) { board::ioctl(fd, board::rtp::kTeardown1, nullptr); },
         [&](int fd) {
             return simulated.model_as<sim::RtpModel>(board::rtp::kDevice)
                 ->stream_of(*simulated.channel(fd))
                 ->teardown.size();
         }},
        {board::mctl::kDevice, [](int fd) { board::ioctl_value(fd, board::mctl::kAllocate, 0); },
         [&](int) { return simulated.model_as<sim::MctlModel>(board::mctl::kDevice)->log.size(); }},
        {board::hal::kDevice, ioctl_of(board::hal::kSetFramerLeds, uint8_t{5}),
         [&](int) {
             return simulated.model_as<sim::HalModel>(board::hal::kDevice)->led_history.size();
         }},
        {board::hal::kDevice, ioctl_of(board::hal::kClockSelect, int32_t{2}),
         [&](int) {
             return simulated.model_as<sim::HalModel>(board::hal::kDevice)->clock_history.size();
         }},
        {board::maintenance::kDevice,
         [](int fd) { board::ioctl_value(fd, board::maintenance::kSetTclk, 3); },
         [&](int) {
             return simulated.model_as<sim::MaintenanceModel>(board::maintenance::kDevice)
                 ->tclk_history.size();
         }},
        {board::watchdog::kDevice, [](int fd) { board::write(fd, "PING", 4); },
         [&](int) {
             return simulated.model_as<sim::WatchdogModel>(board::watchdog::kDevice)->words.size();
         }},
    };
    for (const auto& row : rows) {
        for (bool journaled : {true, false}) {
            simulated.reset();
            simulated.set_journaled(journaled);
            const int fd = board::open(row.device, O_RDWR | O_NONBLOCK);
            ASSERT_GE(fd, 0) << row.device;
            row.call(fd);
            EXPECT_EQ(journaled ? 1u : 0u, row.history(fd)) << row.device;
            ::close(fd);
        }
    }
}

// Puts a duplicate of `fd` at the free `number` as a new descriptor takes
// one: the lowest free number first.
void dup_at(int fd, int number) {
    std::vector<int> below;
    for (int copy; (copy = ::dup(fd)) >= 0 && copy < number;) below.push_back(copy);
    for (int copy : below) ::close(copy);
}

// The board knows its descriptors by number, but the kernel hands a number
// out again once it is closed or replaced: the number then reaches what it
// is now, while the open lives on in its other descriptor. Closes the board
// does not see (the C library's own, a raw system call) are caught when the
// number is taken again.
TEST_F(SimBoard, ANumberHandedOutAgainReachesWhatItIsNow) {
    const std::vector<std::pair<const char*, std::function<void(int, int)>>> ways = {
        {"close",
         [](int number, int pipeEnd) {
             ::close(number);
             ::syscall(SYS_fcntl, pipeEnd, F_DUPFD, number);  // as the board cannot see
         }},
        {"close_range",
         [](int number, int pipeEnd) {
             ::close_range(number, number, 0);
             ::syscall(SYS_fcntl, pipeEnd, F_DUPFD, number);
         }},
        {"dup2", [](int number, int pipeEnd) { ::dup2(pipeEnd, number); }},
        {"dup3", [](int number, int pipeEnd) { ::dup3(pipeEnd, number, 0); }},
        {"a raw close",
         [](int number, int pipeEnd) {
             ::syscall(SYS_close, number);
             dup_at(pipeEnd, number);
         }},
        {"fclose of fdopen",
         [](int number, int pipeEnd) {
             std::fclose(::fdopen(number, "w"));
             dup_at(pipeEnd, number);
         }},
    };
    for (const auto& [way, reuse] : ways) {
        for (bool opened : {true, false}) {  // the number open gave, or a dup's
            const std::string what = std::string(way) + (opened ? " of the open" : " of a dup");
            int fd = board::open("/dev/test-word", O_RDWR);
            int copy = ::dup(fd);
            int32_t value = 42;
            ASSERT_EQ(0, board::ioctl(fd, kSetValue, &value)) << what;
            ASSERT_EQ(0, board::ioctl(copy, kGetValue, &value)) << what;
            const int number = opened ? fd : copy;
            const int kept = opened ? copy : fd;
            int pipeFds[2];
            ASSERT_EQ(0, ::pipe2(pipeFds, O_NONBLOCK));
            reuse(number, pipeFds[1]);

            EXPECT_EQ(1, board::write(number, "x", 1)) << what;
            char got = 0;
            EXPECT_EQ(1, ::read(pipeFds[0], &got, 1)) << what;
            EXPECT_EQ(-1, board::ioctl(number, kGetValue, &value)) << what;
            EXPECT_EQ(EBADF, errno) << what;
            EXPECT_EQ(0, board::ioctl(kept, kGetValue, &value)) << what;
            for (int end : {number, kept, pipeFds[0], pipeFds[1]}) ::close(end);
        }
    }
}

// A number freed where the board cannot see it (a raw close) is forgotten
// by each call that hands it out again: every row takes the lowest free
// number, the one freed, through one hook.
TEST_F(SimBoard, EveryCallThatHandsOutANumberForgetsTheOpenItNamed) {
    unsigned short port = 0;
    const Fd listener = test::listen_loopback(port);
    const int other = listener.get();
    const Fd waiting[] = {test::connect_loopback_now(port), test::connect_loopback_now(port)};
    const auto pair = [](int result, const int ends[2]) {
        return result == 0 ? std::vector<int>{ends[0], ends[1]} : std::vector<int>{};
    };
    // The descriptors each call made, the lowest first.
    const std::vector<std::pair<const char*, std::function<std::vector<int>()>>> hooks = {
        {"socket", [] { return std::vector<int>{::socket(AF_UNIX, SOCK_DGRAM, 0)}; }},
        {"socketpair",
         [&] {
             int ends[2];
             return pair(::socketpair(AF_UNIX, SOCK_DGRAM, 0, ends), ends);
         }},
        {"accept", [&] { return std::vector<int>{::accept(other, nullptr, nullptr)}; }},
        {"accept4", [&] { return std::vector<int>{::accept4(other, nullptr, nullptr, 0)}; }},
        {"pipe",
         [&] {
             int ends[2];
             return pair(::pipe(ends), ends);
         }},
        {"pipe2",
         [&] {
             int ends[2];
             return pair(::pipe2(ends, O_CLOEXEC), ends);
         }},
        {"open", [] { return std::vector<int>{::open("/dev/null", O_RDONLY)}; }},
        {"openat", [] { return std::vector<int>{::openat(AT_FDCWD, "/dev/null", O_RDONLY)}; }},
        {"dup", [&] { return std::vector<int>{::dup(other)}; }},
        {"fcntl F_DUPFD", [&] { return std::vector<int>{::fcntl(other, F_DUPFD, 0)}; }},
        {"fcntl F_DUPFD_CLOEXEC",
         [&] { return std::vector<int>{::fcntl(other, F_DUPFD_CLOEXEC, 0)}; }},
    };
    for (const auto& [hook, take] : hooks) {
        SCOPED_TRACE(hook);
        const int fd = board::open("/dev/test-word", O_RDWR);
        const int copy = ::dup(fd);
        int32_t value = 42;
        ASSERT_EQ(0, board::ioctl(fd, kSetValue, &value));
        ::syscall(SYS_close, fd);
        const std::vector<int> made = take();
        ASSERT_FALSE(made.empty());
        ASSERT_EQ(fd, made.front()) << "the lowest free number";

        EXPECT_EQ(-1, board::ioctl(fd, kGetValue, &value));
        EXPECT_EQ(EBADF, errno);
        value = 0;
        EXPECT_EQ(0, board::ioctl(copy, kGetValue, &value));
        EXPECT_EQ(42, value);
        for (int end : made) ::close(end);
        ::close(copy);
    }
}

// closefrom() forgets the numbers it closes; it closes the board's own ends
// too, so it runs in a child.
TEST_F(SimBoard, ClosefromForgetsTheNumbersItCloses) {
    const std::string report = test::in_forked_child([] {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_NONBLOCK) != 0) return std::string("no pipe");
        const int fd = board::open("/dev/test-word", O_RDWR);
        ::closefrom(fd);
        ::syscall(SYS_dup3, pipeFds[1], fd, 0);  // as the board cannot see
        int32_t value = 0;
        const bool answered = board::ioctl(fd, kGetValue, &value) == 0;
        char got = 0;
        const bool written = board::write(fd, "x", 1) == 1 && ::read(pipeFds[0], &got, 1) == 1;
        return std::string(answered ? "answered" : "refused") + (written ? ", written" : "");
    });
    EXPECT_EQ("refused, written", report);
}

TEST_F(SimBoard, InjectedFailuresHitOnlyTheChosenCalls) {
    Board::instance().fail_next(Op::Open, "/dev/test-word", EBUSY);
    EXPECT_EQ(-1, board::open("/dev/test-word", O_RDWR));
    EXPECT_EQ(EBUSY, errno);
    int fd = board::open("/dev/test-word", O_RDWR);
    ASSERT_GE(fd, 0);
    Board::instance().fail_next(Op::Ioctl, "/dev/test-word", EIO, kGetValue, 2);
    int32_t v = 5;
    EXPECT_EQ(0, board::ioctl(fd, kSetValue, &v));
    EXPECT_EQ(-1, board::ioctl(fd, kGetValue, &v));
    EXPECT_EQ(-1, board::ioctl(fd, kGetValue, &v));
    EXPECT_EQ(0, board::ioctl(fd, kGetValue, &v));
    Board::instance().fail_next(Op::Write, "/dev/test-word", ENOSPC);
    EXPECT_EQ(-1, board::write(fd, "x", 1));
    EXPECT_EQ(ENOSPC, errno);
    EXPECT_EQ(1, board::write(fd, "x", 1));
    ::close(fd);
}

TEST_F(SimBoard, PathsLiveUnderTheBoardRoot) {
    EXPECT_EQ(root.dir() + "/var/run/server.pid", board::path("/var/run/server.pid"));
}

TEST_F(SimBoard, RelativeRootKeepsNamingTheStartFolderAfterAChdir) {
    char start[4096];
    ASSERT_NE(nullptr, ::getcwd(start, sizeof start));
    ::setenv("BOARD_ROOT", "relative-root", 1);
    ASSERT_EQ(0, ::chdir("/"));  // as a daemon does
    std::string path = board::path("/var/log");
    ASSERT_EQ(0, ::chdir(start));
    EXPECT_EQ(std::string(start) + "/relative-root/var/log", path);
}

TEST_F(SimBoard, NetworkInterfacesAnswerFromTheirTable) {
    std::list<INet4::Addr> addresses;
    EXPECT_EQ(1, Net::ifconfig(addresses, Net::ifconfig_private));
    EXPECT_EQ("10.0.0.2:0", addresses.front().GetString());

    auto& netifs = Board::instance().netifs();
    netifs.add({3, "eth1", IFF_UP, "192.168.1.5"});
    netifs.add({4, "eth2", IFF_UP, ""});  // no IPv4 address: not listed
    std::list<std::string> running;
    EXPECT_EQ(2, Net::ifconfig(running, 0, IFF_RUNNING));
    EXPECT_EQ((std::list<std::string>{"lo", "eth0"}), running);
    addresses.clear();
    EXPECT_EQ(2, Net::ifconfig(addresses, Net::ifconfig_private));
    EXPECT_EQ("192.168.1.5:0", addresses.back().GetString());

    int sock = board::netif::socket(AF_PACKET, SOCK_RAW, 255);
    ASSERT_GE(sock, 0);
    ifreq request{};
    request.ifr_ifindex = 4;
    EXPECT_EQ(0, board::netif::ioctl(sock, SIOCGIFNAME, &request));
    EXPECT_STREQ("eth2", request.ifr_name);
    request.ifr_ifindex = 5;
    EXPECT_EQ(-1, board::netif::ioctl(sock, SIOCGIFNAME, &request));
    EXPECT_EQ(ENODEV, errno);
    netifs.fail_next(SIOCGIFFLAGS, EACCES);
    EXPECT_EQ(-1, board::netif::ioctl(sock, SIOCGIFFLAGS, &request));
    EXPECT_EQ(EACCES, errno);
    ::close(sock);

    netifs.fail_next_socket(ENFILE);
    EXPECT_EQ(-1, Net::ifconfig(addresses, 0));
    netifs.fail_next(SIOCGIFCONF, EINVAL);
    EXPECT_EQ(-1, Net::ifconfig(addresses, 0));
}

// The generic HDLC layer's refusals (the slot tests see it succeed).
TEST_F(SimBoard, HdlcInterfacesRefuseAShortBufferAndAProtocolChangeWhileUp) {
    namespace hdlc_if = board::hdlc_if;
    auto& netifs = Board::instance().netifs();
    int sock = board::netif::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    uint8_t physical[hdlc_if::kPhysicalSize] = {};
    netifs.set_flags("hdlc0", IFF_POINTOPOINT | IFF_UP);
    struct Case {
        const char* name;
        uint32_t type;
        uint32_t size;
        int error;
        uint32_t sizeAfter;  // the size needed, for a short buffer
    } cases[] = {
        {"hdlc0", IF_GET_IFACE, 64, ENOBUFS, 128},
        {"hdlc0", IF_PROTO_PPP, 4, EBUSY, 4},
        {"hdlc7", IF_GET_IFACE, 128, ENODEV, 128},
        {"eth0", IF_PROTO_PPP, 4, EINVAL, 4},
    };
    for (const Case& c : cases) {
        ifreq request = hdlc_if::wan_request(c.name, c.type, c.size, physical);
        EXPECT_EQ(-1, board::netif::ioctl(sock, SIOCWANDEV, &request)) << c.name;
        EXPECT_EQ(c.error, errno) << c.name;
        EXPECT_EQ(c.sizeAfter, hdlc_if::settings(request).size) << c.name;
    }
    EXPECT_EQ(uint32_t(IF_PROTO_HDLC), netifs.find("hdlc0")->hdlc->protocol);
    ::close(sock);
}

}  // namespace
