#pragma once
// The RTP header-extension driver "/dev/rtp_ext": one open is one session
// that sends and receives one radio-signalling extension per RTP packet of
// the RTP session it is attached to (board/drivers/rtp.h). Records are in
// the board's native byte order; addresses are kept in network order inside
// their words.

#include <cstddef>
#include <cstdint>

#include "board/ioc.h"

namespace board::rtp_ext {

constexpr const char* kDevice = "/dev/rtp_ext";

// Initialises a session; `etype` is the profile of the RTP header extension.
struct rtp_ext_init_params {
    uint16_t etype;
    uint16_t reserved;
    int32_t params[4];
};
static_assert(sizeof(rtp_ext_init_params) == 20);
static_assert(offsetof(rtp_ext_init_params, params) == 4);

constexpr uint16_t kVarkProfile = 0x1337;
constexpr uint16_t kEd137Profile = 0x0167;

// Attaches the session to an RTP session, named by descriptor and process.
struct rtp_ext_attach_session_params {
    int32_t fd_rtp;
    int32_t pid_rtp;
};
static_assert(sizeof(rtp_ext_attach_session_params) == 8);
static_assert(offsetof(rtp_ext_attach_session_params, pid_rtp) == 4);

// Describes the packet that the next read returns.
struct rtp_ext_receive_info {
    uint32_t ssrc;
    uint32_t addr;  // network order
    uint32_t unused;
};
static_assert(sizeof(rtp_ext_receive_info) == 12);
static_assert(offsetof(rtp_ext_receive_info, addr) == 4);

// Passes only packets from one source.
struct rtp_ext_source_filter {
    uint32_t addr;  // network order
    uint32_t ssrc;  // always 0
};
static_assert(sizeof(rtp_ext_source_filter) == 8);
static_assert(offsetof(rtp_ext_source_filter, ssrc) == 4);

// An extension read or written is at most this long.
constexpr size_t kMaxExtension = 1024;

constexpr uint32_t kInit = 0xc0144500;
constexpr uint32_t kAttach = 0xc0084501;
constexpr uint32_t kDetach = 0x20004502;  // the attach record is passed
constexpr uint32_t kReceiveInfo = 0xc00c4503;
constexpr uint32_t kSetFilter = 0xc0084504;
constexpr uint32_t kRemoveFilter = 0x20004505;  // the cleared filter is passed
constexpr uint32_t kReadWrite = ppc_ioc_read | ppc_ioc_write;
static_assert(kInit == ppc_ioc(kReadWrite, 'E', 0, sizeof(rtp_ext_init_params)));
static_assert(kAttach == ppc_ioc(kReadWrite, 'E', 1, sizeof(rtp_ext_attach_session_params)));
static_assert(kDetach == ppc_ioc(ppc_ioc_none, 'E', 2, 0));
static_assert(kReceiveInfo == ppc_ioc(kReadWrite, 'E', 3, sizeof(rtp_ext_receive_info)));
static_assert(kSetFilter == ppc_ioc(kReadWrite, 'E', 4, sizeof(rtp_ext_source_filter)));
static_assert(kRemoveFilter == ppc_ioc(ppc_ioc_none, 'E', 5, 0));

}  // namespace board::rtp_ext
