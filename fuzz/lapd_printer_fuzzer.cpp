// Feeds any bytes to the frame printer: the first byte gives the direction
// flag, the rest is the frame. The frame is an exact-size copy and the text
// buffer exactly ISDN::logbuf_size octets, so the sanitizers see any read past
// the frame or write past the buffer. The text must end with a NUL inside it,
// the only one it writes (an octet of the frame copied raw would cut the
// logged text short), and hold no control character but the line feed.

#include <cstdint>
#include <cstring>
#include <memory>

#include "signalling/frame_printer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    bool network_to_user = data[0] & 1;
    size_t length = size - 1;
    std::unique_ptr<unsigned char[]> frame(new unsigned char[length]);
    if (length > 0) std::memcpy(frame.get(), data + 1, length);
    constexpr unsigned char unwritten = 0xA5;
    std::unique_ptr<unsigned char[]> out(new unsigned char[ISDN::logbuf_size]);
    std::memset(out.get(), unwritten, ISDN::logbuf_size);
    ISDN::dlogframe(frame.get(), static_cast<int>(length), network_to_user,
                    reinterpret_cast<char*>(out.get()));
    const unsigned char* end =
        static_cast<unsigned char*>(std::memchr(out.get(), 0, ISDN::logbuf_size));
    if (!end) __builtin_trap();
    if (end + 1 < out.get() + ISDN::logbuf_size && end[1] != unwritten) __builtin_trap();
    for (const unsigned char* c = out.get(); c < end; ++c)
        if ((*c < 0x20 && *c != '\n') || *c > 0x7E) __builtin_trap();
    return 0;
}
