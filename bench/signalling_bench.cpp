// I frames through a user/network LAPD pair on the in-memory line, in
// virtual time: each message goes down the user link, over the line, up the
// network link, and is acknowledged. Items are messages delivered.
#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>
#include <string>

#include "tests/support/lapd_rig.h"
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

}  // namespace

BENCHMARK_MAIN();
