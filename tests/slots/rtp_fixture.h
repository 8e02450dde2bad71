#pragma once
// What the RTP slot suites start from: the slot suites' server and
// controller, the RTP factory, a far end on the loopback interface and a
// free local port pair for the session (apart from the far end's, or the
// session's RTCP socket would take the far end's port).

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "board/devio.h"
#include "board/sim/dsp_model.h"
#include "board/sim/dtmf_model.h"
#include "board/sim/rtp_model.h"
#include "board/sim/voice_model.h"
#include "slots/rtp_factory.h"
#include "slots/trunk_factory.h"
#include "tests/slots/slot_fixture.h"
#include "tests/support/rtp_commands.h"
#include "tests/support/slot_commands.h"
#include "tests/support/udp_peer.h"

namespace test {

class RtpSlotTest : public SlotTest {
public:
    static constexpr uint32_t kSsrc = 0x11223344;

    RtpSlotTest() {
        TrunkFactories::instance();
        RtpFactory::instance();
    }

    static board::sim::RtpModel& rtp_model() {
        return *sim().model_as<board::sim::RtpModel>(board::rtp::kDevice);
    }
    static board::sim::DtmfModel& dtmf_model() {
        return *sim().model_as<board::sim::DtmfModel>(board::dtmf::kDevice);
    }
    static board::sim::DspModel& dsp_model() {
        return *sim().model_as<board::sim::DspModel>(board::dsp::kDevice);
    }
    static board::sim::VoiceModel& voice_model() {
        return *sim().model_as<board::sim::VoiceModel>(board::voice::kDevice);
    }

    // Moves virtual time on, firing every timer at its due time.
    void advance(uint64_t ms) { server.advance(ms); }

    // Binds the session's RTCP port first, so that the factory's bind fails.
    void hold_local_rtcp_port() { held_ = udp_bind(static_cast<unsigned short>(local + 1)); }
    void release_held_port() { held_.close(); }

protected:
    // A-law both ways from 127.0.0.1:local to the far end, SSRC kSsrc;
    // `change` adjusts the parameters.
    LGCP::Command create_command(const std::function<void(LGCP::CreateRtpParams&)>& change = {}) {
        LGCP::Command command = rtp_create_command(remote_port(), local, kSsrc);
        if (change) change(*command.get_create()->get_rtp());
        return command;
    }
    void create(unsigned slot, const std::function<void(LGCP::CreateRtpParams&)>& change = {}) {
        create(slot, create_command(change));
    }
    // Creates the slot; the stream signals that follow go with the check
    // that no second answer came.
    void create(unsigned slot, const LGCP::Command& command) {
        ASSERT_EQ(std::nullopt, outcome(command, slot)) << "create " << slot;
    }
    unsigned short remote_port() const { return peer.rtp_port(); }

    // The one stream of the engine.
    const board::sim::RtpModel::Stream& only_stream() {
        auto streams = rtp_model().streams();
        EXPECT_EQ(1u, streams.size());
        static const board::sim::RtpModel::Stream none;
        return streams.empty() ? none : *streams.front();
    }

    // A stream begun beside the one stream of the engine, on other local
    // ports, for a slot made outside the factories.
    struct OwnSession {
        Fd fd;
        board::rtp::rtp_connection_params params;
        int channel = -1;
    };
    OwnSession begin_own_session() {
        OwnSession own{Fd(), only_stream().params};
        own.fd.reset(board::open(board::rtp::kDevice, O_RDONLY));
        own.params.local_port = free_udp_pair();
        board::rtp::rtp_channel_info info{-1, -1, -1, 0};
        EXPECT_EQ(0, board::ioctl(own.fd.get(), board::rtp::kBeginSession, &own.params));
        EXPECT_EQ(0, board::ioctl(own.fd.get(), board::rtp::kAddChannel, &info));
        own.channel = info.tdm;
        return own;
    }

    // The next signal in value notation on one line; "" when none comes.
    std::string next_signal() {
        auto message = controller.receive_until(is_signal, 5);
        if (!message) return "";
        std::ostringstream notation;
        notation << *message->get_pdu().get_signal();
        std::string line;
        for (char c : notation.str()) {
            if (std::isspace(static_cast<unsigned char>(c))) {
                if (!line.empty() && line.back() != ' ') line += ' ';
            } else {
                line += c;
            }
        }
        return line;
    }

    LGCP::Command codec_mode(bool encoder, LGCP::CodecMode::NamedNumber mode) {
        LGCP::Command command;
        if (encoder)
            command.select_ioctl().set_encoder_mode(mode);
        else
            command.select_ioctl().set_decoder_mode(mode);
        return command;
    }

