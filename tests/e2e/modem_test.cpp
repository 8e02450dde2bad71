// Modem and software T.38 slots in the server executable: the simulated
// board's modems are reported, connected modems run the stand-in pppd,
// which inherits nothing of the server but its standard streams, a digital
// call runs it on an HDLC interface, the dial-in authentication program
// reaches the controller, and a T.38 slot runs the stand-in t38.

#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <set>

#include "tests/e2e/server_binary.h"
#include "tests/support/case_name.h"
#include "tests/support/deadline.h"
#include "tests/support/descriptors.h"
#include "tests/support/remote_controller.h"
#include "tests/support/signalling_commands.h"
#include "tests/support/slot_commands.h"
#include "tests/support/stand_ins.h"
#include "tests/support/test_controller.h"

namespace {

using Alternative = LGCP::Command::Alternative;

bool signal_of(const LGCP::Message& m, bool (LGCP::Signal::*is)() const) {
    const LGCP::Signal* s = m.get_pdu().get_signal();
    return s && (s->*is)();
}

LGCP::Command create_modem(bool fax) {
    LGCP::Command command;
    TERM::ModemParams& modem = command.select_create().select_modem();
    modem.set_cid("");
    if (fax) modem.include_fax();
    return command;
}

LGCP::Command create_t38() {
    LGCP::Command command;
    LGCP::T38Soft& t38 = command.select_create().select_t38soft();
    t38.get_dhost().set_iaddr("10.0.0.5");
    t38.get_dhost().set_port(4000);
    t38.get_shost().set_port(5000);
    t38.set_rx_packet_size(160);
    return command;
}

class ModemServer : public test::RunningServer {
protected:
    void SetUp() override {
        ::setenv("BOARD_AUTH_PORT", std::to_string(authPort).c_str(), 1);
        board.write_program("/usr/local/sbin/pppd", test::stand_in::obeys_hup());
        start();
        ASSERT_TRUE(controller.connect(port)) << server->output();
    }
    void TearDown() override {
        if (server) stop();
    }
    bool answered(const LGCP::Command& command, unsigned slot) {
        controller.send(command, 1, slot);
        auto reply = controller.receive_until(test::is_response);
        return reply && test::is_success(*reply);
    }
    // The resources report of a `query`.
    std::optional<LGCP::Resources> query() {
        controller.send(test::command(Alternative::query), 3);
        auto report = controller.receive_until(
            [](const LGCP::Message& m) { return signal_of(m, &LGCP::Signal::is_query); });
        if (!report) return std::nullopt;
        return *report->get_pdu().get_signal()->get_query();
    }
    // The resources report of a `query` once the t38 program has counted:
    // a count slower than the server waits for it (on a busy machine) is
    // reported as the count known before, and asked for again.
    std::optional<LGCP::Resources> counted() {
        for (int asked = 0; asked < 5; ++asked) {
            const size_t seen = server->err().size();
            auto resources = query();
            server->take_output();  // written before the report was sent
            if (!resources || server->err().find("t38: no count within", seen) == std::string::npos)
                return resources;
        }
        return std::nullopt;
    }
    // What a stand-in recorded in `boardPath` (empty when nothing came).
    std::string record(const std::string& boardPath) const {
        std::string text;
        for (test::Deadline d(10000); (text = board.read_file(boardPath)).empty() && !d.passed();)
            ::usleep(1000);
        return text;
    }
    // The pid of the t38 program started first, once it has started.
    std::string t38_pid() {
        if (!server->wait_for_output("successfully started")) return "";
        const std::string& log = server->err();
        const size_t at = log.find("t38 daemon[") + 11;
        return log.substr(at, log.find(']', at) - at);
    }
    // The pids in the "pppd executed" lines so far.
    std::vector<pid_t> pppd_pids() const {
        std::vector<pid_t> pids;
        const std::string& log = server->err();
        for (size_t at = 0; (at = log.find("pppd executed", at)) != std::string::npos; ++at)
            pids.push_back(std::atoi(log.c_str() + log.find(" pid=", at) + 5));
        return pids;
    }

