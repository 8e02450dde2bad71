// RTP slots: the RTCP packets every session sends (encodes per second), and
// create and destroy pairs of RTP slots through the controller over
// loopback, each on its own local port pair, with 1 and 16 pairs in flight
// (pairs per second as items_per_second). The far end is a socket that only
// absorbs the RTCP packets.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/loopback_link.h"
#include "link/heartbeat.h"
#include "slots/rtcp.h"
#include "slots/rtp_factory.h"
#include "slots/slots.h"
#include "tests/support/rtp_commands.h"
#include "tests/support/udp_peer.h"

namespace {

constexpr unsigned kMaxWindow = 16;

bench::Controller* controller;
test::UdpPeer* farEnd;

void SdesEncode(benchmark::State& state) {
    RTPC::SDES sdes(0x11223344);
    sdes.add(RTPC::SDES::Item::CNAME, "Zembrix Quadresta");
    sdes.add(RTPC::SDES::Item::EMAIL, "support@zembrix.example");
    sdes.add(RTPC::SDES::Item::PHONE, "+1 555 0100");
    char buf[1024];
    for (auto _ : state) benchmark::DoNotOptimize(sdes.encode(buf, sizeof buf));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(SdesEncode);

void ByeEncode(benchmark::State& state) {
    const RTPC::BYE bye(0x11223344, "session end");
    char buf[1024];
    for (auto _ : state) benchmark::DoNotOptimize(bye.encode(buf, sizeof buf));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ByeEncode);

void RtpCreateDestroy(benchmark::State& state) {
    bench::Pairs pairs;
    LGCP::Command destroy;
    destroy.select_destroy();
    for (unsigned n = 0; n < kMaxWindow; ++n) {
        const auto create = test::rtp_create_command(farEnd->rtp_port(), test::free_udp_pair(), n);
        pairs.first.push_back(bench::frame(create, 1, n));
        pairs.second.push_back(bench::frame(destroy, 2, n));
    }
    bench::RunPairs(state, *controller, pairs);
    farEnd->rtcp();  // what the far end absorbed so far
}
BENCHMARK(RtpCreateDestroy)->Arg(1)->Arg(16)->UseRealTime();

void BindRtpServices() {
    CtrlSrv::ctrlServer.Bind(&HeartBeatCtl::instance());
    CtrlSrv::ctrlServer.Bind(Slots::instance());
    RtpFactory::instance();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    test::UdpPeer sink;
    farEnd = &sink;
    bench::ServerThread server(BindRtpServices);
    bench::Controller client(server.port());
    controller = &client;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
