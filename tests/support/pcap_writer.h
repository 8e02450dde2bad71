#pragma once
// Captures for tshark: a classic pcap file, built in memory and written at
// once, of raw IPv4 packets (link type 101) holding UDP datagrams on the
// loopback address, or of records of another link type (frames of a link
// under test: tests/support/line_capture.h). Every field is written byte by byte,
// big-endian, so the file is the same on every host.
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
    static constexpr uint32_t raw_ipv4 = 101;
    static constexpr uint32_t linux_lapd = 177;  // 16-octet pseudo-header, then the frame
    static constexpr uint32_t mtp2 = 140;        // the signal unit as sent, no FCS

    explicit PcapWriter(uint32_t linkType = raw_ipv4);

    // One datagram from 127.0.0.1:port to 127.0.0.1:port (raw IPv4 files),
    // stamped with its number in seconds.
    void add_udp(uint16_t port, const Bytes& payload);
    // One record as it is, stamped with the time given.
    void add_record(uint32_t seconds, uint32_t microseconds, const Bytes& record);
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
