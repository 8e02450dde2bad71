#pragma once
// Drops a controller that has gone silent: every command that reaches the
// services restarts a two-minute timer, which starts with the first command
// after a connect and stops at every disconnect. A peer that has sent no
// command in two minutes since its connect gives way to the next controller
// that is refused. Also answers `ping`, the command that does nothing else.
// Bound to the controller server first, so it sees every command.

#include <cstdint>
#include <iosfwd>

#include "link/ctrl_server.h"
#include "runtime/mux_time.h"
#include "runtime/timer.h"

class HeartBeatCtl : public CtrlSrv::Service {
public:
    static constexpr unsigned timeout_ms = 120000;

    static HeartBeatCtl& instance();

    void OnConnect() override { connectedAt_ = Mux::milliseconds(); }
    void OnDisconnect() override { timeoutTimer_.reset(); }
    bool OnCommand(const LGCP::Command& command) override;
    void OnRefuseConnection() override;

    void ResetTimeOut();
    bool armed() const { return timeoutTimer_.pending(); }
    void PutHeader(std::ostream& os) const;

private:
    HeartBeatCtl() = default;
    void OnHeartbeatTimeout(Timer*);

    Timer timeoutTimer_;
    uint32_t connectedAt_ = 0;  // loop clock
};
