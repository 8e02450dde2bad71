#include <cstdlib>

#include "board/paths.h"

namespace board {

std::string root() {
    const char* r = std::getenv("BOARD_ROOT");
    return (r && *r) ? r : "board-root";
}

std::string path(const std::string& boardPath) { return root() + boardPath; }

}  // namespace board
