#include "board/sim/mcc_model.h"

#include <errno.h>
#include <fcntl.h>

#include <algorithm>

#include "board/sim/model_support.h"

namespace board::sim {

namespace {

// Pools as a freshly booted controller offers them.
constexpr std::array<unsigned, mcc::kTypes> kDefaultPools{32, 16, 32, 8};

}  // namespace

void MccModel::reset() {
    absent = false;
    pool_size = kDefaultPools;
    sent.clear();
    if (!opens_.empty())  // never while the board is being built
        if (TdmFabric* fabric = TdmFabric::of_board())
            for (const auto& open : opens_) fabric->detach(*open.first);
    opens_.clear();
    stalled_.clear();
    ended_.clear();
}

int MccModel::open(Channel& channel) {
    if (absent) return refuse(ENOENT);
    opens_.push_back({&channel, Allocation{{}, -1}});
    return 0;
}

void MccModel::close(Channel& channel) {
    if (const Allocation* allocation = find(channel)) {
        stalled_.erase(allocation->timeslot);
        ended_.erase(allocation->timeslot);
    }
    if (TdmFabric* fabric = TdmFabric::of_board()) fabric->detach(channel);
    opens_.erase(std::remove_if(opens_.begin(), opens_.end(),
                                [&](const auto& open) { return open.first == &channel; }),
                 opens_.end());
}

int MccModel::ioctl(Channel& channel, uint32_t request, void* arg) {
    if (arg == nullptr) return refuse(EFAULT);
    switch (request) {
        case mcc::MCC_ALLOCATE:
            return Allocate(channel, record_of<mcc::mcc_allocation>(arg));
        case mcc::MCC_RESOURCES:
            return Resources(*static_cast<mcc::mcc_resources*>(arg));
        default:
            return refuse(ENOTTY);
    }
}

MccModel::Allocation* MccModel::find(Channel& channel) {
    for (auto& open : opens_)
        if (open.first == &channel) return &open.second;
    return nullptr;
}

int MccModel::ioctl_value(Channel& channel, uint32_t request, unsigned long) {
    if (request != mcc::MCC_TIMESLOT) return refuse(ENOTTY);
    const Allocation* allocation = find(channel);
    if (!allocation) return refuse(EBADF);
    return allocation->timeslot >= 0 ? allocation->timeslot : refuse(EINVAL);
}

int MccModel::Allocate(Channel& channel, const mcc::mcc_allocation& record) {
    if (record.type >= mcc::kTypes) return refuse(EINVAL);
    Board::instance().drop_closed();
    Allocation* allocation = find(channel);
    if (!allocation) return refuse(EBADF);
    if (allocation->timeslot >= 0) return refuse(EBUSY);
    const int timeslot = take_channel(record.type);
    if (timeslot < 0) return refuse(ENOSPC);
    *allocation = Allocation{record, timeslot};
    if (TdmFabric* fabric = TdmFabric::of_board())
        fabric->attach(timeslot, channel, record.rx_packet_size, record.type == mcc::kTransparent);
    return 0;
}

// The lowest channel of the type's pool that no open holds.
int MccModel::take_channel(uint32_t type) {
    const unsigned size = std::min<unsigned>(pool_size[type], kPoolSpan);
    const int first = kPoolBase + static_cast<int>(type) * kPoolSpan;
    for (int timeslot = first; timeslot < first + static_cast<int>(size); ++timeslot) {
        const bool held = std::any_of(opens_.begin(), opens_.end(), [&](const auto& open) {
            return open.second.timeslot == timeslot;
        });
        if (!held) return timeslot;
    }
    return -1;
}

unsigned MccModel::free_channels(uint32_t type) {
    Board::instance().drop_closed();
    const unsigned size = std::min<unsigned>(pool_size[type], kPoolSpan);
    const auto held = std::count_if(opens_.begin(), opens_.end(), [&](const auto& open) {
        return open.second.timeslot >= 0 && open.second.record.type == type;
    });
    return size > static_cast<unsigned>(held) ? size - static_cast<unsigned>(held) : 0;
}

int MccModel::Resources(mcc::mcc_resources& record) {
    record.data = free_channels(mcc::kData);
    record.bri = free_channels(mcc::kBri);
    record.transparent = free_channels(mcc::kTransparent);
    record.other = free_channels(mcc::kSs7);
    return 0;
}

ssize_t MccModel::write(Channel& channel, const void* data, size_t length) {
    if ((channel.flags() & O_ACCMODE) == O_RDONLY) return refuse(EBADF);
    Allocation* allocation = find(channel);
    if (!allocation) return refuse(EBADF);
    const int timeslot = allocation->timeslot;
    if (timeslot < 0 || length == 0) return refuse(EINVAL);
    if (stalled_.count(timeslot) || !line_takes(channel, *allocation)) return refuse(EAGAIN);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (journaled) sent.push_back(Packet{timeslot, std::vector<uint8_t>(bytes, bytes + length)});
    deliver(timeslot, data, length);
    line_add(channel, *allocation, length);
    return static_cast<ssize_t>(length);
}

bool MccModel::line_takes(Channel& channel, Allocation& allocation) {
    const auto& clock = Board::instance().clock;
    if (!clock || allocation.line.takes(clock())) return true;
    channel.lower_output();
    return false;
}

// A packet that fills the queue takes POLLOUT away at once, as the driver's
// poll tells.
void MccModel::line_add(Channel& channel, Allocation& allocation, size_t length) {
    const auto& clock = Board::instance().clock;
    if (!clock) return;
    const uint64_t now = clock();
    allocation.line.add(length, now);
    if (!allocation.line.takes(now)) channel.lower_output();
}

uint64_t MccModel::pace(uint64_t nowUs) {
    uint64_t next = kNoWait;
    for (auto& [channel, allocation] : opens_) {
        if (!channel->output_lowered()) continue;
        const uint64_t wait = allocation.line.wait(nowUs);
        if (wait == 0)
            channel->raise_output();
        else
            next = std::min(next, wait);
    }
    return next;
}

int MccModel::line_packet(int source, const std::vector<uint8_t>& packet) {
    return deliver(source, packet.data(), packet.size());
}

int MccModel::deliver(int source, const void* data, size_t length) {
    Board::instance().drop_closed();
    TdmFabric* fabric = TdmFabric::of_board();
    return fabric ? fabric->send(source, data, length) : 0;
}

void MccModel::stall(int timeslot, bool stalled) {
    if (stalled)
        stalled_.insert(timeslot);
    else
        stalled_.erase(timeslot);
}

// An empty datagram: the read that takes it gives 0.
void MccModel::end_data(int timeslot) {
    Board::instance().drop_closed();
    const uint8_t nothing = 0;
    for (const auto& [channel, allocation] : opens_)
        if (allocation.timeslot == timeslot && ended_.insert(timeslot).second) {
            if (TdmFabric* fabric = TdmFabric::of_board()) fabric->detach(*channel);
            channel->deliver(&nothing, 0);
        }
}

size_t MccModel::opens() {
    Board::instance().drop_closed();
    return opens_.size();
}

std::vector<MccModel::Allocation> MccModel::allocations() {
    Board::instance().drop_closed();
    std::vector<Allocation> out;
    for (const auto& open : opens_)
        if (open.second.timeslot >= 0) out.push_back(open.second);
    return out;
}

}  // namespace board::sim
