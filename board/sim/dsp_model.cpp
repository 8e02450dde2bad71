#include "board/sim/dsp_model.h"

#include <errno.h>

#include <cstddef>
#include <cstring>

namespace board::sim {

uint32_t DspModel::Timeslot::id(uint32_t function) const {
    auto it = enabled.find(function);
    return it == enabled.end() ? 0 : it->second;
}

void DspModel::Timeslot::endToneFilters() {
    filters.clear();
    enabled.erase(dsp::kToneFilter);
}

const dsp::dsproc_configure* DspModel::Timeslot::configure(uint32_t function) const {
    auto it = configured.find(function);
    return it == configured.end() ? nullptr : &it->second;
}

int DspModel::open(Channel&) {
    if (!absent) return 0;
    errno = ENOENT;
    return -1;
}

int DspModel::ioctl(Channel&, uint32_t request, void* arg) {
    if (arg == nullptr) {
        errno = EFAULT;
        return -1;
    }
    if (request == dsp::kConfigure) {
        dsp::dsproc_configure record;
        std::memcpy(&record, arg, sizeof record);
        Timeslot& state = timeslots_[record.timeslot];
        state.configured[record.function] = record;
        // Tone filters have no enable id; their bit is on while one runs.
        if (record.function == dsp::kToneFilter) {
            const dsp::tone_filter_params& filter = record.params.tone_filter;
            if (filter.enable) {
                state.filters[filter.freq] = filter;
                state.enabled[dsp::kToneFilter] = 0;
            } else {
                state.endToneFilters();
            }
        }
        return 0;
    }
    if (request == dsp::kEnable || request == dsp::kDisable) {
        dsp::dsproc_enable record;
        std::memcpy(&record, arg, sizeof record);
        Timeslot& state = timeslots_[record.timeslot];
        for (uint32_t bit = 1; bit != 0; bit <<= 1) {
            if (!(record.mask & bit)) continue;
            if (request == dsp::kEnable)
                state.enabled[bit] = record.id;
            else if (bit == dsp::kToneFilter)
                state.endToneFilters();
            else
                state.enabled.erase(bit);
        }
        return 0;
    }
    errno = ENOTTY;
    return -1;
}

int DspModel::ioctl_value(Channel&, uint32_t request, unsigned long) {
    if (request == dsp::kVersion) return version;
    errno = ENOTTY;
    return -1;
}

void DspModel::reset() {
    timeslots_.clear();
    version = 2;
    absent = false;
}

const DspModel::Timeslot& DspModel::timeslot(uint32_t ts) const {
    static const Timeslot fresh;
    auto it = timeslots_.find(ts);
    return it == timeslots_.end() ? fresh : it->second;
}

bool DspModel::deliver(uint32_t ts, uint32_t type, uint32_t id, const void* payload) {
    dsp::dsproc_event event{ts, id, type, 0, 0, 0};
    std::memcpy(reinterpret_cast<char*>(&event) + offsetof(dsp::dsproc_event, a), payload,
                3 * sizeof(uint32_t));
    return deliver_raw(&event, sizeof event) > 0;
}

bool DspModel::vad(uint32_t ts, uint32_t directions, uint32_t rx, uint32_t tx) {
    const uint32_t words[3] = {directions, rx, tx};
    const Timeslot& state = timeslot(ts);
    return state.on(dsp::kVad) && deliver(ts, dsp::kVad, state.id(dsp::kVad), words);
}

bool DspModel::sd(uint32_t ts, uint32_t rx) {
    const uint32_t words[3] = {rx, 0, 0};
    const Timeslot& state = timeslot(ts);
    return state.on(dsp::kSd) && deliver(ts, dsp::kSd, state.id(dsp::kSd), words);
}

bool DspModel::bss(uint32_t ts, float score) {
    dsp::dsproc_bss_event payload{score, 0, 0};
    const Timeslot& state = timeslot(ts);
    return state.on(dsp::kBss) && deliver(ts, dsp::kBss, state.id(dsp::kBss), &payload);
}

bool DspModel::tone_filter(uint32_t ts, uint32_t frequency, uint32_t presence) {
    dsp::dsproc_tone_event payload{frequency, presence, 0};
    return timeslot(ts).filters.count(frequency) != 0 && deliver(ts, dsp::kToneFilter, 0, &payload);
}

bool DspModel::flags(uint32_t ts, uint32_t flags, uint32_t mask) {
    dsp::dsproc_flags_event payload{flags, mask, 0};
    return deliver(ts, dsp::kFlags, 0, &payload);
}

int DspModel::deliver_raw(const void* record, size_t length) {
    return Board::instance().deliver(dsp::kDevice, record, length);
}

}  // namespace board::sim
