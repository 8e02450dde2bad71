#pragma once
// Voice processing per TDM timeslot on the DSP "/dev/dsp". A media endpoint
// derives from DSProcReceiver for its timeslot: it switches the functions
// (voice activity and signal detection, BSS score, noise gate, muting) and
// configures delays, receive gain and tone filters, and receives the DSP's
// events of its timeslot. The one DSProcReceiverService owns the device and
// routes each event that names a receiver of its timeslot (by the enable id
// of its function, or a tone filter's frequency) to every receiver of the
// timeslot that has the function on, or else to the first receiver of its
// timeslot; VAD and SD events of an earlier enabling, and tones no receiver
// filters, are dropped, and the VAD bits of a flags record go where a VAD
// record goes. Several receivers may share a timeslot (the slots of one
// mixer channel): each leaves on it what the others switched on.

#include <fcntl.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "board/drivers/dsp.h"
#include "hardware/device_names.h"
#include "hardware/receiver_support.h"
#include "messages/lgcp.h"
#include "runtime/cyclic_list.h"

namespace Hardware {

// Each a detector value; -1 when the event does not report the direction.
struct DSProcVADEvent {
    int rx;
    int tx;
};
struct DSProcSDEvent {
    int rx;
};

class DSProcReceiverService;

class DSProcReceiver {
public:
    // Joins the receivers at the tail: of two on one timeslot the older
    // one gets the events that name neither's enable id.
    DSProcReceiver();
    virtual ~DSProcReceiver();
    DSProcReceiver(const DSProcReceiver&) = delete;
    DSProcReceiver& operator=(const DSProcReceiver&) = delete;

    virtual void dsproc_vad_event(const DSProcVADEvent& event) = 0;
    virtual void dsproc_bss_event(const board::dsp::dsproc_bss_event* event) = 0;
    virtual void dsproc_sd_event(const DSProcSDEvent& event) = 0;
    virtual void dsproc_tone_flt_event(const board::dsp::dsproc_tone_event* event) = 0;
    virtual void dsproc_flags_event(const board::dsp::dsproc_flags_event* event) = 0;
    // Asked afresh at every use.
    virtual unsigned dsproc_timeslot() const = 0;

    // Each answers whether the driver took it.
    bool configureVAD(const LGCP::VADParams& params);
    bool enableVAD(bool on);
    bool disableVAD() { return enableVAD(false); }
    bool enableBSS(bool on);
    bool disableBSS() { return enableBSS(false); }
    bool enableNG(bool on);
    bool disableNG() { return enableNG(false); }
    bool configureSD();
    bool enableSD(bool on);
    bool disableSD() { return enableSD(false); }
    bool enableMute(bool first, bool second);
    bool disableMute() { return enableMute(false, false); }
    bool configureDelays(unsigned rx, unsigned tx, unsigned selcal);
    bool configureRxGain(int8_t gainDB);
    // The driver's switch-off (`enable` 0) ends every filter of the
    // timeslot; as disableToneAll, it is followed by switching on again
    // those this receiver and the others of the timeslot still have on. A
    // frequency another receiver of the timeslot filters stays on for it,
    // with its settings.
    bool configureToneFilter(unsigned freq, unsigned enable, int durationMs, int levelDB);
    bool disableToneAll();

    // Called by the owner's destructor: switches off VAD, BSS and the
    // noise gate, zeroes delays and gain where set, and every tone filter;
    // as every switch-off, it leaves what another receiver of the timeslot
    // has on or set (its delays and gain configured again where this
    // receiver's replaced them). What the driver refuses to switch off or
    // zero is owed to the timeslot (DSProcReceiverService::owe).
    void CleanBeforeDestroy();
    // The owner lost its timeslot, which the driver may give to the next
    // endpoint: cleaned as before a destroy, and out of the routing, so
    // that the timeslot's events go to its next receiver. Nothing of this
    // receiver reaches the device afterwards, CleanBeforeDestroy included.
    void LetGo();

