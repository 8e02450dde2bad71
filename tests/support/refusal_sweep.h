#pragma once
// A refusal sweep: a scenario runs once to count the driver requests it
// makes that a filter picks, then once per such request with the driver
// refusing that one request (and no other).
//
//   test::RefusalSweep sweep([](board::sim::Op op, const std::string& path,
//                               uint32_t, const void*) {
//       return op == board::sim::Op::Ioctl && path == "/dev/hal";
//   });
//   sweep.run([&] {
//       SetUpTheBoard();        // resets the board, so arm after it
//       sweep.arm();
//       PlayTheScenarioAndCleanUp();
//       sweep.disarm();         // refusals over: what is owed can be done
//       CheckNothingIsLeft();   // SCOPED_TRACE(sweep.describe()) names the run
//   });

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>

#include "board/sim/sim_board.h"

namespace test {

// The request, with an ioctl's record or the bytes written (else null).
using RequestFilter = std::function<bool(board::sim::Op op, const std::string& path,
                                         uint32_t request, const void* arg)>;

class RefusalSweep {
public:
    explicit RefusalSweep(RequestFilter pick, int error = EIO);
    ~RefusalSweep();

    // Has the board count the picked requests from now on, and refuse the
    // one this run refuses. Call it after the scenario has reset the board.
    void arm();
    // Refusals over: the board answers every request again.
    void disarm();

    // Runs `scenario` once to count, then once per picked request it made.
    // Returns the number of refused runs.
    size_t run(const std::function<void()>& scenario);

    // The run in progress: "no refusal", or "refused #3: ioctl /dev/hal
    // 0x80044d03 (Input/output error)".
    std::string describe() const;
    // Whether this run's refusal has happened yet.
    bool refused() const { return !refusedCall_.empty(); }

private:
    static constexpr size_t kNone = static_cast<size_t>(-1);

    RequestFilter pick_;
    int error_;
    size_t toRefuse_ = kNone;
    size_t seen_ = 0;
    std::string refusedCall_;
};

}  // namespace test
