// Every device of the simulated board, one model per driver.
#include "board/drivers/hal.h"
#include "board/drivers/watchdog.h"
#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"
#include "board/sim/watchdog_model.h"

namespace board::sim {

void install_models(Board& board) {
    board.install(watchdog::kDevice, std::make_unique<WatchdogModel>());
    board.install(hal::kDevice, std::make_unique<HalModel>());
}

}  // namespace board::sim
