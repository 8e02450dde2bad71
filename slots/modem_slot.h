#pragma once
// ModemSlot: the common base of the modem slots. A modem slot ends a data
// call in a modem of the board and leaves the data path to pppd, which it
// runs as a child on the modem's device. The base keeps the creation
// parameters, starts pppd and stops it before the slot goes (SIGHUP, then
// SIGKILL after 5000 ms), turns the child's end into an `abort` signal, and
// serves the dial-in authentication link for the slot's session: logins and
// accounting become `modemProceeding` signals, an activation with the
// user's network parameters is answered to the program.

#include <iosfwd>

#include "slots/auth_link.h"
#include "slots/child_program.h"
#include "slots/slot.h"

class ModemSlot : public Slot {
public:
    // A child still running when the slot goes is killed (SlotChild).
    explicit ModemSlot(const TERM::ModemParams& params);

    const char* GetName() const override { return "generic-modem"; }
    // False while a child stops: the destroy ends when it has.
    bool IBeforeDestroy() override;
    void IForcedRelease() override;
    // `modem`: answers the authentication program; others are refused.
    bool IActivate(const TERM::TermActivateParams& params) override;

    // The session on the authentication link (the DSP modem number); -1
    // for none.
    virtual int modem_id() const = 0;
    // Gives the slot's modem back and leaves the factory's lists.
    virtual void unbind() = 0;

    // A slot without a modem owns no session, also not one that names none.
    bool EqAuthId(int session) const { return modem_id() >= 0 && modem_id() == session; }
    // A record of the authentication program for this slot's session.
    void OnAuth(const Auth::Record& record);

    // The child's process id, -1 when none runs.
    int pid() const { return child_.pid(); }

protected:
    const TERM::ModemParams& params() const { return params_; }
    std::ostream& PutHeader(std::ostream& os) const;

    // Starts pppd on `tty` unless a child runs; `optionsFile` is a board path.
    void pppd_exec(const char* tty, const char* optionsFile);
    // SIGKILL to a child still running, which the slot then forgets.
    void pppd_kill() { child_.Kill(); }
    // The child ended while the slot was being destroyed: the destroy is
    // over and the slot is gone.
    void Finished();

    // pppd or a fax program.
    SlotChild child_{*this, "pppd"};

private:
    void OnAuthRequest(const Auth::voauth& login);
    void OnAcctInformation(const Auth::voacct& acct);
    void on_terminate(int status);

    TERM::ModemParams params_;
};
