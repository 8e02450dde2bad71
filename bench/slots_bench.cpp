// Slot commands over loopback: the server runs its real loop on a thread of
// its own with the slot registry and a factory of scripted slots; one
// controller keeps a window of command pairs in flight (create and destroy
// of one number; connect and disconnect of two). Reports pairs per second
// (items_per_second) with 1 and with 16 pairs in flight.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/loopback_link.h"
#include "link/heartbeat.h"
#include "slots/slots.h"
#include "tests/support/test_slots.h"
#include "tests/support/virtual_loop.h"

namespace {

constexpr unsigned kMaxWindow = 16;

bench::Controller* controller;

bench::Pairs create_destroy() {
    bench::Pairs pairs;
    LGCP::Command destroy;
    destroy.select_destroy();
    for (unsigned n = 0; n < kMaxWindow; ++n) {
        pairs.first.push_back(bench::frame(test::create_command(0), 1, n));
        pairs.second.push_back(bench::frame(destroy, 2, n));
    }
    return pairs;
}

// Slot 2k feeds slot 2k + 1.
bench::Pairs connect_disconnect() {
    bench::Pairs pairs;
    LGCP::Command disconnect;
    disconnect.select_disconnect();
    for (unsigned n = 0; n < kMaxWindow; ++n) {
        pairs.first.push_back(bench::frame(test::connect_command(2 * n + 1), 1, 2 * n));
        pairs.second.push_back(bench::frame(disconnect, 2, 2 * n + 1));
    }
    return pairs;
}

void CreateDestroy(benchmark::State& state) {
    bench::RunPairs(state, *controller, create_destroy());
}
BENCHMARK(CreateDestroy)->Arg(1)->Arg(16)->UseRealTime();

void ConnectDisconnect(benchmark::State& state) {
    for (unsigned n = 0; n < 2 * kMaxWindow; ++n) {
        controller->send(bench::frame(test::create_command(0), 1, n));
        controller->receive_answer();
    }
    bench::RunPairs(state, *controller, connect_disconnect());
}
BENCHMARK(ConnectDisconnect)->Arg(1)->Arg(16)->UseRealTime();

void BindSlotServices() {
    CtrlSrv::ctrlServer.Bind(&HeartBeatCtl::instance());
    CtrlSrv::ctrlServer.Bind(Slots::instance());
    test::TestSlotFactory::instance();
    // The scripted slots journal every hook: keep it short.
    static test::Deferred trim([] { test::TestSlotFactory::instance().journal.clear(); });
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    bench::ServerThread server(BindSlotServices);
    bench::Controller client(server.port());
    controller = &client;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
