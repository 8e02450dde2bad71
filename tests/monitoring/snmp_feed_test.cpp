// The SNMP feed: item values gathered into the two batches and flushed to
// every agent, the publishers' value texts, and the full re-send an agent's
// connection brings. Agents are fake peers on loopback; time is virtual.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "board/drivers/hal.h"
#include "board/sim/hal_model.h"
#include "monitoring/monitoring_ctl.h"
#include "runtime/fd.h"
#include "tests/monitoring/monitoring_values.h"
#include "tests/support/fake_snmp_peer.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

namespace {

using Rows = std::vector<std::string>;
using test::FakeSnmpPeer;
using test::pump_until;

board::sim::HalModel& hal() {
    return *board::sim::Board::instance().model_as<board::sim::HalModel>(board::hal::kDevice);
}

Rows batch(const SnmpAgentCtrl& feed, int key) { return test::set_rows(*feed.pending(key)); }

struct Quiet {
    test::StreamCapture notices{std::cout};
    test::StreamCapture errors{std::cerr};
    test::StreamCapture progress{std::clog};
};

// ---- The feed alone

class Feed : public ::testing::Test {
protected:
    void configure(const std::string& text) {
        std::istringstream in(text);
        in >> file;
        feed.CreateInstances(file["snmpagent"]);
    }
    void connect_both() {
        configure(a.section("zemb") + b.section("varkgw"));
        ASSERT_TRUE(pump_until(loop, {&a, &b}, [&] { return a.connected() && b.connected(); }));
        loop.pump(2);
    }
    bool received(size_t count) {
        return pump_until(loop, {&a, &b}, [&] {
            return a.messages().size() >= count && b.messages().size() >= count;
        });
    }

