#pragma once
// The descriptors a process holds, as /proc shows them: to find those of
// the server that leaked into a child program, or to leave it none.

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace test {

inline bool is_channel(const std::string& target) {
    return target.rfind("socket:", 0) == 0 || target.rfind("pipe:", 0) == 0;
}

// Descriptor -> "socket:[inode]" or "pipe:[inode]".
inline std::map<int, std::string> channels_of(pid_t pid) {
    namespace fs = std::filesystem;
    std::map<int, std::string> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const std::string target = fs::read_symlink(entry.path(), ec).string();
        if (is_channel(target)) out[std::stoi(entry.path().filename().string())] = target;
    }
    return out;
}

// The lowest descriptor number the process has free: with its descriptor
// limit there, it can open nothing more.
inline int lowest_free_descriptor(pid_t pid) {
    namespace fs = std::filesystem;
    std::set<int> open;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        open.insert(std::stoi(entry.path().filename().string()));
    int lowest = 0;
    while (open.count(lowest) != 0) ++lowest;
    return lowest;
}

}  // namespace test
