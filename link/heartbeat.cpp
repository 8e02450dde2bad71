#include "link/heartbeat.h"

#include <iostream>

HeartBeatCtl& HeartBeatCtl::instance() {
    static HeartBeatCtl heartbeat;
    return heartbeat;
}

bool HeartBeatCtl::OnCommand(const LGCP::Command& command) {
    ResetTimeOut();
    if (!command.is_ping()) return false;
    Success();
    return true;
}

void HeartBeatCtl::ResetTimeOut() {
    timeoutTimer_.set(timeout_ms, &HeartBeatCtl::OnHeartbeatTimeout, this);
}

void HeartBeatCtl::OnHeartbeatTimeout(Timer*) {
    std::clog << "heartbeat timeout!!!" << std::endl;
    if (server()) server()->OnHeartbeatTimeout();
}

void HeartBeatCtl::PutHeader(std::ostream& os) const { os << "heartbeat: "; }
