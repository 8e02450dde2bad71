#pragma once
// Board file paths (/proc, /var, /usr/local, child programs). On the board a
// path is itself; in the simulated build it lives under $BOARD_ROOT.

#include <string>

namespace board {

// The host path of a board path such as "/var/run/server.pid".
std::string path(const std::string& boardPath);

// The directory that holds the simulated board's files ("" on the board).
std::string root();

}  // namespace board
