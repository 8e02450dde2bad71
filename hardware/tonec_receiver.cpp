#include "hardware/tonec_receiver.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>

#include <cstring>
#include <iostream>

#include "board/devio.h"
#include "hardware/receiver_support.h"

namespace Dtmf {

const char* const strRep[count] = {"0", "1", "2", "3", "4", "5", "6", "7",
                                   "8", "9", "*", "#", "A", "B", "C", "D"};
const unsigned short freq1[count] = {941, 697, 697, 697, 770, 770, 770, 852,
                                     852, 852, 941, 941, 697, 770, 852, 941};
const unsigned short freq2[count] = {1336, 1209, 1336, 1477, 1209, 1336, 1477, 1209,
                                     1336, 1477, 1209, 1477, 1633, 1633, 1633, 1633};

namespace {
std::map<char, std::pair<unsigned short, unsigned short>> BuildValidator() {
    std::map<char, std::pair<unsigned short, unsigned short>> tones;
    for (unsigned i = 0; i < count; ++i) tones[strRep[i][0]] = {freq1[i], freq2[i]};
    return tones;
}
}  // namespace

const std::map<char, std::pair<unsigned short, unsigned short>> tonesValidator = BuildValidator();

}  // namespace Dtmf

namespace Hardware {

namespace {

namespace dtmf = board::dtmf;

// The tone receivers, oldest first.
Containers::CyclicList receivers;

// The ringback cadence and the default digit timing (ms), and the tones.
constexpr unsigned kRingbackOnMs = 1000;
constexpr unsigned kRingbackOffMs = 3000;
constexpr unsigned short kRingbackFreq = 425;
constexpr unsigned short kRingbackAmp = 2048;
constexpr unsigned kDigitMs = 70;
constexpr unsigned kPauseMs = 70;
constexpr unsigned short kDigitAmp = 16384;
constexpr unsigned short kSelcalAmp = 12000;

// Stamps the generator settings in the order the driver takes them: of a
// timeslot it plays the latest.
uint64_t toneSettingsTaken = 0;

// What a timeslot may owe the driver, one bit each: the switch-off of a
// function, or the generator's silence.
constexpr unsigned kOwedDetector = 1;
constexpr unsigned kOwedIva = 2;
constexpr unsigned kOwedRejection = 4;
constexpr unsigned kOwedEcho = 8;
constexpr unsigned kOwedTone = 16;

}  // namespace

struct TonecReceiverService::Switch {
    const char* onText;
    const char* offText;
    uint32_t onRequest;
    uint32_t offRequest;
    unsigned owed;  // the bit of its switch-off
};

namespace {

using Switch = TonecReceiverService::Switch;
constexpr Switch kEchoCanceller{"CHANNEL_LMS_ON", "CHANNEL_LMS_OFF", dtmf::kEchoCancelOn,
                                dtmf::kEchoCancelOff, kOwedEcho};
constexpr Switch kRejection{"DTMF_REJECTION_ENABLE", "DTMF_REJECTION_DISABLE", dtmf::kRejectionOn,
                            dtmf::kRejectionOff, kOwedRejection};
constexpr Switch kIva{"IVA_DETECTOR_ENABLE", "IVA_DETECTOR_DISABLE", dtmf::kIvaOn, dtmf::kIvaOff,
                      kOwedIva};

// The fields of an event's log lines.
std::ostream& operator<<(std::ostream& os, const dtmf::dtmf_event& event) {
    return os << " timestamp=" << event.timestamp << " timeslot=" << event.timeslot
              << " code=" << event.code << " id=" << event.id;
}

unsigned OptionalOr(const ASN1::INTEGER* value, unsigned fallback) {
    return value ? value->getUnsignedValue() : fallback;
}

}  // namespace

bool SelcalSignsFit(const std::string& signs) {
    return signs.size() == sizeof(dtmf::selcal_dial::signs);
}

// --- receiver ---

TonecReceiver::TonecReceiver() {
    receivers.AddTail(node_);
}

TonecReceiver::~TonecReceiver() = default;

bool TonecReceiver::configureDTMF(const LGCP::DTMFParams& params) {
    return TonecReceiverService::instance().configureDTMF(tonec_timeslot(), params);
}

bool TonecReceiver::enableDTMF(bool on) {
    return TonecReceiverService::instance().enableDTMF(*this, on);
}

bool TonecReceiver::echoCancel(bool on) {
    return TonecReceiverService::instance().echoCancel(*this, on);
}

bool TonecReceiver::enableDTMFReject(bool on) {
    return TonecReceiverService::instance().enableDTMFReject(*this, on);
}

bool TonecReceiver::enableIVA(bool on) {
    return TonecReceiverService::instance().enableIVA(*this, on);
}

bool TonecReceiver::configureIVA(const LGCP::IVAParams& params) {
    return TonecReceiverService::instance().configureIVA(*this, params);
}

bool TonecReceiver::translateSelcal(const TERM::SelcalCommand& command) {
    return TonecReceiverService::instance().translateSelcal(*this, command);
}

bool TonecReceiver::enableToneGenerator(unsigned short freq1, unsigned short freq2,
                                        unsigned short amp1, unsigned short amp2) {
    if (!TonecReceiverService::instance().enableToneGenerator(tonec_timeslot(), freq1, freq2, amp1,
                                                              amp2))
        return false;
    toneOn_ = (freq1 | freq2 | amp1 | amp2) != 0;
    tone_ = ToneSetting{freq1, freq2, amp1, amp2};
    toneTaken_ = ++toneSettingsTaken;
    return true;
}

bool TonecReceiver::stopGenerator() {
    TonecReceiver* heir = nullptr;  // the sharer with the latest tone on
    ForEachOnTimeslot(receivers, &TonecReceiver::node_, tonec_timeslot(),
                      &TonecReceiver::tonec_timeslot, [&](TonecReceiver& r) {
                          if (&r != this && r.toneOn_ && (!heir || r.toneTaken_ > heir->toneTaken_))
                              heir = &r;
                      });
    if (!heir) return enableToneGenerator(0, 0, 0, 0);
    if (heir->toneTaken_ < toneTaken_) {
        const ToneSetting tone = heir->tone_;
        if (!heir->enableToneGenerator(tone[0], tone[1], tone[2], tone[3])) return false;
    }
    toneOn_ = false;
    return true;
}

// A silence the driver refuses leaves a running sequence running.
bool TonecReceiver::disableToneGenerator(bool force) {
    if (!force && !sequenceRunning_) return false;
    if (!stopGenerator()) return false;
    if (sequenceRunning_) endSequence();
    return true;
}

void TonecReceiver::endSequence() {
    toneTimer_.reset();
    sequenceRunning_ = false;
}

// A tone the driver refuses leaves the generator, and a running sequence,
// as they were.
bool TonecReceiver::activateAudibleCall() {
    if (!enableToneGenerator(kRingbackFreq, 0, kRingbackAmp, kRingbackAmp)) return false;
    // The cadence takes the timer of a running sequence, which ends here
    // unreported (as when the controller sets a tone of its own).
    sequenceRunning_ = false;
    toneTimer_.set(kRingbackOnMs, &TonecReceiver::onRingbackTone, this);
    return true;
}

void TonecReceiver::onRingbackTone(Timer*) {
    enableSilence();
    toneTimer_.set(kRingbackOffMs, &TonecReceiver::onRingbackSilence, this);
}

// A tone refused within the cadence is tried again at its next step.
void TonecReceiver::onRingbackSilence(Timer*) {
    if (!activateAudibleCall())
        toneTimer_.set(kRingbackOffMs, &TonecReceiver::onRingbackSilence, this);
}

bool TonecReceiver::cancelAudibleCall() {
    if (sequenceRunning_) return true;
    if (!disableToneGenerator(true)) return false;
    // The cadence's next step would switch the tone on again.
    toneTimer_.reset();
    return true;
}

void TonecReceiver::translateDTMF(const LGCP::TranslateDtmfParams& params) {
    digits_ = params;
    if (sequenceRunning_) return;
    sequenceRunning_ = true;
    playNextDigit();
}

void TonecReceiver::playNextDigit() {
    auto& digits = digits_.get_digits();
    if (digits.empty()) {
        endSequence();  // also when the driver refuses the silence
        stopGenerator();
        tone_gen_complete();  // last: the owner may go away
        return;
    }
    // Frequencies go to the driver as their low 16 bits.
    const auto freq1 = static_cast<unsigned short>(digits[0].get_freq1().getUnsignedValue());
    const auto freq2 = static_cast<unsigned short>(digits[0].get_freq2().getUnsignedValue());
    digits.erase(digits.begin());
    enableToneGenerator(freq1, freq2,
                        static_cast<unsigned short>(OptionalOr(digits_.get_amp1(), kDigitAmp)),
                        static_cast<unsigned short>(OptionalOr(digits_.get_amp2(), kDigitAmp)));
    toneTimer_.set(OptionalOr(digits_.get_toneDuration(), kDigitMs), &TonecReceiver::onDigitTone,
                   this);
}

void TonecReceiver::onDigitTone(Timer*) {
    enableSilence();
    toneTimer_.set(OptionalOr(digits_.get_pauseDuration(), kPauseMs), &TonecReceiver::onDigitPause,
                   this);
}

void TonecReceiver::onDigitPause(Timer*) {
    playNextDigit();
}

void TonecReceiver::LetGo() {
    CleanBeforeDestroy();
    node_.Del();
    letGo_ = true;
}

template <class Wanted>
TonecReceiver* TonecReceiver::sharer(Wanted wanted) const {
    return FindOnTimeslot(receivers, &TonecReceiver::node_, tonec_timeslot(),
                          &TonecReceiver::tonec_timeslot,
                          [&](const TonecReceiver& other) { return &other != this && wanted(other); });
}

bool TonecReceiver::sharedOn(bool TonecReceiver::*flag) const {
    return sharer([&](const TonecReceiver& other) { return other.*flag; }) != nullptr;
}

// An echo canceller, a ringback, a digit or a tone of the controller's left
// on would serve the timeslot's next user; what another receiver of the
// timeslot has on is its own and stays (the switches leave it, and its tone
// plays again where the leaving one's replaced it).
void TonecReceiver::CleanBeforeDestroy() {
    if (letGo_) return;
    if (dtmfOn_) disableDTMF();
    if (ivaOn_) enableIVA(false);
    if (dtmfRejectOn_) enableDTMFReject(false);
    if (echoOn_) echoCancel(false);
    endSequence();
    if (toneOn_) stopGenerator();
    TonecReceiverService::owe(*this);
}

// --- service ---

bool TonecReceiverService::configureDTMF(unsigned ts, const LGCP::DTMFParams& params) {
    if (!init()) return NotOpened("configure DTMF fail: (interface not opened)", ts);
    const auto& threshold = params.get_threshold();
    dtmf::dtmf_config record{ts, threshold.get_twist().getUnsignedValue(),
                             threshold.get_ratio().getUnsignedValue(),
                             params.get_level().get_silence().getUnsignedValue(),
                             threshold.get_noise().getUnsignedValue()};
    if (board::ioctl(fd(), dtmf::kConfigureDetector, &record) < 0)
        return refused("DTMF_CONFIGURE_DETECTOR fail:", ts);
    std::clog << "DTMF_CONFIGURE_DETECTOR ts=" << ts << " twist=" << record.twist
              << " ratio=" << record.ratio << " noise=" << record.noise
              << " silence=" << record.silence << std::endl;
    return true;
}

bool TonecReceiverService::echoCancel(TonecReceiver& receiver, bool on) {
    return switchShared(receiver, &TonecReceiver::echoOn_, kEchoCanceller, on);
}

bool TonecReceiverService::enableDTMFReject(TonecReceiver& receiver, bool on) {
    return switchShared(receiver, &TonecReceiver::dtmfRejectOn_, kRejection, on);
}

// The timeslot's function is one in the driver: a receiver's switch-off
// leaves it on for another receiver of the timeslot that has it on.
bool TonecReceiverService::switchShared(TonecReceiver& receiver, bool TonecReceiver::*flag,
                                        const Switch& what, bool on) {
    if (on || !receiver.sharedOn(flag)) {
        if (!switchTimeslot(what, receiver.tonec_timeslot(), on)) return false;
    }
    receiver.*flag = on;
    return true;
}

bool TonecReceiverService::switchTimeslot(const Switch& what, unsigned ts, bool on) {
    const char* text = on ? what.onText : what.offText;
    if (board::ioctl_value(device(), on ? what.onRequest : what.offRequest, ts) < 0)
        return refused(std::string(text) + " fail:", ts);
    std::clog << text << "[" << ts << "] ok" << std::endl;
    paid(ts, what.owed);
    return true;
}

bool TonecReceiverService::enableDTMF(TonecReceiver& receiver, bool on) {
    if (receiver.dtmfOn_ == on) return true;
    const unsigned ts = receiver.tonec_timeslot();
    if (!on) {
        if (TonecReceiver* listener =
                receiver.sharer([](const TonecReceiver& other) { return other.dtmfOn_; }))
            return leaveDetector(receiver, *listener);
        if (!disableDetector(ts)) return false;
        receiver.dtmfOn_ = false;
        return true;
    }
    return startDetector(receiver);
}

bool TonecReceiverService::disableDetector(unsigned ts) {
    if (board::ioctl_value(device(), dtmf::kDisableDetector, ts) < 0)
        return refused("DTMF_DISABLE_DETECTOR fail:", ts);
    std::cerr << "DTMF_DISABLE_DETECTOR done: timeslot=" << ts << std::endl;
    paid(ts, kOwedDetector);
    return true;
}

// The detector stays on for `listener`. The driver keeps one enable id a
// timeslot, the latest given: when it is the leaving receiver's, the
// listener enables the detector again under its own, or its digits would be
// dropped as spurious.
bool TonecReceiverService::leaveDetector(TonecReceiver& receiver, TonecReceiver& listener) {
    const bool later = receiver.sharer([&](const TonecReceiver& other) {
                           return other.dtmfOn_ && other.enableId_ > receiver.enableId_;
                       }) != nullptr;
    if (!later && !startDetector(listener)) return false;
    receiver.dtmfOn_ = false;
    return true;
}

bool TonecReceiverService::startDetector(TonecReceiver& receiver) {
    const unsigned ts = receiver.tonec_timeslot();
    const uint32_t id = nextId();
    dtmf::dtmf_enable record{ts, id};
    if (board::ioctl(device(), dtmf::kEnableDetector, &record) < 0)
        return refused("DTMF_ENABLE_DETECTOR fail:", ts, " id=" + std::to_string(id));
    paid(ts, kOwedDetector);
    detectorIds_[ts] = id;
    receiver.enableId_ = id;
    receiver.dtmfOn_ = true;
    std::cerr << "DTMF_ENABLE_DETECTOR done: timeslot=" << ts << " id=" << id << std::endl;
    return true;
}

bool TonecReceiverService::enableToneGenerator(unsigned ts, unsigned short freq1,
                                               unsigned short freq2, unsigned short amp1,
                                               unsigned short amp2) {
    dtmf::tone_gen record{ts, freq1, freq2, amp1, amp2};
    if (board::ioctl(device(), dtmf::kToneGenerator, &record) < 0)
        return refused("DTMF_DIAL fail:", ts);
    paid(ts, kOwedTone);  // whatever it plays now is the timeslot's owner's
    return true;
}

bool TonecReceiverService::configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params) {
    const unsigned ts = receiver.tonec_timeslot();
    if (!init()) return NotOpened("configure IVA fail: (interface not opened)", ts);
    dtmf::iva_config record{ts, params.get_det_lvl_dB().getValue()};
    if (board::ioctl(fd(), dtmf::kConfigureIva, &record) < 0)
        return refused("IVA_CONFIGURE_DETECTOR fail:", ts);
    std::clog << "IVA_CONFIGURE_DETECTOR ts=" << ts << " det_lvl_dB=" << record.det_lvl_dB
              << std::endl;
    return true;
}

