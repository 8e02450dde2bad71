#pragma once
// The simulated "/dev/maintenance": the four E1 trunks' status records as the
// test sets them, a trunk whose status cannot be read, and the TCLK mask of
// clock-slave trunks with every value written to it (while the device is
// journaled).

#include <cstdint>
#include <vector>

#include "board/drivers/maintenance.h"
#include "board/sim/sim_board.h"

namespace board::sim {

class MaintenanceModel : public Model {
public:
    MaintenanceModel() { reset(); }

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    int ioctl_value(Channel& channel, uint32_t request, unsigned long value) override;
    void reset() override;

    // Open fails with ENOENT while set.
    bool absent = false;
    // The whole record the driver fills in for each trunk, word 0 included.
    maintenance::trunk_status trunks[maintenance::kTrunks];
    // errno of a status request for the trunk; 0 when it succeeds.
    int failure[maintenance::kTrunks];

    uint32_t tclk = 0;
    std::vector<uint32_t> tclk_history;
    int clock_source = -1;
};

}  // namespace board::sim
