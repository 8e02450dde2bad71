#pragma once
// Board file paths (/proc, /var, /usr/local, child programs). On the board a
// path is itself; in the simulated build it lives under $BOARD_ROOT. Also the
// board's fixed local ports, which the simulated build lets tests move.

#include <string>

namespace board {

// The host path of a board path such as "/var/run/server.pid".
std::string path(const std::string& boardPath);

// The directory that holds the simulated board's files ("" on the board).
std::string root();

// The loopback port of the dial-in authentication link: 52000 on the board;
// in the simulated build $BOARD_AUTH_PORT when set (tests run side by side).
unsigned short auth_port();

}  // namespace board
