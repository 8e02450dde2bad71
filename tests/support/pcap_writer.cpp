#include "tests/support/pcap_writer.h"

#include <fstream>

namespace test {

namespace {

constexpr uint32_t pcap_magic = 0xa1b2c3d4;
constexpr uint32_t loopback = 0x7f000001;
constexpr int ipv4_header_size = 20;
constexpr int udp_header_size = 8;

uint16_t ipv4_checksum(const uint8_t* header) {
    uint32_t sum = 0;
    for (int i = 0; i < ipv4_header_size; i += 2) sum += uint32_t(header[i]) << 8 | header[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// Appends `value` big-endian in `size` bytes.
void put_be(Bytes& out, uint32_t value, int size) {
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

PcapWriter::PcapWriter(uint32_t linkType) {
    put_be(file_, pcap_magic, 4);
    put_be(file_, 2, 2);  // version 2.4
    put_be(file_, 4, 2);
    put_be(file_, 0, 4);  // time zone
    put_be(file_, 0, 4);  // time-stamp accuracy
    put_be(file_, 65535, 4);
    put_be(file_, linkType, 4);
}

void PcapWriter::add_udp(uint16_t port, const Bytes& payload) {
    const uint32_t udpLength = udp_header_size + static_cast<uint32_t>(payload.size());
    Bytes ip;
    put_be(ip, 0x4500, 2);  // version 4, 5 words, no DSCP
    put_be(ip, ipv4_header_size + udpLength, 2);
    put_be(ip, static_cast<uint32_t>(packets_), 2);  // identification
    put_be(ip, 0, 2);                                // no fragments
    put_be(ip, 64 << 8 | 17, 2);                     // TTL, UDP
    put_be(ip, 0, 2);                                // checksum, below
    put_be(ip, loopback, 4);
    put_be(ip, loopback, 4);
    const uint16_t checksum = ipv4_checksum(ip.data());
    ip[10] = static_cast<uint8_t>(checksum >> 8);
    ip[11] = static_cast<uint8_t>(checksum);
    put_be(ip, port, 2);
    put_be(ip, port, 2);
    put_be(ip, udpLength, 2);
    put_be(ip, 0, 2);  // no UDP checksum
    ip.insert(ip.end(), payload.begin(), payload.end());

    add_record(static_cast<uint32_t>(packets_), 0, ip);  // one packet a second
}

void PcapWriter::add_record(uint32_t seconds, uint32_t microseconds, const Bytes& record) {
    put_be(file_, seconds, 4);
    put_be(file_, microseconds, 4);
    put_be(file_, static_cast<uint32_t>(record.size()), 4);
    put_be(file_, static_cast<uint32_t>(record.size()), 4);
    file_.insert(file_.end(), record.begin(), record.end());
    ++packets_;
}

bool PcapWriter::write(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file_.data()), static_cast<std::streamsize>(file_.size()));
    return static_cast<bool>(out);
}

Bytes rtp_with_extension(uint16_t profile, const Bytes& extension, uint16_t seq, uint32_t ssrc) {
    Bytes words = extension;
    words.resize((extension.size() + 3) / 4 * 4, 0);
    Bytes rtp;
    put_be(rtp, 0x9000, 2);  // V=2, X=1, payload type 0
    put_be(rtp, seq, 2);
    put_be(rtp, 160u * seq, 4);  // time stamp
    put_be(rtp, ssrc, 4);
    put_be(rtp, profile, 2);
    put_be(rtp, static_cast<uint32_t>(words.size() / 4), 2);
    rtp.insert(rtp.end(), words.begin(), words.end());
    put_be(rtp, 0xD5D5D5D5, 4);  // payload
    return rtp;
}

}  // namespace test
