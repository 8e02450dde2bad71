// The monitoring data holder on a simulated board: change detection, the
// tables merged by key, and the exact bytes of every status file.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "board/sim/sim_board.h"
#include "monitoring/monitoring_data_holder.h"
#include "runtime/trace_ctl.h"
#include "tests/monitoring/monitoring_values.h"
#include "tests/support/board_root.h"
#include "tests/support/descriptor_shortage.h"
#include "tests/support/stream_capture.h"

namespace {

namespace fs = std::filesystem;
using LGCP::TermCounterOwner;

class DataHolder : public ::testing::Test {
protected:
    MonitoringDataHolder& holder() {
        if (!holder_) holder_.emplace();
        return *holder_;
    }
    std::string file(const std::string& name) const {
        return board.read_file("/var/monitoring/" + name);
    }
    bool exists(const std::string& name) const { return board.exists("/var/monitoring/" + name); }
    std::string host(const std::string& name) const { return board.dir() + "/var/monitoring/" + name; }
    // Hidden files left in a folder: a write that did not finish.
    std::vector<std::string> hidden(const std::string& folder = "") const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(host(folder))) {
            std::string name = entry.path().filename().string();
            if (name[0] == '.') names.push_back(name);
        }
        return names;
    }

    test::BoardRoot board;
    test::StreamCapture progress{std::clog};
    test::StreamCapture errors{std::cerr};
    std::optional<MonitoringDataHolder> holder_;
};

TEST_F(DataHolder, FindsTheBoardAndMakesItsFolders) {
    board.write_file("/proc/driver/hdlc/peb22554/0", "");
    board.write_file("/proc/driver/hdlc/peb22554/2", "");
    MonitoringDataHolder& h = holder();
    ASSERT_EQ(2u, h.framers.size());
    EXPECT_EQ(1, h.framers[0].index);
    EXPECT_EQ("/proc/driver/hdlc/peb22554/2", h.framers[1].path);
    EXPECT_EQ(3, h.framers[1].index);
    ASSERT_EQ(4u, h.netIfs.size());
    EXPECT_EQ("lo", h.netIfs[0].name);
    EXPECT_EQ(2, h.netIfs[1].index);
    EXPECT_EQ("hdlc1", h.netIfs[3].name);
    EXPECT_EQ("10.0.0.2:0", h.ownAddress.GetString()) << "the first private address";

    struct stat st;
    ASSERT_EQ(0, ::stat(host("term_cnts").c_str(), &st));
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(0755 & ~mask, st.st_mode & 07777) << "every program of the board may read";
}

TEST_F(DataHolder, WithoutAPrivateAddressTheOwnAddressIsLoopback) {
    ::board::sim::Board::instance().netifs().remove(2);
    EXPECT_EQ("127.0.0.1:0", holder().ownAddress.GetString());
    EXPECT_EQ(3u, holder().netIfs.size());
}

TEST_F(DataHolder, StartsWithAnEmptyTreeButKeepsFoldersThatHoldFiles) {
    board.write_file("/var/monitoring/dip", "3");
    board.write_file("/var/monitoring/board0", "x");
    board.write_file("/var/monitoring/term_cnts/router", "17");
    fs::create_directories(host("empty"));
    holder();
    EXPECT_FALSE(exists("dip"));
    EXPECT_FALSE(exists("board0"));
    EXPECT_FALSE(exists("empty"));
    EXPECT_EQ("17", file("term_cnts/router"));
}

// The folder could not be read at start for want of a descriptor: the
// earlier run's files go at the next check, and a file this run wrote
// meanwhile stays.
TEST_F(DataHolder, AnEarlierRunsFilesUnlistedAtStartGoAtTheNextCheck) {
    holder();  // a rehearsal with descriptors to spare
    holder_.reset();
    board.write_file("/var/monitoring/board0", "x");
    board.write_file("/var/monitoring/dip", "3");
    {
        test::DescriptorShortage shortage;
        holder();
    }
    EXPECT_EQ("x", file("board0"));
    ASSERT_TRUE(holder().setDipValue(5));
    holder().SaveUnwrittenFiles();
    EXPECT_FALSE(exists("board0"));
    EXPECT_EQ("5", file("dip"));
}

