#include "tests/support/board_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "board/paths.h"
#ifdef SERVER_BOARD_SIM
#include "board/sim/sim_board.h"
#endif

namespace fs = std::filesystem;

namespace test {

BoardRoot::BoardRoot() {
    const char* base = std::getenv("BOARD_TEST_TMP");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/board-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = name.data();
    for (const char* sub : {"/var/run", "/var/log", "/var/monitoring", "/proc", "/usr/local/etc",
                            "/usr/local/voice", "/dev"})
        fs::create_directories(dir_ + sub);
    if (const char* prev = std::getenv("BOARD_ROOT")) {
        previous_ = prev;
        hadPrevious_ = true;
    }
    ::setenv("BOARD_ROOT", dir_.c_str(), 1);
    workingDirectory_ = fs::current_path().string();
#ifdef SERVER_BOARD_SIM
    board::sim::Board::instance().reset();
#endif
}

BoardRoot::~BoardRoot() {
    std::error_code ec;
    fs::current_path(workingDirectory_, ec);
    if (hadPrevious_)
        ::setenv("BOARD_ROOT", previous_.c_str(), 1);
    else
        ::unsetenv("BOARD_ROOT");
    fs::remove_all(dir_, ec);
}

void BoardRoot::write_file(const std::string& boardPath, const std::string& text) const {
    fs::path p = dir_ + boardPath;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

void BoardRoot::write_program(const std::string& boardPath, const std::string& text) const {
    write_file(boardPath, text);
    fs::permissions(dir_ + boardPath, fs::perms::owner_all | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read |
                                          fs::perms::others_exec);
}

std::string BoardRoot::read_file(const std::string& boardPath) const {
    std::ifstream in(dir_ + boardPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool BoardRoot::exists(const std::string& boardPath) const { return fs::exists(dir_ + boardPath); }

}  // namespace test
