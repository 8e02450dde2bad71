// The monitoring service in virtual time: a test controller connects to the
// in-process server, the checks run on their timers against the simulated
// board and its files.
#include <errno.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "board/drivers/hal.h"
#include "board/sim/hal_model.h"
#include "monitoring/monitoring_ctl.h"
#include "runtime/trace_ctl.h"
#include "tests/monitoring/monitoring_values.h"
#include "tests/support/fake_snmp_peer.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

namespace {

namespace fs = std::filesystem;
using Power = LGCP::POWERStatus::NamedNumber;

board::sim::HalModel& hal() {
    return *board::sim::Board::instance().model_as<board::sim::HalModel>(board::hal::kDevice);
}

bool is_power_signal(const LGCP::Message& m) {
    return test::is_signal(m) && m.get_pdu().get_signal()->is_power();
}

// Every power signal the controller has received.
std::vector<Power> power_signals(test::TestController& controller) {
    std::vector<Power> seen;
    while (auto m = controller.receive_until(is_power_signal, 5))
        seen.push_back(m->get_pdu().get_signal()->get_power()->getValue());
    return seen;
}

LGCP::Command display(const LGCP::DisplayParams& params) {
    LGCP::Command command;
    command.set_display(params);
    return command;
}

LGCP::DisplayParams framer(unsigned e1, bool line, bool value) {
    LGCP::DisplayParams p;
    LGCP::FramerInfo& info = p.select_framer();
    info.set_e1(e1);
    if (line)
        info.get_info().set_line(value);
    else
        info.get_info().set_link(value);
    return p;
}

class Monitoring : public ::testing::Test {
protected:
    void TearDown() override { traces.reset(); }

    MonitoringCtl& start() {
        monitoring = &server.add<MonitoringCtl>();
        return *monitoring;
    }
    std::string file(const std::string& name) const {
        return server.board().read_file("/var/monitoring/" + name);
    }
    bool exists(const std::string& name) const {
        return server.board().exists("/var/monitoring/" + name);
    }
    void write(const std::string& path, const std::string& text) {
        server.board().write_file(path, text);
    }
    std::string host(const std::string& name) const {
        return server.board().dir() + "/var/monitoring/" + name;
    }
    void answered_with_success(const LGCP::DisplayParams& params) {
        controller.send(display(params), 9);
        auto answer = controller.receive_until(test::is_response);
        ASSERT_TRUE(answer);
        EXPECT_TRUE(test::is_success(*answer));
    }

    test::StreamCapture notices{std::cout};
    test::StreamCapture errors{std::cerr};
    test::StreamCapture progress{std::clog};
    test::ServerHarness server;
    test::TestController controller{server};
    MonitoringCtl* monitoring = nullptr;
};

// Tests that run several servers one after the other.
struct Quiet {
    test::StreamCapture notices{std::cout};
    test::StreamCapture errors{std::cerr};
    test::StreamCapture progress{std::clog};
};

TEST(MonitoringConnect, TellsTheControllerThePowerStateTwiceOnlyWhenItChanged) {
    Quiet quiet;
    struct Case {
        uint8_t byte;
        bool checkedBefore;  // a power check ran before the connect
        std::vector<Power> signals;
    };
    const Case cases[] = {
        {2, true, {Power::main}},
        {2, false, {Power::main, Power::main}},
        {0, false, {Power::both, Power::both}},
        {3, true, {Power::both}},
        {1, false, {Power::standby, Power::standby}},
        {7, false, {Power::unknown}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.byte));
        test::ServerHarness harness;
        hal().power = c.byte;
        harness.add<MonitoringCtl>();
        if (c.checkedBefore) harness.advance(MonitoringCtl::powerPeriodMs);
        test::TestController client(harness);
        ASSERT_TRUE(client.connect());
        EXPECT_EQ(c.signals, power_signals(client));
    }
}