TEST_F(DataHolder, ReportsAScalarChangeOnceAndWritesItsFileOnce) {
    MonitoringDataHolder& h = holder();
    EXPECT_TRUE(h.setDipValue(5));
    EXPECT_EQ("5", file("dip"));
    fs::remove(host("dip"));
    EXPECT_FALSE(h.setDipValue(5));
    EXPECT_FALSE(exists("dip")) << "no change, no write";

    EXPECT_FALSE(h.setPowerStatus(LGCP::POWERStatus::unknown)) << "unknown from the start";
    EXPECT_FALSE(exists("powerstatus"));
    EXPECT_TRUE(h.setPowerStatus(LGCP::POWERStatus::main));
    EXPECT_EQ("2", file("powerstatus"));

    EXPECT_FALSE(h.setConfigVersion(0xffffffffu, ~uint64_t(0))) << "what it starts with";
    EXPECT_TRUE(h.setConfigVersion(42, 255));
    EXPECT_EQ("0000002a-00000000000000ff", file("config_version"));
    EXPECT_TRUE(h.setConfigVersion(0xffffffffu, ~uint64_t(0)));
    EXPECT_EQ("ffffffff-ffffffffffffffff", file("config_version"));

    EXPECT_TRUE(h.setTemperature("41"));
    EXPECT_FALSE(h.setTemperature("41"));
    EXPECT_TRUE(h.setTemperature("41\n"));
    EXPECT_TRUE(h.setBuildVersion("b"));
    EXPECT_FALSE(h.setBuildVersion("b"));
    EXPECT_TRUE(hidden().empty());
}

TEST_F(DataHolder, WritesEachFileAsOtherProgramsReadIt) {
    MonitoringDataHolder& h = holder();
    h.setDipValue(255);
    h.setPowerStatus(LGCP::POWERStatus::both);
    h.setBoardStatus(test::board_status(3, LGCP::ExtBoardStatus::ready, "1.2", LGCP::ExtBoardType::fxs));
    h.setEmPhoneInfo(test::phone_status(1, std::string("ab\0cd", 5), "ctrl", "fpga"));
    h.setTermCounter(test::counter(TermCounterOwner::server, {}, -3));
    h.setTermCounter(test::counter(TermCounterOwner::extBoard, 6, 12));
    h.setSnmpCommands(test::set_commands({test::set_by_name(1, "sec", "obj", 4, std::string("on\0off", 6))}));
    const std::string longest(255, 'n');  // a name has at most 255 characters
    h.setSnmpCommands(test::set_commands({test::set_by_name(2, "sec", longest, 4, "long")}));

    EXPECT_EQ("255", file("dip"));
    EXPECT_EQ("3", file("powerstatus"));
    EXPECT_EQ("3\n1.2\n2\n", file("board3"));
    EXPECT_EQ("ab\nctrl\nfpga\n2\n2\n1\n1\n2\n", file("emphone1"))
        << "a field is cut at its zero byte, its line end stays";
    EXPECT_EQ("-3", file("term_cnts/server"));
    EXPECT_EQ("12", file("term_cnts/board6"));
    EXPECT_EQ("on", file("sec/4/obj"));
    EXPECT_EQ("long", file("sec/4/" + longest));
    EXPECT_TRUE(hidden("sec/4").empty());

    // A rewrite replaces the file: a reader that opened it before still
    // reads the old content whole, never a cut or half-written one.
    std::ifstream reader(host("dip"));
    h.setDipValue(7);
    EXPECT_EQ("255", std::string(std::istreambuf_iterator<char>(reader), {}));
    EXPECT_EQ("7", file("dip"));
}

