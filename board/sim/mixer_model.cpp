#include "board/sim/mixer_model.h"

#include <errno.h>

#include <algorithm>

#include "board/sim/model_support.h"

namespace board::sim {

using namespace mixer;

void MixerModel::reset() {
    absent = false;
    units_.clear();
    failures_.clear();
    add_unit(0);
    add_unit(1);
}

int MixerModel::open(Channel&) {
    return absent ? refuse(ENOENT) : 0;
}

bool MixerModel::add_unit(int32_t number, int32_t channels, int32_t inputs) {
    if (find(number) || channels < 0) return false;
    int first = kTimeslotBase;
    for (const Unit& u : units_) first = std::max(first, u.firstTimeslot + u.channels);
    if (first + channels > kTimeslotBase + kTimeslots) return false;
    units_.push_back(Unit{number, channels, inputs, 0, first, {}});
    return true;
}

void MixerModel::remove_unit(int32_t number) {
    units_.erase(std::remove_if(units_.begin(), units_.end(),
                                [&](const Unit& u) { return u.number == number; }),
                 units_.end());
}

MixerModel::Unit* MixerModel::find(int32_t number) {
    for (Unit& u : units_)
        if (u.number == number) return &u;
    return nullptr;
}

const MixerModel::Unit* MixerModel::unit(int32_t number) const {
    return const_cast<MixerModel*>(this)->find(number);
}

MixerModel::Sum MixerModel::sum(int32_t number, int32_t channel) const {
    const Unit* u = unit(number);
    if (!u) return {};
    auto it = u->sums.find(channel);
    return it == u->sums.end() ? Sum{} : it->second;
}

int MixerModel::timeslot(int32_t number, int32_t channel) const {
    const Unit* u = unit(number);
    if (!u || channel < 0 || channel >= u->channels) return -1;
    return u->firstTimeslot + channel;
}

void MixerModel::fail_nth(uint32_t request, int nth, int error) {
    failures_.push_back(PlannedFailure{request, nth, error});
}

bool MixerModel::planned_failure(uint32_t request) {
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->request != request || --it->remaining > 0) continue;
        errno = it->error;
        failures_.erase(it);
        return true;
    }
    return false;
}

int MixerModel::ioctl(Channel&, uint32_t request, void* arg) {
    if (arg == nullptr) return refuse(EFAULT);
    if (planned_failure(request)) return -1;
    switch (request) {
        case MIX_RX_CLEAR:
            return Clear(record_of<mix_slot>(arg));
        case MIX_RX_ADD:
            return Add(record_of<mix_rx_record>(arg));
        case MIX_RX_REMOVE:
            return Remove(record_of<mix_rx_record>(arg));
        case MIX_TDM:
            return Timeslot(record_of<mix_slot>(arg));
        case MIX_NEXT:
            return Next(*static_cast<mix_enum_record*>(arg));
        default:
            return refuse(ENOTTY);
    }
}

MixerModel::Unit* MixerModel::resolve(const mix_slot& slot) {
    Unit* u = find(slot.dev_no);
    if (!u || slot.type != kTdm || slot.number < 0 || slot.number >= u->channels) {
        errno = EINVAL;
        return nullptr;
    }
    return u;
}

int MixerModel::Clear(const mix_slot& slot) {
    Unit* u = resolve(slot);
    if (!u) return -1;
    u->sums.erase(slot.number);
    return 0;
}

// A sum is heard within one unit.
int MixerModel::Add(const mix_rx_record& record) {
    Unit* u = resolve(record.rx);
    if (!u || resolve(record.tx) != u) return refuse(EINVAL);
    u->sums[record.rx.number][record.tx.number] = record.gain;
    return 0;
}

int MixerModel::Remove(const mix_rx_record& record) {
    Unit* u = resolve(record.rx);
    if (!u || resolve(record.tx) != u) return refuse(EINVAL);
    auto sum = u->sums.find(record.rx.number);
    if (sum == u->sums.end() || sum->second.erase(record.tx.number) == 0) return refuse(ENOENT);
    if (sum->second.empty()) u->sums.erase(sum);
    return 0;
}

int MixerModel::Timeslot(const mix_slot& slot) {
    Unit* u = resolve(slot);
    return u ? u->firstTimeslot + slot.number : -1;
}

// The unit after the one the record names (-1: the first).
int MixerModel::Next(mix_enum_record& record) {
    auto next = units_.begin();
    if (record.unit != -1) {
        next = std::find_if(units_.begin(), units_.end(),
                            [&](const Unit& u) { return u.number == record.unit; });
        if (next != units_.end()) ++next;
    }
    if (next == units_.end()) return refuse(ENODEV);
    record = mix_enum_record{next->number, next->channels, next->reserved, next->inputs};
    return 0;
}

}  // namespace board::sim
