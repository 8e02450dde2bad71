#include "tests/support/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "tests/support/deadline.h"

extern char** environ;

namespace test {

std::string find_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = std::string(path ? path : "/usr/bin:/bin") + ":/usr/sbin:/sbin";
    size_t start = 0;
    for (;;) {
        const size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end - start);
        const std::string program = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(program.c_str(), X_OK) == 0) return program;
        if (end == std::string::npos) return "";
        start = end + 1;
    }
}

ServerProcess::ServerProcess(const std::string& program, const std::vector<std::string>& args,
                             Input input) {
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    if (input == Input::closed) posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    outFd_.reset(outPipe[0]);
    errFd_.reset(errPipe[0]);
    if (rc != 0) throw std::runtime_error("cannot start " + program);
}

ServerProcess::~ServerProcess() {
    if (!exited_) {
        ::kill(pid_, SIGKILL);
        reap(0);
    }
}

bool ServerProcess::signal(int sig) const { return !exited_ && ::kill(pid_, sig) == 0; }

bool ServerProcess::wait_for_output(const std::string& text, int timeoutMs) {
    return wait_until(
        [&] { return out_.find(text) != std::string::npos || err_.find(text) != std::string::npos; },
        timeoutMs);
}

bool ServerProcess::wait_until(const std::function<bool()>& done, int timeoutMs) {
    Deadline deadline(timeoutMs);
    for (;;) {
        if (done()) return true;
        if ((!outFd_ && !errFd_) || deadline.remaining_ms() == 0) return false;
        collect(deadline.remaining_ms());
    }
}

void ServerProcess::run_for(int ms) {
    Deadline deadline(ms);
    while (deadline.remaining_ms() > 0) {
        if (outFd_ || errFd_)
            collect(deadline.remaining_ms());
        else
            ::poll(nullptr, 0, deadline.remaining_ms());
    }
}

void ServerProcess::take_output() {
    for (size_t before = SIZE_MAX; before != out_.size() + err_.size() && (outFd_ || errFd_);) {
        before = out_.size() + err_.size();
        collect(0);
    }
}

ServerProcess::Usage ServerProcess::usage() const {
    Usage usage;
    const std::string proc = "/proc/" + std::to_string(pid_);
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmRSS:") == 0) usage.residentKib = std::atol(line.c_str() + 6);
    // Fields 14 and 15, after the name in parentheses (which may hold spaces).
    std::ifstream statFile(proc + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) return usage;
    std::istringstream fields(stat.substr(nameEnd + 2));
    std::string field;
    for (int k = 3; k < 14 && fields >> field; ++k) {
    }
    long user = 0, system = 0;
    if (fields >> user >> system) usage.cpuMs = (user + system) * 1000 / ::sysconf(_SC_CLK_TCK);
    return usage;
}

int ServerProcess::wait_exit(int timeoutMs) {
    Deadline deadline(timeoutMs);
    // The pipes close when the child ends (unless it handed them on).
    while ((outFd_ || errFd_) && deadline.remaining_ms() > 0)
        collect(deadline.remaining_ms());
    while (!exited_ && !reap(WNOHANG) && deadline.remaining_ms() > 0)
        collect(std::min(deadline.remaining_ms(), 10));
    if (!exited_) {
        ::kill(pid_, SIGKILL);
        reap(0);
        return -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void ServerProcess::collect(int timeoutMs) {
    pollfd fds[2] = {{outFd_.get(), POLLIN, 0}, {errFd_.get(), POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0) return;
    Fd* owners[2] = {&outFd_, &errFd_};
    std::string* texts[2] = {&out_, &err_};
    for (int k = 0; k < 2; ++k) {
        if (!fds[k].revents) continue;
        char buf[4096];
        ssize_t n = ::read(owners[k]->get(), buf, sizeof buf);
        if (n > 0)
            texts[k]->append(buf, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            owners[k]->reset();
    }
}

bool ServerProcess::reap(int options) {
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, options);
    } while (r < 0 && errno == EINTR);
    if (r != pid_) return false;
    status_ = status;
    exited_ = true;
    return true;
}

FileWatch::FileWatch(const std::string& dir) {
    fd_.reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!fd_ || ::inotify_add_watch(fd_.get(), dir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0)
        throw std::runtime_error("cannot watch " + dir);
}

bool FileWatch::wait_written(const std::string& name, int timeoutMs) {
    Deadline deadline(timeoutMs);
    for (;;) {
        auto seen = std::find(written_.begin(), written_.end(), name);
        if (seen != written_.end()) {
            written_.erase(seen);
            return true;
        }
        pollfd entry{fd_.get(), POLLIN, 0};
        if (::poll(&entry, 1, deadline.remaining_ms()) <= 0) return false;
        alignas(inotify_event) char buf[4096];
        ssize_t n = ::read(fd_.get(), buf, sizeof buf);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
            if (event->len) written_.push_back(event->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

}  // namespace test