TEST_F(DataHolder, KeepsBoardAndPhoneRowsByKeyWhetherOrNotTheirFileIsWritten) {
    MonitoringDataHolder& h = holder();
    h.setBoardStatus(test::board_status(0, LGCP::ExtBoardStatus::waitBoard, "1", LGCP::ExtBoardType::isdn));
    h.setBoardStatus(test::board_status(0, LGCP::ExtBoardStatus::ready, "2", LGCP::ExtBoardType::isdn));
    h.setEmPhoneInfo(test::phone_status(4, "p", "c", "f"));
    ASSERT_EQ(1u, h.boards.size());
    EXPECT_EQ(LGCP::ExtBoardStatus::ready, h.boards[0].get_status().getValue());
    EXPECT_EQ(1u, h.phones.size());

    fs::remove_all(host(""));
    h.setBoardStatus(test::board_status(3, LGCP::ExtBoardStatus::ready, "1", LGCP::ExtBoardType::e0));
    h.setEmPhoneInfo(test::phone_status(5, "p", "c", "f"));
    EXPECT_EQ(2u, h.boards.size()) << "no file, yet a row";
    EXPECT_NE(std::string::npos,
              progress.str().find("FAIL create temporary file <" + host("board3") + "> with code=2"))
        << progress.str();
    h.ClearControllerFiles();  // the controller goes before the disk takes files again
    EXPECT_TRUE(h.boards.empty());
    h.SaveUnwrittenFiles();
    EXPECT_FALSE(exists("board3"));
    EXPECT_EQ("p\nc\nf\n2\n2\n1\n1\n2\n", file("emphone5"));
}

TEST_F(DataHolder, ForgetsOnlyTheBoardsWhenTheControllerGoes) {
    MonitoringDataHolder& h = holder();
    for (int position : {0, 12})
        h.setBoardStatus(test::board_status(position, LGCP::ExtBoardStatus::ready, "v", LGCP::ExtBoardType::fxs));
    h.setEmPhoneInfo(test::phone_status(1, "p", "c", "f"));
    traces.monitoring = true;
    h.ClearControllerFiles();
    traces.reset();
    EXPECT_FALSE(exists("board0"));
    EXPECT_FALSE(exists("board12"));
    EXPECT_TRUE(exists("emphone1"));
    EXPECT_TRUE(h.boards.empty());
    EXPECT_EQ(1u, h.phones.size());
    EXPECT_NE(std::string::npos, progress.str().find("remove monitoring info: board12\n"));
}

TEST_F(DataHolder, MergesTermCountersByOwnerAndOwnerId) {
    MonitoringDataHolder& h = holder();
    h.setTermCounter(test::counter(TermCounterOwner::router, {}, 1));
    h.setTermCounter(test::counter(TermCounterOwner::router, 7, 2));  // the row without id takes it
    h.setTermCounter(test::counter(TermCounterOwner::extBoard, 1, 5));
    h.setTermCounter(test::counter(TermCounterOwner::extBoard, 2, 6));
    h.setTermCounter(test::counter(TermCounterOwner::extBoard, 1, 8));
    h.setTermCounter(test::counter(TermCounterOwner::extBoard, {}, 9));  // no file, but a row
    h.setTermCounter(test::counter(TermCounterOwner::none, {}, 4));

    std::vector<int> counts;
    for (const LGCP::TermCounter& row : h.termCounters) counts.push_back(row.get_cnt().getValue());
    EXPECT_EQ((std::vector<int>{2, 8, 6, 9, 4}), counts);
    EXPECT_EQ("2", file("term_cnts/router"));
    EXPECT_EQ("8", file("term_cnts/board1"));
    EXPECT_EQ((std::vector<std::string>{"board1", "board2", "router"}), [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(host("term_cnts")))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }());
}

TEST_F(DataHolder, MergesSetCommandsByTheirAddress) {
    MonitoringDataHolder& h = holder();
    h.setSnmpCommands(test::set_commands({test::set_by_oid(1, "1.3.6.1", "a"),
                                          test::set_by_name(2, "sec", "obj", 1, "b")}));
    h.setSnmpCommands(test::set_commands({test::set_by_oid(3, "1.3.6.1", "c"),
                                          test::set_by_name(4, "sec", "obj", 1, "d"),
                                          test::set_by_name(5, "sec", "obj", 2, "e")}));
    const auto& stored = h.snmpCommands.get_commands();
    ASSERT_EQ(3u, stored.size());
    EXPECT_EQ(1, stored[0].get_uniq().getValue()) << "a merged command keeps its uniq";
    EXPECT_EQ("c", std::string(stored[0].get_value()));
    EXPECT_EQ("d", std::string(stored[1].get_value()));
    EXPECT_EQ("e", std::string(stored[2].get_value()));
    EXPECT_EQ("d", file("sec/1/obj"));
    EXPECT_EQ("e", file("sec/2/obj"));
}

