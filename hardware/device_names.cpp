#include "hardware/device_names.h"

#include <errno.h>

#include <cstring>
#include <initializer_list>
#include <ostream>
#include <utility>

#include "board/drivers/dsp.h"
#include "board/drivers/dtmf.h"
#include "board/drivers/maintenance.h"
#include "board/drivers/mctl.h"
#include "board/drivers/mixer.h"
#include "board/drivers/voice.h"

const char* GetVoiceDevName() { return board::voice::kDevice; }
const char* GetMixerDevName() { return board::mixer::kDevice; }
const char* GetDTMFDevName() { return board::dtmf::kDevice; }
const char* GetDSPDevName() { return board::dsp::kDevice; }
const char* GetRtpDevName() { return board::rtp::kDevice; }
const char* GetRtpExtDevName() { return board::rtp_ext::kDevice; }
const char* GetModemDevName() { return board::mctl::kDevice; }
const char* GetMaintenance() { return board::maintenance::kDevice; }
const char* GetSpiTdmDevName() { return "/dev/spi_tdm"; }

const char* GetCodecAsStr(int codec) {
    static const char* const names[] = {"unknown",  "g711",     "g723",     "g729", "tonec",
                                        "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
    if (codec < 0 || codec >= static_cast<int>(sizeof names / sizeof names[0])) return "invalid";
    return names[codec];
}

RtpErr::RtpErr(int code) : errno_(errno), code_(code) {}

void RtpErr::Put(std::ostream& os) const { os << std::strerror(errno_); }

std::ostream& operator<<(std::ostream& os, const RtpErr& error) {
    error.Put(os);
    return os;
}

namespace {

// A record as a block: its name, then one line per field, between braces.
void PutBlock(std::ostream& os, const char* name,
              std::initializer_list<std::pair<const char*, long long>> fields) {
    os << "  " << name << "\n  {\n";
    for (const auto& field : fields) os << "   " << field.first << " = " << field.second << "\n";
    os << "  }\n";
}

}  // namespace

namespace board::rtp {

std::ostream& operator<<(std::ostream& os, const rtp_connection_params& params) {
    PutBlock(os, "rtp_connection_params",
             {{"packet_factor", params.packet_factor},
              {"rx_pt", params.rx_pt},
              {"tx_pt", params.tx_pt},
              {"ssrc", params.ssrc}});
    return os;
}

std::ostream& operator<<(std::ostream& os, const rtp_attach_session_params& params) {
    PutBlock(os, "rtp_attach_session_params",
             {{"fd_rtp", params.fd_rtp}, {"pid_rtp", params.pid_rtp}});
    return os;
}

std::ostream& operator<<(std::ostream& os, const rtp_channel_info& info) {
    return os << "rtp_channel_info"
              << " {"
              << " tdm=" << info.tdm << " dev_no=" << info.dev_no << " chn=" << info.chn << " }";
}

}  // namespace board::rtp

namespace board::rtp_ext {

std::ostream& operator<<(std::ostream& os, const rtp_ext_attach_session_params& params) {
    PutBlock(os, "rtp_ext_attach_session_params",
             {{"fd_rtp", params.fd_rtp}, {"pid_rtp", params.pid_rtp}});
    return os;
}

std::ostream& operator<<(std::ostream& os, const rtp_ext_init_params& params) {
    PutBlock(os, "rtp_ext_init_params", {{"etype", params.etype}});
    return os;
}

}  // namespace board::rtp_ext
