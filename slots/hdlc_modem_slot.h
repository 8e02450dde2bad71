#pragma once
// HdlcModemSlot: a modem slot for a digital data call on one of the board's
// synchronous HDLC network interfaces ("hdlc<n>"), which the modem factory
// lends it. Its first stream request takes the interface's TDM channel from
// the interface's physical settings, switches the interface to PPP and runs
// pppd on it; when the slot goes, the interface is taken down and given raw
// HDLC back, and only then offered again (ModemFactory::ReleaseInterface).
// The slot has no session on the dial-in authentication link.

#include <string>

#include "runtime/log_throttle.h"
#include "slots/modem_slot.h"

class HdlcModemSlot : public ModemSlot {
public:
    HdlcModemSlot(const TERM::ModemParams& params, const std::string& interfaceName)
        : ModemSlot(params), interfaceName_(interfaceName) {}
    // Stops pppd, then leaves the interface down and in raw HDLC, and
    // gives it back to the factory.
    ~HdlcModemSlot() override;

    const char* GetName() const override { return "digital-modem"; }
    int modem_id() const override { return -1; }
    // Leaves the factory's lists; the interface goes back at the end.
    void unbind() override;
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    bool IOnOutputStream() override {
        initModem();
        return true;
    }
    bool IOnInputStream() override {
        initModem();
        return true;
    }

    const std::string& interfaceName() const { return interfaceName_; }

    // Takes interface `name` down and gives it raw HDLC back, each refused
    // step logged on the error stream after `header`, each kind of line
    // once a second at most.
    // False while the interface may still be up or in PPP (its socket or a
    // step refused): the take-down is then still owed. An interface the
    // system no longer has (ENODEV) is down.
    static bool TakeDown(const std::string& name, const std::string& header, LogThrottles& refused);

private:
    // Sets the interface up for pppd and starts it, unless pppd runs. A
    // failing step is logged only: the next stream request tries again.
    void initModem();

    int channel_ = -1;
    std::string interfaceName_;
};
