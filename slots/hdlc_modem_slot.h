#pragma once
// HdlcModemSlot: a modem slot for a digital data call on one of the board's
// synchronous HDLC network interfaces ("hdlc<n>"), which the modem factory
// lends it. Its first stream request takes the interface's TDM channel from
// the interface's physical settings, switches the interface to PPP and runs
// pppd on it; when the slot goes, the interface is taken down and given raw
// HDLC back. The slot has no session on the dial-in authentication link.

#include <string>

#include "slots/modem_slot.h"

class HdlcModemSlot : public ModemSlot {
public:
    HdlcModemSlot(const TERM::ModemParams& params, const std::string& interfaceName)
        : ModemSlot(params), interfaceName_(interfaceName) {}
    // Stops pppd, then leaves the interface down and in raw HDLC.
    ~HdlcModemSlot() override;

    const char* GetName() const override { return "digital-modem"; }
    int modem_id() const override { return -1; }
    // Gives the interface name back to the factory.
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

private:
    // Sets the interface up for pppd and starts it, unless pppd runs. A
    // failing step is logged only: the next stream request tries again.
    void initModem();
    void ReleaseInterface();

    int channel_ = -1;
    std::string interfaceName_;
};
