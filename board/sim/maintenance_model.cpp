#include "board/sim/maintenance_model.h"

#include <errno.h>

#include <cstring>

#include "board/sim/model_support.h"

namespace board::sim {

void MaintenanceModel::reset() {
    absent = false;
    std::memset(trunks, 0, sizeof trunks);
    std::memset(failure, 0, sizeof failure);
    tclk = 0;
    tclk_history.clear();
    clock_source = -1;
}

int MaintenanceModel::open(Channel&) { return absent ? refuse(ENOENT) : 0; }

int MaintenanceModel::ioctl(Channel&, uint32_t request, void* arg) {
    if (request != maintenance::kTrunkStatus) return refuse(ENOTTY);
    const auto trunk = static_cast<uint32_t>(record_of<maintenance::trunk_status>(arg).trunk);
    if (trunk >= maintenance::kTrunks) return refuse(EINVAL);
    if (failure[trunk] != 0) return refuse(failure[trunk]);
    std::memcpy(arg, &trunks[trunk], sizeof trunks[trunk]);
    return 0;
}

int MaintenanceModel::ioctl_value(Channel&, uint32_t request, unsigned long value) {
    switch (request) {
        case maintenance::kSetTclk:
            tclk = static_cast<uint32_t>(value);
            if (journaled) tclk_history.push_back(tclk);
            return 0;
        case maintenance::kSelectClockSource: clock_source = static_cast<int>(value); return 0;
        default: return refuse(ENOTTY);
    }
}

}  // namespace board::sim
