// Linked into the server executable on the simulated board. The board's call
// journal and its models' histories serve tests that run the server in their
// own process; no one can read the executable's, so it keeps none (the
// switch's refresh alone makes 128 calls on every loop pass). Its channels
// take data at their lines' pace by the loop's clock, so that a player costs
// the loop what it would on the board.
#include "board/sim/sim_board.h"
#include "runtime/mux_time.h"
#include "runtime/timer.h"

namespace {

uint64_t loop_time_us() {
    Mux::timeval now;
    Mux::mux_getmonotonic(now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_usec);
}

// Before each wait the loop lets the board's full channels take data again,
// and wakes when the next one can.
class BoardPace : public TimerPoolPlugin {
public:
    BoardPace() {
        board::sim::Board::instance().clock = loop_time_us;
        timerHook();
    }
    int timerPoll() override { return board::sim::Board::instance().pace(); }
};

[[maybe_unused]] const bool unjournaled = (board::sim::Board::journalsByDefault = false);
BoardPace pace;  // after the journal is switched off: it makes the board

}  // namespace
