#pragma once
// DspModemSlot: a modem slot on one of the board's DSP modems, driven
// through the modem control device. Its first stream request allocates a
// modem, whose TDM channel becomes the slot's transmit and receive channel,
// and sets the modem up from the creation parameters; then the slot answers
// or originates a data call and runs pppd on the modem's terminal device, or
// lets a fax program use the modem, which the slot keeps allocated until the
// program ends. The modem number is the slot's session on the dial-in
// authentication link.

#include <string>

#include "runtime/fd.h"
#include "slots/child_program.h"
#include "slots/modem_slot.h"

class DspModemSlot : public ModemSlot {
public:
    explicit DspModemSlot(const TERM::ModemParams& params) : ModemSlot(params) {}

    const char* GetName() const override { return "dsp-modem"; }
    // While a fax program uses the modem the slot answers for no session,
    // and once the program has ended the slot holds no modem.
    int modem_id() const override { return fd_ && !faxRuns() ? modem_ : -1; }
    void unbind() override;
    // The fax program ended: the modem is given back.
    void IReleaseHardware() override;
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    bool IOnOutputStream() override {
        InitModem();
        return true;
    }
    bool IOnInputStream() override {
        InitModem();
        return true;
    }

private:
    // Allocates and sets up a modem, then starts the call: once per slot
    // (until a modem is held, a failure may be retried by the next request).
    void InitModem();
    // The parameters reset, then set; false when the driver refused one,
    // and the call aborted.
    bool SetParameters(const Fd& fd, int modem);
    void StartCall();
    // The modem request `request` {modem, -1}; false after its abort.
    bool CallRequest(uint32_t request, const char* failure);
    void RunFaxTransfer();
    void RunFaxReceiver();
    // The name of a fax received now: "/var/fax-HH-MM-SS.g3" while it is
    // not taken, else the first free of "/var/fax-HH-MM-SS.1.g3", ".2.g3"...
    static std::string FreeFaxFile();
    // A file of that name exists, or a receiver still running was given it.
    static bool FaxFileTaken(const std::string& name);
    void StartFax(ChildProgram& fax, const char* started);
    void on_fax_terminate(int status);
    bool faxRuns() const { return params().has_fax() && child_.running(); }
    // Logs `what` with the error text; returns errno.
    int LogFailure(const char* what);
    // Logs `what` with the error text and sends `abort` with errno.
    void Abort(const char* what);

    Fd fd_;
    int channel_ = -1;
    int modem_ = -1;
    // The file the fax receiver was given.
    std::string faxFile_;
};