    // A function's state: -1 never set, 0 off, 1 on; and its enable id.
    struct Function {
        int state;
        uint32_t id;
    };
    const Function& vad() const { return vad_; }
    const Function& bss() const { return bss_; }
    const Function& ng() const { return ng_; }
    const Function& sd() const { return sd_; }

private:
    friend class DSProcReceiverService;

    // Another receiver of this one's timeslot that `wanted` takes, or null.
    template <class Wanted>
    DSProcReceiver* sharer(Wanted wanted) const;
    // Another receiver of this one's timeslot has what `has` asks for.
    bool sharedWith(bool (*has)(const DSProcReceiver&)) const;
    // This receiver switched on the tone filter of `freq`.
    bool filters(uint32_t freq) const;
    // Another receiver of the timeslot has a tone filter on; of `freq`.
    bool toneFiltersShared() const;
    bool filterShared(uint32_t freq) const;
    // Switches on again the tone filters the receivers of the timeslot
    // have on, after the driver ended them all (or, `owedOnly`, those the
    // driver refused to switch on again since). A refused one is owed to
    // the timeslot, tried again every second while its receiver has it:
    // false then.
    void restoreToneFilters() { restoreToneFilters(dsproc_timeslot()); }
    static bool restoreToneFilters(unsigned ts, bool owedOnly = false);

    Function vad_{-1, 0};
    Function bss_{0, 0};
    Function ng_{0, 0};
    Function sd_{-1, 0};
    int muteFirst_ = -1;
    int muteSecond_ = -1;
    uint32_t muteId_ = 0;
    bool delaysSet_ = false;
    bool rxGainSet_ = false;
    // The delays and the gain as the driver last took them of this
    // receiver, and when (0 never): of a timeslot the driver runs the latest.
    unsigned delays_[3] = {0, 0, 0};  // rx, tx, selcal
    uint64_t delaysTaken_ = 0;
    int8_t rxGain_ = 0;
    uint64_t rxGainTaken_ = 0;
    // Another receiver of the timeslot whose setting of `taken` is the
    // latest the driver took, or null.
    DSProcReceiver* latestSetter(uint64_t DSProcReceiver::*taken) const;
    // The delays and the gain of this receiver undone: zero, or, when
    // another receiver of the timeslot set them too and the driver runs
    // this receiver's, the latest of theirs configured again.
    void leaveDelays();
    void leaveRxGain();
    // The tone filters it switched on since the last disableToneAll, as
    // configured.
    struct ToneFilter {
        uint16_t freq;
        unsigned enable;
        int durationMs;
        int levelDB;
        // When the driver took the settings; 0 not running (never taken, or
        // ended and refused since).
        uint64_t taken;

        bool sameSettings(const ToneFilter& other) const {
            return enable == other.enable && durationMs == other.durationMs &&
                   levelDB == other.levelDB;
        }
    };
    std::vector<ToneFilter> toneFilters_;
    // Configures the filter with its settings, then the latest taken.
    bool applyFilter(ToneFilter& filter);
    // This receiver leaves a frequency that others of the timeslot filter:
    // when its settings are the ones that run, the latest of theirs are
    // configured again.
    bool handOverFilter(uint16_t freq);

    Containers::CyclicList node_;
    bool letGo_ = false;  // LetGo has run
};

// The process's one user of "/dev/dsp".
class DSProcReceiverService : public ReceiverDevice<DSProcReceiverService> {
public:
    bool configureVAD(unsigned ts, const LGCP::VADParams& params);
    bool enableVAD(DSProcReceiver& receiver, bool on);
    bool enableBSS(DSProcReceiver& receiver, bool on);
    bool enableNG(DSProcReceiver& receiver, bool on);
    bool enableSD(DSProcReceiver& receiver, bool on);
    bool enableMute(DSProcReceiver& receiver, bool first, bool second);
    bool configureSD(unsigned ts);
    bool configureDelays(unsigned ts, unsigned rx, unsigned tx, unsigned selcal);
    bool configureRxGain(unsigned ts, int8_t gainDB);
    bool configureToneFilter(unsigned ts, unsigned freq, unsigned enable, int durationMs,
                             int levelDB);
    bool disableToneAll(DSProcReceiver& receiver);

