#include "tests/signalling/frame_cases.h"

#include <cstring>
#include <memory>
#include <sstream>

#include "signalling/frame_printer.h"

namespace test {

const std::vector<FrameCase> frame_cases = {
#include "tests/signalling/frame_printer_cases.inc"
};

Bytes octets(const std::string& hex) {
    Bytes bytes;
    std::istringstream words(hex);
    for (std::string word; words >> word;) {
        std::size_t star = word.find('*');
        Bytes octet = hex_bytes(word.substr(0, star));
        std::size_t count = star == std::string::npos ? 1 : std::stoul(word.substr(star + 1));
        for (std::size_t i = 0; i < count; ++i) bytes.insert(bytes.end(), octet.begin(), octet.end());
    }
    return bytes;
}

std::string printed(const Bytes& frame, bool network_to_user) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[frame.size()]);
    std::copy(frame.begin(), frame.end(), copy.get());
    std::unique_ptr<char[]> out(new char[ISDN::logbuf_size]);
    std::fill_n(out.get(), ISDN::logbuf_size, '#');  // stale text must not survive
    ISDN::dlogframe(copy.get(), static_cast<int>(frame.size()), network_to_user, out.get());
    return std::string(out.get(), strnlen(out.get(), ISDN::logbuf_size));
}

}  // namespace test
