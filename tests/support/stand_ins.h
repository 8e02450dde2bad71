#pragma once
// Stand-ins for the programs around the modem and T.38 slots. The child
// programs are scripts written under the board root: each records its
// argument vector, argv[0] first and one per line, in "<program>.<its pid>",
// then behaves as told. The dial-in authentication program is played by the
// test itself, with the records below.

#include <cstdint>
#include <string>

namespace test::stand_in {

inline std::string script(const std::string& before, const std::string& after) {
    return "#!/bin/sh\n" + before + "printf '%s\\n' \"$0\" \"$@\" > \"$0.$$\"\n" + after;
}

// Ends on SIGHUP (sleep's default).
inline std::string obeys_hup() { return script("", "exec sleep 60\n"); }
// Only SIGKILL ends them.
inline std::string ignores_hup() { return script("trap '' HUP\n", "exec sleep 60\n"); }
inline std::string ignores_term() { return script("trap '' TERM\n", "exec sleep 60\n"); }
// Ends at once with `code`.
inline std::string exits(int code) { return script("", "exit " + std::to_string(code) + "\n"); }
// Killed by a signal.
inline std::string killed() { return script("", "kill -9 $$\n"); }
// A fax receiver: writes its pid in the file it is given last, then
// reports `pages`.
inline std::string fax_receiver(int pages) {
    return script("", "eval last=\\${$#}\necho $$ > \"$last\"\nexit " + std::to_string(pages) + "\n");
}

// The T.38 program. With --num-of-instances it prints `instances` (nothing
// when empty). Otherwise, before its argument vector, it records its
// descriptors as `ls -l` lists those of a program it runs, in
// "<program>.<pid>.fds"; then it does `then`.
inline std::string t38(const std::string& then, const std::string& instances = "") {
    const std::string count = instances.empty() ? "" : "printf '%s\\n' '" + instances + "'\n";
    return script("if [ \"$1\" = --num-of-instances ]; then\n" + count + "exit 0\nfi\n"
                  "ls -l /proc/self/fd > \"$0.$$.fds\"\n",
                  then);
}
// Runs until SIGTERM.
inline std::string runs() { return "exec sleep 60\n"; }
// Records the first packet on its standard input in "<program>.<pid>.in",
// then runs until SIGTERM.
inline std::string reads_input() {
    return "dd bs=256 count=1 of=\"$0.$$.in\" 2>/dev/null\nexec sleep 60\n";
}
// Ends at once with `code`.
inline std::string ends(int code) { return "exit " + std::to_string(code) + "\n"; }

}  // namespace test::stand_in

namespace test {

// Records of the authentication program, as it writes them.
inline std::string word(uint32_t w) {
    return {char(w >> 24), char(w >> 16), char(w >> 8), char(w)};
}
inline std::string auth_record(uint32_t length, uint32_t type, uint32_t session,
                               std::string body = "") {
    body.resize(length > 12 ? length - 12 : 0, '\0');
    return word(length) + word(type) + word(session) + body;
}
inline std::string login(uint32_t session, std::string user, std::string password) {
    user.resize(64, '\0');
    return auth_record(140, 1, session, user + password);
}

}  // namespace test