    // What the receiver, at its clean-up, leaves owed to its timeslot (a
    // mask of functions, delays and gain among them, which are zeroed:
    // ReceiverDevice::oweTimeslot), and the request owed of one bit.
    static void owe(const DSProcReceiver& receiver);
    static bool pay(unsigned ts, uint32_t bit);

    void OnEvent(int fd, short revents);

    // As ReceiverDevice's, and no timeslot's enablings known.
    static void reset_for_test(uint32_t counter = 0);

private:
    friend class ReceiverDevice<DSProcReceiverService>;
    static const char* DevName() { return GetDSPDevName(); }
    static constexpr int kOpenFlags = O_RDWR;
    static constexpr const char* kOpenFailure = "open dsproc fail, VAD proceeding disabled: ";
    static constexpr const char* kEventName = "DSProcReceiverService::OnEvent";
    // Owed to a timeslot beside the driver's bits: the switch-on of tone
    // filters its receivers have on, which the driver ended and then
    // refused to switch on again.
    static constexpr uint32_t kToneFiltersOn = 1u << 31;

    friend class DSProcReceiver;

    DSProcReceiverService() = default;
    // A receiver has a function on that reports (VAD, SD, BSS or a tone
    // filter): the device that ended is opened again.
    static bool listening();
    // Switches the receiver's function `kind`, of bit `mask`, logged under
    // `name`; off, it stays on for another receiver of the timeslot that
    // has it on.
    bool switchFunction(DSProcReceiver& receiver, DSProcReceiver::Function DSProcReceiver::*kind,
                        uint32_t mask, const std::string& name, bool on);
    // The receiver's function off, on for `user`, which has it on.
    bool leaveFunction(DSProcReceiver& receiver, DSProcReceiver& user,
                       DSProcReceiver::Function DSProcReceiver::*kind, uint32_t mask,
                       const std::string& name);
    // Enables it under a new id, the one the driver then puts in the
    // function's events of the timeslot, whether it was on or not.
    bool startFunction(DSProcReceiver& receiver, DSProcReceiver::Function& function, uint32_t mask,
                       const std::string& name);
    // A configure request for `function` with its parameters filled in.
    bool configure(unsigned ts, uint32_t function, const void* params, size_t size);
    bool request(uint32_t request, unsigned ts, uint32_t id, uint32_t mask);
    void route(const board::dsp::dsproc_event& event);
    void routeFlags(const board::dsp::dsproc_event& event);
    // The receiver's function of the record's type (VAD, SD, BSS), or null.
    static const DSProcReceiver::Function* functionOf(const board::dsp::dsproc_event& event,
                                                      const DSProcReceiver& receiver);
    // The receiver has the record's function on (VAD, SD, BSS, or the tone
    // filter of the record's frequency).
    static bool has(const board::dsp::dsproc_event& event, const DSProcReceiver& receiver);
    // ... and under the record's enable id, where the function has one:
    // its own, or the server's last enabling of the function on the
    // timeslot, which the driver keeps when its receiver has gone.
    bool names(const board::dsp::dsproc_event& event, const DSProcReceiver& receiver) const;
    // Hands the record over; one that is not `current` (named no receiver)
    // first passes the receiver's checks of state and id.
    void deliver(DSProcReceiver& receiver, const board::dsp::dsproc_event& event, bool current);

    // Per timeslot and function bit, the id of the server's last enabling.
    std::map<unsigned, std::map<uint32_t, uint32_t>> functionIds_;
};

}  // namespace Hardware
