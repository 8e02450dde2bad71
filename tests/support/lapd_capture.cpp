#include "tests/support/lapd_capture.h"

namespace test {

namespace {

// The Linux LAPD pseudo-header, big-endian: packet type, hardware type
// (LAPD), address length, 8 address octets (the first 1 on the network
// side), protocol (LAPD); then the frame.
Bytes lapd_record(const unsigned char* frame, size_t length, bool sent, bool networkSide) {
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
    return record;
}

}  // namespace

void add_lapd_frame(PcapWriter& file, const unsigned char* frame, size_t length, bool sent,
                    bool networkSide) {
    add_at_loop_time(file, lapd_record(frame, length, sent, networkSide));
}

LapdCapture::LapdCapture(PcapWriter& file, HdlcEnd& end, bool networkSide)
    : LineCapture(file, end, [networkSide](const Packet& frame, bool sent, Bytes& record) {
          record = lapd_record(frame.data(), frame.length(), sent, networkSide);
          return true;
      }) {}

}  // namespace test
