#include "tests/support/lapd_capture.h"

#include "runtime/mux_time.h"
#include "tests/support/hdlc_pair.h"

namespace test {

LapdCapture::LapdCapture(PcapWriter& file, HdlcEnd& end, bool networkSide)
    : file_(file),
      end_(end),
      networkSide_(networkSide),
      tap_(end_.add_tap([this](const Packet& frame, bool sent) { record(frame, sent); })) {}

LapdCapture::~LapdCapture() { end_.remove_tap(tap_); }

void LapdCapture::record(const Packet& frame, bool sent) {
    add_lapd_frame(file_, frame.data(), frame.length(), sent, networkSide_);
}

// The Linux LAPD pseudo-header, big-endian: packet type, hardware type
// (LAPD), address length, 8 address octets (the first 1 on the network
// side), protocol (LAPD).
void add_lapd_frame(PcapWriter& file, const unsigned char* frame, size_t length, bool sent,
                    bool networkSide) {
    const uint8_t header[] = {
        0, static_cast<uint8_t>(sent ? 4 : 0),
        0x20, 0xFD,
        0, 1,
        static_cast<uint8_t>(networkSide ? 1 : 0), 0, 0, 0, 0, 0, 0, 0,
        0x00, 0x30,
    };
    // Room for both at once: growing the record would copy it, which GCC 12
    // at -O2 takes for a copy beyond the header.
    Bytes record;
    record.reserve(sizeof header + length);
    record.insert(record.end(), header, header + sizeof header);
    record.insert(record.end(), frame, frame + length);
    Mux::timeval now;
    Mux::gettimeval(now);
    file.add_record(static_cast<uint32_t>(now.tv_sec), static_cast<uint32_t>(now.tv_usec), record);
}

}  // namespace test
