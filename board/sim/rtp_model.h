#pragma once
// The simulated RTP engine "/dev/rtp": one RTP stream per open. Beginning a
// stream binds a real UDP socket to its local address and port; adding a
// channel places the stream on a TDM channel of the engine's pool (channels
// clear of the trunk and bus numbers). Media runs both ways over the
// "/dev/hal" model when a test says so:
//
//   auto& rtp = *board.model_as<board::sim::RtpModel>(board::rtp::kDevice);
//   rtp.emit(3);          // each stream with input on sends 3 RTP packets
//   rtp.poll_network();   // what reached the streams' sockets drives their channels
//
// A stream lives until the last descriptor of its open is closed.

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "board/drivers/rtp.h"
#include "board/sim/sim_board.h"

namespace board::sim {

class RtpModel : public Model {
public:
    // The engine's TDM channels: kPoolBase and up.
    static constexpr int kPoolBase = 512;
    static constexpr int kDefaultPool = 32;
    // Payload bytes of an emitted packet: 20 ms of G.711.
    static constexpr unsigned kSamples = 160;

    struct Stream {
        Stream() = default;
        ~Stream();
        Stream(const Stream&) = delete;
        Stream& operator=(const Stream&) = delete;

        bool begun = false;
        rtp::rtp_connection_params params{};
        int socket = -1;  // UDP, bound to the local address and port once begun
        int channel = -1;
        rtp::rtp_channel_info added{};  // as the add request gave it
        bool input = false;
        bool detecting = false;  // packet detection set and not yet reported
        int32_t pdTimeout = 0;
        std::vector<uint32_t> teardown;  // the teardown requests, in order, while journaled
        std::optional<rtp::rtp_attach_session_params> attached;
        uint16_t sequence = 0;  // of the next packet sent
        uint32_t timestamp = 0;
        std::vector<std::vector<uint8_t>> received;  // datagrams taken from the socket

        // The local port the socket is bound to (0 before begin).
        uint16_t local_port() const;
    };

    RtpModel() { reset(); }

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    void close(Channel& channel) override;
    void reset() override;

    // The open streams, oldest first.
    std::vector<const Stream*> streams();
    // The open stream on a TDM channel, or null.
    const Stream* on_channel(int channel);
    // The stream of an open, or null.
    const Stream* stream_of(const Channel& channel) const;
    // Pool channels no open stream holds.
    int free_channels();

    // Each begun stream with its input on sends `count` packets to its far
    // end, carrying the byte its channel receives on the switch. Returns the
    // packets sent.
    int emit(unsigned count);
    // Takes what reached every stream's socket: an RTP packet drives the
    // stream's channel with its first payload byte, and the first one after
    // packet detection was set is reported as an event. Returns the
    // datagrams taken.
    int poll_network();

    int pool_size = kDefaultPool;
    bool absent = false;  // open fails with ENOENT

private:
    int Begin(Stream& stream, const rtp::rtp_connection_params& params);
    int AddChannel(Stream& stream, rtp::rtp_channel_info& info);
    bool Held(int channel) const;
    void Send(Stream& stream, unsigned count);
    int Receive(Channel& channel, Stream& stream);

    std::map<Channel*, Stream> streams_;
};

}  // namespace board::sim
