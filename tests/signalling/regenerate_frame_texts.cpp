// Rewrites the expected texts of the frame printer table with what the printer
// writes now, and the fuzzer's seed corpus with the table's frames. Run it
// after an intended change and review the difference.

#include <algorithm>
#include <fstream>
#include <iostream>
#include <string>

#include "tests/signalling/frame_cases.h"

namespace {

// A C string literal of `text`.
std::string literal(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c > 0x7E)
            out += "\\" + std::to_string(c >> 6) + std::to_string(c >> 3 & 7) +
                   std::to_string(c & 7);
        else
            out += static_cast<char>(c);
    }
    return out + '"';
}

// The text as adjacent literals on lines of their own: one per line of text,
// long lines in pieces.
void write_text(std::ostream& os, const std::string& text) {
    constexpr std::size_t width = 88;
    if (text.empty()) os << " \"\"";
    for (std::size_t start = 0, end; start < text.size(); start = end) {
        std::size_t newline = text.find('\n', start);
        end = std::min(newline == std::string::npos ? text.size() : newline + 1, start + width);
        os << "\n " << literal(text.substr(start, end - start));
    }
}

void write_table(std::ostream& os) {
    os << "// What the frame printer writes for each frame: {what, frame in hex, network to user, "
          "text}.\n// Rewrite the texts after an intended change with:\n"
          "//   build-test/tests/signalling/regenerate_frame_texts\n";
    for (const test::FrameCase& c : test::frame_cases) {
        os << "{" << literal(c.what) << ",\n " << literal(c.hex) << ",\n "
           << (c.network_to_user ? "true" : "false") << ',';
        write_text(os, test::printed(test::octets(c.hex), c.network_to_user));
        os << "},\n";
    }
}

// Seeds: the flag octet the fuzzer reads first, then the frame.
bool write_corpus(const std::string& dir) {
    int index = 0;
    for (const test::FrameCase& c : test::frame_cases) {
        std::ofstream seed(dir + "/case" + std::to_string(index++), std::ios::binary);
        seed.put(c.network_to_user ? 1 : 0);
        for (unsigned char octet : test::octets(c.hex)) seed.put(static_cast<char>(octet));
        if (!seed) return false;
    }
    return true;
}

}  // namespace

int main() {
    std::ofstream table(FRAME_CASES_FILE);
    write_table(table);
    if (!table || !write_corpus(LAPD_PRINTER_CORPUS)) {
        std::cerr << "cannot write " << FRAME_CASES_FILE << " or " << LAPD_PRINTER_CORPUS << '\n';
        return 1;
    }
    std::cout << "rewrote " << FRAME_CASES_FILE << " and " << LAPD_PRINTER_CORPUS << '\n';
    return 0;
}
