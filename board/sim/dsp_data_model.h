#pragma once
// The simulated QSIG data device "/dev/dsp-data". Each open is one QSIG
// signalling channel with a TDM number of its own, attached to the switch's
// frames (board/sim/tdm_fabric.h): a write sends one frame on it, each frame
// that reaches it is one read. B channels 0 to 2 are added on an open with
// fresh TDM numbers and freed by their removal or the open's close.
//
//   auto& qsig = *board.model_as<DspDataModel>(board::dsp_data::kDevice);
//   qsig.opens().at(0).b[1]        // TDM number of B channel 1, -1 if none

#include <array>
#include <cstdint>
#include <vector>

#include "board/drivers/dsp_data.h"
#include "board/sim/sim_board.h"
#include "board/sim/tdm_fabric.h"

namespace board::sim {

class DspDataModel : public Model {
public:
    // TDM numbers are handed out from here up, lowest free first; the
    // mixers' timeslots follow.
    static constexpr int kFirstChannel = 6144;
    static constexpr int kLastChannel = 7167;
    // The largest frame a signalling channel receives.
    static constexpr size_t kLargestFrame = 512;

    struct Open {
        int signalling;
        std::array<int, dsp_data::kBChannels> b;  // -1: not added
    };

    DspDataModel() { reset(); }

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    int ioctl_value(Channel& channel, uint32_t request, unsigned long value) override;
    ssize_t write(Channel& channel, const void* data, size_t length) override;
    void close(Channel& channel) override;
    void reset() override;

    // Open fails with ENOENT while set.
    bool absent = false;

    // The opens now, oldest first.
    std::vector<Open> opens();

private:
    Open* find(Channel& channel);
    int AddBChannel(Open& open, dsp_data::b_channel& record);
    int RemoveBChannel(Open& open, int32_t index);
    int free_number() const;

    std::vector<std::pair<Channel*, Open>> opens_;
};

}  // namespace board::sim