    Quiet quiet;
    test::BoardRoot board;
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    FakeSnmpPeer a, b;
    IniFile::File file;
    SnmpAgentCtrl feed;
};

TEST_F(Feed, GathersOnePassIntoOneMessagePerBatchForEveryAgent) {
    connect_both();
    feed.Send(SnmpAgentCtrl::powerStatus, "2");
    feed.Send(SnmpAgentCtrl::gatewayDip, "9");
    ASSERT_TRUE(received(2));
    loop.pump(3);
    for (FakeSnmpPeer* peer : {&a, &b}) {
        ASSERT_EQ(2u, peer->messages().size()) << "the batches went once, to every kind of agent";
        const Rows rows = {"powerStatus[0]=2", "gatewayDip[0]=9"};
        EXPECT_EQ(rows, test::set_rows(peer->messages()[0]));
        EXPECT_EQ(rows, test::set_rows(peer->messages()[1]));
        EXPECT_EQ((std::vector<int>{1, 3}), test::set_uniqs(peer->messages()[0]));
        EXPECT_EQ((std::vector<int>{2, 4}), test::set_uniqs(peer->messages()[1]));
    }
}

TEST_F(Feed, PutsEachItemInTheBatchesOfItsMask) {
    connect_both();
    for (auto item : {SnmpAgentCtrl::temperature, SnmpAgentCtrl::sgBuildVersion,
                      SnmpAgentCtrl::sgFPGAVersion, SnmpAgentCtrl::sgBootVersion,
                      SnmpAgentCtrl::sgBoardVersion, SnmpAgentCtrl::powerStatus})
        feed.Send(item, 7, "v");
    feed.Send(SnmpAgentCtrl::MonitoringItemType(SnmpAgentCtrl::itemCount), "no such item");
    ASSERT_TRUE(received(2));
    EXPECT_EQ((Rows{"temperature[7]=v", "powerStatus[7]=v"}), test::set_rows(a.messages()[0]));
    EXPECT_EQ((Rows{"sgBuildVersion[7]=v", "sgFPGAVersion[7]=v", "sgBootVersion[7]=v",
                    "sgBoardVersion[7]=v", "powerStatus[7]=v"}),
              test::set_rows(a.messages()[1]));
}

TEST_F(Feed, SendsTrapSinksAndSetListsAtOnceAndNothingForEmptyOnes) {
    connect_both();
    feed.SendTrapsink({});
    feed.Send(MON::SnmpSetCommands());
    loop.advance(SnmpAgentInstance::ping_ms);
    a.poll();
    EXPECT_TRUE(a.messages().empty()) << "nothing sent, so not even a ping";

    feed.SendTrapsink({"10.0.0.1", "10.0.0.9:162"});
    feed.Send(test::set_commands({test::set_by_oid(77, "1.3.6.1.2.1.1.6.0", "here")}));
    feed.Send(SnmpAgentCtrl::powerStatus, "2");
    ASSERT_TRUE(received(3));
    EXPECT_EQ((Rows{"10.0.0.1", "10.0.0.9:162"}), test::trapsink_hosts(a.messages()[0]));
    EXPECT_FALSE(test::command_of(a.messages()[0])->get_snmp_trapsink_set()->get_trapsinks()[0].has_port());
    EXPECT_EQ(std::vector<int>{77}, test::set_uniqs(a.messages()[1]));
    EXPECT_EQ(std::vector<int>{1}, test::set_uniqs(a.messages()[2])) << "the caller's uniq is not counted";
}

// A strict agent refuses a whole message for one IA5 octet above 127 (up to
// 128 set-commands lost); such an octet goes out as \xHH.
TEST_F(Feed, WritesOctetsAbove127SoThatAStrictAgentTakesEveryMessage) {
    connect_both();
    feed.Send(SnmpAgentCtrl::emPhonePanelSoftVer, 1, "caf\xe9");
    feed.Send(SnmpAgentCtrl::emPhoneCtrlSoftVer, 1, "2.0");
    feed.Send(test::set_commands({test::set_by_name(7, "s\x80", "n\xff", 0, "\xe9t\xe9"),
                                  test::set_by_oid(8, "1.3\xa0", "v")}));
    feed.SendTrapsink({"h\xf4te"});
    ASSERT_TRUE(received(3));
    EXPECT_EQ(0u, a.undecodable());
    EXPECT_EQ((Rows{"n\\xFF[0]=\\xE9t\\xE9", "oid:1.3\\xA0=v"}), test::set_rows(a.messages()[0]));
    const auto& sets = test::command_of(a.messages()[0])->get_snmp_set()->get_commands();
    EXPECT_EQ("s\\x80", sets[0].get_id().get_name()->get_section());
    EXPECT_EQ(Rows{"h\\xF4te"}, test::trapsink_hosts(a.messages()[1]));
    EXPECT_EQ((Rows{"emPhonePanelSoftVer[1]=caf\\xE9", "emPhoneCtrlSoftVer[1]=2.0"}),
              test::set_rows(a.messages()[2]));
}

// A text of 16384 characters cannot be encoded: it loses its own
// set-command, with the agent's line, and no other.
TEST_F(Feed, DropsOnlyTheSetCommandThatCannotBeEncoded) {
    connect_both();
    const std::string tooLong(16384, 'x');
    MON::SnmpSetCommands sets;
    Rows kept;
    for (int i = 0; i < 5; ++i) {
        const std::string oid = "1.3.6." + std::to_string(i);
        sets.get_commands().push_back(test::set_by_oid(i, oid, i == 2 ? tooLong : "v"));
        if (i != 2) kept.push_back("oid:" + oid + "=v");
    }
    feed.Send(sets);
    feed.Send(SnmpAgentCtrl::powerStatus, tooLong);
    feed.Send(SnmpAgentCtrl::gatewayDip, "9");
    kept.insert(kept.end(), {"gatewayDip[0]=9", "gatewayDip[0]=9"});  // both batches
    const auto rows = [](const FakeSnmpPeer& peer) {
        Rows all;
        for (const MON::Message& message : peer.messages()) {
            const Rows some = test::set_rows(message);
            all.insert(all.end(), some.begin(), some.end());
        }
        return all;
    };
    ASSERT_TRUE(pump_until(loop, {&a, &b}, [&] { return rows(a).size() >= kept.size(); }));
    EXPECT_EQ(kept, rows(a));
    const std::string log = quiet.progress.str();
    const std::string line = "snmpagent.zemb " + a.host() + ": encode MON message fail!!!\n";
    size_t lines = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++lines;
    EXPECT_EQ(3u, lines) << "the list's once, each batch's once\n" << log;
}

// After months of values the numbers go on through the top of the word.
TEST_F(Feed, NumbersSetCommandsOnThroughTheTopOfTheWord) {
    connect_both();
    feed.set_next_uniq_for_test(0x7FFFFFFE);
    feed.Send(SnmpAgentCtrl::powerStatus, "2");
    feed.Send(SnmpAgentCtrl::gatewayDip, "9");
    ASSERT_TRUE(received(2));
    EXPECT_EQ((std::vector<int>{INT_MAX - 1, INT_MIN}), test::set_uniqs(a.messages()[0]));
    EXPECT_EQ((std::vector<int>{INT_MAX, INT_MIN + 1}), test::set_uniqs(a.messages()[1]));
}

TEST_F(Feed, DropsValuesForAgentsNotConnected) {
    configure(a.section());
    feed.Send(SnmpAgentCtrl::powerStatus, "1");  // flushed before the link is up
    ASSERT_TRUE(pump_until(loop, {&a}, [&] { return a.connected(); }));
    loop.pump(3);
    a.poll();
    EXPECT_TRUE(a.messages().empty()) << "nothing waits for a later connection";
    feed.Send(SnmpAgentCtrl::powerStatus, "2");
    ASSERT_TRUE(pump_until(loop, {&a}, [&] { return !a.messages().empty(); }));
    EXPECT_EQ(Rows{"powerStatus[0]=2"}, test::set_rows(a.messages()[0]));
}

TEST_F(Feed, WithoutAgentsEmptiesItsBatchesOnEveryFlush) {
    feed.Send(SnmpAgentCtrl::powerStatus, "2");
    EXPECT_EQ(Rows{"powerStatus[0]=2"}, batch(feed, 2));
    loop.pump();
    EXPECT_TRUE(batch(feed, 2).empty());
    EXPECT_TRUE(batch(feed, 4).empty());
    EXPECT_EQ(nullptr, feed.pending(0));
    EXPECT_EQ(nullptr, feed.pending(1));
}

// ---- The publishers

class Publishers : public ::testing::Test {
protected:
    // The batch of key 2 that the publishing queued, then nothing pending.
    Rows published(const std::function<void()>& publish) {
        loop.pump();  // whatever was queued before is flushed
        publish();
        Rows rows = batch(monitoring.snmp(), 2);
        loop.pump();
        return rows;
    }
    void display(const LGCP::DisplayParams& p) {
        monitoring.OnDisplayCMD(p);
        loop.pump();
    }

