#pragma once
// The simulated multi-channel controller "/dev/mcc/ctl", the board's TDM
// data fabric. Each open is one possible channel: an allocation keeps its
// record and takes a TDM channel from the pool of its type; closing the last
// descriptor of the open frees it. A packet written on a channel is sent on
// its timeslot: it is kept in `sent` and carried by the switch's frames
// (board/sim/tdm_fabric.h), to which each allocated channel is attached with
// its allocated packet size. A transparent channel carries a stream: it gets
// the bytes in packets of at most its size. While the board has a clock,
// a channel takes packets at its line's pace (board/sim/line_queue.h): a
// full queue takes POLLOUT away and refuses writes with EAGAIN.
//
//   auto& mcc = *board.model_as<MccModel>(board::mcc::kDevice);
//   mcc.pool_size[board::mcc::kData] = 1;   // one data channel left
//   mcc.line_packet(1, {0x01, 0x02});      // arrives on trunk channel 1

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "board/drivers/mcc.h"
#include "board/sim/line_queue.h"
#include "board/sim/sim_board.h"
#include "board/sim/tdm_fabric.h"

namespace board::sim {

class MccModel : public Model {
public:
    // The TDM channels of each type's pool: kPoolBase + type * kPoolSpan + i.
    static constexpr int kPoolBase = 4096;
    static constexpr int kPoolSpan = 256;

    struct Allocation {
        mcc::mcc_allocation record;
        int timeslot;
        LineQueue line{};
    };
    struct Packet {
        int timeslot;  // sent on
        std::vector<uint8_t> bytes;
    };

    MccModel() { reset(); }

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    int ioctl_value(Channel& channel, uint32_t request, unsigned long value) override;
    ssize_t write(Channel& channel, const void* data, size_t length) override;
    void close(Channel& channel) override;
    void reset() override;
    uint64_t pace(uint64_t nowUs) override;

    // Open fails with ENOENT while set.
    bool absent = false;
    // Channels each type's pool holds (data, BRI, transparent, SS7), at
    // most kPoolSpan each.
    std::array<unsigned, mcc::kTypes> pool_size;
    // Every packet written on an allocated channel, oldest first, while the
    // device is journaled.
    std::vector<Packet> sent;

    // A packet arriving on TDM channel `source` from outside the controller
    // (a trunk line): delivered like a written one. Returns how many
    // channels received it.
    int line_packet(int source, const std::vector<uint8_t>& packet);

    // While stalled, writes on the channel of `timeslot` fail with EAGAIN.
    void stall(int timeslot, bool stalled);
    // The data of the channel of `timeslot` ends: it receives nothing more,
    // and once it has read what it got, a read gives 0.
    void end_data(int timeslot);

    // The descriptors open now, and the allocations among them, oldest first.
    size_t opens();
    std::vector<Allocation> allocations();
    unsigned free_channels(uint32_t type);

private:
    // The open's allocation (timeslot -1 before it is allocated), or null.
    Allocation* find(Channel& channel);
    int Allocate(Channel& channel, const mcc::mcc_allocation& record);
    int Resources(mcc::mcc_resources& record);
    int deliver(int source, const void* data, size_t length);
    // The channel's line: whether it takes a packet now, and a packet put
    // on it. A full queue lowers the channel's output.
    static bool line_takes(Channel& channel, Allocation& allocation);
    static void line_add(Channel& channel, Allocation& allocation, size_t length);
    int take_channel(uint32_t type);

    // Per open, in opening order; an unallocated one has timeslot -1.
    std::vector<std::pair<Channel*, Allocation>> opens_;
    // Channels (by timeslot) whose writes stall, whose data has ended.
    std::set<int> stalled_;
    std::set<int> ended_;
};

}  // namespace board::sim
