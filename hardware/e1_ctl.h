#pragma once
// The controller's service for the board's four E1 trunks: it reports each
// trunk's synchronisation state once a second from the first controller
// connect on (a `trunkStatus` signal of type e1, which the other services
// hear first), sets which trunks are clock slaves (`trunkCfg`), and carries
// channel-associated signalling: the slot-less `ioctl` `cas` commands open
// and close CAS on trunks and timeslots and set and read a timeslot's bits,
// and every change the far end makes comes back as a `cas` signal.

#include <cstdint>
#include <iosfwd>

#include "board/drivers/e1_cas.h"
#include "link/ctrl_server.h"
#include "runtime/fd.h"
#include "runtime/log_throttle.h"
#include "runtime/multiplexer.h"
#include "runtime/owed.h"
#include "runtime/timer.h"

class E1Ctl : public CtrlSrv::Service {
public:
    static constexpr unsigned kTrunks = 4;
    static constexpr unsigned kStatusPeriodMs = 1000;
    // The TCLK mask has one bit per trunk number.
    static constexpr int kMaxTclkTrunk = 31;

    using cas_channel = board::e1_cas::cas_channel;

    static E1Ctl& instance();
    ~E1Ctl() override = default;

    void OnConnect() override;
    void OnDisconnect() override {}
    // Takes `trunkCfg` and the `ioctl`s that reach it (those without a slot).
    bool OnCommand(const LGCP::Command& command) override;

    void SendStatus();
    // Sets (slave) or clears (master) the trunk's bit of the TCLK mask and
    // writes the mask. A negative trunk changes nothing; false for a trunk
    // beyond the mask or a mask the driver did not take (kept as it was).
    // A controller's connect sets every trunk master; a mask the driver did
    // not take then is owed, written again every second until it does.
    bool SetMode(const LGCP::TrunkCfg& cfg);
    bool UpdateTclk();
    void select_source(int source);
    bool IsOpen();
    // Opens the CAS device unless it is open; false when it does not open
    // or the loop cannot watch it.
    bool CheckOpenCas();
    void OnUpdateCas(int fd, short revents);
    void CasEnded(const char* why);
    void HandleCas(const LGCP::IoctlParams& params);
    void HandleCasOpen(const cas_channel& channel, int value);
    void HandleCasClose(const cas_channel& channel);
    void HandleCasSet(const cas_channel& channel, int value);
    void HandleCasGet(const cas_channel& channel);
    void SendCASSignal(int trunk, int timeslot, int rx, int tx);
    void SendCASTrunkStatus(int trunk, int code) { SendCASSignal(trunk, 0, code, 0); }
    void PutHeader(std::ostream& os) const;

    bool cas_open(unsigned trunk) const { return trunk < kTrunks && casOpen_[trunk] != 0; }
    bool polling() const { return statusTimer_.pending(); }
    // Back to closed devices, no poll and no CAS trunk open: for tests.
    void reset_for_test();

private:
    E1Ctl() = default;
    void OnCheckStatus();
    // A signal of the poll or of the CAS driver: the other services hear it
    // always, the controller only while one is connected.
    void Report(const LGCP::Signal& signal);
    // Opens (close false) or closes CAS on one timeslot; the driver's result.
    int EnableChannel(const cas_channel& channel, int tx, bool close);
    // Reads the timeslot's bits and signals them, or the failed result.
    void SendBits(const cas_channel& channel);

    int maintenance_ = -1;
    Timer statusTimer_;
    Fd cas_;
    Event casEvent_;
    uint32_t casOpen_[kTrunks] = {};
    // The trunks' modes as the controller set them; while owed, the driver
    // still has another mask.
    uint32_t tclk_ = 0;
    Owed<> tclkOwed_{[this](auto) { return UpdateTclk(); }};
    // A failing driver fails a trunk's status at each poll: one throttle
    // per trunk, so that a trunk failing beside another is named too.
    LogThrottle statusReadFail_[kTrunks];
};
