#include "server/services.h"

#include "hardware/bus_ctl.h"
#include "hardware/e1_ctl.h"
#include "hardware/hw_tests.h"
#include "hardware/spi_ctrl.h"
#include "link/heartbeat.h"
#include "monitoring/monitoring_ctl.h"
#include "slots/slots.h"

std::vector<CtrlSrv::Service*> ControllerServices() {
    return {&HeartBeatCtl::instance(), Slots::instance(),  &HwTests::instance(),
            &BusCtl::instance(),       &E1Ctl::instance(), &spiCtrl::instance(),
            &MonitoringCtl::instance()};
}
