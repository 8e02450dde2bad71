// pppd as the modem slot's child: its command line, its end reported to the
// controller, and the stop before the slot goes, also for the other child
// programs when the stop comes before their exec. The stand-ins are real
// processes: waits for them are bounded in real time, and virtual time
// passes only where a test moves it.
#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/ipc_signal.h"
#include "slots/t38soft_factory.h"
#include "tests/slots/modem_fixture.h"

namespace {

using namespace test::stand_in;

// While it lives, this process catches the signals that stop the children
// as the server does: a child that kept the handlers would not stop.
class CaughtAsByTheServer {
public:
    CaughtAsByTheServer() {
        for (int sig : kStops) IPC::Signal::handle(sig, &Caught, 0);
    }
    ~CaughtAsByTheServer() {
        for (int sig : kStops) IPC::Signal::system(sig);
    }

private:
    static constexpr int kStops[] = {SIGTERM, SIGHUP};
    static void Caught(int) {}
};

// The files in `dir` whose names begin with `prefix`.
size_t files(const std::string& dir, const std::string& prefix) {
    size_t n = 0;
    std::error_code ec;
    for (const auto& file : std::filesystem::directory_iterator(dir, ec))
        n += file.path().filename().string().rfind(prefix, 0) == 0;
    return n;
}

class Pppd : public test::ModemTest {
protected:
    const std::string kPppd = "/usr/local/sbin/pppd";

