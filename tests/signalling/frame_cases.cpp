#include "tests/signalling/frame_cases.h"

#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "signalling/frame_printer.h"

namespace test {

const std::vector<FrameCase> frame_cases = {
#include "tests/signalling/frame_printer_cases.inc"
};

std::vector<unsigned char> octets(const std::string& hex) {
    std::vector<unsigned char> bytes;
    std::istringstream words(hex);
    std::string word;
    while (words >> word) {
        std::size_t star = word.find('*');
        unsigned long value = std::stoul(word.substr(0, star), nullptr, 16);
        unsigned long count = star == std::string::npos ? 1 : std::stoul(word.substr(star + 1));
        if (value > 0xFF) throw std::invalid_argument("not an octet: " + word);
        bytes.insert(bytes.end(), count, static_cast<unsigned char>(value));
    }
    return bytes;
}

std::string printed(const std::vector<unsigned char>& frame, bool network_to_user) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[frame.size()]);
    std::copy(frame.begin(), frame.end(), copy.get());
    std::unique_ptr<char[]> out(new char[ISDN::logbuf_size]);
    std::fill_n(out.get(), ISDN::logbuf_size, '#');  // stale text must not survive
    ISDN::dlogframe(copy.get(), static_cast<int>(frame.size()), network_to_user, out.get());
    return std::string(out.get(), strnlen(out.get(), ISDN::logbuf_size));
}

}  // namespace test
