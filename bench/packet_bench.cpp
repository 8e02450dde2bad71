// The packet hot path: taking a block, appending payload, pushing headers,
// giving the block back; and what a shared block costs when it is changed.

#include <benchmark/benchmark.h>

#include <vector>

#include "link/packet.h"
#include "link/protocol.h"

namespace {

void AllocateRelease(benchmark::State& state) {
    for (auto _ : state) {
        Packet p;
        p.reserve_head(4);
        benchmark::DoNotOptimize(p.get());
    }
}
BENCHMARK(AllocateRelease);

// A TPKT-style frame: head room, payload, a four-byte header pushed in front.
void BuildFrame(benchmark::State& state) {
    const std::vector<unsigned char> payload(state.range(0), 0x5A);
    for (auto _ : state) {
        Packet p;
        p.reserve_head(4);
        p.put(payload.data(), static_cast<unsigned>(payload.size()));
        p.push16_b(static_cast<unsigned short>(p.length() + 4));
        p.push(0);
        p.push(3);
        benchmark::DoNotOptimize(p.get());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BuildFrame)->Arg(16)->Arg(256)->Arg(1500);

void AppendBytes(benchmark::State& state) {
    for (auto _ : state) {
        Packet p;
        p.reserve_head(0);
        for (int i = 0; i < state.range(0); ++i) p.put(static_cast<unsigned char>(i));
        benchmark::DoNotOptimize(p.get());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(AppendBytes)->Arg(256);

// Includes filling the frame with one put of the whole payload.
void PullBytes(benchmark::State& state) {
    const std::vector<unsigned char> payload(state.range(0), 0x5A);
    for (auto _ : state) {
        Packet p;
        p.reserve_head(0);
        p.put(payload.data(), static_cast<unsigned>(payload.size()));
        unsigned sum = 0;
        while (p.length()) sum += p.pull();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(PullBytes)->Arg(256);

// Changing a shared block copies its window into a new block.
void CopyOnWrite(benchmark::State& state) {
    const std::vector<unsigned char> payload(state.range(0), 0x5A);
    Packet original;
    original.reserve_head(4);
    original.put(payload.data(), static_cast<unsigned>(payload.size()));
    for (auto _ : state) {
        Packet copy = original;
        copy.push(0);
        benchmark::DoNotOptimize(copy.get());
    }
}
BENCHMARK(CopyOnWrite)->Arg(256)->Arg(1500);

// Down a two-layer family whose top pushes a four-byte header.
class Header : public Protocol {
public:
    void local_prepare_head(Packet& p) override { p.reserve_head(4); }
    void message(Packet& p) override {
        p.push16_b(static_cast<unsigned short>(p.length() + 4));
        p.push16_b(0x0300);
        transmit(p);
    }
};

void StackMessage(benchmark::State& state) {
    ProtocolsFamily family;
    family.add_protocol_tail(new Protocol);
    family.add_protocol_tail(new Header);
    const std::vector<unsigned char> payload(state.range(0), 0x5A);
    for (auto _ : state) {
        Packet p;
        family.prepare_head(p);
        p.put(payload.data(), static_cast<unsigned>(payload.size()));
        family.message(p);
        benchmark::DoNotOptimize(p.get());
    }
}
BENCHMARK(StackMessage)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
