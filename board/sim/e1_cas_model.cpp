#include "board/sim/e1_cas_model.h"

#include <errno.h>

#include "board/sim/model_support.h"

namespace board::sim {

namespace cas = e1_cas;

namespace {

// What a request with a settable result returns.
int result(int value) { return value < 0 ? refuse(-value) : value; }

}  // namespace

void E1CasModel::reset() {
    absent = false;
    for (Trunk& trunk : trunks) trunk = Trunk{};
    for (auto& trunk : channels)
        for (Timeslot& timeslot : trunk) timeslot = Timeslot{};
}

int E1CasModel::open(Channel&) { return absent ? refuse(ENOENT) : 0; }

int E1CasModel::ioctl_value(Channel&, uint32_t request, unsigned long value) {
    switch (request) {
        case cas::kOpenTrunk: return OpenTrunk(value);
        case cas::kCloseTrunk: return CloseTrunk(value);
        default: return refuse(ENOTTY);
    }
}

int E1CasModel::ioctl(Channel&, uint32_t request, void* arg) {
    switch (request) {
        case cas::kEnableChannel: return Enable(record_of<cas::cas_channel_enable>(arg));
        case cas::kSetBits: return SetBits(record_of<cas::cas_channel>(arg));
        case cas::kGetBits: return GetBits(*static_cast<cas::cas_channel*>(arg));
        default: return refuse(ENOTTY);
    }
}

int E1CasModel::OpenTrunk(unsigned long trunk) {
    if (trunk >= cas::kTrunks) return refuse(EINVAL);
    int r = result(trunks[trunk].open_result);
    if (r >= 0) trunks[trunk].open = true;
    return r;
}

int E1CasModel::CloseTrunk(unsigned long trunk) {
    if (trunk >= cas::kTrunks) return refuse(EINVAL);
    int r = result(trunks[trunk].close_result);
    if (r < 0) return r;
    trunks[trunk].open = false;
    for (Timeslot& timeslot : channels[trunk]) timeslot.open = false;
    return r;
}

E1CasModel::Timeslot* E1CasModel::channel_of(const cas::cas_channel& record) {
    if (record.trunk >= cas::kTrunks || record.timeslot >= cas::kTimeslots) return nullptr;
    if (!cas::carries_cas(record.timeslot)) return nullptr;
    if (!trunks[record.trunk].open) return nullptr;
    return &channels[record.trunk][record.timeslot];
}

int E1CasModel::Enable(const cas::cas_channel_enable& request) {
    Timeslot* timeslot = channel_of(request.channel);
    if (timeslot == nullptr || request.close < 0 || request.close > 1) return refuse(EINVAL);
    timeslot->open = request.close == 0;
    timeslot->tx = timeslot->open ? request.channel.tx & 0xF : 0;
    return 0;
}

int E1CasModel::SetBits(const cas::cas_channel& request) {
    Timeslot* timeslot = channel_of(request);
    if (timeslot == nullptr || !timeslot->open) return refuse(EINVAL);
    timeslot->tx = request.tx & 0xF;
    return 0;
}

int E1CasModel::GetBits(cas::cas_channel& request) {
    const Timeslot* timeslot = channel_of(request);
    if (timeslot == nullptr || !timeslot->open) return refuse(EINVAL);
    request.rx = timeslot->rx;
    request.tx = timeslot->tx;
    return 0;
}

void E1CasModel::far_end(unsigned trunk, unsigned timeslot, uint8_t rx) {
    Timeslot& channel = channels[trunk][timeslot];
    channel.rx = rx & 0xF;
    if (!trunks[trunk].open || !channel.open) return;
    cas::cas_channel record{trunk, timeslot, channel.rx, channel.tx, {0, 0}};
    Board::instance().deliver(cas::kDevice, &record, sizeof record);
}

void E1CasModel::deliver_raw(const void* bytes, size_t length) {
    Board::instance().deliver(cas::kDevice, bytes, length);
}

}  // namespace board::sim
