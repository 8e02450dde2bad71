#pragma once
// A scenario that must not touch the test process (a descriptor shortage, a
// closefrom()), run in a forked child that reports back what it found.
//
//   EXPECT_EQ("accepted", test::in_forked_child([&] { ...; return outcome; }));

#include <functional>
#include <string>

namespace test {

// Runs `scenario` in a forked child of this process and returns what it
// returned, followed by a line that says so when the child did not end
// normally (a sanitizer's report is then on standard error).
std::string in_forked_child(const std::function<std::string()>& scenario);

}  // namespace test
