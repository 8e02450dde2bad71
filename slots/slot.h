#pragma once
// Slot: the base of every endpoint the controller addresses by a slot number
// (trunk timeslots, bus channels, RTP streams, mixers, voice, modems,
// signalling and radio slots). It keeps the slot's number, its place in the
// wiring graph (one source, sorted receivers), its stream state and the
// factory that made it, and turns what a slot kind reports into signals for
// the controller. A slot kind overrides only the I-hooks it needs.
//
//   class Tone : public Slot {
//       const char* GetName() const override { return "tone"; }
//       bool IOnOutputStream() override { return true; }   // it transmits
//       int IGetTransmitChannel() override { return channel_; }
//       bool IBeforeDestroy() override {                    // delayed shutdown:
//           stopTimer_.set(500, &Tone::Stopped, this);      // ends in on_release()
//           return false;
//       }
//       void Stopped() { on_release(); }                     // `this` is gone after it
//   };
//
// Life of a slot: a factory's INewSlot makes it; the registry (Slots) gives
// it its number, answers the create command and calls IAfterCreate. Only
// Connect and Disconnect (below) wire slots. Only the registry destroys a
// slot: it unwires it, sets the destroying flag and calls BeforeDestroy; a
// slot whose IBeforeDestroy returned false finishes later by calling
// on_release(). A slot the registry must drop before it finished (the
// controller went away) gets IForcedRelease() and is deleted.
//
// Hardware a slot lost: a slot whose session, channel, modem, program or
// unit goes away while it lives lets go of it at once through
// LetGoOfHardware, because the driver may give the same channel to the next
// slot. The channels a driver gives a slot are announced with HoldChannel,
// so that the switch requests of the slots (MuxConnect, MuxDisconnect,
// MuxSwitchOff) can refuse a slot that asks to change what flows into a
// channel the driver gave another live call. Reading a channel is free, and
// the slots of one mixer channel share its timeslot.
//
// Who holds a channel (which call the driver gave it to) is the slots'
// record; what flows into a channel and who switched it there is the
// switch's (HwMux): a slot owns the path into its receive channel, and a
// release breaks only what the releaser switched and still flows there. The
// slots sharing a timeslot that receive from one source share that path,
// and one source feeds a shared timeslot at a time.

#include <iosfwd>
#include <vector>

#include "board/drivers/dsp.h"
#include "board/drivers/rtp.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/hw_mux.h"
#include "hardware/tonec_receiver.h"
#include "link/ctrl_server.h"
#include "messages/acp.h"
#include "messages/lgcp.h"
#include "messages/term.h"

class SlotFactory;
class Slots;

class Slot : public HwMux::Owner {
public:
    // The number of a slot that the registry has not entered yet.
    static constexpr unsigned kNoNumber = 0xFFFFFFFFu;
    // Sorted by address, without duplicates.
    using Receivers = std::vector<Slot*>;

    Slot() = default;
    // Only forgets the receivers: the registry unwires a slot before it
    // deletes it.
    virtual ~Slot();
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

    // ---- Hooks of the slot kinds (the base behaviour in the comments)

    virtual int GetTrunk() { return -1; }
    virtual int GetTrunkTimeSlot() { return -1; }
    virtual void OnTrunkStatus(unsigned /*trunk*/, const ACP::TrunkState::NamedNumber& /*state*/) {}
    // After the create command has been answered.
    virtual void IAfterCreate() {}
    // True: the slot has finished its shutdown. False: it finishes later and
    // then calls on_release(); calling it from inside IBeforeDestroy counts
    // as finishing at once.
    virtual bool IBeforeDestroy() { return true; }
    // The registry drops the slot before its shutdown finished: the place
    // to leave what the slot registered outside its factory's list (a side
    // list, a device service). The slot is deleted right after.
    virtual void IForcedRelease() {}
    // Commands; false answers `unsupported` (`invalidParams` when the hook
    // refused with RefuseInvalid).
    virtual bool IActivate(const TERM::TermActivateParams&) { return false; }
    virtual bool IDeactivate() { return false; }
    virtual bool IUserData(const std::vector<char>&) { return false; }
    virtual bool Ioctl(const LGCP::IoctlParams&) { return false; }

