#include "board/sim/maintenance_model.h"

#include <errno.h>

#include <cstring>

namespace board::sim {

void MaintenanceModel::reset() {
    absent = false;
    std::memset(trunks, 0, sizeof trunks);
    std::memset(failure, 0, sizeof failure);
    tclk = 0;
    tclk_history.clear();
    clock_source = -1;
}

int MaintenanceModel::open(Channel&) {
    if (!absent) return 0;
    errno = ENOENT;
    return -1;
}

int MaintenanceModel::ioctl(Channel&, uint32_t request, void* arg) {
    if (request != maintenance::kTrunkStatus) {
        errno = ENOTTY;
        return -1;
    }
    maintenance::trunk_status record;
    std::memcpy(&record, arg, sizeof record);
    uint32_t trunk = static_cast<uint32_t>(record.trunk);
    if (trunk >= maintenance::kTrunks) {
        errno = EINVAL;
        return -1;
    }
    if (failure[trunk] != 0) {
        errno = failure[trunk];
        return -1;
    }
    record = trunks[trunk];
    record.trunk = static_cast<int32_t>(trunk);
    std::memcpy(arg, &record, sizeof record);
    return 0;
}

int MaintenanceModel::ioctl_value(Channel&, uint32_t request, unsigned long value) {
    switch (request) {
        case maintenance::kSetTclk:
            tclk = static_cast<uint32_t>(value);
            tclk_history.push_back(tclk);
            return 0;
        case maintenance::kSelectClockSource: clock_source = static_cast<int>(value); return 0;
        default: errno = ENOTTY; return -1;
    }
}

}  // namespace board::sim
