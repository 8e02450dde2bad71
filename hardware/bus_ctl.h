#pragma once
// Selects the source of the board's TDM bus clock on the controller's
// `clockCfg`, and puts the clock back to free-run whenever a controller
// connects or disconnects; a free-run the driver refuses then is asked again
// every second until it takes it or a `clockCfg` selects another source.
// With clock control disabled (the command line's "--disable-clock") the
// device is never opened and every `clockCfg` is refused as unsupported.

#include <iosfwd>

#include "link/ctrl_server.h"
#include "runtime/owed.h"

class BusCtl : public CtrlSrv::Service {
public:
    static constexpr int kFreeRun = 4;
    static constexpr int kExternal = 5;

    static BusCtl& instance();
    ~BusCtl() override;

    // Switches clock control off for the life of the process.
    void DisableControl();

    void OnConnect() override;
    void OnDisconnect() override;
    // Takes `clockCfg`.
    bool OnCommand(const LGCP::Command& command) override;

    // Free-run, no BRI line clock master.
    bool SetDefaultClock();
    // False when the device cannot be opened or refuses the source; a
    // configuration that selects no source changes nothing and is true.
    bool SetClockSrc(const LGCP::ClockCfg& cfg);
    bool DrvSetClkSrc(int source);
    bool IsOpen();
    // Free-run was refused and not yet replaced: the board still runs on
    // the clock the last configuration chose.
    bool free_run_owed() const { return freeRun_.owes(); }

    void PutHeader(std::ostream& os) const;
    // Back to a closed device with control enabled: for tests.
    void reset_for_test();

private:
    BusCtl() = default;
    // Free-run at a connect or disconnect, owed until the driver takes it.
    void ToFreeRun();

    int fd_ = -1;
    bool control_ = true;
    Owed<> freeRun_{[this](auto) { return SetDefaultClock(); }};
};
