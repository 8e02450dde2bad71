#include "board/paths.h"

namespace board {

std::string root() { return ""; }

std::string path(const std::string& boardPath) { return boardPath; }

unsigned short auth_port() { return 52000; }

}  // namespace board
