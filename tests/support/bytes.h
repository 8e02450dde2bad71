#pragma once
// Byte strings for wire-format tests, and their hex text ("82 F4 00 00").

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace test {

using Bytes = std::vector<uint8_t>;

// The bytes of hex text; spaces between the digit pairs are ignored.
inline Bytes hex_bytes(const std::string& text) {
    Bytes bytes;
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Upper-case digit pairs separated by spaces.
inline std::string hex_text(const uint8_t* bytes, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        if (i) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

inline std::string hex_text(const Bytes& bytes) { return hex_text(bytes.data(), bytes.size()); }

}  // namespace test
