#include "slots/rtp_session_factory.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>
#include <random>
#include <utility>

#include "board/devio.h"
#include "board/drivers/voice.h"
#include "hardware/device_names.h"
#include "slots/rtp_slot.h"

namespace rtp = board::rtp;
using Payload = TERM::Payload;

namespace {

// The highest RTP port that leaves a port for RTCP.
constexpr int kMaxRtpPort = 65534;

// The payloads a session can carry, with their RTP payload types.
struct PayloadType {
    Payload::NamedNumber payload;
    int type;
};
constexpr PayloadType kPayloadTypes[] = {
    {Payload::ptG711_Alaw, 8}, {Payload::ptG711_Ulaw, 0},      {Payload::ptG723, 4},
    {Payload::ptG729, 18},     {Payload::ptG711mcc_Alaw, 136}, {Payload::ptG711mcc_Ulaw, 128},
    {Payload::ptG728, 15},
};

const PayloadType* Find(Payload::NamedNumber payload) {
    for (const PayloadType& entry : kPayloadTypes)
        if (entry.payload == payload) return &entry;
    return nullptr;
}

// The IPv4 address of the text (as inet_aton reads it) in network order;
// false for text that is none, which inet_addr would have made the
// broadcast address.
bool ParseAddress(const TERM::HostAddress& host, uint32_t& address) {
    in_addr parsed;
    if (inet_aton(host.get_iaddr().c_str(), &parsed) == 0) return false;
    address = parsed.s_addr;
    return true;
}

bool PortLeavesRtcp(const TERM::HostAddress& host) {
    const int port = host.get_port().getValue();
    return port >= 0 && port <= kMaxRtpPort;
}

// Seeded once, so that a restarted server does not repeat its SSRCs.
uint32_t RandomSsrc() {
    static std::mt19937 generator{std::random_device{}()};
    return generator();
}

}  // namespace

RtpSessionFactory::RtpSessionFactory(const char* logName) : logName_(logName) {
    IQuery();
}

void RtpSessionFactory::PutHeader(std::ostream& os) const {
    os << logName_ << "[" << counts_.g723 << "," << counts_.g729 << "," << counts_.g711 << ","
       << counts_.universal << "]: ";
}

// ---- Capacity

// A shortage of descriptors, or a request the driver refuses, says nothing
// about the channels: their counts stay until the next query. The G.729,
// G.723 and G.711 counts are those the driver answers, 0 included; the
// other two change only to a count above 0.
void RtpSessionFactory::IQuery() {
    Fd voice(board::open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC));
    const int error = voice ? 0 : errno;
    const bool shortage = NoDescriptorFree(error);
    if (!voice) {
        if (!shortage) counts_.g729 = counts_.g723 = counts_.g711 = 0;
        PutHeader(std::cerr);
        std::cerr << "device \"" << GetVoiceDevName() << "\" open fail: " << std::strerror(error)
                  << (shortage ? ", the counts stay" : "") << std::endl;
        return;
    }
    const struct {
        int32_t mask;
        int Counts::*count;
        bool zero;  // an answer of 0 counts
    } queries[] = {
        {board::voice::kG729, &Counts::g729, true},
        {board::voice::kG723, &Counts::g723, true},
        {board::voice::kG711, &Counts::g711, true},
        {board::voice::kG711Mcc, &Counts::g711mcc, false},
        {board::voice::kUniversal, &Counts::universal, false},
    };
    for (const auto& query : queries) {
        int32_t mask = query.mask;
        const int channels = board::ioctl(voice.get(), board::voice::kCapacity, &mask);
        if (channels > 0 || (channels == 0 && query.zero)) {
            counts_.*query.count = channels;
        } else if (channels < 0) {
            PutHeader(std::cerr);
            std::cerr << "capacity request fail: " << std::strerror(errno) << ", the count stays"
                      << std::endl;
        }
    }
}

void RtpSessionFactory::Query(LGCP::Resources& resources) {
    resources.set_rtp_g729(counts_.g729);
    resources.set_rtp_g723(counts_.g723);
    resources.set_rtp_g711(counts_.g711);
    resources.set_rtp_g711mcc(counts_.g711mcc);
    resources.set_universal(counts_.universal);
}

// ---- Payload types

int RtpSessionFactory::translateCodec(Payload::NamedNumber payload) {
    const PayloadType* entry = Find(payload);
    return entry ? entry->type : 0;
}

int RtpSessionFactory::translateCodec(Payload::NamedNumber main, Payload::NamedNumber direction) {
    const bool g711 = direction == Payload::ptG711_Alaw || direction == Payload::ptG711_Ulaw;
    return translateCodec(direction != main && g711 ? direction : main);
}

// ---- Opening a session