bool TonecReceiverService::enableIVA(TonecReceiver& receiver, bool on) {
    return switchShared(receiver, &TonecReceiver::ivaOn_, kIva, on);
}

bool TonecReceiverService::translateSelcal(TonecReceiver& receiver,
                                           const TERM::SelcalCommand& command) {
    const unsigned ts = receiver.tonec_timeslot();
    const std::string& signs = command.get_signs();
    if (!SelcalSignsFit(signs)) {
        std::cerr << "SELCAL_DIAL fail: timeslot=" << ts << " incorect signs:" << signs
                  << std::endl;
        return false;
    }
    dtmf::selcal_dial record{};
    record.timeslot = ts;
    record.amplitude = static_cast<uint16_t>(OptionalOr(command.get_amp(), kSelcalAmp));
    std::memcpy(record.signs, signs.data(), sizeof record.signs);
    if (board::ioctl(device(), dtmf::kSelcalDial, &record) < 0)
        return refused("SELCAL_DIAL fail:", ts);
    return true;
}

void TonecReceiverService::OnEvent(int, short revents) {
    ReadRecords<dtmf::dtmf_event>(revents, "tonec", [this](const auto& event) { route(event); });
}

void TonecReceiverService::route(const dtmf::dtmf_event& event) {
    std::clog << "dtmf event: " << event << std::endl;
    const bool iva = dtmf::is_iva_code(event.code);
    const auto hears = [iva](const TonecReceiver& r) { return iva ? r.ivaOn_ : r.dtmfOn_; };
    const bool current = isCurrent(event);
    const auto targets = TargetsOfEvent(
        receivers, &TonecReceiver::node_, event.timeslot, &TonecReceiver::tonec_timeslot,
        [&](const TonecReceiver& r) { return current && hears(r); }, hears);
    if (targets.receivers.empty())
        std::cerr << "receive tonec event from unknown timeslot " << event.timeslot << std::endl;
    for (TonecReceiver* receiver : targets.receivers) {
        if (!receiver->detectorEnabled()) {
            std::clog << "ignore spurious dtmf event (DTMF disabled): " << event << std::endl;
        } else if (!targets.named) {
            std::clog << "ignore spurious dtmf event: " << event << " rid=" << receiver->enableId_
                      << std::endl;
        } else {
            receiver->tonec_event(TonecReceiver::Params{event.code, event.timestamp});
        }
    }
}