    // Of a source and a destination, the side with the higher priority
    // makes and breaks the hardware path; on a tie the destination makes it
    // and the source breaks it.
    virtual int GetConnectionPriority() { return 0; }
    virtual bool IHwConnectTransmitter(Slot& destination);     // MuxConnect(*this, destination)
    virtual bool IHwConnectReceiver(Slot& source);             // MuxConnect(source, *this)
    virtual bool IHwDisconnectTransmitter(Slot& destination);  // MuxDisconnect(destination)
    virtual bool IHwDisconnectReceiver(Slot& source);          // MuxDisconnect(*this)
    // What a connect can know before it breaks anything, asked of the side
    // that makes the path: whether it would take the link (by default the
    // switch's guard and its one source, MuxMayConnect).
    virtual bool IHwMayConnect(Slot& source, Slot& destination);
    // The graph around the slot changed (a link of it or of a peer made or
    // gone, a peer that lost its hardware): a slot whose paths follow from
    // its links alone switches the difference. With `own` the change is the
    // link the controller's command makes: a make the driver refuses
    // answers false, the switch left as it was; otherwise what the driver
    // refuses is owed. By default true: a link's hooks make its paths.
    virtual bool IFollowLinks(bool /*own*/) { return true; }
    // The graph around the slot stands after a change (a command's, or a
    // peer's loss): a slot that runs a link layer on its paths runs it on
    // what its channel carries now, so that a break put back in the same
    // command stops nothing.
    virtual void ISettleLink() {}
    // A connect made a new link of the slot, and answers success.
    virtual void ILinked() {}
    // Whether the slot has an output (input) stream now; false refuses Connect.
    virtual bool IOnOutputStream() { return false; }
    virtual bool IOnInputStream() { return false; }
    // The slot lost its last receiver (its source).
    virtual void IOnOutputRelease() {}
    virtual void IOnInputRelease() {}
    // The TDM channel that carries the slot's output; that into which its
    // input is switched. -1: none.
    virtual int IGetTransmitChannel() { return -1; }
    virtual int IGetReceiveChannel() { return -1; }
    // The kind's display name.
    virtual const char* GetName() const = 0;
    // The kind's part of letting go of lost hardware (LetGoOfHardware):
    // its receivers silenced and out of the routing, its descriptors
    // closed, its channel numbers forgotten (both channel hooks answer -1
    // from then on).
    virtual void IReleaseHardware() {}

    // ---- State

    unsigned number() const { return number_; }
    Slot* source() const { return source_; }
    const Receivers& receivers() const { return receivers_; }
    SlotFactory* factory() const { return factory_; }
    bool inputActive() const { return inputStream_; }
    bool outputActive() const { return outputStream_; }
    bool destroying() const { return destroying_; }
    bool hardwareLost() const { return hardwareLost_; }
    // When the link from the source was made: a later link has a higher
    // number (a connect repeated for a link that stands keeps its own).
    uint64_t linkMade() const { return linkMade_; }
    // The number of the link made last, of any slot.
    static uint64_t lastLinkMade() { return links_; }

    // "07:trunk" (0..1023, two digits at least), "i1500:rtp", "na:map".
    void Put(std::ostream& os) const;
    // The owner of its switch paths is named as the slot.
    void PutOwner(std::ostream& os) const override { Put(os); }

    // ---- Signals to the controller, with this slot's number

