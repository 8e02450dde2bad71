#pragma once
// What a line written at most once a second (runtime/log_throttle.h) leaves
// in a log after two floods of its cause a second apart.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace test {

// The log holds `text` on two lines: the first as it comes, the second
// ending with the count of those held back between them, " (N more since)"
// with N `held`.
inline ::testing::AssertionResult written_twice_with_a_count(const std::string& log,
                                                             const std::string& text,
                                                             unsigned held) {
    std::istringstream lines(log);
    std::vector<std::string> found;
    for (std::string line; std::getline(lines, line);)
        if (line.find(text) != std::string::npos) found.push_back(line);
    const auto ends_with = [](const std::string& line, const std::string& end) {
        return line.size() > end.size() &&
               line.compare(line.size() - end.size(), end.size(), end) == 0;
    };
    const std::string count = " (" + std::to_string(held) + " more since)";
    if (found.size() == 2 && !ends_with(found[0], " more since)") && ends_with(found[1], count))
        return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << found.size() << " lines with \"" << text << "\", the second to end in \"" << count
            << "\":";
    for (const std::string& line : found) failure << "\n" << line;
    return failure;
}

}  // namespace test
