// The server executable keeps the board's state in files under
// "/var/monitoring/" for the other programs of the board.

#include <gtest/gtest.h>

#include "tests/e2e/server_binary.h"

namespace {

class MonitoringFiles : public test::RunningServer {};

TEST_F(MonitoringFiles, HoldTheBoardsStateAndItsConfigurationVersion) {
    board.write_file("/usr/local/etc/config.0000002a-00000000000000ff", "");
    test::FileWatch watch(board.dir() + "/var/monitoring");
    start();
    EXPECT_TRUE(watch.wait_written("config_version")) << server->output();
    EXPECT_TRUE(watch.wait_written("dip")) << server->output();
    EXPECT_TRUE(watch.wait_written("powerstatus")) << server->output();
    EXPECT_EQ("0000002a-00000000000000ff", board.read_file("/var/monitoring/config_version"));
    EXPECT_EQ("0", board.read_file("/var/monitoring/dip"));
    EXPECT_EQ("2", board.read_file("/var/monitoring/powerstatus"));

    stop();
    EXPECT_FALSE(board.exists("/var/monitoring/dip")) << "emptied when the server ends";
}

}  // namespace
