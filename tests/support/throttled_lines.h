#pragma once
// What a line written at most once a second (runtime/log_throttle.h) leaves
// in a log after two floods of its cause a second apart.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace test {

// The log holds `text` on two lines: the first as it comes, the second
// ending with the count of those held back, " (N more since)".
inline ::testing::AssertionResult written_twice_with_a_count(const std::string& log,
                                                             const std::string& text) {
    std::istringstream lines(log);
    std::vector<std::string> found;
    for (std::string line; std::getline(lines, line);)
        if (line.find(text) != std::string::npos) found.push_back(line);
    const auto counted = [](const std::string& line) {
        const std::string more = " more since)";
        return line.size() > more.size() &&
               line.compare(line.size() - more.size(), more.size(), more) == 0;
    };
    if (found.size() == 2 && !counted(found[0]) && counted(found[1]))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << found.size() << " lines with \"" << text << "\" in:\n"
                                         << log.substr(0, 2000);
}

}  // namespace test
