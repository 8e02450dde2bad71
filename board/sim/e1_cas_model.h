#pragma once
// The simulated "/dev/e1-cas": per trunk whether CAS is open, and the
// results its open and close requests give; per channel (trunk, timeslot)
// whether it is open, the bits sent (tx, as written) and the bits received
// (rx, as the far end sets them). A far-end change on an open channel reaches
// every open of the device as one cas_channel record.

#include <cstddef>
#include <cstdint>

#include "board/drivers/e1_cas.h"
#include "board/sim/sim_board.h"

namespace board::sim {

class E1CasModel : public Model {
public:
    struct Trunk {
        bool open = false;
        // What the open and close requests return; a negative value fails
        // them with errno set to its magnitude.
        int open_result = 0;
        int close_result = 0;
    };
    struct Timeslot {
        bool open = false;
        uint8_t rx = 0;
        uint8_t tx = 0;
    };

    E1CasModel() { reset(); }

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    int ioctl_value(Channel& channel, uint32_t request, unsigned long value) override;
    void reset() override;

    // The far end sends new bits on a channel.
    void far_end(unsigned trunk, unsigned timeslot, uint8_t rx);
    // A record of any length, as a misbehaving driver might deliver it.
    void deliver_raw(const void* bytes, size_t length);

    // Open fails with ENOENT while set.
    bool absent = false;
    Trunk trunks[e1_cas::kTrunks];
    Timeslot channels[e1_cas::kTrunks][e1_cas::kTimeslots];

private:
    int OpenTrunk(unsigned long trunk);
    int CloseTrunk(unsigned long trunk);
    int Enable(const e1_cas::cas_channel_enable& request);
    int SetBits(const e1_cas::cas_channel& request);
    int GetBits(e1_cas::cas_channel& request);
    // The channel of a record: a CAS channel of an open trunk.
    Timeslot* channel_of(const e1_cas::cas_channel& record);
};

}  // namespace board::sim
