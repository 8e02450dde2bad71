#include "tests/support/udp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <stdexcept>

#include "tests/support/loopback.h"

namespace test {

Fd udp_bind(unsigned short port) {
    Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const sockaddr_in address = loopback_address(port);
    if (!socket ||
        ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return Fd();
    return socket;
}

namespace {

bool udp_pair_free(unsigned short port) {
    return udp_bind(port) && udp_bind(static_cast<unsigned short>(port + 1));
}

}  // namespace

unsigned short free_udp_pair() {
    if (const unsigned short port = own_port(udp_pair_free)) return port;
    // The window is used up: the kernel's pick.
    for (int attempt = 0; attempt < 100; ++attempt) {
        Fd first = udp_bind(0);
        sockaddr_in address{};
        socklen_t length = sizeof address;
        if (!first ||
            ::getsockname(first.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            break;
        const unsigned short port = ntohs(address.sin_port);
        if (port < 65534 && udp_bind(static_cast<unsigned short>(port + 1))) return port;
    }
    throw std::runtime_error("no free pair of UDP ports");
}

std::vector<Bytes> datagrams(int fd, int timeoutMs) {
    pollfd ready{fd, POLLIN, 0};
    if (timeoutMs > 0) ::poll(&ready, 1, timeoutMs);
    std::vector<Bytes> received;
    uint8_t buf[2048];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0) return received;
        received.emplace_back(buf, buf + n);
    }
}

Bytes rtp_packet(uint8_t payloadType, uint16_t sequence, uint32_t ssrc, uint8_t byte,
                 unsigned samples) {
    Bytes packet(12, 0);
    packet[0] = 0x80;  // version 2
    packet[1] = payloadType;
    packet[2] = uint8_t(sequence >> 8);
    packet[3] = uint8_t(sequence);
    for (int i = 0; i < 4; ++i) packet[8 + i] = uint8_t(ssrc >> (24 - 8 * i));
    packet.resize(12 + samples, byte);
    return packet;
}

uint32_t word_at(const Bytes& b, size_t i) {
    return (uint32_t(b[i]) << 24) | (uint32_t(b[i + 1]) << 16) | (uint32_t(b[i + 2]) << 8) |
           b[i + 3];
}

Rtcp parse_rtcp(const Bytes& packet) {
    Rtcp rtcp;
    if (packet.size() < 8) return rtcp;
    rtcp.pt = packet[1];
    rtcp.ssrc = word_at(packet, 4);
    size_t i = 8;
    if (rtcp.pt == 202) {
        while (i + 1 < packet.size() && packet[i] != 0) {
            const size_t end = i + 2 + packet[i + 1];
            if (end > packet.size()) break;
            rtcp.items.emplace_back(packet[i],
                                    std::string(packet.begin() + i + 2, packet.begin() + end));
            i = end;
        }
    } else if (rtcp.pt == 203 && i < packet.size() && i + 1 + packet[i] <= packet.size()) {
        rtcp.reason.assign(packet.begin() + i + 1, packet.begin() + i + 1 + packet[i]);
    }
    return rtcp;
}

UdpPeer::UdpPeer() : port_(free_udp_pair()) {
    rtp_ = udp_bind(port_);
    rtcp_ = udp_bind(static_cast<unsigned short>(port_ + 1));
    if (!rtp_ || !rtcp_) throw std::runtime_error("UDP pair taken");
}

void UdpPeer::send_rtp(unsigned short port, const Bytes& packet) const {
    const sockaddr_in to = loopback_address(port);
    ::sendto(rtp_.get(), packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof to);
}

}  // namespace test
