// Device names, codec names, driver failures and the RTP drivers' records as
// they appear in log lines.

#include "hardware/device_names.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

template <class T>
std::string printed(const T& value) {
    std::ostringstream os;
    os << value;
    return os.str();
}

TEST(DeviceNames, NameTheBoardsDevices) {
    EXPECT_STREQ("/dev/voice", GetVoiceDevName());
    EXPECT_STREQ("/dev/mixer", GetMixerDevName());
    EXPECT_STREQ("/dev/dtmf", GetDTMFDevName());
    EXPECT_STREQ("/dev/dsp", GetDSPDevName());
    EXPECT_STREQ("/dev/rtp", GetRtpDevName());
    EXPECT_STREQ("/dev/rtp_ext", GetRtpExtDevName());
    EXPECT_STREQ("/dev/mctl", GetModemDevName());
    EXPECT_STREQ("/dev/maintenance", GetMaintenance());
    EXPECT_STREQ("/dev/spi_tdm", GetSpiTdmDevName());
}

TEST(CodecNames, ComeFromATableOfNineAndAnythingElseIsInvalid) {
    const std::pair<int, const char*> cases[] = {
        {0, "unknown"}, {1, "g711"},    {4, "tonec"},    {7, "g723-rtp"},
        {8, "conf"},    {9, "invalid"}, {-1, "invalid"}, {1 << 30, "invalid"},
    };
    for (const auto& [codec, name] : cases) EXPECT_STREQ(name, GetCodecAsStr(codec)) << codec;
}

TEST(RtpErr, KeepsTheErrorOfTheFailedCall) {
    errno = EBADF;
    RtpErr error(-1);
    errno = ENOENT;
    EXPECT_EQ("Bad file descriptor", printed(error));
    EXPECT_EQ(-1, error.code());
}

TEST(RtpRecords, PrintAsBlocksOfFields) {
    board::rtp::rtp_connection_params params{};
    params.packet_factor = 2;
    params.rx_pt = 8;
    params.tx_pt = 18;
    params.ssrc = 4000000000u;
    EXPECT_EQ(
        "  rtp_connection_params\n  {\n   packet_factor = 2\n   rx_pt = 8\n   tx_pt = 18\n"
        "   ssrc = 4000000000\n  }\n",
        printed(params));

    EXPECT_EQ("  rtp_attach_session_params\n  {\n   fd_rtp = 7\n   pid_rtp = -1\n  }\n",
              printed(board::rtp::rtp_attach_session_params{7, -1}));
    EXPECT_EQ("  rtp_ext_attach_session_params\n  {\n   fd_rtp = 9\n   pid_rtp = 321\n  }\n",
              printed(board::rtp_ext::rtp_ext_attach_session_params{9, 321}));

    board::rtp_ext::rtp_ext_init_params init{};
    init.etype = board::rtp_ext::kEd137Profile;
    EXPECT_EQ("  rtp_ext_init_params\n  {\n   etype = 359\n  }\n", printed(init));
}

TEST(RtpRecords, ChannelInfoPrintsAsOnePiece) {
    EXPECT_EQ("rtp_channel_info { tdm=8300 dev_no=-1 chn=-1 }",
              printed(board::rtp::rtp_channel_info{8300, -1, -1, 0}));
}

}  // namespace
