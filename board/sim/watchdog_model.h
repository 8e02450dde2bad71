#pragma once
// The simulated hardware watchdog: takes "START", "PING" and "STOP" and keeps
// the words it was given while it is journaled; anything else fails with
// EINVAL.

#include <string>
#include <vector>

#include "board/sim/sim_board.h"

namespace board::sim {

class WatchdogModel : public Model {
public:
    ssize_t write(Channel& channel, const void* data, size_t length) override;
    void reset() override {
        words.clear();
        armed = false;
    }

    std::vector<std::string> words;
    bool armed = false;  // between "START" and "STOP"
};

}  // namespace board::sim
