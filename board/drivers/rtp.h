#pragma once
// The RTP driver "/dev/rtp": one open is one RTP session. Records are in
// the board's native byte order; addresses are kept in network order inside
// their words. Its header-extension sessions: board/drivers/rtp_ext.h.

#include <cstddef>
#include <cstdint>

#include "board/ioc.h"

namespace board::rtp {

constexpr const char* kDevice = "/dev/rtp";

// Begins a session.
struct rtp_connection_params {
    uint32_t remote_addr;  // network order
    uint16_t remote_port;
    uint16_t reserved0;
    uint32_t local_addr;  // network order; 0 = any
    uint16_t local_port;
    uint16_t rx_pt;          // payload type expected from the network
    uint16_t tx_pt;          // payload type sent
    uint16_t packet_factor;  // 0 when the controller gave none
    uint8_t vad;
    uint8_t crate;
    uint16_t reserved1;
    uint32_t ssrc;
    uint8_t reserved2[8];
    int32_t ttl;  // 0 when the controller gave none
    int32_t tos;  // -1 when the controller gave none
};
static_assert(sizeof(rtp_connection_params) == 44);
static_assert(offsetof(rtp_connection_params, remote_port) == 4);
static_assert(offsetof(rtp_connection_params, local_addr) == 8);
static_assert(offsetof(rtp_connection_params, local_port) == 12);
static_assert(offsetof(rtp_connection_params, rx_pt) == 14);
static_assert(offsetof(rtp_connection_params, tx_pt) == 16);
static_assert(offsetof(rtp_connection_params, packet_factor) == 18);
static_assert(offsetof(rtp_connection_params, vad) == 20);
static_assert(offsetof(rtp_connection_params, crate) == 21);
static_assert(offsetof(rtp_connection_params, ssrc) == 24);
static_assert(offsetof(rtp_connection_params, ttl) == 36);
static_assert(offsetof(rtp_connection_params, tos) == 40);

// Adds a TDM channel to the session; -1 leaves a field to the driver, which
// returns the channel it chose in `tdm`.
struct rtp_channel_info {
    int32_t tdm;
    int32_t dev_no;
    int32_t chn;
    int32_t reserved;
};
static_assert(sizeof(rtp_channel_info) == 16);
static_assert(offsetof(rtp_channel_info, dev_no) == 4);
static_assert(offsetof(rtp_channel_info, chn) == 8);
static_assert(offsetof(rtp_channel_info, reserved) == 12);

// Read from the session (one record a read; -1 with EAGAIN when none is
// pending), and given with the set-packet-detection request.
struct rtp_event {
    int32_t type;  // 1 = packet detection
    int32_t value;
    int32_t timeout;
    uint8_t reserved0[8];
    int32_t timeout_copy;  // the set request carries the timeout here too
    uint8_t reserved1[12];
};
static_assert(sizeof(rtp_event) == 36);
static_assert(offsetof(rtp_event, value) == 4);
static_assert(offsetof(rtp_event, timeout) == 8);
static_assert(offsetof(rtp_event, timeout_copy) == 20);

constexpr int32_t kPacketDetection = 1;

// Attaches a header-extension session to this RTP session.
struct rtp_attach_session_params {
    int32_t fd_rtp;
    int32_t pid_rtp;
};
static_assert(sizeof(rtp_attach_session_params) == 8);
static_assert(offsetof(rtp_attach_session_params, pid_rtp) == 4);

constexpr uint32_t kBeginSession = 0xc02c5200;
constexpr uint32_t kAddChannel = 0xc0105202;
constexpr uint32_t kTeardown2 = 0x20005203;
constexpr uint32_t kInputOn = 0x20005204;
constexpr uint32_t kInputOff = 0x20005205;
constexpr uint32_t kAttach = 0xc0085209;
constexpr uint32_t kTeardown1 = 0x2000520a;
constexpr uint32_t kTeardown3 = 0x2000520b;
constexpr uint32_t kSetPacketDetection = 0xc024520c;
constexpr uint32_t kResetPacketDetection = 0x8004520d;  // int32_t, always 1
constexpr int32_t kResetValue = 1;
constexpr uint32_t kReadWrite = ppc_ioc_read | ppc_ioc_write;
static_assert(kBeginSession == ppc_ioc(kReadWrite, 'R', 0, sizeof(rtp_connection_params)));
static_assert(kAddChannel == ppc_ioc(kReadWrite, 'R', 2, sizeof(rtp_channel_info)));
static_assert(kTeardown2 == ppc_ioc(ppc_ioc_none, 'R', 3, 0));
static_assert(kInputOn == ppc_ioc(ppc_ioc_none, 'R', 4, 0));
static_assert(kInputOff == ppc_ioc(ppc_ioc_none, 'R', 5, 0));
static_assert(kAttach == ppc_ioc(kReadWrite, 'R', 9, sizeof(rtp_attach_session_params)));
static_assert(kTeardown1 == ppc_ioc(ppc_ioc_none, 'R', 10, 0));
static_assert(kTeardown3 == ppc_ioc(ppc_ioc_none, 'R', 11, 0));
static_assert(kSetPacketDetection == ppc_ioc(kReadWrite, 'R', 12, sizeof(rtp_event)));
static_assert(kResetPacketDetection == ppc_ioc(ppc_ioc_write, 'R', 13, sizeof(int32_t)));

}  // namespace board::rtp
