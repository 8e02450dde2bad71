#pragma once
// The far end of an RTP stream on the loopback interface: an RTP socket and,
// on the next port, its RTCP socket, both non-blocking. Tests read what the
// server sent and send RTP of their own.
//
//   test::UdpPeer peer;                      // 127.0.0.1:P and P + 1
//   ... create an RTP slot with dhost 127.0.0.1:peer.rtp_port() ...
//   auto packets = peer.rtcp();              // what reached P + 1 so far
//   peer.send_rtp(localPort, test::rtp_packet(8, 1, 0x1234, 0x55));

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/fd.h"
#include "tests/support/bytes.h"

namespace test {

// A port P whose P and P + 1 both took a UDP bind on 127.0.0.1 a moment ago,
// from this process's own window of ports (own_port) while it lasts.
unsigned short free_udp_pair();
// A non-blocking UDP socket bound to 127.0.0.1:port; invalid when taken.
Fd udp_bind(unsigned short port);
// The datagrams waiting on the socket now; with a time-out, waits that long
// at most for the first.
std::vector<Bytes> datagrams(int fd, int timeoutMs = 0);

// An RTP packet (version 2, no CSRC or extension) with `samples` payload
// bytes of `byte`.
Bytes rtp_packet(uint8_t payloadType, uint16_t sequence, uint32_t ssrc, uint8_t byte,
                 unsigned samples = 160);

// An RTCP packet as a far end reads it: one SDES chunk or one BYE; what does
// not parse stays empty.
struct Rtcp {
    int pt = -1;
    uint32_t ssrc = 0;
    std::vector<std::pair<int, std::string>> items;  // SDES, without the END item
    std::string reason;                              // BYE
};
Rtcp parse_rtcp(const Bytes& packet);
// The big-endian word at `offset`.
uint32_t word_at(const Bytes& bytes, size_t offset);

class UdpPeer {
public:
    UdpPeer();

    unsigned short rtp_port() const { return port_; }
    std::vector<Bytes> rtp() const { return datagrams(rtp_.get()); }
    std::vector<Bytes> rtcp(int timeoutMs = 0) const { return datagrams(rtcp_.get(), timeoutMs); }
    // From the RTP socket to 127.0.0.1:port.
    void send_rtp(unsigned short port, const Bytes& packet) const;
    // Gives both ports up (the port numbers stay).
    void close() {
        rtp_.close();
        rtcp_.close();
    }

private:
    unsigned short port_;
    Fd rtp_;
    Fd rtcp_;
};

}  // namespace test
