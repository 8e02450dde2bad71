#include "runtime/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <iostream>

#include "board/paths.h"
#include "runtime/fd.h"

namespace {

// The command name in /proc/<pid>/stat: between the first "(" and the last ")".
bool command_matches(const char* name, int pid) {
    std::string stat = board::path("/proc/" + std::to_string(pid) + "/stat");
    Fd fd(::open(stat.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return false;
    char buf[256];
    ssize_t n = ::read(fd.get(), buf, 255);
    if (n <= 0) return false;
    std::string text(buf, static_cast<size_t>(n));
    size_t open = text.find('(');
    size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    return text.compare(open + 1, close - open - 1, name) == 0 &&
           std::strlen(name) == close - open - 1;
}

}  // namespace

int find_proc_by_name(const char* name, int pid) {
    if (pid > 0 && command_matches(name, pid)) return pid;
    DIR* dir = ::opendir(board::path("/proc").c_str());
    if (dir == nullptr) return -1;
    int found = -1;
    while (dirent* entry = ::readdir(dir)) {
        int candidate = std::atoi(entry->d_name);
        if (candidate > 0 && command_matches(name, candidate)) {
            found = candidate;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::ostream& timestamp(std::ostream& os) {
    time_t now = ::time(nullptr);
    if (now == static_cast<time_t>(-1)) return os;
    struct tm local;
    if (::localtime_r(&now, &local) == nullptr) return os;
    char text[32];
    if (std::strftime(text, sizeof text, "%d/%m %H:%M:%S", &local) > 0) os << text;
    return os;
}

void SmartPtrAssertion() {
    std::clog << "SMART POINTER ASSERTION!" << std::endl;
    std::terminate();
}

void SharedPtrAssertion() {
    std::clog << "SHARED POINTER ASSERTION!" << std::endl;
    std::terminate();
}

namespace Linux {

Run::Run(const char* name) : path_(board::path(std::string("/var/run/") + name + ".pid")) {
    fd_.reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644));
    if (!fd_) return;
    std::string pid = std::to_string(::getpid());
    if (::write(fd_.get(), pid.data(), pid.size()) < 0) return;
    ::fsync(fd_.get());
}

Run::~Run() {
    if (!fd_) return;
    fd_.close();
    ::unlink(path_.c_str());
}

}  // namespace Linux

namespace Console {

void SwitchToBinaryMode() {
    termios t{};
    if (::tcgetattr(STDIN_FILENO, &t) != 0) std::cerr << "can't obtain terminal attributes";
    t.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL);
    if (::tcsetattr(STDIN_FILENO, TCSADRAIN, &t) != 0) std::cerr << "can't set terminal attributes";
}

void SwitchToNonBlockMode() {
    int on = 1;
    if (::ioctl(STDIN_FILENO, FIONBIO, &on) != 0) std::cerr << "can't switch terminal to blocked mode";
}

}  // namespace Console
