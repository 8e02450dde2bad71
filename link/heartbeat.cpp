#include "link/heartbeat.h"

#include <iostream>

#include "runtime/ext_output.h"

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

// A telnet session left open, a port check or a controller hung before its
// first command would otherwise hold the place for ever; a controller that
// has sent a command is the timer's.
void HeartBeatCtl::OnRefuseConnection() {
    if (armed() || Mux::milliseconds() - connectedAt_ < timeout_ms) return;
    std::clog << ext::header(this) << "no command since connect for " << timeout_ms / 1000
              << " s, peer dropped for a newcomer." << std::endl;
    if (server()) server()->OnHeartbeatTimeout();
}

void HeartBeatCtl::OnHeartbeatTimeout(Timer*) {
    std::clog << "heartbeat timeout!!!" << std::endl;
    if (server()) server()->OnHeartbeatTimeout();
}

void HeartBeatCtl::PutHeader(std::ostream& os) const { os << "heartbeat: "; }
