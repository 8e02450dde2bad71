#include "board/sim/dtmf_model.h"

#include <errno.h>

#include <cstring>

namespace board::sim {

int DtmfModel::open(Channel&) {
    if (!absent) return 0;
    errno = ENOENT;
    return -1;
}

int DtmfModel::ioctl(Channel&, uint32_t request, void* arg) {
    if (arg == nullptr) {
        errno = EFAULT;
        return -1;
    }
    auto take = [arg](auto& record) { std::memcpy(&record, arg, sizeof record); };
    switch (request) {
        case dtmf::kConfigureDetector: {
            dtmf::dtmf_config config;
            take(config);
            slot(config.timeslot).config = config;
            slot(config.timeslot).configured = true;
            return 0;
        }
        case dtmf::kEnableDetector: {
            dtmf::dtmf_enable enable;
            take(enable);
            slot(enable.timeslot).enabled = true;
            slot(enable.timeslot).id = enable.id;
            return 0;
        }
        case dtmf::kToneGenerator: {
            dtmf::tone_gen generator;
            take(generator);
            slot(generator.timeslot).generator = generator;
            return 0;
        }
        case dtmf::kConfigureIva: {
            dtmf::iva_config config;
            take(config);
            slot(config.timeslot).ivaLevel = config.det_lvl_dB;
            slot(config.timeslot).ivaConfigured = true;
            return 0;
        }
        case dtmf::kSelcalDial: {
            dtmf::selcal_dial dial;
            take(dial);
            slot(dial.timeslot).selcal = dial;
            slot(dial.timeslot).selcalDialled = true;
            return 0;
        }
    }
    errno = ENOTTY;
    return -1;
}

int DtmfModel::ioctl_value(Channel&, uint32_t request, unsigned long value) {
    bool Timeslot::*flag;
    bool on;
    switch (request) {
        case dtmf::kDisableDetector:
            flag = &Timeslot::enabled, on = false;
            break;
        case dtmf::kEchoCancelOn:
            flag = &Timeslot::echoCancel, on = true;
            break;
        case dtmf::kEchoCancelOff:
            flag = &Timeslot::echoCancel, on = false;
            break;
        case dtmf::kRejectionOn:
            flag = &Timeslot::rejection, on = true;
            break;
        case dtmf::kRejectionOff:
            flag = &Timeslot::rejection, on = false;
            break;
        case dtmf::kIvaOn:
            flag = &Timeslot::iva, on = true;
            break;
        case dtmf::kIvaOff:
            flag = &Timeslot::iva, on = false;
            break;
        default:
            errno = ENOTTY;
            return -1;
    }
    slot(static_cast<uint32_t>(value)).*flag = on;
    return 0;
}

void DtmfModel::reset() {
    timeslots_.clear();
    absent = false;
}

const DtmfModel::Timeslot& DtmfModel::timeslot(uint32_t ts) const {
    static const Timeslot fresh;
    auto it = timeslots_.find(ts);
    return it == timeslots_.end() ? fresh : it->second;
}

DtmfModel::Tone DtmfModel::tone(uint32_t ts) const {
    const dtmf::tone_gen& g = timeslot(ts).generator;
    return Tone{g.freq1, g.freq2, g.amp1, g.amp2};
}

bool DtmfModel::detect(uint32_t ts, uint32_t code, uint32_t timestamp) {
    const Timeslot& state = timeslot(ts);
    if (!(dtmf::is_iva_code(code) ? state.iva : state.enabled)) return false;
    dtmf::dtmf_event event{code, ts, timestamp, state.id};
    return deliver_raw(&event, sizeof event) > 0;
}

int DtmfModel::deliver_raw(const void* record, size_t length) {
    return Board::instance().deliver(dtmf::kDevice, record, length);
}

}  // namespace board::sim
