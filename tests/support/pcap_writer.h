#pragma once
// Captures for tshark: a classic pcap file of raw IPv4 packets (link type
// 101) holding UDP datagrams on the loopback address, built in memory and
// written at once. Every field is written byte by byte, big-endian, so the
// file is the same on every host.
//
//   test::PcapWriter capture;
//   capture.add_udp(5004, test::rtp_with_extension(0x0167, extension));
//   auto packets = test::tshark_fields(capture, {"-d", "udp.port==5004,rtp"}, fields, &error);

#include <cstdint>
#include <string>

#include "tests/support/bytes.h"

namespace test {

class PcapWriter {
public:
    PcapWriter();

    // One datagram from 127.0.0.1:port to 127.0.0.1:port.
    void add_udp(uint16_t port, const Bytes& payload);
    size_t packets() const { return packets_; }
    const Bytes& bytes() const { return file_; }
    bool write(const std::string& path) const;

private:
    Bytes file_;
    size_t packets_ = 0;
};

// An RTP packet (version 2, X set, no CSRC, payload type 0) whose header
// extension carries `extension` under `profile`, zero-padded to whole 32-bit
// words as the extension length counts them; four payload bytes follow.
Bytes rtp_with_extension(uint16_t profile, const Bytes& extension, uint16_t seq = 1,
                         uint32_t ssrc = 0x01020304);

}  // namespace test
