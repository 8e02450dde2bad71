#pragma once
// The board's character devices named in one place, so that every device
// service and slot opens its device by the same path; printable names of
// codec numbers, driver failures and the RTP drivers' records for log lines.

#include <iosfwd>

#include "board/drivers/rtp.h"
#include "board/drivers/rtp_ext.h"

const char* GetVoiceDevName();
const char* GetMixerDevName();
const char* GetDTMFDevName();
const char* GetDSPDevName();
const char* GetRtpDevName();
const char* GetRtpExtDevName();
const char* GetModemDevName();
const char* GetMaintenance();
const char* GetSpiTdmDevName();

// "g711", "conf", ...; "invalid" for a number outside the table.
const char* GetCodecAsStr(int codec);

// A driver failure: keeps errno as it was when the value was made, so that
// the error text survives the calls made before it is printed.
class RtpErr {
public:
    explicit RtpErr(int code);
    // Writes strerror of the kept errno (the code is not printed).
    void Put(std::ostream& os) const;
    int code() const { return code_; }

private:
    int errno_;
    int code_;
};

std::ostream& operator<<(std::ostream& os, const RtpErr& error);

// The records of the RTP drivers, beside them so that lookup finds them. All
// but rtp_channel_info print a block of lines: "  name", "  {", one
// "   field = value" line per field, "  }". rtp_channel_info prints one
// piece: "rtp_channel_info { tdm=.. dev_no=.. chn=.. }".
namespace board::rtp {
std::ostream& operator<<(std::ostream& os, const rtp_connection_params& params);
std::ostream& operator<<(std::ostream& os, const rtp_attach_session_params& params);
std::ostream& operator<<(std::ostream& os, const rtp_channel_info& info);
}  // namespace board::rtp

namespace board::rtp_ext {
std::ostream& operator<<(std::ostream& os, const rtp_ext_attach_session_params& params);
std::ostream& operator<<(std::ostream& os, const rtp_ext_init_params& params);
}  // namespace board::rtp_ext
