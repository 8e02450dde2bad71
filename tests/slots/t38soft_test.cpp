// Software T.38 on the simulated multi-channel controller: the program's
// command line and standard input, its end, the channel's failures and the
// count of instances it reports. The stand-in program is a real process:
// waits for it are bounded in real time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "board/sim/mcc_model.h"
#include "board/sim/mixer_model.h"
#include "runtime/fd.h"
#include "slots/mcc_factory.h"
#include "slots/mixer_factory.h"
#include "slots/rtp_factory.h"
#include "slots/t38soft_factory.h"
#include "tests/slots/modem_fixture.h"
#include "tests/support/descriptors.h"
#include "tests/support/mixer_voice_commands.h"
#include "tests/support/rtp_commands.h"
#include "tests/support/slot_commands.h"
#include "tests/support/throttled_lines.h"
#include "tests/support/udp_peer.h"

namespace {

using namespace test::stand_in;
using board::sim::MccModel;
using board::sim::Op;
namespace mcc = board::mcc;

// The modem suites' helpers for child programs serve here too.
class T38Soft : public test::ModemTest {
protected:
    // The first channel of the controller's transparent pool.
    static constexpr int kTimeslot = MccModel::kPoolBase + mcc::kTransparent * MccModel::kPoolSpan;

    T38Soft() { T38SoftFactory::instance().reset_for_test(); }

