// Controller round trips over loopback: the server runs its real loop on a
// thread of its own, and one controller keeps a window of pings in flight.
// Reports round trips per second (items_per_second) and the median and
// 99th-percentile latency of a ping, from its send to its answer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "bench/loopback_link.h"
#include "link/heartbeat.h"

namespace {

using Clock = std::chrono::steady_clock;

// Pings with seq 0..255, encoded beforehand.
std::vector<std::string> ping_frames() {
    std::vector<std::string> frames;
    LGCP::Command ping;
    ping.select_ping();
    for (int seq = 0; seq < 256; ++seq) frames.push_back(bench::frame(ping, seq));
    return frames;
}

bench::Controller* controller;
std::vector<std::string> pings;

double percentile(std::vector<double>& values, double p) {
    if (values.empty()) return 0;
    size_t k = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
    std::nth_element(values.begin(), values.begin() + k, values.end());
    return values[k];
}

void PingRoundTrip(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    std::deque<std::pair<int, Clock::time_point>> inFlight;
    std::vector<double> latencies;
    int next = 0;
    auto send = [&] {
        inFlight.emplace_back(next & 0xFF, Clock::now());
        controller->send(pings[static_cast<size_t>(next++) & 0xFF]);
    };
    for (int i = 0; i < window; ++i) send();
    for (auto _ : state) {
        const int seq = controller->receive_answer();
        const auto sent = inFlight.front();
        inFlight.pop_front();
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent.second).count());
        if (seq != sent.first) {
            state.SkipWithError("an answer out of order");
            break;
        }
        send();
    }
    while (!inFlight.empty()) {
        controller->receive_answer();
        inFlight.pop_front();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["p50_us"] = percentile(latencies, 0.50);
    state.counters["p99_us"] = percentile(latencies, 0.99);
}
BENCHMARK(PingRoundTrip)->Arg(1)->Arg(16)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    bench::ServerThread server([] { CtrlSrv::ctrlServer.Bind(&HeartBeatCtl::instance()); });
    bench::Controller client(server.port());
    controller = &client;
    pings = ping_frames();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
