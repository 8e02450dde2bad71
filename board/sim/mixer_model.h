#pragma once
// The simulated conference mixer driver "/dev/mixer". Its state outlives the
// opens (the server opens the device for each request): the units in the
// driver's order, each with its channel count, its mixer input count, a
// TDM timeslot per channel, and per summing point the channels added to it
// with their gains. A freshly booted board has two units of 32 channels.
//
//   auto& mixer = *board.model_as<MixerModel>(board::mixer::kDevice);
//   mixer.add_unit(7, 8);                        // a third unit, 8 channels
//   mixer.fail_nth(board::mixer::MIX_RX_ADD, 3, EIO);   // the third add fails
//   EXPECT_EQ((MixerModel::Sum{{1, 32767}}), mixer.sum(0, 5));

#include <cstdint>
#include <map>
#include <vector>

#include "board/drivers/mixer.h"
#include "board/sim/sim_board.h"

namespace board::sim {

class MixerModel : public Model {
public:
    // The units' timeslots, unit after unit: kTimeslotBase and up, below
    // the shared buses.
    static constexpr int kTimeslotBase = 7168;
    static constexpr int kTimeslots = 1024;
    static constexpr int32_t kDefaultChannels = 32;
    static constexpr int32_t kDefaultInputs = 64;

    // Channel added to a summing point -> its gain.
    using Sum = std::map<int32_t, int32_t>;

    struct Unit {
        int32_t number;
        int32_t channels;
        int32_t inputs;
        int32_t reserved;   // the enumeration's word at offset 8
        int firstTimeslot;  // of channel 0; the others follow
        std::map<int32_t, Sum> sums;  // by summing point; empty sums are dropped
    };

    MixerModel() { reset(); }

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    void reset() override;

    // Open fails with ENOENT while set.
    bool absent = false;

    // A unit after the others, its channels on the next free timeslots;
    // false when the number is taken or the timeslots have run out.
    bool add_unit(int32_t number, int32_t channels = kDefaultChannels,
                  int32_t inputs = kDefaultInputs);
    void remove_unit(int32_t number);
    const std::vector<Unit>& units() const { return units_; }
    const Unit* unit(int32_t number) const;
    // What the summing point hears (empty for an unknown one).
    Sum sum(int32_t unit, int32_t channel) const;
    // The timeslot of a unit's channel; -1 when there is none.
    int timeslot(int32_t unit, int32_t channel) const;
    // The `nth` request of this number from now on (1: the next) fails
    // with `error`.
    void fail_nth(uint32_t request, int nth, int error);

private:
    Unit* find(int32_t number);
    // The unit of a valid slot, or null (errno EINVAL).
    Unit* resolve(const mixer::mix_slot& slot);
    bool planned_failure(uint32_t request);

    int Clear(const mixer::mix_slot& slot);
    int Add(const mixer::mix_rx_record& record);
    int Remove(const mixer::mix_rx_record& record);
    int Timeslot(const mixer::mix_slot& slot);
    int Next(mixer::mix_enum_record& record);

    struct PlannedFailure {
        uint32_t request;
        int remaining;  // requests of the number until the failing one
        int error;
    };

    std::vector<Unit> units_;
    std::vector<PlannedFailure> failures_;
};

}  // namespace board::sim
