#include <unistd.h>

#include <cstdlib>

#include "board/paths.h"

namespace board {

namespace {

std::string current_directory() {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

// Taken before main runs: a daemon changes to "/" later, and a relative
// BOARD_ROOT must still name the same folder.
const std::string startDirectory = current_directory();

}  // namespace

std::string root() {
    const char* r = std::getenv("BOARD_ROOT");
    std::string dir = (r && *r) ? r : "board-root";
    return dir[0] == '/' ? dir : startDirectory + "/" + dir;
}

std::string path(const std::string& boardPath) { return root() + boardPath; }

unsigned short auth_port() {
    const char* text = std::getenv("BOARD_AUTH_PORT");
    const long port = text ? std::strtol(text, nullptr, 10) : 0;
    return port > 0 && port < 65536 ? static_cast<unsigned short>(port) : 52000;
}

}  // namespace board
