#pragma once
// Helpers for tests of the header-extension sessions on the simulated
// board: an RTP session to attach to, the model's sessions, and the
// extensions a session wrote as a capture for tshark.
//
//   Fd rtp = test::open_rtp_session();
//   ... a controller attaches a session of "/dev/rtp_ext" to rtp.get()
//   board::sim::RtpExtModel::Session& s = *test::rtp_ext().sessions().back();
//   s.inject(bytes, test::ip("127.0.0.2"), 7);
//   test::PcapWriter capture = test::capture_of(s);

#include <arpa/inet.h>
#include <fcntl.h>

#include "board/devio.h"
#include "board/drivers/rtp.h"
#include "board/sim/rtp_ext_model.h"
#include "runtime/fd.h"
#include "tests/support/pcap_writer.h"

namespace test {

inline board::sim::RtpExtModel& rtp_ext() {
    return *board::sim::Board::instance().model_as<board::sim::RtpExtModel>(
        board::rtp_ext::kDevice);
}

// An open of "/dev/rtp", as an RTP session to attach header-extension
// sessions to.
inline Fd open_rtp_session() {
    return Fd(board::open(board::rtp::kDevice, O_RDWR | O_CLOEXEC));
}

// An IPv4 address in network order.
inline uint32_t ip(const char* text) {
    return inet_addr(text);
}

// Every extension the session wrote, one RTP packet each under the
// session's profile, on UDP port 5004.
inline PcapWriter capture_of(const board::sim::RtpExtModel::Session& session) {
    PcapWriter capture;
    uint16_t seq = 1;
    for (const auto& extension : session.sent)
        capture.add_udp(5004, rtp_with_extension(session.etype(), extension, seq++));
    return capture;
}

}  // namespace test