    void SendSignal(const LGCP::Signal& signal);
    void OnTonecEvent(const LGCP::TonecEvent& event);
    void OnModem(const TERM::ModemProceeding& proceeding);
    void OnActivated();
    void OnDeactivated();  // cause `networkError`
    void OnAbort(int cause);
    void OnUserData(const std::vector<char>& data);
    void OnIoctlResponse(const LGCP::IoctlResponse& response);
    void OnRtpRadioEvent(const TERM::RtpRadioRequest& request);
    void OnVADEvent(const LGCP::VADEvent& event);
    void OnSDEvent(const LGCP::SDEvent& event);
    void OnRtpEvent(const LGCP::RtpEvent& event);

    // Reports the stream coming (`active` with the channel) or going
    // (`inactive`). An input going away disconnects the slot from its
    // source; an output going away disconnects every receiver. Nothing
    // happens when the state is already reported.
    void OnChangeInputStream(bool on);
    void OnChangeOutputStream(bool on);

    // ---- Device events to signals (each malformed one is logged and
    // dropped). The RTP slot and the mixer slots pass on what their tone and
    // voice-processing receivers and the RTP device report.

    void processTonecEvent(const Hardware::TonecReceiver::Params& event);
    void processToneGenEvent();  // a tone sequence has ended
    void processVADEvent(const Hardware::DSProcVADEvent& event);
    void processToneFltEvent(const board::dsp::dsproc_tone_event* event);
    // Voice activity (bits 29 and 30), then SELCAL in progress (bit 31).
    void processFlagsEvent(const board::dsp::dsproc_flags_event* event);
    void processBSSEvent(const board::dsp::dsproc_bss_event* event);
    void processSDEvent(const Hardware::DSProcSDEvent& event);
    void processRtpEvent(const board::rtp::rtp_event& event);

    // ---- Hardware the slot lost

    // What the controller hears of the loss: nothing (it learns it from
    // its next request), or `abort` with the kind's cause.
    enum class Loss { silent, abort };

    // The one way a slot lets go of hardware that went away: the switch
    // paths of its links are broken and its channels switched off while it
    // still knows them (the links stay for the controller to undo), then
    // IReleaseHardware, then the controller hears of it. From then on the
    // wiring asks none of its hardware hooks, a connect from or to it fails
    // even where they are linked already, and its channels are no longer
    // its own. Only the first call acts.
    void LetGoOfHardware(Loss loss, int cause = 0);

    // ---- Destruction (driven by the registry)

    // IBeforeDestroy; when finished, the slot leaves its factory's list.
    bool BeforeDestroy();
    // A delayed shutdown has finished: the registry answers a waiting
    // destroy command and deletes the slot. Touch nothing of the slot after.
    void on_release();

    // ---- The graph without hardware (Connect and Disconnect use these)

    // Becomes a receiver of `source`, leaving an earlier source; the link
    // is the latest made, or keeps `made` (one put back as it was).
    void LogicalConnect(Slot& source, uint64_t made = 0);
    void LogicalDisconnect();

protected:
    // For a slot outside the registry's table: numbers from 1024 up print
    // as "i<number>".
    void SetNumber(unsigned number) { number_ = number; }
    // A driver gave the slot `channel` (ignored when negative): it holds
    // it in place of the slots that held it before, unless they hold it
    // under the same `share` (not null): the slots of one mixer channel
    // share its timeslot. It holds it until it lets go of its hardware,
    // hands it back (MuxSwitchOff) or goes (HandBackChannels). A slot new
    // to the channel takes it over (HwMux::TakeOver), and what receivers of
    // it that went owe the tone and DSP drivers is done first.
    void HoldChannel(int channel, const void* share = nullptr);

private:
    friend class Slots;
    friend class SlotFactory;

    // Disconnects receivers from the head, as many as there are now; logs
    // `shortLine` and stops when they run out before that.
    void DisconnectReceivers(const char* shortLine);
    void LeaveFactory();
    // Breaks the switch paths of the slot's links and leaves the links.
    void BreakPathsOfLinks();