TEST_F(DataHolder, WritesNoSetCommandFileOutsideItsFolder) {
    MonitoringDataHolder& h = holder();
    const std::pair<std::string, std::string> names[] = {
        {"", "obj"}, {".", "obj"}, {"..", "obj"}, {"a/b", "obj"}, {std::string("a\0b", 3), "obj"},
        {"sec", ""}, {"sec", ".."}, {"sec", "../../x"}, {"sec", std::string("o\0", 2)}};
    int uniq = 0;
    for (const auto& [section, name] : names) {
        SCOPED_TRACE(section + "|" + name);
        errors.clear();
        h.setSnmpCommands(test::set_commands({test::set_by_name(++uniq, section, name, 0, "v")}));
        EXPECT_NE(std::string::npos, errors.str().find("monitoring: set-command not written"));
    }
    EXPECT_EQ(9u, h.snmpCommands.get_commands().size()) << "each is still held";
    EXPECT_FALSE(board.exists("/var/x"));
    EXPECT_FALSE(exists("sec"));
    EXPECT_FALSE(exists("a"));
}

TEST_F(DataHolder, KeepsOneControllerRowPerHostAndPort) {
    MonitoringDataHolder& h = holder();
    using S = HSP::ControllerStatus;
    EXPECT_TRUE(h.setControllerStatus(test::controller("10.0.0.2", 0, S::ok)));
    EXPECT_FALSE(h.setControllerStatus(test::controller("10.0.0.2", 0, S::ok)));
    EXPECT_TRUE(h.setControllerStatus(test::controller("10.0.0.2", 5, S::ok)))
        << "another port is another row, and a change";
    EXPECT_FALSE(h.setControllerStatus(test::controller("10.0.0.7", 0, S::active)))
        << "another host changes but is not the own controller";
    EXPECT_FALSE(h.setControllerStatus(test::controller("not an address", 0, S::standby)));
    EXPECT_EQ(4u, h.controllers.size());
    EXPECT_EQ(S::ok, h.ownStatus.getValue());
    EXPECT_EQ("1", file("controller/10.0.0.2/status"));
    EXPECT_EQ("2", file("controller/10.0.0.7/status"));
    EXPECT_EQ("3", file("controller/0.0.0.0/status"));
    EXPECT_EQ(host("controller/10.0.0.2"), fs::read_symlink(host("controller/self")).string());
}

TEST_F(DataHolder, PointsSelfAtTheOwnFolderLeftByAnotherAddress) {
    fs::create_directories(host("controller/10.0.0.9"));
    fs::create_directories(host("controller/10.0.0.2"));
    fs::create_directory_symlink(host("controller/10.0.0.9"), host("controller/self"));
    holder().setControllerStatus(test::controller("10.0.0.2", 0, HSP::ControllerStatus::ok));
    EXPECT_EQ(host("controller/10.0.0.2"), fs::read_symlink(host("controller/self")).string());
    EXPECT_EQ("", progress.str());
}

TEST_F(DataHolder, TracesControllerAndTrapReceiverChanges) {
    traces.monitoring = true;
    holder().setControllerStatus(test::controller("10.0.0.7", 0, HSP::ControllerStatus::notrun));
    ASN1::SEQUENCE_OF<ASN1::IA5String> receivers;
    receivers.append() = "10.0.0.1:162";
    holder().setSnmpTrapReceivers(receivers);
    traces.reset();
    EXPECT_EQ((std::vector<std::string>{"10.0.0.1:162"}), holder().trapReceivers);
    EXPECT_EQ(0u, progress.str().find("New controller 10.0.0.7 status - notrun\nTrap receivers:"))
        << progress.str();
}

}  // namespace
