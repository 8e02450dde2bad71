// The event loop's hot paths: arming a timer that is due after every queued
// one (the common case; the scan starts at the tail), and one loop pass that
// serves every attached handler.
#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "runtime/multiplexer.h"

namespace {

// The system clock that never blocks in poll().
class NoWaitClock : public Mux::SystemClock {
public:
    int poll(pollfd* fds, nfds_t count, int) override { return ::poll(fds, count, 0); }
};

struct Owner {
    void OnTimer() {}
    void OnEvent(int, short) {}
};

void BM_ArmLatestTimer(benchmark::State& state) {
    multiplexer.reset_for_test();
    Owner owner;
    std::vector<Timer> queued(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < queued.size(); ++i)
        queued[i].set(1000 + static_cast<unsigned>(i), &Owner::OnTimer, &owner);
    struct Latest : TimerEvent {
        void fire() override {}
    } latest;
    for (auto _ : state) {
        latest.schedule(1000000);
        latest.reset();
    }
    multiplexer.reset_for_test();
}
BENCHMARK(BM_ArmLatestTimer)->Arg(10)->Arg(100)->Arg(1000);

void BM_PassServingHandlers(benchmark::State& state) {
    multiplexer.reset_for_test();
    NoWaitClock clock;
    Mux::set_clock(&clock);
    Owner owner;
    std::vector<Fd> ends;
    std::vector<std::unique_ptr<Event>> events;
    for (int i = 0; i < state.range(0); ++i) {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
            state.SkipWithError("socketpair failed");
            return;
        }
        ends.emplace_back(sv[0]);
        ends.emplace_back(sv[1]);
        events.push_back(std::make_unique<Event>());
        events.back()->Bind("Owner::OnEvent", &Owner::OnEvent, &owner);
        // The first is always ready (writable), so every pass serves them all.
        events.back()->Schedule(ends[ends.size() - 2], i == 0 ? POLLOUT : POLLIN);
    }
    for (auto _ : state) multiplexer.pass();
    state.SetItemsProcessed(state.iterations() * state.range(0));
    events.clear();
    multiplexer.reset_for_test();
}
BENCHMARK(BM_PassServingHandlers)->Arg(1)->Arg(16)->Arg(128);

}  // namespace

BENCHMARK_MAIN();
