#pragma once
// Stand-ins for the child programs of the modem slots, written under the
// board root. Each records its argument vector, argv[0] first and one per
// line, in "<program>.<its pid>", then behaves as told.

#include <string>

namespace test::stand_in {

inline std::string script(const std::string& before, const std::string& after) {
    return "#!/bin/sh\n" + before + "printf '%s\\n' \"$0\" \"$@\" > \"$0.$$\"\n" + after;
}

// Ends on SIGHUP (sleep's default).
inline std::string obeys_hup() { return script("", "exec sleep 60\n"); }
// Only SIGKILL ends it.
inline std::string ignores_hup() { return script("trap '' HUP\n", "exec sleep 60\n"); }
// Ends at once with `code`.
inline std::string exits(int code) { return script("", "exit " + std::to_string(code) + "\n"); }
// Killed by a signal.
inline std::string killed() { return script("", "kill -9 $$\n"); }
// A fax receiver: writes the file it is given last, then reports `pages`.
inline std::string fax_receiver(int pages) {
    return script("", "eval last=\\${$#}\necho fax > \"$last\"\nexit " + std::to_string(pages) + "\n");
}

}  // namespace test::stand_in
