#include "tests/support/forked_child.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>

namespace test {

std::string in_forked_child(const std::function<std::string()>& scenario) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return "no pipe for the child";
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ends[0]);
        const std::string report = scenario();
        for (size_t done = 0; done < report.size();) {
            const ssize_t n = ::write(ends[1], report.data() + done, report.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::_exit(0);
    }
    ::close(ends[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<size_t>(n));
    ::close(ends[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return report + "\nno child";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report += "\nthe child ended with status " + std::to_string(status);
    return report;
}

}  // namespace test
