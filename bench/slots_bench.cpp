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

// The command frames of one pair for each of the window's numbers.
struct Pairs {
    std::vector<std::string> first, second;
};

Pairs create_destroy() {
    Pairs pairs;
    LGCP::Command destroy;
    destroy.select_destroy();
    for (unsigned n = 0; n < kMaxWindow; ++n) {
        pairs.first.push_back(bench::frame(test::create_command(0), 1, n));
        pairs.second.push_back(bench::frame(destroy, 2, n));
    }
    return pairs;
}

// Slot 2k feeds slot 2k + 1.
Pairs connect_disconnect() {
    Pairs pairs;
    LGCP::Command disconnect;
    disconnect.select_disconnect();
    for (unsigned n = 0; n < kMaxWindow; ++n) {
        pairs.first.push_back(bench::frame(test::connect_command(2 * n + 1), 1, 2 * n));
        pairs.second.push_back(bench::frame(disconnect, 2, 2 * n + 1));
    }
    return pairs;
}

// Keeps `window` pairs in flight; one item is one pair answered.
void RunPairs(benchmark::State& state, const Pairs& pairs) {
    const unsigned window = static_cast<unsigned>(state.range(0));
    auto send = [&](unsigned n) {
        controller->send(pairs.first[n]);
        controller->send(pairs.second[n]);
    };
    for (unsigned n = 0; n < window; ++n) send(n);
    unsigned next = 0;
    for (auto _ : state) {
        if (controller->receive_answer() < 0 || controller->receive_answer() < 0) {
            state.SkipWithError("a command failed");
            return;
        }
        send(next);
        next = (next + 1) % window;
    }
    for (unsigned n = 0; n < 2 * window; ++n) controller->receive_answer();
    state.SetItemsProcessed(state.iterations());
}

void CreateDestroy(benchmark::State& state) {
    RunPairs(state, create_destroy());
}
BENCHMARK(CreateDestroy)->Arg(1)->Arg(16)->UseRealTime();

void ConnectDisconnect(benchmark::State& state) {
    for (unsigned n = 0; n < 2 * kMaxWindow; ++n) {
        controller->send(bench::frame(test::create_command(0), 1, n));
        controller->receive_answer();
    }
    RunPairs(state, connect_disconnect());
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
