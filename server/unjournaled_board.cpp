// Linked into the server executable on the simulated board. The board's call
// journal serves tests that run the server in their own process; no one can
// read the executable's, so it keeps none (the switch's refresh alone makes
// 128 calls on every loop pass).
#include "board/sim/sim_board.h"

namespace {

[[maybe_unused]] const bool unjournaled = (board::sim::Board::journalsByDefault = false);

}  // namespace
