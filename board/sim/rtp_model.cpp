#include "board/sim/rtp_model.h"

#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "board/drivers/hal.h"
#include "board/sim/hal_model.h"
#include "board/sim/model_support.h"

namespace board::sim {

namespace {

// Requests that carry no record.
bool takes_no_record(uint32_t request) {
    return request == rtp::kInputOn || request == rtp::kInputOff || request == rtp::kTeardown1 ||
           request == rtp::kTeardown2 || request == rtp::kTeardown3;
}

// The first payload byte of an RTP packet (after its CSRCs and header
// extension), or -1 when the datagram is not one or carries no payload.
int first_payload_byte(const uint8_t* p, size_t n) {
    constexpr size_t kHeader = 12;
    if (n < kHeader || (p[0] >> 6) != 2) return -1;
    size_t offset = kHeader + 4u * (p[0] & 0x0Fu);
    if (p[0] & 0x10) {
        if (offset + 4 > n) return -1;
        offset += 4 + 4u * ((p[offset + 2] << 8) | p[offset + 3]);
    }
    return offset < n ? p[offset] : -1;
}

void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, static_cast<uint16_t>(v >> 16));
    put16(p + 2, static_cast<uint16_t>(v));
}

sockaddr_in address(uint32_t networkOrderAddr, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = networkOrderAddr;
    sa.sin_port = htons(port);
    return sa;
}

HalModel* fabric() {
    return Board::instance().model_as<HalModel>(hal::kDevice);
}

uint32_t random_word() {
    static std::mt19937 generator{std::random_device{}()};
    return generator();
}

}  // namespace

RtpModel::Stream::~Stream() {
    if (socket >= 0) ::close(socket);
}

uint16_t RtpModel::Stream::local_port() const {
    return begun ? params.local_port : 0;
}

void RtpModel::reset() {
    streams_.clear();
    pool_size = kDefaultPool;
    absent = false;
}

int RtpModel::open(Channel& channel) {
    if (absent) return refuse(ENOENT);
    streams_.try_emplace(&channel);
    return 0;
}

void RtpModel::close(Channel& channel) {
    auto it = streams_.find(&channel);
    if (it == streams_.end()) return;
    // The channel brings in nothing once its stream is gone.
    HalModel* hal = fabric();
    if (hal && it->second.channel >= 0) hal->line.erase(it->second.channel);
    streams_.erase(it);
}

int RtpModel::ioctl(Channel& channel, uint32_t request, void* arg) {
    if (arg == nullptr && !takes_no_record(request)) return refuse(EFAULT);
    Stream& stream = streams_[&channel];
    if (request == rtp::kBeginSession)
        return Begin(stream, record_of<rtp::rtp_connection_params>(arg));
    if (request == rtp::kAttach) {
        stream.attached = record_of<rtp::rtp_attach_session_params>(arg);
        return 0;
    }
    if (request == rtp::kTeardown1 || request == rtp::kTeardown2 || request == rtp::kTeardown3) {
        if (journaled) stream.teardown.push_back(request);
        return 0;
    }
    if (request == rtp::kResetPacketDetection) {
        stream.detecting = false;
        return 0;
    }
    if (!stream.begun) {
        // Every other request acts on a begun stream.
        bool known = request == rtp::kAddChannel || request == rtp::kInputOn ||
                     request == rtp::kInputOff || request == rtp::kSetPacketDetection;
        return refuse(known ? EINVAL : ENOTTY);
    }
    switch (request) {
        case rtp::kAddChannel:
            return AddChannel(stream, *static_cast<rtp::rtp_channel_info*>(arg));
        case rtp::kInputOn:
            stream.input = true;
            return 0;
        case rtp::kInputOff:
            stream.input = false;
            return 0;
        case rtp::kSetPacketDetection:
            stream.detecting = true;
            stream.pdTimeout = record_of<rtp::rtp_event>(arg).timeout;
            return 0;
        default:
            return refuse(ENOTTY);
    }
}

int RtpModel::Begin(Stream& stream, const rtp::rtp_connection_params& params) {
    if (stream.begun) return refuse(EBUSY);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int ttl = params.ttl;
    const int tos = params.tos;
    const sockaddr_in local = address(params.local_addr, params.local_port);
    if ((ttl != 0 && ::setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) ||
        (tos != -1 && ::setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos) != 0) ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        ::close(fd);
        return refuse(error);
    }
    stream.socket = fd;
    stream.params = params;
    stream.begun = true;
    stream.sequence = static_cast<uint16_t>(random_word());
    stream.timestamp = random_word();
    return 0;
}

