#pragma once
// The factory of the modem slots (the `modem` creation parameters). A call
// that asks for a digital data mode gets a free HDLC network interface when
// there is one, any other call a DSP modem. The factory keeps the modem
// slots it made, counts the board's DSP modems and point-to-point HDLC
// interfaces for the resources report, and owns the dial-in authentication
// link: the loopback listener and the program's connections, whose records
// it hands to the modem slot of their session.

#include <iosfwd>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "runtime/descriptor_end.h"
#include "runtime/fd.h"
#include "runtime/inet4_addr.h"
#include "runtime/listen_watch.h"
#include "runtime/log_throttle.h"
#include "runtime/multiplexer.h"
#include "runtime/owed.h"
#include "slots/auth_link.h"
#include "slots/slot_factory.h"

class DspModemSlot;
class HdlcModemSlot;
class ModemSlot;

class ModemFactory : public SlotFactory {
public:
    static ModemFactory& instance();

    const char* GetName() const override { return "Modem"; }
    // An HDLC modem slot on the first free interface when `ddm` names a
    // mode, else a DSP modem slot: its modem is allocated later, by its
    // first stream request, so creation never fails for lack of modems.
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    // Reports `modem` and `digital-modems` as the last count left them.
    void Query(LGCP::Resources& resources) override;
    // Counts the modems and scans the interfaces again; without a
    // descriptor for either, or with an enumeration the driver refused
    // before its end, what the last one found stays.
    void IQuery() override;
    // From the slot's unbind(): it leaves the lists.
    void ReleaseModemSlot(DspModemSlot* slot);
    void ReleaseModemSlot(HdlcModemSlot* slot);
    // From an HDLC modem slot's end, pppd stopped: the interface is taken
    // down in raw HDLC (HdlcModemSlot::TakeDown, logged after `header`). A
    // down one that the last scan saw goes to the end of the free list; one
    // the system refused to take down is owed it, tried again every second
    // and before a digital call takes an interface, and offered once done.
    void ReleaseInterface(const std::string& name, const std::string& header);

    // ---- The authentication link

    // Live connections of the program at most.
    static constexpr size_t kMaxAuthConnections = 64;

    // Watches a listening, non-blocking socket for the program's
    // connections; tests hand in sockets of their own.
    void Listen(Fd socket);
    void OnSocketEvent(int fd, short revents);
    // Takes an accepted connection; tests hand in connections of their own.
    void Serve(Fd connection, const INet4::Addr& peer);
    // To the first modem slot of the record's session.
    void OnAuth(const Auth::Record& record);
    // To the first connection (in accept order) whose last record named
    // the session.
    void SendAuth(uint32_t session, const std::vector<uint8_t>& record);
    // Deletes a closed connection.
    void OnAuthSocketDisconnect(AuthClient* client);

    // "modem[<modems>,<slots>]: "
    std::ostream& PutHeader(std::ostream& os) const;
    int modems() const { return modems_; }
    // The interfaces a digital call may take, first taken first.
    const std::list<std::string>& freeInterfaces() const { return freeHdlc_; }
    const std::list<ModemSlot*>& modemSlots() const { return modemSlots_; }
    const std::list<DspModemSlot*>& dspSlots() const { return dspSlots_; }
    size_t connections() const { return clients_.size(); }
    bool listening() const { return listener_.open(); }

    // A fresh factory for the next test: connections deleted, lists
    // emptied, the listener opened again (at the current auth port) and
    // the modems counted again.
    void reset_for_test();

private:
    // Enumerations stop here: a driver that never ends must not hang the loop.
    static constexpr int kMaxModems = 1024;

    ModemFactory();
    // At exit: the connections go with it.
    ~ModemFactory() override;
    void DeleteConnections();
    // Opens the listener.
    void Init();
    void CloseListener();
    void update_modemDevices();
    // Finds the point-to-point interfaces "hdlc0", "hdlc1", ... up to the
    // first missing one; those no slot holds are free. A scan the system
    // refused before that end changes nothing.
    void update_hdlcDevices();
    // Held by a slot, or owed its take-down.
    bool Held(const std::string& interfaceName) const;
    // Offered once down; logged after the factory's header by default.
    bool TakeDown(const std::string& name, std::string header = "");
    void Offer(const std::string& name);

    std::list<ModemSlot*> modemSlots_;  // every modem slot, creation order
    std::list<DspModemSlot*> dspSlots_;
    std::list<HdlcModemSlot*> hdlcSlots_;
    int modems_ = 0;
    // Point-to-point interfaces found by the last scan, held ones included.
    std::set<std::string> scannedHdlc_;
    std::list<std::string> freeHdlc_;
    Owed<std::string> takeDowns_{[this](const std::string& name) { return TakeDown(name); }};
    LogThrottles takeDownRefused_;
    ListenWatch listener_;
    std::list<AuthClient*> clients_;  // accept order
    LogThrottle refused_;
    LogThrottle unknownSession_;
    // The interfaces found, said at every query.
    LogThrottle foundLine_;
};