TEST_F(Monitoring, ReadsEachSourceOnItsSchedule) {
    hal().dip = 9;
    write("/var/version", "V1\n");
    write("/var/fpga-version", "F7");
    write("/proc/temperature", "41 C\n");
    write("/usr/local/etc/config.0000002a-00000000000000ff", "");
    write("/proc/driver/hdlc/peb22554/1", "Current state           : No Carrier\n");
    traces.monitoring = true;
    const MonitoringCtl& m = start();

    server.advance(MonitoringCtl::bkgFirstMs - 1);
    EXPECT_EQ("", m.data().buildVersion);
    server.advance(1);
    EXPECT_EQ("V1\n", m.data().buildVersion);
    EXPECT_EQ("F7", m.data().fpgaVersion);
    EXPECT_EQ("41", m.data().temperature);
    EXPECT_EQ("0000002a-00000000000000ff", file("config_version"));
    ASSERT_EQ(1u, m.data().framers.size());
    EXPECT_EQ("No Carrier", m.data().framers[0].statusText);
    EXPECT_EQ(fs::canonical(server.board().dir() + "/usr/local/etc"), fs::current_path());
    EXPECT_FALSE(exists("dip"));

    server.advance(MonitoringCtl::powerPeriodMs - MonitoringCtl::bkgFirstMs);
    EXPECT_EQ("9", file("dip"));
    EXPECT_EQ("2", file("powerstatus"));
    EXPECT_EQ(0, m.data().netIfs[1].up) << "eth0 sampled once: not yet up";

    server.advance(MonitoringCtl::controllerPeriodMs - MonitoringCtl::powerPeriodMs);
    EXPECT_EQ("5", file("controller/10.0.0.2/status")) << "no controller runs";
    EXPECT_EQ(1, m.data().netIfs[1].up) << "eth0 up after two samples";

    write("/var/version", "V2\n");
    server.advance(MonitoringCtl::bkgPeriodMs - 5000);
    EXPECT_EQ("V1\n", m.data().buildVersion);
    server.advance(1000);
    EXPECT_EQ("V2\n", m.data().buildVersion);

    const std::string trace = progress.str();
    for (const char* line : {"BuildVersion - V1\n\n", "FPGAVersion - F7\n", "Temperature - 41 C\n\n",
                             "New dip - 9\n", "New power status - main\n",
                             "New controller 10.0.0.2 status - notrun\n"})
        EXPECT_NE(std::string::npos, trace.find(line)) << line << "\n" << trace;
}

// Makes the configuration files of versions `lower` and `higher` in
// `folder`, their names given a common ending (after the version) that makes
// the folder list the higher one first or last, as asked.
::testing::AssertionResult config_files(const std::string& folder, const std::string& lower,
                                        const std::string& higher, bool higherFirst) {
    for (int ending = 0; ending < 64; ++ending) {
        const std::string low = folder + "config." + lower + "." + std::to_string(ending);
        const std::string high = folder + "config." + higher + "." + std::to_string(ending);
        for (const std::string& path :
             higherFirst ? std::vector{high, low} : std::vector{low, high})
            std::ofstream{path};
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string path = entry.path().string();
            if (path == high || path == low) {
                if ((path == high) == higherFirst) return ::testing::AssertionSuccess();
                break;
            }
        }
        fs::remove(low);
        fs::remove(high);
    }
    return ::testing::AssertionFailure() << "the folder keeps one order";
}

TEST_F(Monitoring, HoldsTheHighestConfigurationVersionOncePerPass) {
    const std::string folder = server.board().dir() + "/usr/local/etc/";
    for (const char* name : {"config.2save.tar.bz2.00000009-0000000000000000", "config.1"})
        write(std::string("/usr/local/etc/") + name, "");
    fs::create_directories(folder + "config.ffffffff-0000000000000000");
    MonitoringCtl& m = start();
    const auto published = [&] { return test::set_rows(*m.snmp().pending(2)); };
    struct Case {
        bool higherFirst;
        const char* lower;
        const char* higher;
        const char* held;
    };
    const Case cases[] = {
        {true, "00000001-0000000000000009", "00000002-0000000000000001", "2"},
        {false, "00000003-0000000000000009", "00000004-0000000000000001", "4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.higherFirst ? "the higher name listed first"
                                   : "the higher name listed last");
        ASSERT_TRUE(config_files(folder, c.lower, c.higher, c.higherFirst));
        m.doConfigCheck();
        EXPECT_EQ(c.higher, file("config_version"));
        EXPECT_EQ(std::vector<std::string>{std::string("gatewayConfigVersion[0]=") + c.held},
                  published())
            << "one publish for the pass, whatever the order of the names";
        server.pump();
        fs::remove(host("config_version"));
        m.doConfigCheck();
        EXPECT_FALSE(exists("config_version")) << "the same version again is no change";
        EXPECT_TRUE(published().empty());
    }
}

