#pragma once
// The controller's RTP create command as the RTP tests send it.

#include <cstdint>

#include "messages/lgcp.h"

namespace test {

// An RTP stream, A-law both ways, from 127.0.0.1:local to 127.0.0.1:remote.
inline LGCP::Command rtp_create_command(unsigned short remote, unsigned short local,
                                        uint32_t ssrc) {
    LGCP::Command command;
    LGCP::CreateRtpParams& params = command.select_create().select_rtp();
    TERM::RtpParams& codec = params.get_codecRTP();
    codec.set_payload(TERM::Payload::ptG711_Alaw);
    codec.get_dhost().set_iaddr("127.0.0.1");
    codec.get_dhost().set_port(remote);
    codec.include_shost().set_iaddr("127.0.0.1");
    codec.get_shost()->set_port(local);
    codec.set_ssrc(ssrc);
    params.set_txPayload(TERM::Payload::ptG711_Alaw);
    params.set_rxPayload(TERM::Payload::ptG711_Alaw);
    return command;
}

}  // namespace test
