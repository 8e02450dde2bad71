#pragma once
// Tone detection and generation per TDM timeslot on the tone codec
// "/dev/dtmf". A media endpoint derives from TonecReceiver for its timeslot:
// it switches the detectors, plays the ringback cadence, dials DTMF digit
// sequences and SELCAL signs, and receives its detector events. The one
// TonecReceiverService owns the device and routes each event of a timeslot
// under the detector's current enable id to every receiver of it that has
// the detector of the event's code (DTMF or IVA) on, dropping events of an
// earlier enabling. Several receivers may share a timeslot (the slots of one
// mixer channel): each leaves on it what the others switched on.

#include <fcntl.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "board/drivers/dtmf.h"
#include "hardware/device_names.h"
#include "hardware/receiver_support.h"
#include "messages/lgcp.h"
#include "messages/term.h"
#include "runtime/cyclic_list.h"
#include "runtime/timer.h"

// The DTMF digits and their frequency pairs (Hz), in one order.
namespace Dtmf {
constexpr unsigned count = 16;
extern const char* const strRep[count];
extern const unsigned short freq1[count];
extern const unsigned short freq2[count];
// Digit character -> (freq1, freq2), built at start-up from the tables.
extern const std::map<char, std::pair<unsigned short, unsigned short>> tonesValidator;
}  // namespace Dtmf

namespace Hardware {

class TonecReceiverService;

// A SELCAL dial carries exactly four signs.
bool SelcalSignsFit(const std::string& signs);

class TonecReceiver {
public:
    // One detector event, as the driver reports it.
    struct Params {
        uint32_t code;
        uint32_t timestamp;
    };

    // Joins the receivers at the tail: of two on one timeslot the older
    // one gets the events that name neither's enable id.
    TonecReceiver();
    virtual ~TonecReceiver();
    TonecReceiver(const TonecReceiver&) = delete;
    TonecReceiver& operator=(const TonecReceiver&) = delete;

    virtual void tonec_event(const Params& params) = 0;
    // Asked afresh at every use.
    virtual unsigned tonec_timeslot() const = 0;
    // A digit sequence has ended.
    virtual void tone_gen_complete() {}

    // A setting of the generator: {freq1, freq2, amp1, amp2}.
    using ToneSetting = std::array<unsigned short, 4>;

    // Each answers whether the driver took it.
    bool configureDTMF(const LGCP::DTMFParams& params);
    bool enableDTMF(bool on);
    bool disableDTMF() { return enableDTMF(false); }
    bool echoCancel(bool on);
    bool enableDTMFReject(bool on);
    bool enableIVA(bool on);
    bool configureIVA(const LGCP::IVAParams& params);
    bool translateSelcal(const TERM::SelcalCommand& command);

    bool enableToneGenerator(unsigned short freq1, unsigned short freq2, unsigned short amp1,
                             unsigned short amp2);
    bool enableSilence() { return enableToneGenerator(1000, 1000, 0, 0); }
    // Unless forced, only stops a running digit sequence. A tone another
    // receiver of the timeslot has on plays on.
    bool disableToneGenerator(bool force);

    // 425 Hz for 1 s, silence for 3 s, and again, until cancelled. Like any
    // later request for the generator, it ends a running digit sequence.
    // False, nothing changed, when the driver refuses the first tone.
    bool activateAudibleCall();
    // Stops the ringback, unless a digit sequence runs; false, the
    // ringback going on, when the driver refuses the silence.
    bool cancelAudibleCall();
    // Plays the digits (replacing those left of a running sequence); the
    // sequence takes the generator from a ringback.
    void translateDTMF(const LGCP::TranslateDtmfParams& params);
    bool isSequenceRunning() const { return sequenceRunning_; }

    // Called by the owner's destructor: switches off what this receiver
    // switched on (the echo canceller too), and the generator it left
    // playing; as every switch-off, it leaves what another receiver of the
    // timeslot has on. What the driver refuses to switch off is owed to the
    // timeslot (TonecReceiverService::owe).
    void CleanBeforeDestroy();
    // The owner lost its timeslot, which the driver may give to the next
    // endpoint: cleaned as before a destroy, and out of the routing, so
    // that the timeslot's events go to its next receiver. Nothing of this
    // receiver reaches the device afterwards, CleanBeforeDestroy included.
    void LetGo();

    // Events are delivered while either detector is on.
    bool detectorEnabled() const { return dtmfOn_ || ivaOn_; }
    uint32_t enableId() const { return enableId_; }

private:
    friend class TonecReceiverService;

