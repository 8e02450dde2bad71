// Every device of the simulated board, one model per driver.
#include "board/sim/sim_board.h"

namespace board::sim {

void install_models(Board&) {}

}  // namespace board::sim
