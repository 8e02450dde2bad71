#pragma once
// The slot registry: the only holder of slots and the controller-facing
// service of the slot commands. It answers `query` with the board's free
// resources, which every factory reports in chain order, and hands trunk
// state that other services signal to every factory.

#include "link/ctrl_server.h"

class Slots : public CtrlSrv::Service {
public:
    static Slots* instance();

    void OnConnect() override {}
    void OnDisconnect() override {}
    // With a slot number: the slot commands; without one: `query`.
    bool OnCommand(const LGCP::Command& command) override;
    void OnSignal(const LGCP::Signal& signal) override;

    // Sends the free resources to the controller as a `query` signal.
    void UpdateHardwareResources();

private:
    Slots() = default;

    bool OnBaseCommand(const LGCP::Command& command);
    bool OnSlotCommand(const LGCP::Command& command);
    void CmdQuery();
};
