#pragma once
// The simulated voice codec driver "/dev/voice": the voice channels the
// board can run for each codec mask, from a table tests set. G.711 (mask 1)
// counts the free channels of the RTP engine unless the table names it.

#include <cstdint>
#include <map>

#include "board/drivers/voice.h"
#include "board/sim/sim_board.h"

namespace board::sim {

class VoiceModel : public Model {
public:
    VoiceModel() { reset(); }

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    void reset() override;

    // The answer to a mask's capacity request; a mask not listed has none.
    std::map<int32_t, int> capacity;
    voice::voice_version version{};
    bool absent = false;  // open fails with ENOENT

private:
    int Capacity(int32_t mask) const;
};

}  // namespace board::sim
