#include "board/sim/mctl_model.h"

#include <errno.h>

#include <cstring>

#include "board/sim/model_support.h"

namespace board::sim {

int MctlModel::open(Channel&) { return absent ? refuse(ENOENT) : 0; }

void MctlModel::close(Channel& channel) {
    for (Modem& modem : modems_)
        if (modem.holder == &channel) modem.holder = nullptr;
}

void MctlModel::reset() {
    log.clear();
    absent = false;
    endless = false;
    set_pool(kDefaultModems);
}

void MctlModel::set_pool(int count) {
    modems_.assign(size_t(count), Modem{});
    for (int n = 0; n < count; ++n) modems_[size_t(n)].channel = kFirstChannel + n;
}

int MctlModel::held() {
    Board::instance().drop_closed();
    int count = 0;
    for (const Modem& modem : modems_) count += modem.holder != nullptr;
    return count;
}

std::vector<MctlModel::Request> MctlModel::requests(uint32_t request) const {
    std::vector<Request> out;
    for (const Request& r : log)
        if (r.request == request) out.push_back(r);
    return out;
}

MctlModel::Modem* MctlModel::held_by(const Channel& channel, int32_t number) {
    if (number >= 0 && number < pool() && modems_[size_t(number)].holder == &channel)
        return &modems_[size_t(number)];
    errno = EINVAL;
    return nullptr;
}

int MctlModel::Allocate(const Channel& channel) {
    Board::instance().drop_closed();  // frees the modems of closed opens
    for (size_t n = 0; n < modems_.size(); ++n)
        if (modems_[n].holder == &channel) return int(n);
    for (size_t n = 0; n < modems_.size(); ++n) {
        if (modems_[n].holder) continue;
        modems_[n].holder = &channel;
        return int(n);
    }
    return refuse(EBUSY);
}

int MctlModel::ioctl_value(Channel& channel, uint32_t request, unsigned long value) {
    const int32_t word = static_cast<int32_t>(value);
    if (journaled) log.push_back(Request{request, {word}});
    switch (request) {
        case mctl::kAllocate: return Allocate(channel);
        case mctl::kGetChannel:
            for (const Modem& modem : modems_)
                if (modem.holder == &channel) return modem.channel;
            return refuse(EINVAL);
        case mctl::kEnumerate: {
            const int32_t next = word < 0 ? 0 : word + 1;
            return endless || next < pool() ? next : refuse(ENODEV);
        }
        default: return refuse(ENOTTY);
    }
}

int MctlModel::ioctl(Channel& channel, uint32_t request, void* arg) {
    const size_t count = mctl::words(request);
    if (count == 0) return refuse(ENOTTY);
    if (arg == nullptr) return refuse(EFAULT);
    int32_t words[3];
    std::memcpy(words, arg, count * sizeof(int32_t));
    if (journaled) log.push_back(Request{request, std::vector<int32_t>(words, words + count)});
    Modem* modem = held_by(channel, words[0]);
    return modem ? ArrayRequest(*modem, request, words) : -1;
}

int MctlModel::ArrayRequest(Modem& modem, uint32_t request, const int32_t* words) {
    switch (request) {
        case mctl::kSetDdm: modem.ddm = words[1]; break;
        case mctl::kResetParams:
            modem.params.clear();
            ++modem.resets;
            break;
        case mctl::kSetParam: modem.params[words[1]] = words[2]; break;
        default: modem.call = request; break;  // a call
    }
    return 0;
}

}  // namespace board::sim
