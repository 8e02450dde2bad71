#include "slots/mixer_factory.h"

#include <errno.h>
#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "board/devio.h"
#include "board/drivers/mixer.h"
#include "hardware/device_names.h"
#include "runtime/ext_output.h"
#include "runtime/fd.h"
#include "slots/mixer.h"

namespace Mixer {

namespace {

// What the controller budgets per mixer, echo canceller and LMS filter.
constexpr int kDpuPerMixer = 770;
constexpr int kDpuPerEc = 17;
constexpr int kDpuPerLms = 24;

// The smaller of two counts, -1 standing for none yet.
int smallest(int known, int count) {
    return known == -1 ? count : std::min(known, count);
}

}  // namespace

MixerFactory::~MixerFactory() {
    Forget();
}

void MixerFactory::PutHeader(std::ostream& os) const {
    os << "mixer: ";
}

Slot* MixerFactory::INewSlot(const LGCP::CreateParams& params) {
    if (const LGCP::MixerOutParams* out = params.get_mixerOut()) {
        Mixer* mixer = findMixer(out->get_unit().getValue());
        return mixer ? mixer->New(*out) : nullptr;
    }
    if (const LGCP::MixerInParams* in = params.get_mixerIn()) {
        Mixer* mixer = findMixer(in->get_unit().getValue());
        return mixer ? mixer->New(*in) : nullptr;
    }
    return nullptr;
}

Mixer* MixerFactory::findMixer(int unit) const {
    for (Mixer* mixer : mixers_)
        if (mixer->unit() == unit && !mixer->stale()) return mixer;
    return nullptr;
}

void MixerFactory::Query(LGCP::Resources& resources) {
    auto& list = resources.get_mixer();
    list.clear();
    for (const Mixer* mixer : mixers_) {
        LGCP::MixerResources_subtype& entry = list.append();
        entry.set_unit(mixer->unit());
        entry.set_tdm_inputs(std::max(tdmChannels_, 0));
        entry.set_tdm_outputs(std::max(tdmChannels_, 0));
        entry.set_mixer_inputs(std::max(mixerInputs_, 0));
        entry.set_dpu_per_mixer(kDpuPerMixer);
        entry.set_dpu_per_ec(kDpuPerEc);
        entry.set_dpu_per_lms(kDpuPerLms);
    }
}

void MixerFactory::RefreshResources() {
    std::vector<board::mixer::mix_enum_record> units;
    bool opened = true;
    if (WalkUnits(units, opened)) {
        Learn(units);
    } else {
        const int error = errno;
        std::cerr << ext::header(this);
        if (opened)
            std::cerr << "next unit request fail";
        else
            std::cerr << "device " << ext::quoted(GetMixerDevName()) << " open fail";
        std::cerr << ": " << std::strerror(error) << ", the units stay" << std::endl;
    }
    QueryDriverVersion();
}

// The driver ends the list with ENODEV; any other refusal (EINTR, EIO,
// EAGAIN) says nothing about the units not yet found.
bool MixerFactory::WalkUnits(std::vector<board::mixer::mix_enum_record>& units, bool& opened) {
    board::mixer::mix_enum_record record{-1, 0, 0, 0};
    while (units.size() < kMaxMixers) {
        if (mixer_ctl(board::mixer::MIX_NEXT, &record, &opened) < 0)
            return opened && errno == ENODEV;
        units.push_back(record);
    }
    return true;
}

// A mixer that was known before counts among the units again when the walk
// found it.
void MixerFactory::Learn(const std::vector<board::mixer::mix_enum_record>& units) {
    for (Mixer* mixer : mixers_) mixer->set_stale(true);
    tdmChannels_ = -1;
    mixerInputs_ = -1;
    for (const board::mixer::mix_enum_record& record : units) {
        tdmChannels_ = smallest(tdmChannels_, record.channels);
        mixerInputs_ = smallest(mixerInputs_, record.inputs);
        // One not yet found again in this walk.
        auto known = std::find_if(mixers_.begin(), mixers_.end(), [&](const Mixer* mixer) {
            return mixer->unit() == record.unit && mixer->stale();
        });
        if (known != mixers_.end()) {
            (*known)->set_stale(false);
        } else {
            auto* mixer = new Mixer(record.unit);
            mixers_.push_back(mixer);
            mixer->Reset();
        }
    }
    // The gone leave the list first: Clear() may delete them.
    std::vector<Mixer*> gone;
    auto stale = std::stable_partition(mixers_.begin(), mixers_.end(),
                                       [](const Mixer* mixer) { return !mixer->stale(); });
    gone.assign(stale, mixers_.end());
    mixers_.erase(stale, mixers_.end());
    for (Mixer* mixer : gone) mixer->Clear();
}

void MixerFactory::QueryDriverVersion() {
    Fd device(board::open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC));
    if (!device) {
        const int error = errno;
        std::cerr << "device " << ext::quoted(GetVoiceDevName())
                  << " open fail: " << std::strerror(error) << std::endl;
        driverVersionValid_ = false;
        return;
    }
    driverVersionValid_ =
        board::ioctl(device.get(), board::voice::kVersion, &driverVersion_) >= 0;
}

// A mixer that still has slots is left to them; the others go now.
void MixerFactory::Forget() {
    std::vector<Mixer*> mixers;
    mixers.swap(mixers_);
    for (Mixer* mixer : mixers) {
        mixer->set_stale(true);
        mixer->CheckForDestroy();
    }
}

void MixerFactory::reset_for_test() {
    Forget();
    tdmChannels_ = -1;
    mixerInputs_ = -1;
    driverVersionValid_ = false;
}

}  // namespace Mixer