    Quiet quiet;
    test::BoardRoot board;
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    MonitoringCtl monitoring;
};

TEST_F(Publishers, SendHeldValuesAsText) {
    LGCP::DisplayParams boardDisplay, phoneDisplay;
    boardDisplay.set_board(test::board_status(0, LGCP::ExtBoardStatus::ready,
                                              std::string("3\0" "4", 3), LGCP::ExtBoardType::fxs));
    phoneDisplay.set_emPhone(test::phone_status(0, "p", "c", "f"));
    display(boardDisplay);
    display(phoneDisplay);
    for (auto counter : {test::counter(LGCP::TermCounterOwner::router, 1, 5),
                         test::counter(LGCP::TermCounterOwner::router, 2, -1),
                         test::counter(LGCP::TermCounterOwner::extBoard, 3, 8),
                         test::counter(LGCP::TermCounterOwner::extBoard, {}, 9)}) {
        LGCP::DisplayParams p;
        p.set_termCounter(counter);
        display(p);
    }
    struct Case {
        const char* what;
        std::function<void()> publish;
        Rows rows;
    };
    MonitoringCtl& m = monitoring;
    const Case cases[] = {
        {"board", [&] { m.sendSnmpBoardStatuses(); },
         {"extBoardStatus[0]=3", "extBoardSoftVer[0]=3", "extBoardType[0]=2"}},
        {"phone", [&] { m.sendSnmpEmPhoneStatuses(); },
         {"emPhonePanelSoftVer[1]=p", "emPhoneCtrlSoftVer[1]=c", "emPhoneFpgaSoftVer[1]=f",
          "emPhoneStatus[1]=2", "emPhonePowerStatus[1]=2", "emPhoneMode[1]=1",
          "emPhoneHookStatus[1]=1", "emPhoneBaseStatus[1]=2"}},
        {"routers", [&] { m.sendSnmpRouterTermCnt(); },
         {"routerTermCnt[0]=5", "routerTermCnt[0]=4294967295"}},
        {"extension boards", [&] { m.sendSnmpBoardTermCnt(); }, {"extBoardTermCnt[3]=8"}},
        {"interfaces", [&] { m.sendSnmpNetIfStatus(); },
         {"ifOperStatus[1]=2", "ifAdminStatus[1]=2", "ifDescr[1]=lo", "ifOperStatus[2]=2",
          "ifAdminStatus[2]=2", "ifDescr[2]=eth0", "ifOperStatus[3]=2", "ifAdminStatus[3]=2",
          "ifDescr[3]=hdlc0", "ifOperStatus[4]=2", "ifAdminStatus[4]=2", "ifDescr[4]=hdlc1"}},
        {"power", [&] { m.sendSnmpPowerStatus(); }, {"powerStatus[0]=0"}},
        {"controller", [&] { m.sendSnmpControllerStatus(); }, {"controllerStatus[0]=0"}},
        {"dip unread", [&] { m.sendSnmpGatewayDip(); }, {}},
        {"configuration unread", [&] { m.sendSnmpGatewayConfigVersion(); }, {}},
        {"dip read", [&] { hal().dip = 200; m.doDipCheck(); }, {"gatewayDip[0]=200"}},
        {"dip again", [&] { m.sendSnmpGatewayDip(); }, {"gatewayDip[0]=200"}},
        {"configuration read",
         [&] {
             board.write_file("/usr/local/etc/config.0000002a-0000000000000001", "");
             m.doConfigCheck();
         },
         {"gatewayConfigVersion[0]=42"}},
        {"software", [&] { m.sendSnmpSoftwareBuild(); }, {"softwareBuild[0]=T240215-1841"}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.rows, published(c.publish)) << c.what;
}

TEST_F(Publishers, ReadTheDriverBuildFromTheVoiceDriversVersionLine) {
    struct Case {
        const char* file;  // null: no file
        Rows rows;
    };
    const Case cases[] = {
        {"voice driver\n", {"driverBuild[0]=none"}},
        {"voice driver 2.1\n", {"driverBuild[0]=driver [2.1]"}},
        {"voice driver 2.1 b7\n", {"driverBuild[0]=driver [2.1 b7]"}},
        {"voice  driver   2.1 b7 extra\n", {"driverBuild[0]=driver [2.1 b7]"}},
        {"voice driver\t 2.1\r\n", {"driverBuild[0]=driver [2.1]"}},
        {"", {}},
        {nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(no file)");
        std::filesystem::remove(board.dir() + "/proc/voice/version");
        if (c.file) board.write_file("/proc/voice/version", c.file);
        EXPECT_EQ(c.rows, published([&] { monitoring.sendSnmpDriverBuild(); }));
    }
}

// ---- The re-send when an agent connects

class Resend : public ::testing::Test {
protected:
    MonitoringCtl& start(const std::string& sections) {
        MonitoringCtl& m = server.add<MonitoringCtl>();
        std::istringstream in(sections);
        in >> file;
        m.Configure(file);
        return m;
    }
    // How many full re-sends the peer has received: each names the software
    // build in both batches, and nothing else does.
    static int resends(const FakeSnmpPeer& peer) {
        int batches = 0;
        for (const MON::Message& m : peer.messages()) {
            const Rows rows = test::set_rows(m);
            batches += std::count(rows.begin(), rows.end(), "softwareBuild[0]=T240215-1841");
        }
        return batches / 2;
    }
    // Moves time on by seconds, the peers answering between passes.
    void run_seconds(int seconds, const std::vector<FakeSnmpPeer*>& peers) {
        for (int i = 0; i < seconds; ++i) {
            server.advance(1000);
            pump_until(server.loop(), peers, [] { return false; }, 2);
        }
    }
    // A status file's content, "(none)" when it is not there.
    std::string monitoring_file(const std::string& name) {
        return server.board().exists("/var/monitoring/" + name)
                   ? server.board().read_file("/var/monitoring/" + name)
                   : "(none)";
    }

    Quiet quiet;
    test::ServerHarness server;
    FakeSnmpPeer a, b;
    IniFile::File file;
};

TEST_F(Resend, SendsTrapSinksStoredSetsThenBothBatches) {
    server.board().write_file("/proc/voice/version", "voice drv 2.1 b7\n");
    server.board().write_file("/var/version", "V1\n");
    server.board().write_file("/proc/temperature", "41 C\n");
    server.board().write_file("/usr/local/etc/config.0000002a-0000000000000001", "");
    server.board().write_file("/proc/driver/hdlc/peb22554/0", "Loss of Signal          : no\n");
    hal().dip = 9;
    MonitoringCtl& m = start(a.section());
    run_seconds(6, {&a});  // every check has run, the interfaces are steady

    LGCP::DisplayParams receivers, sets, boardDisplay, phoneDisplay, counter;
    receivers.select_snmpTrapReceivers().append() = "10.0.0.1";
    receivers.get_snmpTrapReceivers()->append() = "10.0.0.9";
    sets.set_snmp_set(test::set_commands({test::set_by_name(7, "gw", "mode", 0, "on")}));
    boardDisplay.set_board(test::board_status(0, LGCP::ExtBoardStatus::ready, "1.2",
                                              LGCP::ExtBoardType::fxs));
    phoneDisplay.set_emPhone(test::phone_status(0, "p", "c", "f"));
    counter.set_termCounter(test::counter(LGCP::TermCounterOwner::router, {}, 17));
    for (const auto* p : {&receivers, &sets, &boardDisplay, &phoneDisplay, &counter})
        m.OnDisplayCMD(*p);
    server.pump();
    a.close();  // the link drops and comes back after 10 s
    a.clear();
    run_seconds(11, {&a});
    ASSERT_EQ(2u, a.connections());
    const std::vector<MON::Message> got = test::without_pings(a.messages());
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ((Rows{"10.0.0.1", "10.0.0.9"}), test::trapsink_hosts(got.at(0)));
    EXPECT_EQ(Rows{"mode[0]=on"}, test::set_rows(got.at(1)));
    const Rows common = {"driverBuild[0]=drv [2.1 b7]", "softwareBuild[0]=T240215-1841",
                         "powerStatus[0]=2", "controllerStatus[0]=5", "gatewayDip[0]=9",
                         "gatewayConfigVersion[0]=42"};
    const Rows phone = {"emPhonePanelSoftVer[1]=p", "emPhoneCtrlSoftVer[1]=c",
                        "emPhoneFpgaSoftVer[1]=f", "emPhoneStatus[1]=2", "emPhonePowerStatus[1]=2",
                        "emPhoneMode[1]=1", "emPhoneHookStatus[1]=1", "emPhoneBaseStatus[1]=2"};
    const Rows interfaces = {"ifOperStatus[1]=1", "ifAdminStatus[1]=1", "ifDescr[1]=lo",
                             "ifOperStatus[2]=1", "ifAdminStatus[2]=1", "ifDescr[2]=eth0",
                             // the HDLC interfaces are down
                             "ifOperStatus[3]=2", "ifAdminStatus[3]=2", "ifDescr[3]=hdlc0",
                             "ifOperStatus[4]=2", "ifAdminStatus[4]=2", "ifDescr[4]=hdlc1"};
    Rows batch2 = common;
    batch2.insert(batch2.end(), {"temperature[0]=41", "extBoardStatus[0]=3",
                                 "extBoardSoftVer[0]=1.2", "extBoardType[0]=2"});
    batch2.insert(batch2.end(), phone.begin(), phone.end());
    batch2.insert(batch2.end(), phone.begin(), phone.end());
    batch2.insert(batch2.end(), {"routerTermCnt[0]=17", "e1Connected[1]=0", "e1StatusDsc[1]=absent",
                                 "e1SignalLoss[1]=0", "e1FrameAlignLoss[1]=1", "e1NegSlipCount[1]=0",
                                 "e1PosSlipCount[1]=0"});
    batch2.insert(batch2.end(), interfaces.begin(), interfaces.end());
    Rows batch4 = common;
    batch4.insert(batch4.end(), {"sgBuildVersion[0]=V1\n", "sgFPGAVersion[0]=", "sgBootVersion[0]=",
                                 "sgBoardVersion[0]=", "routerTermCnt[0]=17"});
    batch4.insert(batch4.end(), interfaces.begin(), interfaces.end());
    EXPECT_EQ(batch2, test::set_rows(got.at(2)));
    EXPECT_EQ(batch4, test::set_rows(got.at(3)));
}

// A disk full or read-only at the first checks: once it takes files again,
// the next check writes every status file, and the "self" link to the own
// controller's folder, and an agent that connects again gets the rows told
// meanwhile.
TEST_F(Resend, HoldsWhatCouldNotBeWrittenAndTheNextCheckWritesIt) {
    const std::string folder = server.board().dir() + "/var/monitoring";
    std::filesystem::remove_all(folder);
    server.board().write_file("/var/monitoring", "");  // no folder can be made there
    server.board().write_file("/usr/local/etc/config.0000002a-0000000000000001", "");
    hal().dip = 9;
    MonitoringCtl& m = start(a.section());
    LGCP::DisplayParams boardDisplay, phoneDisplay;
    boardDisplay.set_board(
        test::board_status(0, LGCP::ExtBoardStatus::ready, "1.2", LGCP::ExtBoardType::fxs));
    phoneDisplay.set_emPhone(test::phone_status(0, "p", "c", "f"));
    for (const auto* p : {&boardDisplay, &phoneDisplay}) m.OnDisplayCMD(*p);
    run_seconds(6, {&a});  // every check has run
    std::filesystem::remove(folder);
    run_seconds(2, {&a});
    const std::pair<const char*, const char*> files[] = {
        {"dip", "9"},
        {"powerstatus", "2"},
        {"config_version", "0000002a-0000000000000001"},
        {"board0", "3\n1.2\n2\n"},
        {"emphone0", "p\nc\nf\n2\n2\n1\n1\n2\n"},
        {"controller/10.0.0.2/status", "5"}};
    for (const auto& [name, content] : files)
        EXPECT_EQ(content, server.board().read_file(std::string("/var/monitoring/") + name))
            << name;
    std::error_code noLink;
    EXPECT_EQ(folder + "/controller/10.0.0.2",
              std::filesystem::read_symlink(folder + "/controller/self", noLink).string());

    a.close();
    a.clear();
    run_seconds(11, {&a});
    Rows sent;
    for (const MON::Message& message : a.messages()) {
        const Rows rows = test::set_rows(message);
        sent.insert(sent.end(), rows.begin(), rows.end());
    }
    for (const char* row : {"extBoardStatus[0]=3", "emPhoneStatus[1]=2"})
        EXPECT_NE(sent.end(), std::find(sent.begin(), sent.end(), row)) << row;
}

// How "/var/monitoring" refuses every change for a while: read-only (as
// root, whom no mode stops, the folder made immutable), or not there as a
// folder (a file in its place, the folder moved aside).
enum class Refusal { readOnly, noFolder };

void PrintTo(Refusal how, std::ostream* os) {
    *os << (how == Refusal::readOnly ? "read-only" : "no folder");
}

std::string RefusalName(const ::testing::TestParamInfo<Refusal>& info) {
    return info.param == Refusal::readOnly ? "ReadOnly" : "NoFolder";
}

class RefusedFolder {
public:
    RefusedFolder(Refusal how, const std::string& folder) : how_(how), folder_(folder) {
        if (how == Refusal::readOnly) {
            refusing_ = immutable(true);
            return;
        }
        std::filesystem::rename(folder_, folder_ + ".aside");
        std::ofstream(folder_).put('\0');
        refusing_ = true;
    }
    ~RefusedFolder() { end(); }

    // False where this file system or this process cannot make it refuse.
    bool refusing() const { return refusing_; }
    void end() {
        if (!refusing_) return;
        refusing_ = false;
        if (how_ == Refusal::readOnly) {
            immutable(false);
            return;
        }
        std::filesystem::remove(folder_);
        std::filesystem::rename(folder_ + ".aside", folder_);
    }

private:
    bool immutable(bool on) {
        Fd fd(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        int flags = 0;
        if (!fd || ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0) return false;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        return ::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) == 0;
    }

    Refusal how_;
    std::string folder_;
    bool refusing_ = false;
};

class ControllerGone : public Resend, public ::testing::WithParamInterface<Refusal> {
protected:
    void display(MonitoringCtl& m, const LGCP::BoardInfo& board) {
        LGCP::DisplayParams p;
        p.set_board(board);
        m.OnDisplayCMD(p);
    }
};

// The controller goes while "/var/monitoring" refuses every change: its
// board files are gone at the first check once the folder takes changes
// again, and what is not a board file of a controller gone stays or is
// written then: a set-command of a MIB group whose name begins with
// "board", and the boards that the controller, back, told again, while the
// folder refused or since.
TEST_P(ControllerGone, ItsBoardFilesGoAtTheFirstCheckOnceTheFolderTakesChanges) {
    using Status = LGCP::ExtBoardStatus;
    using Type = LGCP::ExtBoardType;
    MonitoringCtl& m = start(a.section());
    for (int position : {0, 2, 4})
        display(m, test::board_status(position, Status::ready, "1.2", Type::fxs));
    run_seconds(2, {&a});
    ASSERT_EQ("3\n1.2\n2\n", monitoring_file("board0"));

    RefusedFolder refused(GetParam(), server.board().dir() + "/var/monitoring");
    if (!refused.refusing()) GTEST_SKIP() << "the folder cannot be made immutable here";
    LGCP::DisplayParams sets;
    sets.set_snmp_set(test::set_commands({test::set_by_name(7, "boardTable", "n", 3, "on")}));
    m.OnDisplayCMD(sets);
    display(m, test::board_status(1, Status::ready, "1.2", Type::fxs));
    m.OnDisconnect();
    display(m, test::board_status(2, Status::waitBoard, "2.0", Type::fxs));
    run_seconds(4, {&a});  // checks that find the folder refusing
    refused.end();
    display(m, test::board_status(4, Status::waitResources, "4.0", Type::fxs));
    run_seconds(MonitoringCtl::powerPeriodMs / 1000, {&a});

    const std::pair<const char*, const char*> files[] = {
        {"board0", "(none)"},
        {"board1", "(none)"},  // told before the controller went, never written
        {"board2", "2\n2.0\n2\n"},
        {"board4", "1\n4.0\n2\n"},
        {"boardTable/3/n", "on"}};
    for (const auto& [name, content] : files) EXPECT_EQ(content, monitoring_file(name)) << name;
}

INSTANTIATE_TEST_SUITE_P(Monitoring, ControllerGone,
                         ::testing::Values(Refusal::readOnly, Refusal::noFolder), RefusalName);

class EarlierRun : public Resend, public ::testing::WithParamInterface<Refusal> {};

// "/var/monitoring" refuses every change at start: the files an earlier run
// left there go at the first check once it takes changes again, and what
// this run writes stays or is written then: a file the earlier run left and
// this one told while the folder refused, the checks' files, and the
// folders with their files, which this run writes in.
TEST_P(EarlierRun, ItsFilesGoAtTheFirstCheckOnceTheFolderTakesChanges) {
    for (const char* name : {"board7", "emphone3", "temperature", "term_cnts/router"})
        server.board().write_file(std::string("/var/monitoring/") + name, "old");
    RefusedFolder refused(GetParam(), server.board().dir() + "/var/monitoring");
    if (!refused.refusing()) GTEST_SKIP() << "the folder cannot be made immutable here";
    hal().dip = 9;
    MonitoringCtl& m = start(a.section());
    LGCP::DisplayParams told;
    told.set_board(test::board_status(7, LGCP::ExtBoardStatus::ready, "1.2",
                                      LGCP::ExtBoardType::fxs));
    m.OnDisplayCMD(told);
    run_seconds(4, {&a});  // checks that find the folder refusing
    refused.end();
    run_seconds(MonitoringCtl::powerPeriodMs / 1000, {&a});

    const std::pair<const char*, const char*> files[] = {{"emphone3", "(none)"},
                                                         {"temperature", "(none)"},
                                                         {"board7", "3\n1.2\n2\n"},
                                                         {"dip", "9"},
                                                         {"term_cnts/router", "old"}};
    for (const auto& [name, content] : files) EXPECT_EQ(content, monitoring_file(name)) << name;
}

INSTANTIATE_TEST_SUITE_P(Monitoring, EarlierRun,
                         ::testing::Values(Refusal::readOnly, Refusal::noFolder), RefusalName);

TEST_F(Resend, LeavesOutWhatNoCheckHasRead) {
    start(a.section());
    ASSERT_TRUE(pump_until(server.loop(), {&a}, [&] { return a.messages().size() >= 2; }));
    const Rows rows = test::set_rows(a.messages()[0]);
    EXPECT_EQ((Rows{"softwareBuild[0]=T240215-1841", "powerStatus[0]=0", "controllerStatus[0]=0",
                    "temperature[0]="}),
              Rows(rows.begin(), rows.begin() + 4))
        << "no DIP reading and no configuration file yet: no gatewayDip, no gatewayConfigVersion";
}

TEST_F(Resend, RunsOnceForAgentsConnectingTogether) {
    start(a.section() + b.section("varkgw.ox"));
    ASSERT_TRUE(pump_until(server.loop(), {&a, &b}, [&] { return resends(a) && resends(b); }));
    server.pump(5);
    EXPECT_EQ(1, resends(a));
    EXPECT_EQ(1, resends(b));
}

TEST_F(Resend, FollowsTheReconnectionOfAnAgentDroppedForItsSilence) {
    a.answer_pings(false);
    start(a.section() + b.section());
    run_seconds(1, {&a, &b});
    ASSERT_EQ(1, resends(a));
    ASSERT_EQ(1, resends(b));
    run_seconds(50, {&a, &b});  // b answers its pings; a is dropped and comes back
    EXPECT_NE(std::string::npos, quiet.progress.str().find("ping timeout")) << quiet.progress.str();
    EXPECT_EQ(2u, a.connections());
    EXPECT_EQ(1u, b.connections());
    EXPECT_EQ(2, resends(a));
    EXPECT_EQ(2, resends(b)) << "every agent gets the re-send";
}

// An agent decodes at most 128 set-commands in one message and takes one
// message per frame: however long the re-send, each agent gets all of it, in
// order, in as many messages as that takes.
TEST(LongResend, ReachesTheAgentWholeAndInOrder) {
    Quiet quiet;
    struct Case {
        int phones;
        int storedSets;
        size_t valueLength;  // of each stored set-command
    };
    const Case cases[] = {
        {8, 200, 2},    // the phones alone fill batch 2 past 128
        {20, 200, 2},
        {100, 200, 2},  // batch 2 would not fit one frame
        {0, 128, 600},  // nor would 128 such set-commands
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.phones) + " phones, " + std::to_string(c.storedSets) +
                     " stored set-commands");
        test::ServerHarness server;
        MonitoringCtl& m = server.add<MonitoringCtl>();
        for (int id = 0; id < c.phones; ++id) {
            LGCP::DisplayParams p;
            p.set_emPhone(test::phone_status(id, "p", "c", "f"));
            m.OnDisplayCMD(p);
        }
        Rows expected;
        LGCP::DisplayParams sets;
        auto& list = sets.select_snmp_set().get_commands();
        for (int i = 0; i < c.storedSets; ++i) {
            const std::string oid = "1.3.6.1.4.1." + std::to_string(i);
            const std::string value(c.valueLength, char('a' + i % 26));
            list.push_back(test::set_by_oid(i, oid, value));
            expected.push_back("oid:" + oid + "=" + value);
        }
        m.OnDisplayCMD(sets);
        server.pump();
        m.OnDpcSend();  // no agent yet: the batches hold what the re-send queues
        for (int key : {2, 4}) {
            const Rows batch = test::set_rows(*m.snmp().pending(key));
            expected.insert(expected.end(), batch.begin(), batch.end());
        }
        server.pump();

        FakeSnmpPeer agent;
        std::istringstream in(agent.section());
        IniFile::File file;
        in >> file;
        m.Configure(file);
        const auto received = [&] {
            Rows rows;
            for (const MON::Message& message : agent.messages()) {
                const Rows sent = test::set_rows(message);
                rows.insert(rows.end(), sent.begin(), sent.end());
            }
            return rows;
        };
        pump_until(server.loop(), {&agent}, [&] { return received().size() >= expected.size(); });
        pump_until(server.loop(), {&agent}, [] { return false; }, 3);
        EXPECT_EQ(0u, agent.undecodable());
        EXPECT_TRUE(received() == expected)
            << received().size() << " of " << expected.size() << " set-commands arrived, in "
            << agent.messages().size() << " messages";
    }
}

}  // namespace