    // The resources the query signal reports for RTP.
    std::string query() {
        controller.send(command(Alternative::query), 1);
        auto message = controller.receive_until([](const LGCP::Message& m) {
            return is_signal(m) && m.get_pdu().get_signal()->is_query();
        });
        if (!message) return "no query signal";
        const LGCP::Resources& r = *message->get_pdu().get_signal()->get_query();
        std::ostringstream text;
        text << "g729 " << r.get_rtp_g729().getValue() << " g723 " << r.get_rtp_g723().getValue()
             << " g711 " << r.get_rtp_g711().getValue() << " g711mcc "
             << r.get_rtp_g711mcc().getValue() << " universal " << r.get_universal().getValue();
        return text.str();
    }

    // The create message with a ttl of 256, which the encoder refuses: its
    // 8-bit field holds the offset from 1, and the bits of offsets 127 and
    // 128 together are all eight.
    std::string create_frame_with_ttl_256(unsigned slot) {
        auto encoded = [&](unsigned ttl) {
            LGCP::Message message;
            message.set_seq(1);
            message.set_slot(slot);
            message.get_pdu().set_command(
                create_command([ttl](LGCP::CreateRtpParams& p) { p.get_codecRTP().set_ttl(ttl); }));
            return encode(message);
        };
        std::string octets = encoded(1);
        const std::string low7 = encoded(128), high = encoded(129);
        for (size_t i = 0; i < octets.size(); ++i)
            octets[i] = static_cast<char>(octets[i] ^ low7[i] ^ high[i]);
        return octets;
    }

    static int count_of(const std::string& text, const std::string& needle) {
        int n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    }

    UdpPeer peer;
    unsigned short local = free_udp_pair();

private:
    Fd held_;
};

// The next call `op` (of `request`, when not 0) on "/dev/rtp" fails with `error`.
inline void fail_rtp(board::sim::Op op, uint32_t request, int error) {
    board::sim::Board::instance().fail_next(op, board::rtp::kDevice, error, request);
}

// A creation that every factory of RTP sessions declines, with the cause of
// the answer and what makes it decline.
struct DeclineCase {
    const char* what;
    LGCP::ErrorCause::NamedNumber cause;
    std::function<void(RtpSlotTest&, LGCP::CreateRtpParams&)> arrange;
};

inline const DeclineCase kDeclineCases[] = {
    {"t38", LGCP::ErrorCause::insufficientResources,
     [](auto&, auto& p) { p.get_codecRTP().set_payload(TERM::Payload::ptT38_UDP_TL); }},
    {"r2s", LGCP::ErrorCause::insufficientResources,
     [](auto&, auto& p) { p.get_codecRTP().set_payload(TERM::Payload::ptR2S); }},
    {"reserved payload", LGCP::ErrorCause::insufficientResources,
     [](auto&, auto& p) { p.get_codecRTP().set_payload(TERM::Payload::reserv_3); }},
    {"rtcp port taken", LGCP::ErrorCause::insufficientResources,
     [](RtpSlotTest& t, auto&) { t.hold_local_rtcp_port(); }},
    {"device open fails", LGCP::ErrorCause::insufficientResources,
     [](auto&, auto&) { fail_rtp(board::sim::Op::Open, 0, EMFILE); }},
    {"begin fails", LGCP::ErrorCause::insufficientResources,
     [](auto&, auto&) { fail_rtp(board::sim::Op::Ioctl, board::rtp::kBeginSession, EADDRINUSE); }},
    {"add channel fails", LGCP::ErrorCause::insufficientResources,
     [](auto&, auto&) { fail_rtp(board::sim::Op::Ioctl, board::rtp::kAddChannel, EIO); }},
    {"no free channel", LGCP::ErrorCause::insufficientResources,
     [](RtpSlotTest& t, auto&) { t.rtp_model().pool_size = 0; }},
    {"echo canceller refused", LGCP::ErrorCause::insufficientResources,
     [](auto&, auto& p) {
         auto& echo = p.get_codecRTP().include_echo();
         echo.set_suppressor(true);
         echo.set_canceller(true);
         board::sim::Board::instance().fail_next(board::sim::Op::Ioctl, board::dtmf::kDevice, EIO,
                                                 board::dtmf::kEchoCancelOn);
     }},
    {"dhost not an address", LGCP::ErrorCause::invalidParams,
     [](auto&, auto& p) { p.get_codecRTP().get_dhost().set_iaddr("gateway"); }},
    {"shost not an address", LGCP::ErrorCause::invalidParams,
     [](auto&, auto& p) { p.get_codecRTP().get_shost()->set_iaddr("127.0.0.256"); }},
    {"dhost port 65535", LGCP::ErrorCause::invalidParams,
     [](auto&, auto& p) { p.get_codecRTP().get_dhost().set_port(65535); }},
    {"shost port 65535", LGCP::ErrorCause::invalidParams,
     [](auto&, auto& p) { p.get_codecRTP().get_shost()->set_port(65535); }},
};

}  // namespace test
