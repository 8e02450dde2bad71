#include "board/sim/dsp_data_model.h"

#include <errno.h>
#include <fcntl.h>

#include <algorithm>

#include "board/sim/model_support.h"

namespace board::sim {

void DspDataModel::reset() {
    absent = false;
    if (!opens_.empty())  // never while the board is being built
        if (TdmFabric* fabric = TdmFabric::of_board())
            for (const auto& open : opens_) fabric->detach(*open.first);
    opens_.clear();
}

int DspDataModel::free_number() const {
    for (int number = kFirstChannel; number <= kLastChannel; ++number) {
        const bool held = std::any_of(opens_.begin(), opens_.end(), [&](const auto& open) {
            const Open& o = open.second;
            return o.signalling == number ||
                   std::find(o.b.begin(), o.b.end(), number) != o.b.end();
        });
        if (!held) return number;
    }
    return -1;
}

int DspDataModel::open(Channel& channel) {
    if (absent) return refuse(ENOENT);
    Board::instance().drop_closed();
    const int number = free_number();
    if (number < 0) return refuse(ENOSPC);
    Open open{number, {}};
    open.b.fill(-1);
    opens_.push_back({&channel, open});
    if (TdmFabric* fabric = TdmFabric::of_board()) fabric->attach(number, channel, kLargestFrame);
    return 0;
}

void DspDataModel::close(Channel& channel) {
    if (TdmFabric* fabric = TdmFabric::of_board()) fabric->detach(channel);
    opens_.erase(std::remove_if(opens_.begin(), opens_.end(),
                                [&](const auto& open) { return open.first == &channel; }),
                 opens_.end());
}

DspDataModel::Open* DspDataModel::find(Channel& channel) {
    for (auto& open : opens_)
        if (open.first == &channel) return &open.second;
    return nullptr;
}

int DspDataModel::ioctl_value(Channel& channel, uint32_t request, unsigned long) {
    if (request != dsp_data::kSignallingChannel) return refuse(ENOTTY);
    const Open* open = find(channel);
    return open ? open->signalling : refuse(EBADF);
}

int DspDataModel::ioctl(Channel& channel, uint32_t request, void* arg) {
    if (arg == nullptr) return refuse(EFAULT);
    Open* open = find(channel);
    if (!open) return refuse(EBADF);
    switch (request) {
        case dsp_data::kAddBChannel:
            return AddBChannel(*open, *static_cast<dsp_data::b_channel*>(arg));
        case dsp_data::kRemoveBChannel:
            return RemoveBChannel(*open, *static_cast<int32_t*>(arg));
        default:
            return refuse(ENOTTY);
    }
}

int DspDataModel::AddBChannel(Open& open, dsp_data::b_channel& record) {
    if (record.index < 0 || record.index >= static_cast<int32_t>(dsp_data::kBChannels))
        return refuse(EINVAL);
    int& b = open.b[static_cast<size_t>(record.index)];
    if (b >= 0) return refuse(EBUSY);
    const int number = free_number();
    if (number < 0) return refuse(ENOSPC);
    b = record.tdm = number;
    return 0;
}

int DspDataModel::RemoveBChannel(Open& open, int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(dsp_data::kBChannels)) return refuse(EINVAL);
    int& b = open.b[static_cast<size_t>(index)];
    if (b < 0) return refuse(ENOENT);
    b = -1;
    return 0;
}

ssize_t DspDataModel::write(Channel& channel, const void* data, size_t length) {
    if ((channel.flags() & O_ACCMODE) == O_RDONLY) return refuse(EBADF);
    const Open* open = find(channel);
    if (!open) return refuse(EBADF);
    if (length == 0) return refuse(EINVAL);
    if (TdmFabric* fabric = TdmFabric::of_board()) fabric->send(open->signalling, data, length);
    return static_cast<ssize_t>(length);
}

std::vector<DspDataModel::Open> DspDataModel::opens() {
    Board::instance().drop_closed();
    std::vector<Open> out;
    for (const auto& open : opens_) out.push_back(open.second);
    return out;
}

}  // namespace board::sim