    void install(const std::string& script, const std::string& path = "/usr/local/sbin/pppd") {
        server.board().write_program(path, script);
    }
    // The modem slot's pppd has started and recorded its arguments.
    void started(unsigned number) { argv_of(kPppd, modem_at(number)->pid()); }
    std::optional<LGCP::Message> destroy_answer(unsigned number, unsigned passes) {
        controller.send(test::command(Alternative::destroy), 9, number);
        return controller.receive_until(test::is_response, passes);
    }
};

TEST_F(Pppd, CommandLines) {
    install(obeys_hup());
    install(obeys_hup(), "/usr/local/sbin/ppp2");
    TERM::ModemParams originate = params("5551234");
    originate.include_originate();
    TERM::ModemParams given = params("123");
    given.set_execfile("/usr/local/sbin/ppp2");
    std::vector<std::string> texts;
    for (int i = 0; i < 70; ++i) given.include_execargs().push_back(ASN1::IA5String("a" + std::to_string(i)));
    for (int i = 0; i < 62; ++i) texts.push_back("a" + std::to_string(i));

    struct Case {
        TERM::ModemParams params;
        std::string program;
        std::vector<std::string> args;
    } cases[] = {
        {params(), kPppd, {"file", host("/usr/local/etc/ppp/aoptions"), "/dev/mdm0"}},
        {originate, kPppd,
         {"file", host("/usr/local/etc/ppp/coptions"), "/dev/mdm1", "remotenumber", "5551234"}},
        {given, "/usr/local/sbin/ppp2", texts},
    };
    unsigned number = 10;
    for (const Case& c : cases) {
        create_connected(number, c.params);
        std::vector<std::string> expected{host(c.program)};
        expected.insert(expected.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(expected, argv_of(c.program, modem_at(number)->pid())) << number;
        ++number;
    }
    EXPECT_NE(std::string::npos, progress.str().find("11:dsp-modem: pppd executed cid=\"5551234\" pid="));
}

// The modem goes back with the slot, out of the switch with its paths, also
// those whose release the driver refused.
TEST_F(Pppd, DestroyIsAnsweredWhenTheChildEndsOnHup) {
    install(obeys_hup());
    create_connected(5, params());
    connect(5, 105);
    started(5);
    const uint32_t before = Mux::milliseconds();

    sim().fail_next(board::sim::Op::Ioctl, board::hal::kDevice, EIO, board::hal::kMuxWriteByte, 2);
    controller.send(test::command(Alternative::destroy), 9, 5);
    std::optional<LGCP::Message> reply;
    EXPECT_TRUE(pump_until([&] { return bool(reply = controller.receive_until(test::is_response, 1)); }));
    EXPECT_TRUE(reply && test::is_success(*reply));
    EXPECT_EQ(before, Mux::milliseconds());
    EXPECT_NE(std::string::npos, errors.str().find("05:dsp-modem: sent HUP to pppd."));
    EXPECT_NE(std::string::npos, progress.str().find("pppd terminated with code 1"));
    expect_sound();
}

// Once killed, the child is forgotten: it is reaped with no one waiting, and
// neither a second kill nor a second answer follows.
TEST_F(Pppd, AChildIgnoringHupIsKilledAfterFiveSecondsAndTheDestroyAnsweredOnce) {
    install(ignores_hup());
    create_connected(5, params());
    const int pid = modem_at(5)->pid();
    started(5);

    EXPECT_FALSE(destroy_answer(5, 2));
    server.advance(4999);
    EXPECT_FALSE(controller.receive_until(test::is_response, 2));
    server.advance(1);
    auto reply = controller.receive_until(test::is_response, 2);
    EXPECT_TRUE(reply && test::is_success(*reply));
    const std::string reaped = "terminate child process, pid=" + std::to_string(pid) + " status=9";
    EXPECT_TRUE(pump_until([&] { return progress.str().find(reaped) != std::string::npos; }));
    EXPECT_FALSE(controller.receive_until(test::is_response, 3));
    const std::string log = errors.str();
    EXPECT_NE(std::string::npos, log.find("pppd terminate timeout!"));
    EXPECT_EQ(log.find("pppd isn't terminated, killing ..."), log.rfind("pppd isn't terminated"));
}

TEST_F(Pppd, AChildThatEndsAloneAbortsWithItsRawStatus) {
    install(exits(1));
    create_connected(5, params());
    EXPECT_EQ(256, abort_signal());
    TERM::ModemParams missing = params();
    missing.set_execfile("/usr/local/sbin/nothing-here");
    create_connected(6, missing);
    EXPECT_EQ(512, abort_signal());
}

// The controller leaves while pppd ignores SIGHUP: the registry drops the
// slot, which must leave the factory's lists before it is deleted.
TEST_F(Pppd, ASlotDroppedWhileItsChildStopsIsNoLongerASession) {
    install(ignores_hup());
    create_connected(5, params());
    started(5);
    Fd program = auth_connect();
    controller.close();
    EXPECT_TRUE(pump_until([] { return Slots::instance()->live().empty(); }));
    EXPECT_TRUE(modems.modemSlots().empty());

    ASSERT_TRUE(test::write_bytes(program.get(), test::login(0, "user", "pw")));
    EXPECT_TRUE(pump_until([&] {
        return errors.str().find("receive auth request for unknown session 0") != std::string::npos;
    }));
}

// Create and destroy sent back to back: the stop reaches each child before
// its exec, or in the fax receiver's pause, and the child ends at once all
// the same; each destroy is answered with virtual time standing still.
TEST_F(Pppd, ADestroyBeforeTheExecStopsTheChild) {
    const CaughtAsByTheServer handlers;
    T38SoftFactory::instance();
    install(obeys_hup());
    install(fax_receiver(1), "/usr/local/bin/fax");
    install(t38(runs()), kT38);
    TERM::ModemParams receiver = params();
    receiver.include_fax();
    using Commands = std::vector<std::pair<LGCP::Command, unsigned>>;
    const LGCP::Command destroy = test::command(Alternative::destroy);
    // A modem slot at 5 fed by a scripted slot: its first stream request starts the child.
    auto call = [&](const TERM::ModemParams& p) {
        return Commands{{create_modem(p), 5}, {test::create_command(0), 105},
                        {test::connect_command(5), 105}, {destroy, 5}, {destroy, 105}};
    };
    struct Case {
        const char* what;
        Commands commands;
    } cases[] = {
        {"t38", {{create_t38(), 5}, {destroy, 5}}},
        {"fax receiver", call(receiver)},
        {"pppd", call(params())},
    };
    const unsigned transparent = channels().free_channels(board::mcc::kTransparent);
    const uint32_t before = Mux::milliseconds();
    for (const Case& c : cases) {
        for (int round = 0; round < 50; ++round) {
            for (const auto& [command, slot] : c.commands) controller.send(command, 1, slot);
            size_t answers = 0;
            ASSERT_TRUE(pump_until([&] {
                while (auto m = controller.receive(1)) {
                    if (!test::is_response(*m)) continue;
                    EXPECT_TRUE(test::is_success(*m)) << c.what;
                    ++answers;
                }
                return answers == c.commands.size();
            })) << c.what << ", round " << round;
        }
        EXPECT_TRUE(pump_until([] { return test::child_processes().empty(); })) << c.what;
        EXPECT_EQ(transparent, channels().free_channels(board::mcc::kTransparent)) << c.what;
        EXPECT_EQ(0, mctl().held()) << c.what;
    }
    EXPECT_EQ(before, Mux::milliseconds());
    // The fax receiver never started: it neither recorded its start nor wrote a fax.
    EXPECT_EQ(0u, files(host("/usr/local/bin"), "fax."));
    EXPECT_EQ(0u, files(host("/var"), "fax-"));
}

}  // namespace