int RtpModel::AddChannel(Stream& stream, rtp::rtp_channel_info& info) {
    if (stream.channel >= 0) return refuse(EBUSY);
    Board::instance().drop_closed();
    int channel = info.tdm;
    if (channel == -1) {
        channel = kPoolBase;
        while (channel < kPoolBase + pool_size && Held(channel)) ++channel;
        if (channel == kPoolBase + pool_size) return refuse(ENOSPC);
    } else if (channel < 0 || channel >= hal::kBusBase) {
        return refuse(EINVAL);
    } else if (Held(channel)) {
        return refuse(EBUSY);
    }
    info.tdm = channel;
    stream.channel = channel;
    stream.added = info;
    return 0;
}

bool RtpModel::Held(int channel) const {
    for (const auto& entry : streams_)
        if (entry.second.channel == channel) return true;
    return false;
}

std::vector<const RtpModel::Stream*> RtpModel::streams() {
    std::vector<const Stream*> open;
    for (Channel* channel : Board::instance().channels(rtp::kDevice)) {
        auto it = streams_.find(channel);
        if (it != streams_.end()) open.push_back(&it->second);
    }
    return open;
}

const RtpModel::Stream* RtpModel::on_channel(int channel) {
    for (const Stream* stream : streams())
        if (stream->channel == channel) return stream;
    return nullptr;
}

const RtpModel::Stream* RtpModel::stream_of(const Channel& channel) const {
    auto it = streams_.find(const_cast<Channel*>(&channel));
    return it == streams_.end() ? nullptr : &it->second;
}

int RtpModel::free_channels() {
    Board::instance().drop_closed();
    int free = 0;
    for (int channel = kPoolBase; channel < kPoolBase + pool_size; ++channel)
        if (!Held(channel)) ++free;
    return free;
}

int RtpModel::emit(unsigned count) {
    int sent = 0;
    for (Channel* channel : Board::instance().channels(rtp::kDevice)) {
        auto it = streams_.find(channel);
        if (it == streams_.end()) continue;
        Stream& stream = it->second;
        if (!stream.begun || !stream.input || stream.channel < 0) continue;
        Send(stream, count);
        sent += static_cast<int>(count);
    }
    return sent;
}

void RtpModel::Send(Stream& stream, unsigned count) {
    HalModel* hal = fabric();
    const uint8_t byte = hal ? hal->byte_on(stream.channel) : 0xFF;
    uint8_t packet[12 + kSamples];
    std::memset(packet + 12, byte, kSamples);
    const sockaddr_in to = address(stream.params.remote_addr, stream.params.remote_port);
    for (unsigned n = 0; n < count; ++n) {
        packet[0] = 0x80;
        packet[1] = static_cast<uint8_t>(stream.params.tx_pt & 0x7F);
        put16(packet + 2, stream.sequence++);
        put32(packet + 4, stream.timestamp);
        put32(packet + 8, stream.params.ssrc);
        stream.timestamp += kSamples;
        ::sendto(stream.socket, packet, sizeof packet, MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
}

int RtpModel::poll_network() {
    int taken = 0;
    for (Channel* channel : Board::instance().channels(rtp::kDevice)) {
        auto it = streams_.find(channel);
        if (it != streams_.end() && it->second.begun) taken += Receive(*channel, it->second);
    }
    return taken;
}

int RtpModel::Receive(Channel& channel, Stream& stream) {
    HalModel* hal = fabric();
    int taken = 0;
    uint8_t buf[2048];
    for (;;) {
        const ssize_t n = ::recv(stream.socket, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0) return taken;
        ++taken;
        stream.received.emplace_back(buf, buf + n);
        const int byte = first_payload_byte(buf, static_cast<size_t>(n));
        if (byte < 0) continue;
        if (hal && stream.channel >= 0) hal->line[stream.channel] = static_cast<uint8_t>(byte);
        if (stream.detecting) {
            rtp::rtp_event event{};
            event.type = rtp::kPacketDetection;
            event.value = 1;
            event.timeout = stream.pdTimeout;
            channel.deliver(&event, sizeof event);
            stream.detecting = false;
        }
    }
}

}  // namespace board::sim
