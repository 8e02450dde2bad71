#include "hardware/dsproc_receiver.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iostream>

#include "board/devio.h"
#include "hardware/receiver_support.h"
#include "runtime/trace_ctl.h"

namespace Hardware {

namespace {

namespace dsp = board::dsp;

// The voice-processing receivers, oldest first.
Containers::CyclicList receivers;

// The fields of an event's first log line.
struct Fields {
    const dsp::dsproc_event& event;
};
std::ostream& operator<<(std::ostream& os, Fields f) {
    return os << " timeslot=" << f.event.timeslot << " id=" << f.event.id
              << " type=" << f.event.type;
}

// The payload words a, b, c as the record of their event type.
template <class Payload>
Payload PayloadOf(const dsp::dsproc_event& event) {
    static_assert(sizeof(Payload) == 3 * sizeof(uint32_t));
    Payload payload;
    std::memcpy(&payload, reinterpret_cast<const char*>(&event) + offsetof(dsp::dsproc_event, a),
                sizeof payload);
    return payload;
}

// The trace lines of an event: its fields, then the values of the types
// that have them.
void TraceEvent(const dsp::dsproc_event& event) {
    std::clog << "dsproc event: " << Fields{event} << std::endl;
    switch (event.type) {
        case dsp::kVad:
            std::clog << "dsproc vad event:  dir_mask=" << event.a << " vad_rx=" << event.b
                      << " vad_tx=" << event.c << std::endl;
            break;
        case dsp::kSd:
            std::clog << "dsproc sd event:  sd_rx=" << event.a << std::endl;
            break;
        case dsp::kBss:
            std::clog << "dsproc bss event:  score="
                      << PayloadOf<dsp::dsproc_bss_event>(event).score << std::endl;
            break;
        case dsp::kFlags:
            std::clog << "dsproc flags event: " << std::hex << " flags=" << event.a
                      << ", mask=" << event.b << std::dec << std::endl;
            break;
    }
}

void UnknownTimeslot(const dsp::dsproc_event& event) {
    if (traces.events)
        std::cerr << "receive dsproc event from unknown timeslot " << event.timeslot << std::endl;
}

// Stamps tone filter settings, delays and gains in the order the driver
// takes them: of a frequency, or of a timeslot, it runs the latest.
uint64_t settingsTaken = 0;

// A direction's value when the mask reports it, else -1.
int Reported(uint32_t directions, uint32_t bit, uint32_t value) {
    return (directions & bit) ? static_cast<int>(value) : -1;
}

}  // namespace

// --- receiver ---

DSProcReceiver::DSProcReceiver() {
    receivers.AddTail(node_);
}

DSProcReceiver::~DSProcReceiver() = default;

bool DSProcReceiver::configureVAD(const LGCP::VADParams& params) {
    return DSProcReceiverService::instance().configureVAD(dsproc_timeslot(), params);
}

bool DSProcReceiver::enableVAD(bool on) {
    return DSProcReceiverService::instance().enableVAD(*this, on);
}

bool DSProcReceiver::enableBSS(bool on) {
    return DSProcReceiverService::instance().enableBSS(*this, on);
}

bool DSProcReceiver::enableNG(bool on) {
    return DSProcReceiverService::instance().enableNG(*this, on);
}

bool DSProcReceiver::configureSD() {
    return DSProcReceiverService::instance().configureSD(dsproc_timeslot());
}

bool DSProcReceiver::enableSD(bool on) {
    return DSProcReceiverService::instance().enableSD(*this, on);
}

bool DSProcReceiver::enableMute(bool first, bool second) {
    return DSProcReceiverService::instance().enableMute(*this, first, second);
}

// The marks follow what the driver took: a refused request leaves the
// timeslot, and the receiver's clean-up, as they were.
bool DSProcReceiver::configureDelays(unsigned rx, unsigned tx, unsigned selcal) {
    if (!DSProcReceiverService::instance().configureDelays(dsproc_timeslot(), rx, tx, selcal))
        return false;
    delaysSet_ = rx != 0 || tx != 0 || selcal != 0;
    delays_[0] = rx;
    delays_[1] = tx;
    delays_[2] = selcal;
    delaysTaken_ = ++settingsTaken;
    return true;
}

bool DSProcReceiver::configureRxGain(int8_t gainDB) {
    if (!DSProcReceiverService::instance().configureRxGain(dsproc_timeslot(), gainDB)) return false;
    rxGainSet_ = gainDB != 0;
    rxGain_ = gainDB;
    rxGainTaken_ = ++settingsTaken;
    return true;
}

DSProcReceiver* DSProcReceiver::latestSetter(uint64_t DSProcReceiver::*taken) const {
    DSProcReceiver* latest = nullptr;
    ForEachOnTimeslot(receivers, &DSProcReceiver::node_, dsproc_timeslot(),
                      &DSProcReceiver::dsproc_timeslot, [&](DSProcReceiver& r) {
                          if (&r != this && r.*taken != 0 && (!latest || r.*taken > latest->*taken))
                              latest = &r;
                      });
    return latest;
}

// A hand-over the driver refuses leaves the mark: the delays stay owed
// when no other receiver of the timeslot has delays set.
void DSProcReceiver::leaveDelays() {
    DSProcReceiver* heir = latestSetter(&DSProcReceiver::delaysTaken_);
    if (!heir) {
        configureDelays(0, 0, 0);
    } else if (heir->delaysTaken_ > delaysTaken_ ||
               heir->configureDelays(heir->delays_[0], heir->delays_[1], heir->delays_[2])) {
        delaysSet_ = false;
    }
}

void DSProcReceiver::leaveRxGain() {
    DSProcReceiver* heir = latestSetter(&DSProcReceiver::rxGainTaken_);
    if (!heir) {
        configureRxGain(0);
    } else if (heir->rxGainTaken_ > rxGainTaken_ || heir->configureRxGain(heir->rxGain_)) {
        rxGainSet_ = false;
    }
}

// The driver's switch-off of a filter ends every tone filter of the
// timeslot: those this receiver and the others of the timeslot still have
// on are switched on again. A frequency another receiver filters too needs
// no switch-off, only that receiver's settings.
bool DSProcReceiver::configureToneFilter(unsigned freq, unsigned enable, int durationMs,
                                         int levelDB) {
    // The frequency as the driver takes it.
    ToneFilter filter{static_cast<uint16_t>(freq), enable, durationMs, levelDB, 0};
    const bool kept = enable == 0 && filterShared(filter.freq);
    if (kept ? !handOverFilter(filter.freq) : !applyFilter(filter)) return false;
    toneFilters_.erase(std::remove_if(toneFilters_.begin(), toneFilters_.end(),
                                      [&](const ToneFilter& f) { return f.freq == filter.freq; }),
                       toneFilters_.end());
    if (enable != 0)
        toneFilters_.push_back(filter);
    else if (!kept)
        restoreToneFilters();
    return true;
}

bool DSProcReceiver::applyFilter(ToneFilter& filter) {
    if (!DSProcReceiverService::instance().configureToneFilter(
            dsproc_timeslot(), filter.freq, filter.enable, filter.durationMs, filter.levelDB))
        return false;
    filter.taken = ++settingsTaken;
    return true;
}

// The driver would keep running the frequency with this receiver's
// settings, the latest it took, though they leave with it.
bool DSProcReceiver::handOverFilter(uint16_t freq) {
    const ToneFilter* mine = nullptr;
    DSProcReceiver* heir = nullptr;
    ToneFilter* latest = nullptr;  // of the others
    ForEachOnTimeslot(receivers, &DSProcReceiver::node_, dsproc_timeslot(),
                      &DSProcReceiver::dsproc_timeslot, [&](DSProcReceiver& r) {
                          for (ToneFilter& f : r.toneFilters_) {
                              if (f.freq != freq) continue;
                              if (&r == this) {
                                  mine = &f;
                              } else if (!latest || f.taken > latest->taken) {
                                  heir = &r;
                                  latest = &f;
                              }
                          }
                      });
    if (!mine || !latest || latest->taken > mine->taken || latest->sameSettings(*mine))
        return true;
    return heir->applyFilter(*latest);
}

bool DSProcReceiver::disableToneAll() {
    if (!DSProcReceiverService::instance().disableToneAll(*this)) return false;
    toneFilters_.clear();
    restoreToneFilters();
    return true;
}

// A filter the driver refuses stays listed and owed: the service tries it
// again every second until the driver takes it or its receiver no longer
// has it (switched off, or gone).
bool DSProcReceiver::restoreToneFilters(unsigned ts, bool owedOnly) {
    bool owed = false;
    ForEachOnTimeslot(receivers, &DSProcReceiver::node_, ts, &DSProcReceiver::dsproc_timeslot,
                      [&](DSProcReceiver& r) {
                          for (ToneFilter& f : r.toneFilters_) {
                              if (owedOnly && f.taken != 0) continue;
                              if (!r.applyFilter(f)) f.taken = 0;
                              owed |= f.taken == 0;
                          }
                      });
    DSProcReceiverService& service = DSProcReceiverService::object();
    if (owed)
        service.oweTimeslot(ts, DSProcReceiverService::kToneFiltersOn);
    else
        service.paid(ts, DSProcReceiverService::kToneFiltersOn);
    return !owed;
}

bool DSProcReceiver::toneFiltersShared() const {
    return sharedWith([](const DSProcReceiver& r) { return !r.toneFilters_.empty(); });
}

bool DSProcReceiver::filterShared(uint32_t freq) const {
    return sharer([freq](const DSProcReceiver& r) { return r.filters(freq); }) != nullptr;
}

bool DSProcReceiver::filters(uint32_t freq) const {
    return std::any_of(toneFilters_.begin(), toneFilters_.end(),
                       [freq](const ToneFilter& f) { return f.freq == freq; });
}

void DSProcReceiver::LetGo() {
    CleanBeforeDestroy();
    node_.Del();
    letGo_ = true;
}

template <class Wanted>
DSProcReceiver* DSProcReceiver::sharer(Wanted wanted) const {
    return FindOnTimeslot(
        receivers, &DSProcReceiver::node_, dsproc_timeslot(), &DSProcReceiver::dsproc_timeslot,
        [&](const DSProcReceiver& other) { return &other != this && wanted(other); });
}

bool DSProcReceiver::sharedWith(bool (*has)(const DSProcReceiver&)) const {
    return sharer(has) != nullptr;
}

// What another receiver of the timeslot has on or set is its own and stays
// (the switches leave it). SD stays on, as muting does, unless another
// receiver of the timeslot has it on: that one takes it over.
void DSProcReceiver::CleanBeforeDestroy() {
    if (letGo_) return;
    if (vad_.state == 1) enableVAD(false);
    if (bss_.state == 1) enableBSS(false);
    if (ng_.state == 1) enableNG(false);
    if (sd_.state == 1 && sharedWith([](const DSProcReceiver& r) { return r.sd_.state == 1; }))
        enableSD(false);
    if (delaysSet_) leaveDelays();
    if (rxGainSet_) leaveRxGain();
    const bool ownFilter =
        std::any_of(toneFilters_.begin(), toneFilters_.end(),
                    [this](const ToneFilter& f) { return !filterShared(f.freq); });
    if (ownFilter || !toneFiltersShared()) {
        disableToneAll();
    } else {
        for (const ToneFilter& f : toneFilters_) handOverFilter(f.freq);
    }
    DSProcReceiverService::owe(*this);
}

// --- service ---

bool DSProcReceiverService::configure(unsigned ts, uint32_t function, const void* params,
                                      size_t size) {
    dsp::dsproc_configure record{};
    record.timeslot = ts;
    record.function = function;
    if (size != 0) std::memcpy(record.params.bytes, params, size);
    return board::ioctl(fd(), dsp::kConfigure, &record) >= 0;
}

bool DSProcReceiverService::request(uint32_t request, unsigned ts, uint32_t id, uint32_t mask) {
    dsp::dsproc_enable record{ts, id, mask};
    if (board::ioctl(device(), request, &record) < 0) return false;
    paid(ts, mask);
    return true;
}

// What the receiver still has on after its clean-up, the driver having
// refused to switch it off, and no other receiver of the timeslot has on.
void DSProcReceiverService::owe(const DSProcReceiver& receiver) {
    const std::pair<DSProcReceiver::Function DSProcReceiver::*, uint32_t> functions[] = {
        {&DSProcReceiver::vad_, dsp::kVad},
        {&DSProcReceiver::bss_, dsp::kBss},
        {&DSProcReceiver::ng_, dsp::kNg}};
    uint32_t owed = 0;
    for (const auto& function : functions) {
        const auto kind = function.first;
        const auto on = [kind](const DSProcReceiver& r) { return (r.*kind).state == 1; };
        if (on(receiver) && !receiver.sharer(on)) owed |= function.second;
    }
    if (receiver.delaysSet_ && !receiver.sharedWith([](const DSProcReceiver& r) {
            return r.delaysSet_;
        }))
        owed |= dsp::kDelays;
    if (receiver.rxGainSet_ && !receiver.sharedWith([](const DSProcReceiver& r) {
            return r.rxGainSet_;
        }))
        owed |= dsp::kRxGain;
    // A frequency no other receiver filters runs for no one; the switch-off
    // of the tone filters ends every one, the others' then switched on again.
    if (std::any_of(receiver.toneFilters_.begin(), receiver.toneFilters_.end(),
                    [&](const DSProcReceiver::ToneFilter& f) {
                        return !receiver.filterShared(f.freq);
                    }))
        owed |= dsp::kToneFilter;
    object().oweTimeslot(receiver.dsproc_timeslot(), owed);
}

// The driver's switch-off of the tone filters ends those the receivers of
// the timeslot have on too: they are switched on again, all of them.
bool DSProcReceiverService::pay(unsigned ts, uint32_t bit) {
    DSProcReceiverService& service = object();
    if (bit == dsp::kDelays) return service.configureDelays(ts, 0, 0, 0);
    if (bit == dsp::kRxGain) return service.configureRxGain(ts, 0);
    if (bit == kToneFiltersOn) return DSProcReceiver::restoreToneFilters(ts, true);
    if (!service.request(dsp::kDisable, ts, 0, bit))
        return service.refused("DSPROC_DISABLE owed fail:", ts);
    if (bit == dsp::kToneFilter) DSProcReceiver::restoreToneFilters(ts);
    return true;
}

bool DSProcReceiverService::listening() {
    return AnyReceiver(receivers, &DSProcReceiver::node_, [](const DSProcReceiver& r) {
        return r.vad_.state == 1 || r.sd_.state == 1 || r.bss_.state == 1 ||
               !r.toneFilters_.empty();
    });
}

void DSProcReceiverService::reset_for_test(uint32_t counter) {
    ReceiverDevice::reset_for_test(counter);
    object().functionIds_.clear();
}

bool DSProcReceiverService::configureVAD(unsigned ts, const LGCP::VADParams& params) {
    if (!init()) return NotOpened("configure VAD fail: (interface not opened)", ts);
    const int version = board::ioctl_value(fd(), dsp::kVersion, 0);
    bool ok;
    if (version == 2) {
        const TERM::VADParamsV2* v2 = params.get_v2();
        if (v2 == nullptr) {
            std::cerr << "DSPROC_CONFIGURE VAD: params not specified for v2:  timeslot=" << ts
                      << std::endl;
            return false;
        }
        dsp::vad_v2_params p{};
        p.voice_th_msec = static_cast<uint16_t>(v2->get_voice_th_msec().getUnsignedValue());
        p.silence_th_msec = static_cast<uint16_t>(v2->get_silence_th_msec().getUnsignedValue());
        p.e_th_dB = static_cast<uint8_t>(v2->get_e_th_dB().getUnsignedValue());
        ok = configure(ts, dsp::kVad, &p, sizeof p);
    } else {
        const dsp::vad_v1_params p{3, 127, 0};
        ok = configure(ts, dsp::kVad, &p, sizeof p);
    }
    if (!ok) return refused("DSPROC_CONFIGURE VAD fail:", ts);
    std::clog << "DSPROC_CONFIGURE VAD ts=" << ts << std::endl;
    return true;
}

bool DSProcReceiverService::configureSD(unsigned ts) {
    if (!init()) return NotOpened("configure SD fail: (interface not opened)", ts);
    if (!configure(ts, dsp::kSd, nullptr, 0)) return refused("DSPROC_CONFIGURE SD fail:", ts);
    std::clog << "DSPROC_CONFIGURE SD ts=" << ts << std::endl;
    return true;
}

bool DSProcReceiverService::configureDelays(unsigned ts, unsigned rx, unsigned tx,
                                            unsigned selcal) {
    if (!init()) return NotOpened("configure Delays fail: (interface not opened)", ts);
    const dsp::delays_params p{rx, tx, selcal};
    if (!configure(ts, dsp::kDelays, &p, sizeof p))
        return refused("DSPROC_CONFIGURE DELAYS fail:", ts);
    paid(ts, dsp::kDelays);  // the delays set now are the timeslot's owner's
    std::clog << "DSPROC_CONFIGURE DELAYS ts=" << ts << " rx=" << rx << " tx=" << tx
              << " selcal=" << selcal << std::endl;
    return true;
}

bool DSProcReceiverService::configureRxGain(unsigned ts, int8_t gainDB) {
    if (!init()) return NotOpened("Configure Rx gain fail: (interface not opened)", ts);
    dsp::rx_gain_params p{};
    p.gain_dB = gainDB;
    if (!configure(ts, dsp::kRxGain, &p, sizeof p))
        return refused("DSPROC_CONFIGURE Rx Gain fail:", ts);
    paid(ts, dsp::kRxGain);  // the gain set now is the timeslot's owner's
    std::clog << "DSPROC_CONFIGURE RX GAIN ts=" << ts << " gain_dB=" << int{gainDB} << std::endl;
    return true;
}

bool DSProcReceiverService::configureToneFilter(unsigned ts, unsigned freq, unsigned enable,
                                                int durationMs, int levelDB) {
    if (!init()) return NotOpened("Configure Tone Filter fail: (interface not opened)", ts);
    dsp::tone_filter_params p{};
    p.freq = static_cast<uint16_t>(freq);
    p.enable = static_cast<uint8_t>(enable);
    p.dur_th_msec = static_cast<uint16_t>(durationMs);
    p.det_lvl_dB = static_cast<uint8_t>(levelDB);
    if (!configure(ts, dsp::kToneFilter, &p, sizeof p))
        return refused("DSPROC_CONFIGURE Tone Filter fail:", ts);
    // A switch-off ends every filter of the timeslot; a filter switched on
    // ends none of those a receiver that went left running.
    if (enable == 0) paid(ts, dsp::kToneFilter);
    std::clog << "DSPROC_CONFIGURE TONE FILTER ts=" << ts << " freq=" << freq << ", en=" << enable
              << ", dur_th_msec=" << durationMs << ", det_lvl_dB=" << levelDB << std::endl;
    return true;
}

bool DSProcReceiverService::disableToneAll(DSProcReceiver& receiver) {
    const unsigned ts = receiver.dsproc_timeslot();
    if (!init()) return NotOpened("Disable All Tone fail: (interface not opened)", ts);
    if (!request(dsp::kDisable, ts, 0, dsp::kToneFilter))
        return refused("Disable All Tone fail:", ts);
    std::clog << "DISABLE ALL TONE done:  ts=" << ts << std::endl;
    return true;
}

bool DSProcReceiverService::switchFunction(DSProcReceiver& receiver,
                                           DSProcReceiver::Function DSProcReceiver::*kind,
                                           uint32_t mask, const std::string& name, bool on) {
    DSProcReceiver::Function& function = receiver.*kind;
    if (function.state != -1 && function.state == int{on}) return true;
    const unsigned ts = receiver.dsproc_timeslot();
    if (!on) {
        if (DSProcReceiver* user = receiver.sharer(
                [&](const DSProcReceiver& other) { return (other.*kind).state == 1; }))
            return leaveFunction(receiver, *user, kind, mask, name);
        if (!request(dsp::kDisable, ts, 0, mask))
            return refused("DSPROC_DISABLE " + name + " fail:", ts);
        function.state = 0;
        std::cerr << "DSPROC_DISABLE " << name << " done: timeslot=" << ts << std::endl;
        return true;
    }
    return startFunction(receiver, function, mask, name);
}

// The function stays on for `user`. The driver keeps one enable id a
// timeslot for each function, the latest given: when it is the leaving
// receiver's, the user enables the function again under its own, or its
// events would be dropped as spurious.
bool DSProcReceiverService::leaveFunction(DSProcReceiver& receiver, DSProcReceiver& user,
                                          DSProcReceiver::Function DSProcReceiver::*kind,
                                          uint32_t mask, const std::string& name) {
    DSProcReceiver::Function& function = receiver.*kind;
    const bool later = receiver.sharer([&](const DSProcReceiver& other) {
                           return (other.*kind).state == 1 && (other.*kind).id > function.id;
                       }) != nullptr;
    if (function.state == 1 && !later && !startFunction(user, user.*kind, mask, name)) return false;
    function.state = 0;
    return true;
}

bool DSProcReceiverService::startFunction(DSProcReceiver& receiver,
                                          DSProcReceiver::Function& function, uint32_t mask,
                                          const std::string& name) {
    const unsigned ts = receiver.dsproc_timeslot();
    const uint32_t id = nextId();
    if (!request(dsp::kEnable, ts, id, mask))
        return refused("DSPROC_ENABLE " + name + " fail:", ts, " id=" + std::to_string(id));
    function.state = 1;
    function.id = id;
    functionIds_[ts][mask] = id;
    std::cerr << "DSPROC_ENABLE " << name << " done: timeslot=" << ts << " id=" << id << std::endl;
    return true;
}

bool DSProcReceiverService::enableVAD(DSProcReceiver& receiver, bool on) {
    return switchFunction(receiver, &DSProcReceiver::vad_, dsp::kVad, "VAD", on);
}

bool DSProcReceiverService::enableBSS(DSProcReceiver& receiver, bool on) {
    return switchFunction(receiver, &DSProcReceiver::bss_, dsp::kBss, "BSS", on);
}

bool DSProcReceiverService::enableNG(DSProcReceiver& receiver, bool on) {
    return switchFunction(receiver, &DSProcReceiver::ng_, dsp::kNg, "NG", on);
}

bool DSProcReceiverService::enableSD(DSProcReceiver& receiver, bool on) {
    return switchFunction(receiver, &DSProcReceiver::sd_, dsp::kSd, "SD", on);
}

bool DSProcReceiverService::enableMute(DSProcReceiver& receiver, bool first, bool second) {
    if (receiver.muteFirst_ != -1 && receiver.muteSecond_ != -1 &&
        receiver.muteFirst_ == int{first} && receiver.muteSecond_ == int{second})
        return true;
    const unsigned ts = receiver.dsproc_timeslot();
    if (!first && !second) {
        if (!request(dsp::kDisable, ts, 0, dsp::kMuteFirst | dsp::kMuteSecond))
            return refused("DSPROC_DISABLE MUTE fail:", ts);
        receiver.muteFirst_ = receiver.muteSecond_ = 0;
        std::cerr << "DSPROC_DISABLE MUTE done: timeslot=" << ts << std::endl;
        return true;
    }
    const uint32_t id = nextId();
    const uint32_t mask = (first ? dsp::kMuteFirst : 0) | (second ? dsp::kMuteSecond : 0);
    if (!request(dsp::kEnable, ts, id, mask))
        return refused("DSPROC_ENABLE MUTE fail:", ts, " id=" + std::to_string(id));
    receiver.muteId_ = id;
    receiver.muteFirst_ = first;
    receiver.muteSecond_ = second;
    std::cerr << "DSPROC_ENABLE MUTE done: timeslot=" << ts << " id=" << id << std::endl;
    return true;
}

void DSProcReceiverService::OnEvent(int, short revents) {
    ReadRecords<dsp::dsproc_event>(revents, "dsproc", [this](const auto& event) { route(event); });
}

void DSProcReceiverService::route(const dsp::dsproc_event& event) {
    if (traces.events) TraceEvent(event);
    if (event.type == dsp::kFlags) return routeFlags(event);
    const auto targets = TargetsOfEvent(
        receivers, &DSProcReceiver::node_, event.timeslot, &DSProcReceiver::dsproc_timeslot,
        [&](const DSProcReceiver& r) { return names(event, r); },
        [&](const DSProcReceiver& r) { return has(event, r); });
    if (targets.receivers.empty()) return UnknownTimeslot(event);
    for (DSProcReceiver* receiver : targets.receivers) deliver(*receiver, event, targets.named);
}

// A flags record names no enabling. Its VAD bits go where a VAD record goes:
// to every receiver of the timeslot with VAD on, or else to the first; its
// other bits (a SELCAL dial in progress) to the first. Each receiver gets
// the bits that are its own in the record's mask.
void DSProcReceiverService::routeFlags(const dsp::dsproc_event& event) {
    const auto vadOn = [](const DSProcReceiver& r) { return r.vad_.state == 1; };
    const auto listeners = TargetsOfEvent(receivers, &DSProcReceiver::node_, event.timeslot,
                                          &DSProcReceiver::dsproc_timeslot, vadOn, vadOn)
                               .receivers;
    if (listeners.empty()) return UnknownTimeslot(event);
    const auto flags = PayloadOf<dsp::dsproc_flags_event>(event);
    const uint32_t vad = flags.mask & (dsp::kFlagVadRx | dsp::kFlagVadTx);
    bool first = true;
    ForEachOnTimeslot(receivers, &DSProcReceiver::node_, event.timeslot,
                      &DSProcReceiver::dsproc_timeslot, [&](DSProcReceiver& r) {
                          const bool listens =
                              std::find(listeners.begin(), listeners.end(), &r) != listeners.end();
                          auto own = flags;
                          own.mask = (first ? flags.mask & ~vad : 0) | (listens ? vad : 0);
                          first = false;
                          if (own.mask != 0) r.dsproc_flags_event(&own);
                      });
}

const DSProcReceiver::Function* DSProcReceiverService::functionOf(const dsp::dsproc_event& event,
                                                                  const DSProcReceiver& receiver) {
    return event.type == dsp::kVad   ? &receiver.vad_
           : event.type == dsp::kSd  ? &receiver.sd_
           : event.type == dsp::kBss ? &receiver.bss_
                                     : nullptr;
}

// A tone filter has no enable id: its frequency names the receivers that
// switched it on.
bool DSProcReceiverService::has(const dsp::dsproc_event& event, const DSProcReceiver& receiver) {
    if (event.type == dsp::kToneFilter) return receiver.filters(event.a);
    const DSProcReceiver::Function* function = functionOf(event, receiver);
    return function && function->state == 1;
}

// The driver puts the last enable id of the timeslot's function in its
// events, also once the receiver that enabled it has gone (it may have gone
// while the driver refused to enable the function again for the one that
// stays): the server made it, so the events are current.
bool DSProcReceiverService::names(const dsp::dsproc_event& event,
                                  const DSProcReceiver& receiver) const {
    const DSProcReceiver::Function* function = functionOf(event, receiver);
    if (!has(event, receiver)) return false;
    if (function == nullptr || function->id == event.id) return true;
    const auto timeslot = functionIds_.find(event.timeslot);
    if (timeslot == functionIds_.end()) return false;
    const auto made = timeslot->second.find(event.type);
    return made != timeslot->second.end() && made->second == event.id;
}

// A state of -1 (never set) passes the state checks; the id check then
// compares with 0, which no enabling hands out. A current record needs no
// id check; a tone no receiver filters goes to none.
void DSProcReceiverService::deliver(DSProcReceiver& receiver, const dsp::dsproc_event& event,
                                    bool current) {
    switch (event.type) {
        case dsp::kVad:
            if (receiver.vad_.state == 0) {
                if (traces.events)
                    std::clog << "ignore spurious dsproc vad event (dsproc disabled): "
                              << Fields{event} << std::endl;
            } else if (current || receiver.vad_.id == event.id) {
                receiver.dsproc_vad_event(
                    DSProcVADEvent{Reported(event.a, 1, event.b), Reported(event.a, 2, event.c)});
            } else if (traces.events) {
                std::clog << "ignore spurious dsproc vad event: " << Fields{event}
                          << " rid=" << receiver.vad_.id << std::endl;
            }
            break;
        case dsp::kSd:
            if (receiver.sd_.state != 0 && (current || receiver.sd_.id == event.id))
                receiver.dsproc_sd_event(DSProcSDEvent{static_cast<int>(event.a)});
            break;
        case dsp::kBss:
            if (receiver.bss_.state == 0) {
                if (traces.events)
                    std::clog << "ignore spurious dsproc bss event (dsproc disabled): "
                              << Fields{event} << std::endl;
            } else {
                const auto bss = PayloadOf<dsp::dsproc_bss_event>(event);
                receiver.dsproc_bss_event(&bss);
            }
            break;
        case dsp::kToneFilter:
            if (current) {
                const auto tone = PayloadOf<dsp::dsproc_tone_event>(event);
                receiver.dsproc_tone_flt_event(&tone);
            }
            break;
    }
}

}  // namespace Hardware