    const unsigned short authPort = test::free_port();
    test::RemoteController controller;
};

TEST_F(ModemServer, ReportsItsModemsRunsPppdAndHearsTheProgram) {
    auto resources = query();
    ASSERT_TRUE(resources) << server->output();
    EXPECT_EQ(4, resources->get_modem().getValue());

    LGCP::Command create;
    create.select_create().select_modem().set_cid("");
    ASSERT_TRUE(answered(create, 1) && answered(create, 2)) << server->output();
    LGCP::Command connect;
    connect.set_connect(2);
    ASSERT_TRUE(answered(connect, 1)) << server->output();

    // The switch is set after both modems started pppd.
    ASSERT_TRUE(server->wait_for_output("mux: slot 01:dsp-modem")) << server->output();
    const std::vector<pid_t> pids = pppd_pids();
    ASSERT_EQ(2u, pids.size()) << server->output();

    // A socket or pipe that pppd shares with the server, not inherited from
    // this test, is a server descriptor that leaked across the exec.
    const auto ours = test::channels_of(::getpid());
    std::set<std::string> foreign;
    for (const auto& [fd, target] : ours) foreign.insert(target);
    std::set<std::string> servers;
    for (const auto& [fd, target] : test::channels_of(server->pid()))
        if (!foreign.count(target)) servers.insert(target);
    for (pid_t pid : pids) {
        record("/usr/local/sbin/pppd." + std::to_string(pid));
        for (const auto& [fd, target] : test::channels_of(pid))
            EXPECT_TRUE(fd <= 2 || !servers.count(target)) << "pppd " << pid << " holds " << target;
    }

    Fd program = test::connect_loopback_now(authPort);
    ASSERT_TRUE(program);
    ASSERT_TRUE(test::write_bytes(program.get(), test::login(0, "user", "pw")));
    auto login = controller.receive_until(
        [](const LGCP::Message& m) { return signal_of(m, &LGCP::Signal::is_modemProceeding); });
    ASSERT_TRUE(login) << server->output();
    EXPECT_EQ(1u, test::slot_of(*login));
    EXPECT_EQ("user", login->get_pdu().get_signal()->get_modemProceeding()->get_auth()->get_username());

    // Each destroy is answered when its pppd has ended on SIGHUP.
    EXPECT_TRUE(answered(test::command(Alternative::destroy), 1)) << server->output();
    EXPECT_TRUE(answered(test::command(Alternative::destroy), 2)) << server->output();
}

// Beside a QSIG link: the board's drivers give their channels distinct
// numbers, so neither slot's switch requests are refused.
TEST_F(ModemServer, ADigitalCallRunsPppdOnTheFirstHdlcInterface) {
    auto resources = query();
    ASSERT_TRUE(resources) << server->output();
    EXPECT_EQ(2, resources->get_digital_modems().getValue());
    ASSERT_TRUE(answered(test::create_qsig(test::Side::user), 5)) << server->output();

    LGCP::Command create;
    create.select_create().select_modem().include_ddm().push_back(TERM::DigitalDataModeEnum::ddmV110);
    ASSERT_TRUE(answered(create, 1) && answered(test::create_trunk(0, 1), 2)) << server->output();
    LGCP::Command connect;
    connect.set_connect(1);
    ASSERT_TRUE(answered(connect, 2)) << server->output();
    ASSERT_TRUE(server->wait_for_output("01:digital-modem: pppd executed")) << server->output();
    const std::vector<pid_t> pids = pppd_pids();
    ASSERT_EQ(1u, pids.size());
    EXPECT_NE(std::string::npos, record("/usr/local/sbin/pppd." + std::to_string(pids[0]))
                                     .find("/usr/local/etc/ppp/ioptions\nhdlc0\n"));
    EXPECT_TRUE(answered(test::command(Alternative::destroy), 1)) << server->output();
    EXPECT_TRUE(answered(test::command(Alternative::destroy), 5)) << server->output();
    ASSERT_TRUE(server->wait_for_output("01:digital-modem: sent HUP to pppd.")) << server->output();
    EXPECT_EQ(std::string::npos, server->output().find("holds: refused")) << server->output();
}

TEST_F(ModemServer, AT38SlotRunsTheProgramUntilItsDestroy) {
    board.write_program("/usr/local/sbin/t38", test::stand_in::t38(test::stand_in::runs(), "6"));
    auto resources = counted();
    ASSERT_TRUE(resources) << server->output();
    EXPECT_EQ(6, resources->get_t38_instances().getValue());

    LGCP::Command create = create_t38();
    create.get_create()->get_t38soft()->get_args().push_back(ASN1::IA5String("--verbose"));
    ASSERT_TRUE(answered(create, 3)) << server->output();
    const std::string pid = t38_pid();
    ASSERT_NE("", pid) << server->output();
    EXPECT_NE(std::string::npos, record("/usr/local/sbin/t38." + pid)
                                     .find("\n--child\n--remote\n10.0.0.5/4000/5000\n--verbose\n"));

    EXPECT_TRUE(answered(test::command(Alternative::destroy), 3)) << server->output();
    EXPECT_TRUE(server->wait_for_output("terminate child process, pid=" + pid + " status=15"))
        << server->output();
}

// A program on the channel of slot 1 (wired to trunk slot 2), then the
// next call of its kind on slot 3 (wired to trunk slot 4). A fax program
// still uses its modem: the data call gets another channel. An ended T.38
// program has freed its channel, which the next T.38 slot gets. Either way
// the destroy of slot 1 switches nothing on the channel slot 3 announced.
struct NextCallCase {
    const char* what;
    const char* name;     // of the slot kind
    std::string program;  // the first slot's; the second's when of its kind
    std::string script;
    LGCP::Command create;
    bool ends;  // the first program is ended (by a hang-up)
    bool sameChannel;
    LGCP::Command next;
};

const NextCallCase kNextCalls[] = {
    {"data call beside a fax", "dsp-modem", "/usr/local/bin/fax", test::stand_in::obeys_hup(),
     create_modem(true), false, false, create_modem(false)},
    {"t38 after a t38 that ended", "t38 soft", "/usr/local/sbin/t38",
     test::stand_in::t38(test::stand_in::runs()), create_t38(), true, true, create_t38()},
};

class NextCallServer : public ModemServer, public ::testing::WithParamInterface<NextCallCase> {
protected:
    // Slot `number` fed by and feeding a trunk slot at `number` + 1; the
    // channel the slot announced.
    int wired(const LGCP::Command& create, unsigned number) {
        if (!ask(create, number) || !ask(test::create_trunk(0, number), number + 1)) return -1;
        LGCP::Command connect;
        connect.set_connect(number);
        if (!ask(connect, number + 1)) return -1;
        connect.set_connect(number + 1);
        if (!ask(connect, number)) return -1;
        auto announced = wait([&](const LGCP::Message& m) {
            return signal_of(m, &LGCP::Signal::is_transmitter) && test::slot_of(m) == number;
        });
        return announced
                   ? announced->get_pdu().get_signal()->get_transmitter()->get_active()->getValue()
                   : -1;
    }
    // The answer to a command; the signals before it are kept for wait().
    bool ask(const LGCP::Command& command, unsigned slot) {
        controller.send(command, 1, slot);
        auto reply = controller.receive_until([&](const LGCP::Message& m) {
            if (!test::is_response(m)) kept.push_back(m);
            return test::is_response(m);
        });
        return reply && test::is_success(*reply);
    }
    // The first message kept or still to come that `wanted` takes.
    std::optional<LGCP::Message> wait(const std::function<bool(const LGCP::Message&)>& wanted) {
        for (const LGCP::Message& m : kept)
            if (wanted(m)) return m;
        return controller.receive_until(wanted);
    }