    unsigned number_ = kNoNumber;
    Receivers receivers_;
    Slot* source_ = nullptr;
    uint64_t linkMade_ = 0;
    static inline uint64_t links_ = 0;
    SlotFactory* factory_ = nullptr;
    bool inputStream_ = false;
    bool outputStream_ = false;
    bool destroying_ = false;
    bool hardwareLost_ = false;
    // A destroy command waits for its answer until on_release.
    bool answerOwed_ = false;
    CtrlSrv::Seq delayedSeq_;
    // on_release() came from inside IBeforeDestroy.
    bool inBeforeDestroy_ = false;
    bool releasedEarly_ = false;
};

std::ostream& operator<<(std::ostream& os, const Slot& slot);

// For the command hooks: the command is one the slot takes, but a value in
// it is outside what the slot can act on. Keeps the reason and returns
// false; the registry logs it and answers `invalidParams`.
bool RefuseInvalid(const char* reason);

// ---- Wiring: the only way slots are connected to each other.

// Makes `source` feed `destination` (replacing its earlier source). False
// when a side lost its hardware, has no stream or the hardware refused; a
// failed reconnection keeps the old source (what the driver refuses of its
// path owed), or disconnects where a side refuses it. Asked again for a
// link that stands, it changes the graph in nothing (IFollowLinks).
bool Connect(Slot& source, Slot& destination);
// Removes the destination's source; what the driver refuses of the break
// is owed. False where a side's hook refused (the link is removed all the
// same). Without a source it tries again what is owed the destination's
// receive channel, and is false while the driver refuses.
bool Disconnect(Slot& destination);
// Pick the side that does the hardware work (by connection priority). A
// link with a side that lost its hardware has no path: none is made, and
// there is none to break.
bool llConnect(Slot& source, Slot& destination);
bool llMayConnect(Slot& source, Slot& destination);
bool llDisconnect(Slot& destination);
// The default hardware work: the TDM switch, the path owned by the
// destination. A connect is refused, with one line, to a slot that asks to
// change what flows into a channel that another live call holds
// (Slot::HoldChannel), or to read one, or when a slot sharing the channel
// receives another source on it. A release breaks only the destination's
// own path (owed where the driver refuses), and leaves it to a sharer that
// receives on it too; a path the call now holding the channel switched is
// not its own.
bool MuxConnect(Slot& source, Slot& destination);
bool MuxDisconnect(Slot& destination);
// MuxConnect's refusals alone, asked before anything is switched.
bool MuxMayConnect(Slot& source, Slot& destination);
// Whether `slot`, which switches into its links' channels itself (through
// an HDLC channel of its own), may change what flows into `channel`: as a
// slot into its own, or where a slot it is wired with (or being wired
// with) holds the channel. False with the same line.
bool MuxAdmitsForLinks(const Slot& slot, int channel);
// Switches the slot's own `channel` off. A channel a driver gave it goes
// back with its last holder, every path from and into it along, and is held
// no more; while a sharer holds it, or where the controller named it,
// another owner's path into it stays.
bool MuxSwitchOff(Slot& slot, int channel);
// The slot goes (its destroy has finished, or it is dropped): its
// descriptors close, its program has ended, its B channel was removed, so
// the channels it is the last holder of go back to their drivers, which
// may give them to the next call at once. Each is switched off with every
// path from and into it, whoever switched them (a release the driver
// refused, an HDLC channel); one it handed back itself is not again.
void HandBackChannels(Slot& slot);
// The slot feeds its links no more (it lost its hardware, its D channel
// ended): the slots whose paths follow from its links (its peers, and the
// listeners of the slots it fed) follow them again.
void FollowLinksWithout(Slot& slot);
// Every channel the slot held is free.
void LetGoOfChannels(const Slot& slot);
// The slot holds `channel` no more: a descriptor of its own (an HDLC
// channel's) has given it back, after its paths went.
void LetGoOfChannel(const Slot& slot, int channel);
