// Feeds any bytes to the frame printer: the first byte gives the direction
// flag, the rest is the frame. The frame is an exact-size copy and the text
// buffer exactly ISDN::logbuf_size octets, so the sanitizers see any read past
// the frame or write past the buffer; the text must end with a NUL inside it.

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
    std::unique_ptr<char[]> out(new char[ISDN::logbuf_size]);
    ISDN::dlogframe(frame.get(), static_cast<int>(length), network_to_user, out.get());
    if (!std::memchr(out.get(), '\0', ISDN::logbuf_size)) __builtin_trap();
    return 0;
}
