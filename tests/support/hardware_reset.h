#pragma once
// The board hardware singletons live for the whole test binary, while each
// test gets a fresh simulated board: a descriptor kept from an earlier test
// would meet EBADF, or a poll() that reports POLLHUP on every pass. A
// HardwareReset returns every one of them to a closed, idle state when it is
// made and again when it goes. Declare it after the test's BoardRoot and
// VirtualLoop, so that it goes first.

#include "hardware/bus_ctl.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/e1_ctl.h"
#include "hardware/hw_mux.h"
#include "hardware/spi_ctrl.h"
#include "hardware/tonec_receiver.h"

namespace test {

class HardwareReset {
public:
    HardwareReset() { reset_all(); }
    ~HardwareReset() { reset_all(); }
    HardwareReset(const HardwareReset&) = delete;
    HardwareReset& operator=(const HardwareReset&) = delete;

    static void reset_all() {
        HwMux::instance().reset_for_test();
        Hardware::TonecReceiverService::reset_for_test();
        Hardware::DSProcReceiverService::reset_for_test();
        BusCtl::instance().reset_for_test();
        E1Ctl::instance().reset_for_test();
        spiCtrl::instance().reset_for_test();
    }
};

}  // namespace test
