#include "slots/mixer.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <iterator>
#include <vector>

#include "board/devio.h"
#include "hardware/device_names.h"
#include "runtime/ext_output.h"
#include "slots/mixer_factory.h"

namespace Mixer {

using namespace board::mixer;
using A = LGCP::IoctlParams::Alternative;

namespace {

const ReceiverIoctls kInputIoctls{
    A::echoSuppressor, A::translateDTMF,      A::dtmf_params, A::dtmf_enable, A::vad_params,
    A::vad_enable,     A::vad_disable,        A::dtmf_reject_enable,          A::sd_params,
    A::sd_enable,      A::sd_disable,         A::iva_enable,  A::iva_params,  A::rx_gain,
    A::delays,         A::tone_filter};

const ReceiverIoctls kOutputIoctls{
    A::translateDTMF, A::dtmf_params, A::dtmf_disable,     A::vad_params,      A::vad_enable,
    A::vad_disable,   A::dtmf_reject_disable,              A::sd_params,       A::sd_enable,
    A::sd_disable,    A::iva_enable,  A::delays,           A::tone_filter,     A::tone_gen_enable,
    A::tone_gen_disable};

const char* error_text() { return std::strerror(errno); }

}  // namespace

int mixer_ctl(uint32_t request, void* arg, bool* opened) {
    const int fd = board::open(GetMixerDevName(), O_RDONLY | O_CLOEXEC);
    if (opened) *opened = fd >= 0;
    if (fd < 0) return -1;
    const int result = board::ioctl(fd, request, arg);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return result;
}

// ---- The slots

TdmChannel::TdmChannel(Mixer& mixer, int channel, int timeslot, const ReceiverIoctls& ioctls)
    : mixer_(mixer), channel_(channel), timeslot_(timeslot), ioctls_(ioctls) {
    HoldChannel(timeslot, &mixer);  // with the unit's other slots of the channel
}

TdmChannel::~TdmChannel() {
    Hardware::TonecReceiver::CleanBeforeDestroy();
    Hardware::DSProcReceiver::CleanBeforeDestroy();
}

bool TdmChannel::IBeforeDestroy() {
    MuxSwitchOff(*this, timeslot_);
    Release(mixer_);
    return true;
}

void TdmChannel::IReleaseHardware() {
    Hardware::TonecReceiver::LetGo();
    Hardware::DSProcReceiver::LetGo();
    timeslot_ = -1;
}

// Dropped without its release: it leaves the mixer's list all the same.
void TdmChannel::IForcedRelease() {
    mixer_.UnRegister(this);
}

bool TdmChannel::Ioctl(const LGCP::IoctlParams& params) {
    if (hardwareLost()) {
        std::cerr << ext::header(&mixer_) << "unit gone, ioctl refused" << std::endl;
        return false;
    }
    if (params.is_delays() && params.get_delays()->has_selcal())
        std::cerr << ext::header(&mixer_)
                  << "error: selcal delay isn't supported for mixer!!! Set to zero." << std::endl;
    return ioctls_.Apply(*this, *this, params);
}

void TdmChannel::StopDigits() {
    if (!isSequenceRunning()) return;
    enableSilence();
    disableToneGenerator(true);
}

TdmInput::TdmInput(Mixer& mixer, int channel, int timeslot)
    : TdmChannel(mixer, channel, timeslot, kInputIoctls) {}

void TdmInput::Release(Mixer& mixer) {
    mixer.Release(*this);
}

TdmOutput::TdmOutput(Mixer& mixer, int channel, int timeslot)
    : TdmChannel(mixer, channel, timeslot, kOutputIoctls) {}

void TdmOutput::Release(Mixer& mixer) {
    mixer.Release(*this);
}

// ---- The unit

void Mixer::PutHeader(std::ostream& os) const {
    os << "mixer [" << unit_ << "]: ";
}

int Mixer::tdm_channel(const LGCP::MixerChannel& channel) {
    const ASN1::INTEGER* number = channel.get_tdm();
    if (!number) return -1;
    const int n = number->getValue();
    return n >= 0 && n < MixerFactory::instance().tdmChannels() ? n : -1;
}

// Every value is checked before the first request, so that a declined
// input changes no sum.
Slot* Mixer::New(const LGCP::MixerInParams& params) {
    const int channel = tdm_channel(params.get_channel());
    if (channel < 0) return nullptr;
    const LGCP::MixerChannel* summator = params.get_summator();
    if (summator && summator->is_rtp()) {
        std::cerr << ext::header(this) << "wrong summator coding !" << std::endl;
        return MixerFactory::instance().Invalid("an rtp summator");
    }
    if (summator && tdm_channel(*summator) < 0)
        return MixerFactory::instance().Invalid("summator channel out of range");

    owed_.pay_all();
    const int timeslot = channel2timeslot(channel);
    if (timeslot < 0) return nullptr;
    auto* input = new TdmInput(*this, channel, timeslot);
    // Before the sum, which a refused echo canceller would have to undo.
    const LGCP::EchoCancelMode* ecm = params.get_ecm();
    if (ecm && !input->echoCancel(ecm->get_ec().getValue() || ecm->get_es().getValue())) {
        std::cerr << ext::header(this) << "input not created: the echo canceller was refused"
                  << std::endl;
        delete input;
        return nullptr;
    }
    if (summator) {
        const std::pair<int, int> pair{summator->get_tdm()->getValue(), channel};
        input->SetSummator(pair.first);
        pairs_[pair] = input;
        owed_.settle(pair);  // the input stays either way
    }
    Register(input);
    return input;
}

// Every channel is checked before the first request, so that a declined
// output leaves no sum behind.
Slot* Mixer::New(const LGCP::MixerOutParams& params) {
    const int channel = tdm_channel(params.get_channel());
    if (channel < 0) {
        if (params.get_channel().is_rtp())
            std::clog << ext::header(this) << "ClearTX error: translation fail" << std::endl;
        return nullptr;
    }
    if (HasOutput(channel)) {
        std::cerr << ext::header(this) << "channel " << channel << " has an output already"
                  << std::endl;
        return nullptr;
    }
    for (const LGCP::MixerInput& input : params.get_inputs()) {
        if (input.get_channel().is_rtp()) {
            std::cerr << ext::header(this) << "SetTX error: translation fail [2]" << std::endl;
            return nullptr;
        }
        if (tdm_channel(input.get_channel()) < 0)
            return MixerFactory::instance().Invalid("mixer input channel out of range");
    }
    owed_.pay_all();
    if (!SetTX(params)) return nullptr;
    const int timeslot = channel2timeslot(channel);
    if (timeslot < 0) {
        DropSum(params.get_channel());
        return nullptr;
    }
    auto* output = new TdmOutput(*this, channel, timeslot);
    for (auto& [pair, owner] : pairs_)
        if (pair.first == channel) owner = output;  // SetTX put them for it
    Register(output);
    return output;
}

bool Mixer::Channel2Slot(const LGCP::MixerChannel& channel, mix_slot& slot) const {
    const ASN1::INTEGER* number = channel.get_tdm();
    if (!number) return false;
    slot = slot_of(number->getValue());
    return true;
}

bool Mixer::ClearTX(const LGCP::MixerChannel& channel) {
    mix_slot slot;
    if (!Channel2Slot(channel, slot)) {
        std::clog << ext::header(this) << "ClearTX error: translation fail" << std::endl;
        return false;
    }
    if (mixer_ctl(MIX_RX_CLEAR, &slot) < 0) {
        const char* error = error_text();
        std::cerr << ext::header(this) << "MIX_RX_CLEAR"
                  << " dev_no=" << slot.dev_no << " type=" << slot.type
                  << " number=" << slot.number << " fail : " << error << std::endl;
        return false;
    }
    for (auto it = pairs_.begin(); it != pairs_.end();)
        it = it->first.first == slot.number ? pairs_.erase(it) : std::next(it);
    for (const auto& pair : std::set<std::pair<int, int>>(owed_.keys()))
        if (pair.first == slot.number) owed_.forgive(pair);
    return true;
}

bool Mixer::AddToSum(const mix_slot& rx, const mix_slot& tx, int gain, const TdmChannel* owner) {
    mix_rx_record record{rx, tx, gain};
    if (mixer_ctl(MIX_RX_ADD, &record) >= 0) {
        pairs_[{rx.number, tx.number}] = owner;
        owed_.forgive({rx.number, tx.number});
        return true;
    }
    const char* error = error_text();
    if (addRefused_.admit())
        std::cerr << ext::header(this) << "MIX_RX_ADD"
                  << " fail : " << error << addRefused_ << std::endl;
    return false;
}

// A pair the driver's sum no longer has (ENOENT from the removal) needs no
// removal; ENOENT from the open (the node missing) says nothing of the pair.
bool Mixer::RemoveFromSum(int summator, int channel) {
    mix_rx_record record{slot_of(summator), slot_of(channel), 0};
    bool opened = false;
    const bool removed = mixer_ctl(MIX_RX_REMOVE, &record, &opened) >= 0;
    const int error = errno;
    if (!removed && removeRefused_.admit())
        std::cerr << ext::header(this) << "MIX_RX_REMOVE"
                  << " rx.number=" << summator << " tx.number=" << channel
                  << " fail : " << std::strerror(error) << removeRefused_ << std::endl;
    return removed || (opened && error == ENOENT);
}

void Mixer::Drop(std::pair<int, int> pair) {
    pairs_.erase(pair);
    owed_.settle(pair);
}

bool Mixer::SettleSum(const std::pair<int, int>& pair) {
    if (stale_) return true;
    const auto wanted = pairs_.find(pair);
    if (wanted == pairs_.end()) return RemoveFromSum(pair.first, pair.second);
    return AddToSum(slot_of(pair.first), slot_of(pair.second), kUnityGain, wanted->second);
}

// ClearTX has translated the output already: it cannot fail again here.
bool Mixer::SetTX(const LGCP::MixerOutParams& params) {
    const LGCP::MixerChannel& output = params.get_channel();
    if (!ClearTX(output)) return false;
    mix_slot rx;
    Channel2Slot(output, rx);
    if (params.get_inputs().empty()) return AddToSum(rx, rx, kUnityGain);
    for (const LGCP::MixerInput& input : params.get_inputs()) {
        mix_slot tx;
        if (!Channel2Slot(input.get_channel(), tx)) {
            std::cerr << ext::header(this) << "SetTX error: translation fail [2]" << std::endl;
            return false;
        }
        if (!AddToSum(rx, tx, input.get_gain().getValue())) {
            DropSum(output);  // no half sum stays behind
            return false;
        }
    }
    return true;
}

void Mixer::DropSum(const LGCP::MixerChannel& output) {
    mix_slot rx{};
    if (ClearTX(output) || !Channel2Slot(output, rx)) return;
    std::vector<std::pair<int, int>> put;
    for (const auto& [pair, owner] : pairs_)
        if (pair.first == rx.number && owner == nullptr) put.push_back(pair);
    for (const auto& pair : put) Drop(pair);
}

int Mixer::channel2timeslot(int channel) {
    mix_slot slot = slot_of(channel);
    const int timeslot = mixer_ctl(MIX_TDM, &slot);
    if (timeslot < 0) {
        const char* error = error_text();
        std::cerr << ext::header(this) << "MIX_TDM"
                  << " dev_no=" << unit_ << " type=" << kTdm << " number=" << channel
                  << " fail : " << error << std::endl;
    }
    return timeslot;
}

bool Mixer::HasOutput(int channel) const {
    for (const TdmChannel* slot : slots_) {
        const auto* output = dynamic_cast<const TdmOutput*>(slot);
        if (output && output->channel() == channel) return true;
    }
    return false;
}

// The sums of a unit gone from the driver went with it; when the unit came
// back, they are the new slots' and stay. A pair that an output's sum has
// replaced since (SetTX) is not the input's any more.
void Mixer::Release(TdmInput& input) {
    input.StopDigits();
    owed_.pay_all();
    const auto pair = pairs_.find({input.summator(), input.channel()});
    if (!stale_ && pair != pairs_.end() && pair->second == &input) Drop(pair->first);
    UnRegister(&input);
}

// The pairs that inputs added to the output's sum since are theirs and stay.
void Mixer::Release(TdmOutput& output) {
    output.StopDigits();
    owed_.pay_all();
    if (!stale_) {
        std::clog << ext::header(this) << "clear tdm output " << output.channel() << std::endl;
        std::vector<std::pair<int, int>> own;
        for (const auto& [pair, owner] : pairs_)
            if (owner == &output) own.push_back(pair);
        for (const auto& pair : own) Drop(pair);
    }
    UnRegister(&output);
}

void Mixer::Reset() {
    std::clog << ext::header(this) << "clear all inputs" << std::endl;
    pairs_.clear();
    owed_.clear();
    int failures = 0;
    for (int n = 0; n < MixerFactory::instance().tdmChannels(); ++n) {
        mix_slot slot = slot_of(n);
        if (mixer_ctl(MIX_RX_CLEAR, &slot) < 0) ++failures;
    }
    if (failures)
        std::cerr << ext::header(this) << "reset fail: " << failures << " errors." << std::endl;
}

void Mixer::Clear() {
    for (TdmChannel* slot : slots_) slot->LetGoOfHardware(Slot::Loss::abort, 0);
    CheckForDestroy();
}

void Mixer::Register(TdmChannel* slot) {
    slots_.push_back(slot);
}

void Mixer::UnRegister(TdmChannel* slot) {
    slots_.remove(slot);
    CheckForDestroy();
}

void Mixer::CheckForDestroy() {
    if (slots_.empty() && stale_) delete this;
}

}  // namespace Mixer
