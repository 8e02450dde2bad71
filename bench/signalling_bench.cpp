// Messages through two links back to back on the in-memory line, in virtual
// time: each goes down one link, over the line, up the other, and is
// acknowledged. Items are messages delivered. LAPD: I frames from the user
// to the network side; MTP2: MSUs between two links in service.
#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>
#include <string>

#include "tests/support/lapd_rig.h"
#include "tests/support/mtp2_rig.h"
#include "tests/support/virtual_loop.h"

namespace {

void BM_LapdIFrames(benchmark::State& state) {
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    test::LapdRig rig;
    rig.establish();
    loop.advance(10);
    const std::string message(static_cast<size_t>(state.range(0)), 'm');
    size_t delivered = 0;
    rig.networkOwner->on_data = [&](Packet&) {
        ++delivered;
        rig.networkOwner->messages.clear();
    };
    for (auto _ : state) {
        for (int i = 0; i < 7; ++i) rig.send(*rig.user, message);
        while (!rig.line.idle()) loop.pump();
    }
    if (rig.user->full_state().state != ISDN::multiple_frame_established)
        state.SkipWithError("the link went down");
    state.SetItemsProcessed(static_cast<int64_t>(delivered));
    state.SetBytesProcessed(static_cast<int64_t>(delivered * message.size()));
}
BENCHMARK(BM_LapdIFrames)->Arg(32)->Arg(260);

void BM_Mtp2Msus(benchmark::State& state) {
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    test::Mtp2Rig rig;
    rig.align(loop);
    const std::string payload(static_cast<size_t>(state.range(0)), 'm');
    size_t delivered = 0;
    rig.bOwner->on_data = [&](Packet&) {
        ++delivered;
        rig.bOwner->messages.clear();
    };
    // A batch below the 127 that may go unacknowledged, so that none waits.
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i) test::Mtp2Rig::send(*rig.a, payload);
        while (!rig.line.idle()) loop.pump();
    }
    if (rig.a->state_id() != SS7::SLC::State::worked) state.SkipWithError("the link went down");
    state.SetItemsProcessed(static_cast<int64_t>(delivered));
    state.SetBytesProcessed(static_cast<int64_t>(delivered * payload.size()));
}
BENCHMARK(BM_Mtp2Msus)->Arg(32)->Arg(273);

}  // namespace

BENCHMARK_MAIN();
