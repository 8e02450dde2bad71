#pragma once
// A refusal sweep: a scenario runs once to count the driver requests it
// makes that a filter picks, then once per refusal of a plan, with the
// driver refusing the picked requests that refusal covers (and no other):
// one request, two at once, or every one from a request on until the
// scenario disarms the sweep (a refusal that lasts, then recovery).
//
//   test::RefusalSweep sweep([](board::sim::Op op, const std::string& path,
//                               uint32_t, const void*) {
//       return op == board::sim::Op::Ioctl && path == "/dev/hal";
//   }, test::refuse_each({}, test::Shape::once, EIO));
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
#include <vector>

#include "board/sim/sim_board.h"

namespace test {

// The request, with an ioctl's record or the bytes written (else null).
using RequestFilter = std::function<bool(board::sim::Op op, const std::string& path,
                                         uint32_t request, const void* arg)>;

// Which picked requests one run refuses, by their index in the order the
// scenario makes them (from 0), and with what error.
struct Refusal {
    static constexpr size_t kNone = static_cast<size_t>(-1);

    size_t first = kNone;   // kNone: nothing is refused
    size_t second = kNone;  // a second one refused too (two at once)
    bool lasting = false;   // every one from `first` on, until disarm()
    int error = EIO;

    bool covers(size_t index) const {
        return index == first || index == second || (lasting && first != kNone && index > first);
    }
    // "#3", "#3 and #5", "#3 on"; with the error's name.
    std::string describe() const;
};

enum class Shape { once, lasting, pairs };

// "EIO", "EAGAIN", ...: the errors the sweeps refuse with, by name.
const char* error_name(int error);

// The points of a sweep's refusals among `count` picked requests: every
// one when `stride` is 1; else 0, stride, 2 * stride... and the fixed
// `offsets` (from the end when negative), each once. Two at once, a point
// k goes with k + 1, k + 2 and k + 3 in turn from one point to the next,
// or, `everyApart`, with each of them.
struct Sampling {
    size_t stride = 1;
    std::vector<long> offsets;
    bool everyApart = false;
    std::vector<size_t> points(size_t count) const;
};

// The refusals of a sweep, given the count of picked requests.
using Plan = std::function<std::vector<Refusal>(size_t count)>;

// At each sample point k: k alone (once), k to the end (lasting), or k
// with a second (pairs).
Plan refuse_each(Sampling sampling, Shape shape, int error);

class RefusalSweep {
public:
    RefusalSweep(RequestFilter pick, Plan plan);
    ~RefusalSweep();

    // Has the board count the picked requests from now on, and refuse those
    // this run refuses. Call it after the scenario has reset the board.
    void arm();
    // Refusals over: the board answers every request again.
    void disarm();

    // Runs `scenario` once to count, then once per refusal of the plan.
    // Returns the number of refused runs.
    size_t run(const std::function<void()>& scenario);

    // The run in progress: "no refusal", or "refused #3 on (EIO): first
    // ioctl /dev/hal 0x80044d03".
    std::string describe() const;
    // Whether this run has refused a request yet, and how many it has.
    bool refused() const { return made_ > 0; }
    size_t refusals_made() const { return made_; }
    // The picked requests of the unrefused run until its first disarm().
    size_t requests() const { return requests_; }
    // What this run refuses, and whether the board refuses it still (a
    // lasting refusal refuses until it is disarmed).
    const Refusal& refusal() const { return now_; }
    bool armed() const { return armed_; }

private:
    RequestFilter pick_;
    Plan plan_;
    Refusal now_;
    bool armed_ = false;
    size_t seen_ = 0;
    size_t requests_ = 0;
    size_t made_ = 0;
    std::string refusedCall_;  // the first refused
};

}  // namespace test