// The driver puts the timeslot's last DTMF enable id in the events of both
// detectors, also once the receiver that enabled it has gone (an earlier
// call's): the server made it, so the events are current.
bool TonecReceiverService::isCurrent(const dtmf::dtmf_event& event) const {
    const auto made = detectorIds_.find(event.timeslot);
    if ((made == detectorIds_.end() ? 0 : made->second) == event.id) return true;
    // Queued before a sharer enabled the detector again.
    return FindOnTimeslot(receivers, &TonecReceiver::node_, event.timeslot,
                          &TonecReceiver::tonec_timeslot, [&](const TonecReceiver& r) {
                              return r.detectorEnabled() && r.enableId_ == event.id;
                          }) != nullptr;
}

// What the receiver still has on after its clean-up, the driver having
// refused to switch it off, and no other receiver of the timeslot has on.
void TonecReceiverService::owe(const TonecReceiver& receiver) {
    const std::pair<bool TonecReceiver::*, unsigned> functions[] = {
        {&TonecReceiver::dtmfOn_, kOwedDetector},
        {&TonecReceiver::ivaOn_, kOwedIva},
        {&TonecReceiver::dtmfRejectOn_, kOwedRejection},
        {&TonecReceiver::echoOn_, kOwedEcho},
        {&TonecReceiver::toneOn_, kOwedTone}};
    unsigned owed = 0;
    for (const auto& [flag, bit] : functions)
        if (receiver.*flag && !receiver.sharedOn(flag)) owed |= bit;
    object().oweTimeslot(receiver.tonec_timeslot(), owed);
}

bool TonecReceiverService::pay(unsigned ts, uint32_t bit) {
    TonecReceiverService& service = object();
    if (bit == kOwedDetector) return service.disableDetector(ts);
    if (bit == kOwedTone) return service.enableToneGenerator(ts, 0, 0, 0, 0);
    for (const Switch* what : {&kIva, &kRejection, &kEchoCanceller})
        if (bit == what->owed) return service.switchTimeslot(*what, ts, false);
    return true;
}

bool TonecReceiverService::listening() {
    return AnyReceiver(receivers, &TonecReceiver::node_,
                       [](const TonecReceiver& r) { return r.detectorEnabled(); });
}

void TonecReceiverService::reset_for_test(uint32_t counter) {
    ReceiverDevice::reset_for_test(counter);
    object().detectorIds_.clear();
}

}  // namespace Hardware
