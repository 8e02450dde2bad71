#pragma once
// The one writer of a frame trace text: it keeps the text NUL-terminated inside
// its buffer, never writes past it, and marks where the text had to stop.

#include <cstddef>

namespace ISDN {

class FrameText {
public:
    // Where the text stops early: the frame ended inside a field, or the buffer is full.
    static constexpr char marker[] = " [truncated]";

    // Starts an empty text in `buffer`, which holds `size` octets (more than the marker).
    FrameText(char* buffer, std::size_t size);

    void put(char c);
    void put(const char* text);
    void format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Ends the line unless the text ends with one already.
    void end_line();

    // Ends the text here with the marker; later writes are dropped.
    void cut();
    bool stopped() const { return stopped_; }
    std::size_t length() const { return length_; }

private:
    char* buffer_;
    std::size_t size_;
    std::size_t length_ = 0;
    bool stopped_ = false;
};

}  // namespace ISDN
