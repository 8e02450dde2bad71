#include "signalling/frame_text.h"

#include <algorithm>
#include <cstdarg>
#include <cassert>
#include <cstdio>
#include <cstring>

namespace ISDN {

constexpr char FrameText::marker[];

namespace {
constexpr std::size_t marker_length = sizeof FrameText::marker - 1;
}  // namespace

FrameText::FrameText(char* buffer, std::size_t size) : buffer_(buffer), size_(size) {
    assert(size > marker_length);
    buffer_[0] = '\0';
}

void FrameText::put(char c) {
    if (stopped_) return;
    if (length_ + 1 == size_) {  // no room left for c and the NUL
        cut();
        return;
    }
    buffer_[length_++] = c;
    buffer_[length_] = '\0';
}

void FrameText::put(const char* text) {
    while (*text && !stopped_) put(*text++);
}

void FrameText::format(const char* format, ...) {
    // Formats hold numbers and short names; the longest (a cause text) stays well inside.
    char piece[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    put(piece);
}

void FrameText::end_line() {
    if (length_ > 0 && buffer_[length_ - 1] != '\n') put('\n');
}

void FrameText::cut() {
    if (stopped_) return;
    // A full buffer gives up the last characters of the text to the marker.
    length_ = std::min(length_, size_ - 1 - marker_length);
    std::memcpy(buffer_ + length_, marker, marker_length + 1);
    length_ += marker_length;
    stopped_ = true;
}

}  // namespace ISDN