TEST(ConfigName, CarriesTwoHexadecimalNumbers) {
    struct Case {
        const char* name;
        bool taken;
        uint32_t first;
        uint64_t second;
    };
    const Case cases[] = {
        {"config.0000002a-00000000000000ff", true, 42, 255},
        {"config.0000002a-00000000000000ffjunk", true, 42, 255},
        {"config.0000002A_00000000000000FF", true, 42, 255},
        {"config.12abwxyz-1", true, 0x12ab, 1},
        {"config.wxyz", true, 0, 0},
        {"config.1", true, 1, 0},
        {"config.123456789", true, 0x12345678, 0},
        {"config.", true, 0, 0},
        {"config.2save.tar.bz2", false, 0, 0},
        {"config.2save.tar.bz2.old", false, 0, 0},
        {"server.conf", false, 0, 0},
        {"config", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto version = MonitoringCtl::ParseConfigName(c.name);
        ASSERT_EQ(c.taken, version.has_value());
        if (!version) continue;
        EXPECT_EQ(c.first, version->first);
        EXPECT_EQ(c.second, version->second);
    }
}

TEST_F(Monitoring, LightsTheFramerLedsAsLinesAndLinksReport) {
    ASSERT_TRUE(controller.connect());
    start();
    struct Step {
        unsigned e1;
        bool line;
        bool value;
        uint8_t leds;
    };
    const Step steps[] = {
        {2, true, true, 0x30},   // a line comes up: both LEDs
        {2, false, true, 0x20},  // its link is up
        {2, true, true, 0x20},   // a line already up stays as it is
        {0, false, false, 0x21}, // link 0 down
        {0, true, false, 0x20},  // line 0 down: both off
        {2, true, false, 0x00},
    };
    for (const Step& s : steps) {
        answered_with_success(framer(s.e1, s.line, s.value));
        EXPECT_EQ(s.leds, hal().leds);
    }
    EXPECT_EQ(0, hal().led_history.front()) << "all off when the device opens";
}

// The controller says what a line is once: LEDs the driver refuses are
// owed, the display answered success, and written again every second until
// the driver takes them, once or after refusals in a row.
TEST_F(Monitoring, FramerLedsTheDriverRefusedAreWrittenAtThePowerChecks) {
    ASSERT_TRUE(controller.connect());
    start();
    answered_with_success(framer(0, true, false));  // the device opens
    for (int refusals : {1, 3}) {
        SCOPED_TRACE(refusals);
        hal().led_history.clear();
        board::sim::Board::instance().fail_next(board::sim::Op::Ioctl, board::hal::kDevice, EIO,
                                                board::hal::kSetFramerLeds, refusals);
        answered_with_success(framer(2, true, refusals == 1));
        const uint8_t said = refusals == 1 ? 0x30 : 0x00;
        for (int check = 1; check < refusals; ++check) server.advance(Owed<>::kRetryMs);
        EXPECT_TRUE(monitoring->leds_owed());
        server.advance(Owed<>::kRetryMs);
        EXPECT_EQ(said, hal().leds);
        EXPECT_FALSE(monitoring->leds_owed());
        server.advance(2 * MonitoringCtl::powerPeriodMs);
        EXPECT_EQ(std::vector<uint8_t>{said}, hal().led_history);
    }
}

TEST_F(Monitoring, StoresEveryOtherDisplayInItsFile) {
    ASSERT_TRUE(controller.connect());
    start();
    LGCP::DisplayParams board, phone, channel, own, counter, sets, receivers;
    board.set_board(test::board_status(0, LGCP::ExtBoardStatus::ready, "1.2", LGCP::ExtBoardType::fxs));
    phone.set_emPhone(test::phone_status(1, "p", "c", "f"));
    channel.select_emPhone().select_phoneChannelStatus().set_phoneId(2);
    own.set_controller(test::controller("10.0.0.2", 0, HSP::ControllerStatus::active));
    counter.set_termCounter(test::counter(LGCP::TermCounterOwner::router, {}, 17));
    sets.set_snmp_set(test::set_commands({test::set_by_name(1, "gw", "mode", 0, "on")}));
    receivers.select_snmpTrapReceivers().append() = "10.0.0.1";
    for (const LGCP::DisplayParams* p : {&board, &phone, &channel, &own, &counter, &sets, &receivers})
        answered_with_success(*p);
    EXPECT_EQ("3\n1.2\n2\n", file("board0"));
    EXPECT_EQ("p\nc\nf\n2\n2\n1\n1\n2\n", file("emphone1"));
    EXPECT_FALSE(exists("emphone2"));
    EXPECT_EQ("2", file("controller/10.0.0.2/status"));
    EXPECT_EQ("17", file("term_cnts/router"));
    EXPECT_EQ("on", file("gw/0/mode"));
    EXPECT_EQ(1u, monitoring->data().trapReceivers.size());
}

// Every status file is first written under one hidden name of its folder: a
// set-command display that takes it as a section or a name is refused whole
// and changes nothing; names that only look like it are written.
TEST_F(Monitoring, RefusesASetCommandNamedAsTheWriteNameOfTheStatusFiles) {
    ASSERT_TRUE(controller.connect());
    start();
    using test::set_by_name;
    const struct {
        std::vector<MON::SnmpSetCommand> commands;
        bool refused;
        const char* file;  // written when it is not
    } rows[] = {
        {{set_by_name(1, ".monitoring.new", "mode", 0, "a")}, true, nullptr},
        {{set_by_name(2, "gw", ".monitoring.new", 0, "b")}, true, nullptr},
        {{set_by_name(3, "gw", "mode", 0, "c"), set_by_name(4, "gw", ".monitoring.new", 1, "d")},
         true, nullptr},
        {{set_by_name(5, "monitoring.new", "mode", 0, "e")}, false, "monitoring.new/0/mode"},
        {{set_by_name(6, "gw", ".monitoring.new2", 0, "f")}, false, "gw/0/.monitoring.new2"},
        {{set_by_name(7, ".monitoring", "new", 0, "g")}, false, ".monitoring/0/new"},
        {{test::set_by_oid(8, ".monitoring.new", "h")}, false, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.commands.front().get_uniq().getValue());
        const size_t held = monitoring->data().snmpCommands.get_commands().size();
        LGCP::DisplayParams sets;
        sets.set_snmp_set(test::set_commands(row.commands));
        controller.send(display(sets), 9);
        auto answer = controller.receive_until(test::is_response);
        ASSERT_TRUE(answer);
        if (row.refused) {
            EXPECT_EQ(LGCP::ErrorCause::invalidParams, test::error_of(*answer));
            EXPECT_EQ(held, monitoring->data().snmpCommands.get_commands().size());
        } else {
            EXPECT_TRUE(test::is_success(*answer));
            EXPECT_EQ(held + 1, monitoring->data().snmpCommands.get_commands().size());
        }
        if (row.file) {
            EXPECT_EQ(std::string(row.commands.front().get_value()), file(row.file));
        }
    }
    EXPECT_FALSE(exists(".monitoring.new"));
    EXPECT_FALSE(exists("gw/0/mode"));
    EXPECT_FALSE(exists("gw/1"));

    // The files directly under the folder are still written and their rows held.
    LGCP::DisplayParams board;
    board.set_board(test::board_status(0, LGCP::ExtBoardStatus::ready, "1.2", LGCP::ExtBoardType::fxs));
    answered_with_success(board);
    EXPECT_EQ("3\n1.2\n2\n", file("board0"));
    EXPECT_EQ(1u, monitoring->data().boards.size());
}

TEST(MonitoringConnect, AfterADisconnectTheOwnControllerIsNotConnectedOrNotRunning) {
    Quiet quiet;
    for (bool running : {true, false}) {
        SCOPED_TRACE(running);
        test::ServerHarness harness;
        if (running) harness.board().write_file("/proc/412/stat", "412 (controller) S 1 412");
        harness.board().write_file("/proc/77/stat", "77 (controllerd) S 1 77");
        const MonitoringCtl& m = harness.add<MonitoringCtl>();
        test::TestController client(harness);
        ASSERT_TRUE(client.connect());
        harness.pump(3);
        EXPECT_EQ("0", harness.board().read_file("/var/monitoring/controller/10.0.0.2/status"))
            << "connected: the status last told";
        LGCP::DisplayParams board;
        board.set_board(test::board_status(4, LGCP::ExtBoardStatus::ready, "v", LGCP::ExtBoardType::e0));
        client.send(display(board));
        client.receive_until(test::is_response);
        client.close();
        harness.pump(5);
        EXPECT_EQ(running ? "4" : "5",
                  harness.board().read_file("/var/monitoring/controller/10.0.0.2/status"));
        EXPECT_EQ(running ? 412 : -1, m.data().controllerPid);
        EXPECT_FALSE(harness.board().exists("/var/monitoring/board4"));
        EXPECT_TRUE(harness.board().exists("/var/monitoring/controller/self"));
    }
}

TEST_F(Monitoring, WithoutTheDeviceSkipsItsChecksSilentlyAndTriesAgain) {
    traces.monitoring = true;
    hal().absent = true;
    start();
    server.advance(MonitoringCtl::powerPeriodMs);
    EXPECT_FALSE(exists("dip"));
    EXPECT_FALSE(exists("powerstatus"));
    ASSERT_TRUE(controller.connect());
    EXPECT_EQ(std::vector<Power>{Power::unknown}, power_signals(controller));
    answered_with_success(framer(1, true, true));

    hal().absent = false;
    board::sim::Board::instance().fail_next(board::sim::Op::Ioctl, board::hal::kDevice, EIO,
                                            board::hal::kGetDip);
    server.advance(MonitoringCtl::powerPeriodMs);
    EXPECT_FALSE(exists("dip")) << "a failed request skips its check";
    EXPECT_EQ("2", file("powerstatus"));
    server.advance(MonitoringCtl::powerPeriodMs);
    EXPECT_EQ("0", file("dip"));
    EXPECT_EQ("", errors.str());
    EXPECT_EQ(std::string::npos, progress.str().find("Error")) << progress.str();
}

TEST_F(Monitoring, TracesFramerFilesThatCannotBeRead) {
    write("/proc/driver/hdlc/peb22554/0", "");
    write("/proc/driver/hdlc/peb22554/3", "");
    traces.monitoring = true;
    start();
    fs::remove(server.board().dir() + "/proc/driver/hdlc/peb22554/3");
    server.advance(MonitoringCtl::bkgFirstMs);
    EXPECT_NE(std::string::npos,
              progress.str().find("Error read file: \"/proc/driver/hdlc/peb22554/0\" errno=\"Success\"\n"));
    EXPECT_NE(std::string::npos,
              progress.str().find("Error open file: \"/proc/driver/hdlc/peb22554/3\" "
                                  "errno=\"No such file or directory\"\n"));
}

TEST(MonitoringLifetime, EndsWithTheLedsOffAndAnEmptyTree) {
    test::BoardRoot board;
    test::VirtualLoop loop;
    test::StreamCapture progress{std::clog};
    {
        MonitoringCtl monitoring;
        hal().absent = true;  // the LEDs wait for the device
        EXPECT_EQ(0, monitoring.setFramerLed(*framer(3, true, true).get_framer()));
        hal().absent = false;
        loop.advance(MonitoringCtl::powerPeriodMs);
        EXPECT_EQ(std::vector<uint8_t>{0xc0}, hal().led_history);
        monitoring.doDipCheck();
        EXPECT_TRUE(board.exists("/var/monitoring/dip"));
    }
    EXPECT_EQ(0, hal().leds);
    EXPECT_TRUE(board::sim::Board::instance().channels(board::hal::kDevice).empty());
    EXPECT_FALSE(board.exists("/var/monitoring/dip"));
}

}  // namespace