    std::vector<LGCP::Message> kept;
};

TEST_P(NextCallServer, TheFirstSlotsDestroyLeavesTheChannelOfTheNextAlone) {
    const NextCallCase& c = GetParam();
    board.write_program(c.program, c.script);
    const int first = wired(c.create, 1);
    ASSERT_NE(-1, first) << server->output();
    if (c.ends) {
        const std::string pid = t38_pid();
        ASSERT_NE("", pid) << server->output();
        // Once it has recorded its arguments the stand-in has no child of
        // its own left that could keep the channel open after it ends.
        ASSERT_NE("", record(c.program + "." + pid));
        ::kill(std::stoi(pid), SIGHUP);
        ASSERT_TRUE(wait([](const LGCP::Message& m) {
            return signal_of(m, &LGCP::Signal::is_abort);
        })) << server->output();
    }
    const int next = wired(c.next, 3);
    ASSERT_NE(-1, next) << server->output();
    EXPECT_EQ(c.sameChannel, first == next);
    // All that came before slot 3's last path has been read.
    ASSERT_TRUE(server->wait_for_output(std::string("mux: slot 03:") + c.name + " [" +
                                        std::to_string(next) + "] -> 04:trunk"))
        << server->output();

    const size_t outSeen = server->out().size(), errSeen = server->err().size();
    EXPECT_TRUE(answered(test::command(Alternative::destroy), 1)) << server->output();
    EXPECT_TRUE(answered(test::command(Alternative::destroy), 3)) << server->output();
    stop();
    const std::string since = server->out().substr(outSeen) + server->err().substr(errSeen);
    const std::string slot1 = std::string("01:") + c.name + " [";
    EXPECT_EQ(std::string::npos, since.find(slot1 + std::to_string(next) + "]")) << since;
    EXPECT_EQ(std::string::npos, since.find("refused")) << since;
    server.reset();
}

INSTANTIATE_TEST_SUITE_P(Programs, NextCallServer, ::testing::ValuesIn(kNextCalls),
                         test::CaseName());

}  // namespace
