#pragma once
// The E1 maintenance driver "/dev/maintenance": the state of the board's
// four E1 trunks and their clocking (type 'M'). Records are in the board's
// native byte order.

#include <cstddef>
#include <cstdint>

#include "board/ioc.h"

namespace board::maintenance {

constexpr const char* kDevice = "/dev/maintenance";
constexpr unsigned kTrunks = 4;

// One trunk's synchronisation state. The caller zeroes the record and puts
// the trunk number in; the driver fills the rest. `state` is numbered as the
// controller's trunk states (0 normal to 6 disabled).
struct trunk_status {
    int32_t trunk;
    int32_t driver0[8];  // the driver's own, not read
    int32_t slips;
    int32_t lossBF;
    int32_t lossCarrier;
    int32_t lossAIS;
    int32_t lossRAI;
    int32_t driver1[5];  // the driver's own, not read
    int32_t state;
};
static_assert(sizeof(trunk_status) == 80);
static_assert(offsetof(trunk_status, trunk) == 0);
static_assert(offsetof(trunk_status, slips) == 36);
static_assert(offsetof(trunk_status, lossBF) == 40);
static_assert(offsetof(trunk_status, lossCarrier) == 44);
static_assert(offsetof(trunk_status, lossAIS) == 48);
static_assert(offsetof(trunk_status, lossRAI) == 52);
static_assert(offsetof(trunk_status, state) == 76);

constexpr uint32_t kTrunkStatus = 0xC0504D03;  // trunk_status
// Both take their argument by value: the mask of clock-slave trunks (bit n
// for trunk n), and a clock source number.
constexpr uint32_t kSetTclk = 0xC0044D0B;
constexpr uint32_t kSelectClockSource = 0xC0044D0A;
static_assert(kTrunkStatus == ppc_ioc(ppc_ioc_read | ppc_ioc_write, 'M', 3, sizeof(trunk_status)));
static_assert(kSetTclk == ppc_ioc(ppc_ioc_read | ppc_ioc_write, 'M', 11, 4));
static_assert(kSelectClockSource == ppc_ioc(ppc_ioc_read | ppc_ioc_write, 'M', 10, 4));

}  // namespace board::maintenance
