// Aligned-PER encode and decode of controller messages: an RTP create with
// every optional field of its parameters present, and a ping.
#include "bench/per_bench.h"
#include "messages/lgcp.h"

namespace {

using bench::BM_Decode;
using bench::BM_Encode;

void fillRadio(TERM::RtpRadioRequest& radio) {
    TERM::VarkRadioStatus& status = radio.get_status().select_vark();
    status.get_flags().set_ptt(true);
    status.get_freq().set_channel(2);
    status.get_freq().set_frequency("118.125");
    status.set_standby_state_channel(TERM::RadioStandby::active);
    TERM::VarkRadioModifier& request = radio.include_request().select_vark();
    request.get_addr().set_session_addr("192.168.10.20");
    request.get_addr().set_session_ssrc(0x12345678u);
    request.get_params().select_gw_set_ptt().get_flags().set_ptt(true);
    radio.set_rx_delay(20);
    radio.set_tx_delay(30);
    radio.set_bss_enable(true);
    radio.set_ng_enable(false);
    radio.set_selcal_delay(10);
}

LGCP::Message makeRtpCreate() {
    LGCP::Message message;
    message.set_seq(4711);
    message.set_slot(17);
    LGCP::CreateRtpParams& rtp = message.get_pdu().select_command().select_create().select_rtp();
    rtp.set_txPayload(TERM::Payload::ptG729);
    rtp.set_rxPayload(TERM::Payload::ptG729);
    TERM::RtpParams& params = rtp.get_codecRTP();
    params.set_payload(TERM::Payload::ptG729);
    params.get_dhost().set_iaddr("192.168.10.20");
    params.get_dhost().set_port(5004);
    params.include_shost().set_iaddr("192.168.10.1");
    params.include_shost().set_port(5006);
    params.set_dname("radio-gateway-1");
    params.include_jitter().set_start(40);
    params.include_jitter().set_max(120);
    params.set_pfactor(2);
    params.set_crate(8000);
    params.set_vad(true);
    params.include_echo().set_suppressor(true);
    params.include_echo().set_canceller(true);
    fillRadio(params.include_radio());
    TERM::RtpE2M& e2m = params.include_rtp_e2m();
    e2m.set_slot(3);
    e2m.set_channel(1);
    e2m.include_mode().select_only_rtp().set_fd(12);
    params.set_ssrc(0x89abcdefu);
    params.set_ttl(64);
    params.set_qos_dscp(TERM::IpQoSDSCP::ef);
    return message;
}

LGCP::Message makePing() {
    LGCP::Message message;
    message.set_seq(4711);
    message.get_pdu().select_command().select_ping();
    return message;
}

BENCHMARK_CAPTURE(BM_Encode, rtp_create, makeRtpCreate);
BENCHMARK_CAPTURE(BM_Decode, rtp_create, makeRtpCreate);
BENCHMARK_CAPTURE(BM_Encode, ping, makePing);
BENCHMARK_CAPTURE(BM_Decode, ping, makePing);

}  // namespace

BENCHMARK_MAIN();
