// Rewrites the expected texts of the frame printer table with what the printer
// writes now, and the fuzzer's seed corpus with the table's frames. Run it
// after an intended change and review the difference.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "tests/signalling/frame_cases.h"

namespace {

constexpr std::size_t piece_width = 88;

std::string escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c > 0x7E) {
            char octal[5];
            std::snprintf(octal, sizeof octal, "\\%03o", c);
            out += octal;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The text as adjacent string literals, one per line of text (long lines in
// pieces), each on a line of its own.
void write_text(std::ostream& os, const std::string& text) {
    if (text.empty()) {
        os << " \"\"";
        return;
    }
    for (std::size_t start = 0; start < text.size();) {
        std::size_t newline = text.find('\n', start);
        std::size_t end = newline == std::string::npos ? text.size() : newline + 1;
        end = std::min(end, start + piece_width);
        os << "\n \"" << escaped(text.substr(start, end - start)) << '"';
        start = end;
    }
}

// The hex in pieces that break between octets.
void write_hex(std::ostream& os, const std::string& hex) {
    std::size_t start = 0;
    while (hex.size() - start > piece_width) {
        std::size_t end = hex.rfind(' ', start + piece_width) + 1;
        os << " \"" << hex.substr(start, end - start) << "\"\n";
        start = end;
    }
    os << " \"" << hex.substr(start) << '"';
}

void write_table(std::ostream& os) {
    os << "// What the frame printer writes for each frame: {what, frame in hex, network to user, "
          "text}.\n"
          "// Rewrite the texts after an intended change with:\n"
          "//   build-test/tests/signalling/regenerate_frame_texts\n";
    for (const test::FrameCase& c : test::frame_cases) {
        os << "{\"" << c.what << "\",\n";
        write_hex(os, c.hex);
        os << ",\n " << (c.network_to_user ? "true" : "false") << ',';
        write_text(os, test::printed(test::octets(c.hex), c.network_to_user));
        os << "},\n";
    }
}

// Seeds: the flag octet the fuzzer reads first, then the frame.
bool write_corpus(const std::string& dir) {
    int index = 0;
    for (const test::FrameCase& c : test::frame_cases) {
        std::string name = dir + "/case" + std::to_string(index++);
        std::ofstream seed(name, std::ios::binary);
        seed.put(c.network_to_user ? 1 : 0);
        for (unsigned char octet : test::octets(c.hex)) seed.put(static_cast<char>(octet));
        if (!seed) {
            std::cerr << "cannot write " << name << '\n';
            return false;
        }
    }
    return true;
}

}  // namespace

int main() {
    std::ofstream table(FRAME_CASES_FILE);
    write_table(table);
    if (!table) {
        std::cerr << "cannot write " << FRAME_CASES_FILE << '\n';
        return 1;
    }
    std::cout << "rewrote " << FRAME_CASES_FILE << '\n';
    return write_corpus(LAPD_PRINTER_CORPUS) ? 0 : 1;
}
