// One request of a board device on the simulated board: the switch's
// disable request, of which the refresh of the switch issues 128 on every
// loop pass of the server; journaled (1) and with the device's journal
// switched off (0).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "board/devio.h"
#include "board/drivers/hal.h"
#include "board/sim/sim_board.h"

namespace {

namespace hal = board::hal;

void BM_SwitchDisable(benchmark::State& state) {
    board::sim::Board::instance().set_journaled(hal::kDevice, state.range(0) != 0);
    const int fd = board::open(hal::kDevice, O_RDWR);
    if (fd < 0) {
        state.SkipWithError("no switch device");
        return;
    }
    int32_t channel = hal::kBusBase;
    for (auto _ : state) {
        if (board::ioctl(fd, hal::kMuxDisable, &channel) != 0) {
            state.SkipWithError("the request failed");
            break;
        }
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SwitchDisable)->Arg(1)->Arg(0);

}  // namespace

BENCHMARK_MAIN();