    static T38SoftSlot* t38_at(unsigned number) {
        return dynamic_cast<T38SoftSlot*>(Slots::instance()->at(number));
    }
    void install(const std::string& then, const std::string& instances = "") {
        server.board().write_program(kT38, t38(then, instances));
    }
    // A program that adds its pid to "<program>.pids" whatever it is asked,
    // then does `then`.
    static std::string counts(const std::string& then) {
        return "#!/bin/sh\necho $$ >> \"$0.pids\"\n" + then;
    }
    // One that counts 5 once the test lets it (let_count()): it counts for
    // as long as the test needs, however slow the machine.
    static std::string counts_when_let() {
        return counts("while [ ! -e \"$0.go\" ]; do sleep 0.01; done\necho 5\n");
    }
    void let_count() { server.board().write_file(kT38 + ".go", ""); }
    // Pumps until `count` commands are answered: seq -> success. Signals are
    // kept for signal(); `reportedFirst` tells whether a report came before.
    std::map<int, bool> answers(size_t count, bool* reportedFirst = nullptr) {
        std::map<int, bool> out;
        EXPECT_TRUE(pump_until([&] {
            while (auto m = controller.receive(1)) {
                const LGCP::Signal* s = m->get_pdu().get_signal();
                if (reportedFirst) *reportedFirst |= out.size() < count && s && s->is_query();
                if (test::is_response(*m))
                    out[test::seq_of(*m).value_or(-1)] = test::is_success(*m);
                else
                    seen_.push_back(*m);
            }
            return out.size() >= count;
        }));
        return out;
    }
    // The pid that `root`'s program added last, once there is one.
    std::string counting_pid(const std::string& root) {
        std::string pid;
        pump_until([&] {
            std::istringstream pids(server.board().read_file(root + kT38 + ".pids"));
            for (std::string line; std::getline(pids, line);) pid = line;
            return !pid.empty();
        });
        return pid;
    }
    // The program's descriptors (as a child of it saw them): number -> target.
    std::map<int, std::string> descriptors(int pid) {
        std::map<int, std::string> out;
        std::istringstream lines(server.board().read_file(kT38 + "." + std::to_string(pid) + ".fds"));
        for (std::string line; std::getline(lines, line);) {
            const size_t arrow = line.find(" -> ");
            if (arrow == std::string::npos) continue;
            const size_t number = line.rfind(' ', arrow - 1) + 1;
            out[std::stoi(line.substr(number, arrow - number))] = line.substr(arrow + 4);
        }
        return out;
    }
};

TEST_F(T38Soft, TheProgramRunsWithTheChannelAsItsStandardInput) {
    install(reads_input());
    ASSERT_EQ(std::nullopt, ask(create_t38(30), 7));
    ASSERT_TRUE(t38_at(7));
    auto tx = signal(LGCP::Signal::Alternative::transmitter, 7);
    auto rx = signal(LGCP::Signal::Alternative::receiver, 7);
    ASSERT_TRUE(tx && rx);
    EXPECT_EQ(kTimeslot, tx->get_transmitter()->get_active()->getValue());
    EXPECT_EQ(kTimeslot, rx->get_receiver()->get_active()->getValue());
    const auto allocations = channels().allocations();
    ASSERT_EQ(1u, allocations.size());
    const mcc::mcc_allocation& record = allocations[0].record;
    EXPECT_EQ((std::vector<uint32_t>{mcc::kTransparent, 160, 0, 2, 3}),
              (std::vector<uint32_t>{record.type, record.rx_packet_size, record.reserved,
                                     record.rx_threshold, record.tx_threshold}));

    const int pid = t38_at(7)->pid();
    std::vector<std::string> expected{host(kT38), "--child", "--remote", "10.0.0.5/4000/5000"};
    for (int i = 0; i < 27; ++i) expected.push_back("a" + std::to_string(i));
    EXPECT_EQ(expected, argv_of(kT38, pid));
    const std::string log = progress.str();
    EXPECT_NE(std::string::npos, log.find("t38soft: args for run t38 daemon:\narg[0]=" + host(kT38) +
                                          "\narg[1]=--child\n"));
    EXPECT_NE(std::string::npos, log.find("\narg[30]=a26\nt38soft: t38 daemon[" +
                                          std::to_string(pid) + "] successfully started\n"));

    // Sockets and pipes the test's own parent holds came with the test, as
    // do the standard streams; any other would be the server's.
    std::set<std::string> inherited;
    for (const auto& [fd, target] : test::channels_of(::getppid())) inherited.insert(target);
    const auto held = descriptors(pid);
    EXPECT_TRUE(held.count(0) && held.at(0).rfind("socket:", 0) == 0);
    for (const auto& [fd, target] : held)
        EXPECT_TRUE(fd <= 2 || !test::is_channel(target) || inherited.count(target)) << fd << " -> " << target;
    // What the switch brings to the channel's timeslot reaches the program.
    factory.scripts[1].transmit = 5;
    create(8, 1);
    connect(8, 7);
    EXPECT_EQ(1, channels().line_packet(5, {0x80, 0x01, 0x02}));
    const std::string input = kT38 + "." + std::to_string(pid) + ".in";
    EXPECT_TRUE(pump_until([&] { return server.board().read_file(input) == "\x80\x01\x02"; }));
}

// The destroy is answered once the program has ended, with its channel back
// in the pool and out of the switch with its paths (also one whose release
// the driver refused): when it ends on SIGTERM, or 5 s later when SIGKILL
// ends one that ignores it. A process the program started ends with it, so
// that its copy of the channel goes too.
TEST_F(T38Soft, DestroyEndsTheProgramAndIsAnsweredWithItsChannelFree) {
    struct Case {
        std::string program;
        unsigned killMs;  // 0: it ends on SIGTERM
        int status;
    } cases[] = {{t38(runs()), 0, SIGTERM},
                 {ignores_term(), 5000, SIGKILL},
                 {t38("exec 3<&0\nsleep 60 <&3 &\n" + runs()), 0, SIGTERM}};
    const unsigned pool = channels().free_channels(mcc::kTransparent);
    create(8);
    for (const Case& c : cases) {
        server.board().write_program(kT38, c.program);
        ASSERT_EQ(std::nullopt, ask(create_t38(), 7));
        const int pid = t38_at(7)->pid();
        argv_of(kT38, pid);  // it has started
        connect(7, 8);

        sim().fail_next(Op::Ioctl, board::hal::kDevice, EIO, board::hal::kMuxWriteByte);
        controller.send(test::command(Alternative::destroy), 9, 7);
        if (c.killMs) {
            server.advance(c.killMs - 1);
            EXPECT_FALSE(controller.receive_until(test::is_response, 2));
            server.advance(1);
        }
        std::optional<LGCP::Message> reply;
        EXPECT_TRUE(pump_until([&] { return bool(reply = controller.receive_until(test::is_response, 1)); }));
        EXPECT_TRUE(reply && test::is_success(*reply));
        const std::string reaped = "terminate child process, pid=" + std::to_string(pid) +
                                   " status=" + std::to_string(c.status) + "\n";
        EXPECT_TRUE(pump_until([&] { return progress.str().find(reaped) != std::string::npos; }));
        EXPECT_TRUE(pump_until([&] { return channels().free_channels(mcc::kTransparent) == pool; }));
        expect_sound();
    }
}

// The program ends (the fax done, or a crash) and the driver gives its
// channel to the next call before the server has reaped it: the next call
// neither hears the old line nor is heard on it, the old slot may not be
// wired to read it into its line again, and once the old slot has let go
// nothing of it is switched anywhere.
TEST_F(T38Soft, TheNextCallGivenTheChannelOfAnEndedProgramHasNothingOfTheOldLine) {
    create(8);
    install(runs());
    ASSERT_EQ(std::nullopt, ask(create_t38(), 7));
    const int pid = t38_at(7)->pid();
    argv_of(kT38, pid);  // it has started
    connect(8, 7);
    connect(7, 8);
    const int line = Slots::instance()->at(8)->IGetReceiveChannel();
    ASSERT_EQ(kTimeslot, fabric().channel(line).value);

    ChildWait::Deactivate();  // the end is reaped late
    ::kill(pid, SIGKILL);
    siginfo_t ended;
    ASSERT_EQ(0, ::waitid(P_PID, pid, &ended, WEXITED | WNOWAIT));
    ASSERT_EQ(std::nullopt, ask(create_t38(), 9));
    ASSERT_EQ(kTimeslot, t38_at(9)->IGetTransmitChannel());
    EXPECT_NE(board::sim::HalModel::Output::Source, fabric().channel(kTimeslot).output);
    EXPECT_NE(board::sim::HalModel::Output::Source, fabric().channel(line).output);
    ASSERT_EQ(std::nullopt, ask(test::command(Alternative::disconnect), 8));
    EXPECT_EQ(LGCP::ErrorCause::connectFail, ask(test::connect_command(8), 7));
    EXPECT_NE(board::sim::HalModel::Output::Source, fabric().channel(line).output);

    ChildWait::Activate();
    EXPECT_EQ(9, abort_signal());
    expect_sound();
}

TEST_F(T38Soft, AProgramThatEndsAbortsWithItsRawStatusAndIsNotSignalledAgain) {
    struct Case {
        std::optional<std::string> then;  // none: no program at all
        int status;
        std::string line;
    } cases[] = {
        {std::nullopt, 237 * 256, "t38 daemon terminated with code=237"},
        {"exit 3\n", 3 * 256, "t38 daemon terminated with code=3"},
        {"kill -9 $$\n", 9, "t38 daemon terminated by signal=9"},
    };
    unsigned number = 10;
    for (const Case& c : cases) {
        if (c.then) install(*c.then);
        ASSERT_EQ(std::nullopt, ask(create_t38(), number)) << c.line;
        EXPECT_EQ(c.status, abort_signal()) << c.line;
        EXPECT_NE(std::string::npos, progress.str().find(c.line));
        EXPECT_EQ(-1, t38_at(number)->pid());
        EXPECT_EQ(std::nullopt, ask(test::command(Alternative::destroy), number));
        ++number;
    }
}

TEST_F(T38Soft, ChannelFailuresDeclineAndLeaveNoChannelOpen) {
    using Cause = LGCP::ErrorCause::NamedNumber;
    struct Case {
        std::function<void()> fault;
        LGCP::Command command;
        Cause cause;
        std::string line;
    } cases[] = {
        {[] { sim().fail_next(Op::Open, mcc::kDevice, EACCES); }, create_t38(),
         Cause::insufficientResources, "T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [13]"},
        {[] { channels().pool_size[mcc::kTransparent] = 0; }, create_t38(),
         Cause::insufficientResources, "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [28]"},
        {[] { sim().fail_next(Op::Ioctl, mcc::kDevice, EIO, mcc::MCC_TIMESLOT); }, create_t38(),
         Cause::insufficientResources, "T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [5]"},
        {[] {}, create_t38(0, -1), Cause::invalidParams, "a negative packet size or threshold"},
    };
    install(runs());
    for (const Case& c : cases) {
        c.fault();
        EXPECT_EQ(c.cause, ask(c.command, 7)) << c.line;
        EXPECT_NE(std::string::npos, errors.str().find(c.line + "\n")) << c.line;
        EXPECT_EQ(0u, channels().opens()) << c.line;
        channels().pool_size = MccModel().pool_size;
    }
    EXPECT_EQ(std::string::npos, progress.str().find("successfully started"));
}

// The count is read as the program writes it: a ping sent after the query
// is answered first, and a mixer create finds the units the query walked
// (each row starts with none known). A program that has not counted within
// 3 s (this one would take 12), or that cannot be executed while it is
// being written, leaves the count known before, with one line; the report
// says what the board has when it is sent: the channels
// that RTP and MCC creates took meanwhile are not counted free. A count
// line is read up to its 31st character; a program that runs on after its
// count, or past the limit, is killed.
TEST_F(T38Soft, TheProgramCountsTheInstances) {
    RtpFactory::instance();
    MccFactory::instance();
    const unsigned short far = test::free_udp_pair();
    struct Case {
        std::string root;  // under the test's board root
        std::optional<std::string> program;  // none: no program
        int instances;
        std::string line;  // logged (none when empty)
        unsigned limitMs;  // the count is waited for this long (0: it answers)
        bool killed = false;
        bool written = false;  // being written (as by an upgrade): it cannot be executed
    } cases[] = {
        {"", t38(runs(), "8"), 8, "", 0},
        {"/it's a board", t38(runs(), "12"), 12, "", 0},
        {"/it's a board", counts("exec sleep 12\n"), 12,
         "t38soft: t38: no count within 3000 ms, reporting 12\n", 3000, true},
        {"", counts("sleep 0.3\necho 5\n"), 5, "", 0},
        {"", t38(runs(), "9"), 5,
         "t38soft: t38: count not started: the program could not be executed, reporting 5\n", 0,
         false, true},
        {"", counts("echo '8 instances of the T.38 relay, and more'\nexec sleep 60\n"), 8, "", 0,
         true},
        {"", t38(runs(), ""), 0, "t38soft: t38: can't detect T38 resources\n", 0},
        {"/none", std::nullopt, 0, "t38soft: t38 daemon not found!\n", 0},
    };
    for (const Case& c : cases) {
        const std::string root = server.board().dir() + c.root;
        ::setenv("BOARD_ROOT", root.c_str(), 1);
        if (c.program) server.board().write_program(c.root + kT38, *c.program);
        Fd writing;
        if (c.written) writing.reset(::open(host(c.root + kT38).c_str(), O_WRONLY | O_CLOEXEC));
        Mixer::MixerFactory::instance().reset_for_test();  // no unit known
        controller.send(test::command(Alternative::query), 1);
        controller.send(test::command(Alternative::ping), 2);
        controller.send(test::create_mixer_out(0, {1}), 3, 40);
        bool reportedFirst = false;
        EXPECT_TRUE(answers(3, &reportedFirst)[3]) << root;
        std::vector<unsigned> made;
        if (c.limitMs) {
            EXPECT_FALSE(reportedFirst) << root;
            EXPECT_NE("", counting_pid(c.root));  // it has started
            for (unsigned slot : {20, 21, 22}) {
                ASSERT_EQ(std::nullopt,
                          ask(test::rtp_create_command(far, test::free_udp_pair(), 5), slot));
                made.push_back(slot);
            }
            for (unsigned slot : {23, 24}) {
                ASSERT_EQ(
                    std::nullopt,
                    ask(test::create_mcc(LGCP::MccType::data, LGCP::MccMode::standard), slot));
                made.push_back(slot);
            }
            server.advance(c.limitMs);
        }
        auto report = signal(LGCP::Signal::Alternative::query);
        ASSERT_TRUE(report) << root;
        const LGCP::Resources& resources = *report->get_query();
        EXPECT_EQ(c.instances, resources.get_t38_instances().getValue()) << root;
        EXPECT_EQ(made.empty() ? 32 : 29, resources.get_rtp_g711().getValue()) << root;
        EXPECT_EQ(made.empty() ? 32 : 30, resources.get_mcc_data().getValue()) << root;
        for (unsigned slot : made)
            ASSERT_EQ(std::nullopt, ask(test::command(Alternative::destroy), slot));
        EXPECT_NE(std::string::npos, (progress.str() + errors.str()).find(c.line)) << c.line;
        if (c.killed) {
            const std::string reaped = "pid=" + counting_pid(c.root) + " status=9\n";
            EXPECT_TRUE(pump_until([&] { return progress.str().find(reaped) != std::string::npos; }));
        }
        // The row's children have gone before the next row writes its
        // program there: one forked while the row held the program open for
        // writing holds it so until it has gone, and no exec runs a program
        // open for writing.
        EXPECT_TRUE(pump_until([] { return test::child_processes().empty(); })) << root;
    }
    ::setenv("BOARD_ROOT", server.board().dir().c_str(), 1);
}

// A query while the program counts is answered at once and looks at the
// board again (a unit that came since takes a create at once); the program
// counts once, for both reports.
TEST_F(T38Soft, TwoQueriesDuringOneCountShareIt) {
    Mixer::MixerFactory::instance().reset_for_test();
    server.board().write_program(kT38, counts_when_let());
    controller.send(test::command(Alternative::query), 1);
    answers(1);
    ASSERT_TRUE(sim().model_as<board::sim::MixerModel>(board::mixer::kDevice)->add_unit(2));
    controller.send(test::command(Alternative::query), 2);
    controller.send(test::create_mixer_out(2, {1}), 3, 40);
    EXPECT_EQ((std::map<int, bool>{{2, true}, {3, true}}), answers(2));
    let_count();
    for (int report = 0; report < 2; ++report) {
        auto s = signal(LGCP::Signal::Alternative::query);
        ASSERT_TRUE(s);
        EXPECT_EQ(5, s->get_query()->get_t38_instances().getValue());
        EXPECT_EQ(3u, s->get_query()->get_mixer().size());
    }
    EXPECT_EQ(1u, test::count(server.board().read_file(kT38 + ".pids"), "\n"));
}

// The reports owed when the controller goes were asked by it alone: the
// next controller, connected while the program counts, hears one report,
// of its own query.
TEST_F(T38Soft, AReportOwedToAControllerGoneGoesToNoOther) {
    server.board().write_program(kT38, counts_when_let());
    controller.send(test::command(Alternative::query), 1);
    answers(1);
    Slots::instance()->UpdateHardwareResources();  // as SIGHUP does
    controller.close();
    test::TestController next(server);
    ASSERT_TRUE(pump_until([&] { return next.connect(); }));
    next.send(test::command(Alternative::query), 2);
    unsigned reports = 0;
    bool answered = false;
    EXPECT_TRUE(pump_until([&] {
        while (auto m = next.receive(1)) {
            answered |= test::is_response(*m);
            const LGCP::Signal* s = m->get_pdu().get_signal();
            reports += s && s->is_query();
        }
        if (answered) let_count();
        return answered && reports > 0;
    }));
    server.pump(5);
    while (auto m = next.receive(1)) {
        const LGCP::Signal* s = m->get_pdu().get_signal();
        reports += s && s->is_query();
    }
    EXPECT_EQ(1u, reports);
    EXPECT_EQ(1u, test::count(server.board().read_file(kT38 + ".pids"), "\n"));
}

// Lines that every query writes are said once a second, with the count of
// those held back.
TEST_F(T38Soft, LinesOfEachQueryAreWrittenOnceASecond) {
    progress.clear();
    for (int second = 0; second < 2; ++second) {
        for (int query = 0; query < 3; ++query) ASSERT_TRUE(resources());
        server.advance(1000);
    }
    for (const char* line : {"t38soft: t38 daemon not found!", "found point-o-point devices:"})
        EXPECT_TRUE(test::written_twice_with_a_count(progress.str(), line, 2));
}

}  // namespace