bool RtpSessionFactory::OpenSession(const LGCP::CreateRtpParams& params,
                                    const SessionOptions& options, Session& session,
                                    const char*& invalid) {
    const TERM::RtpParams& codec = params.get_codecRTP();
    if (!Find(codec.get_payload().getValue())) {
        PutHeader(std::clog);
        std::clog << "rtp do not created: payload " << codec.get_payload() << "not found"
                  << std::endl;
        return false;
    }
    if (!BuildParams(params, session.params, invalid)) return false;
    if (!OpenRtcpSocket(session.params.local_port, options.reuseAddress, session.rtcp))
        return false;
    if (!BeginSession(session, options.channelWord)) {
        session.rtcp.close();
        return false;
    }
    session.rtcpTo.sin_family = AF_INET;
    session.rtcpTo.sin_addr.s_addr = session.params.remote_addr;
    session.rtcpTo.sin_port = htons(static_cast<uint16_t>(session.params.remote_port + 1));
    return true;
}

// The echo canceller and a radio's voice processing go first: a create
// they fail sends no source description for a stream that never was.
bool RtpSessionFactory::StartSlot(RtpSlot& slot, Session& session, const TERM::RtpParams& codec) {
    if (!slot.has_session()) return false;
    const TERM::RtpEcho* echo = codec.get_echo();
    const char* refused = nullptr;
    if (echo && echo->get_suppressor().getValue() &&
        !slot.echoCancel(echo->get_canceller().getValue()))
        refused = "the echo canceller";
    else if (codec.get_radio() && !slot.SetVoiceProcessing(*codec.get_radio()))
        refused = "the voice processing";
    if (refused) {
        PutHeader(std::clog);
        std::clog << "rtp do not created: " << refused << " was refused" << std::endl;
        return false;
    }
    slot.startRTPC(std::move(session.rtcp), session.rtcpTo);
    slot.SetChannelWord(session.channelWord);
    return true;
}

bool RtpSessionFactory::BuildParams(const LGCP::CreateRtpParams& params,
                                    rtp::rtp_connection_params& out, const char*& invalid) const {
    const TERM::RtpParams& codec = params.get_codecRTP();
    const TERM::HostAddress* shost = codec.get_shost();
    const TERM::HostAddress& local = shost ? *shost : codec.get_dhost();
    std::memset(&out, 0, sizeof out);
    if (!ParseAddress(codec.get_dhost(), out.remote_addr)) {
        invalid = "dhost is no IPv4 address";
    } else if (shost && !ParseAddress(*shost, out.local_addr)) {
        invalid = "shost is no IPv4 address";
    } else if (!PortLeavesRtcp(codec.get_dhost()) || !PortLeavesRtcp(local)) {
        invalid = "an RTP port of 65535 leaves no port for RTCP";
    } else if (codec.has_ttl() && (codec.get_ttl()->getUnsignedValue() < 1 ||
                                   codec.get_ttl()->getUnsignedValue() > 255)) {
        invalid = "ttl outside 1..255";
    }
    if (invalid) return false;

    out.remote_port = static_cast<uint16_t>(codec.get_dhost().get_port().getValue());
    out.local_port = static_cast<uint16_t>(local.get_port().getValue());
    const Payload::NamedNumber payload = codec.get_payload().getValue();
    out.rx_pt = static_cast<uint16_t>(translateCodec(payload, params.get_rxPayload().getValue()));
    out.tx_pt = static_cast<uint16_t>(translateCodec(payload, params.get_txPayload().getValue()));
    if (codec.has_pfactor())
        out.packet_factor = static_cast<uint16_t>(codec.get_pfactor()->getValue());
    out.vad = codec.has_vad() && codec.get_vad()->getValue() ? 1 : 0;
    out.crate = codec.has_crate() && codec.get_crate()->getValue() != 0 ? 1 : 0;
    out.ssrc = codec.has_ssrc() ? codec.get_ssrc()->getUnsignedValue() : RandomSsrc();
    out.ttl = codec.has_ttl() ? static_cast<int32_t>(codec.get_ttl()->getUnsignedValue()) : 0;
    out.tos = codec.has_qos_dscp() ? (codec.get_qos_dscp()->getValue() & 0x3F) * 4 : -1;
    return true;
}

bool RtpSessionFactory::OpenRtcpSocket(uint16_t rtpPort, bool reuseAddress, Fd& socket) {
    socket.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket) {
        const int error = errno;
        PutHeader(std::clog);
        std::clog << "rtp do not created: can not create socket [errno=" << std::strerror(error)
                  << "]" << std::endl;
        return false;
    }
    const int on = 1;
    if (reuseAddress) ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const uint16_t port = static_cast<uint16_t>(rtpPort + 1);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        socket.close();
        PutHeader(std::clog);
        std::clog << "rtp do not created: can not bind socket [errno=" << std::strerror(error)
                  << ", port=" << port << "]" << std::endl;
        return false;
    }
    return true;
}

bool RtpSessionFactory::BeginSession(Session& session, int32_t channelWord) {
    rtp::rtp_channel_info info{-1, -1, -1, channelWord};
    const char* failure = nullptr;
    Fd device = BeginRtpSession(session.params, info, failure);
    if (!device) {
        const int error = errno;
        PutHeader(std::cerr);
        if (failure)
            std::cerr << failure << std::endl;
        else
            std::cerr << "device \"" << GetRtpDevName() << "\" open fail: "
                      << std::strerror(error) << std::endl;
        return false;
    }
    session.channel = info.tdm;
    session.channelWord = channelWord;
    session.device = std::move(device);
    return true;
}