    void playNextDigit();
    // Drops the digits' (or the ringback's) timer and the running mark.
    void endSequence();
    void onDigitTone(Timer* timer);
    void onDigitPause(Timer* timer);
    void onRingbackTone(Timer* timer);
    void onRingbackSilence(Timer* timer);
    // Another receiver of this one's timeslot that `wanted` takes, or null.
    template <class Wanted>
    TonecReceiver* sharer(Wanted wanted) const;
    // Another receiver of this one's timeslot has `flag` set.
    bool sharedOn(bool TonecReceiver::*flag) const;

    Timer toneTimer_;  // the ringback cadence or the digit sequence
    bool sequenceRunning_ = false;
    uint32_t enableId_ = 0;
    LGCP::TranslateDtmfParams digits_;
    Containers::CyclicList node_;
    bool letGo_ = false;  // LetGo has run
    // What this receiver switched on in the driver, one flag per function.
    bool ivaOn_ = false;
    bool dtmfOn_ = false;
    bool dtmfRejectOn_ = false;
    bool echoOn_ = false;
    bool toneOn_ = false;  // the generator plays anything but all zeros
    // Its last setting of the generator, and when the driver took it (0
    // never): of the receivers of a timeslot the driver plays the latest.
    ToneSetting tone_{};
    uint64_t toneTaken_ = 0;
    // Its tone off: the generator falls silent, unless another receiver of
    // the timeslot has a tone on; then, when the driver plays this
    // receiver's setting, the latest of theirs is set again.
    bool stopGenerator();
};

// The process's one user of "/dev/dtmf".
class TonecReceiverService : public ReceiverDevice<TonecReceiverService> {
public:
    // A request that switches a function of a timeslot on or off by value.
    struct Switch;

    bool configureDTMF(unsigned ts, const LGCP::DTMFParams& params);
    bool echoCancel(TonecReceiver& receiver, bool on);
    bool enableDTMFReject(TonecReceiver& receiver, bool on);
    bool enableDTMF(TonecReceiver& receiver, bool on);
    // Enables the receiver's detector under a new id, the one the driver
    // then puts in the timeslot's events, whether it was on or not.
    bool startDetector(TonecReceiver& receiver);
    bool disableDetector(unsigned ts);
    bool enableToneGenerator(unsigned ts, unsigned short freq1, unsigned short freq2,
                             unsigned short amp1, unsigned short amp2);
    bool configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params);
    bool enableIVA(TonecReceiver& receiver, bool on);
    bool translateSelcal(TonecReceiver& receiver, const TERM::SelcalCommand& command);

    // What the receiver, at its clean-up, leaves owed to its timeslot (the
    // switch-offs and the silence the driver refused, as bits:
    // ReceiverDevice::oweTimeslot), and the request owed of one bit.
    static void owe(const TonecReceiver& receiver);
    static bool pay(unsigned ts, uint32_t bit);

    void OnEvent(int fd, short revents);

    // As ReceiverDevice's, and no timeslot's enabling known.
    static void reset_for_test(uint32_t counter = 0);

private:
    friend class ReceiverDevice<TonecReceiverService>;
    static const char* DevName() { return GetDTMFDevName(); }
    static constexpr int kOpenFlags = O_RDONLY;
    static constexpr const char* kOpenFailure = "open tonec fail, DTMF proceeding disabled: ";
    static constexpr const char* kEventName = "TonecReceiverService::OnEvent";

    TonecReceiverService() = default;
    // A receiver has a detector on: the device that ended is opened again.
    static bool listening();
    // Switches the function of the receiver's `flag`; off, it stays on for
    // another receiver of the timeslot that has it on.
    bool switchShared(TonecReceiver& receiver, bool TonecReceiver::*flag, const Switch& what,
                      bool on);
    bool switchTimeslot(const Switch& what, unsigned ts, bool on);
    // The receiver's detector off, on for `listener`, which has it on.
    bool leaveDetector(TonecReceiver& receiver, TonecReceiver& listener);
    // Hands one record to the receivers of its timeslot (TargetsOfEvent).
    void route(const board::dtmf::dtmf_event& event);
    // The record comes from an enabling that still counts.
    bool isCurrent(const board::dtmf::dtmf_event& event) const;

    // Per timeslot, the id of the server's last enabling of its detector.
    std::map<unsigned, uint32_t> detectorIds_;
};

}  // namespace Hardware
