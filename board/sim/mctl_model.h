#pragma once
// The simulated DSP modem control device: a pool of modems, each on a TDM
// channel of its own. An open allocates a free modem and holds it until the
// open is closed; per modem it keeps the digital data mode mask, the
// parameters set since the last reset and the last call request (answer,
// originate, fax originate). The board's journal cannot size the raw
// requests, so the model keeps its own log of each request and its words
// while the device is journaled.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "board/drivers/mctl.h"
#include "board/sim/sim_board.h"

namespace board::sim {

class MctlModel : public Model {
public:
    static constexpr int kDefaultModems = 4;
    // Modem n transmits and receives on channel kFirstChannel + n.
    static constexpr int32_t kFirstChannel = 256;

    struct Modem {
        int32_t channel = -1;
        const Channel* holder = nullptr;  // the open that allocated it
        std::optional<int32_t> ddm;       // the last mode mask
        std::map<int32_t, int32_t> params;  // index -> value since the last reset
        unsigned resets = 0;
        uint32_t call = 0;  // the last of kAnswer, kOriginate, kOriginateFax
    };
    struct Request {
        uint32_t request;
        std::vector<int32_t> words;  // the value, or the array
    };

    MctlModel() { reset(); }

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    int ioctl_value(Channel& channel, uint32_t request, unsigned long value) override;
    void close(Channel& channel) override;
    void reset() override;

    // A pool of `count` fresh modems.
    void set_pool(int count);
    const Modem& modem(int number) const { return modems_.at(size_t(number)); }
    int pool() const { return int(modems_.size()); }
    // Modems held by opens still open.
    int held();
    // Requests of `request` in the log.
    std::vector<Request> requests(uint32_t request) const;

    std::vector<Request> log;
    bool absent = false;  // open fails with ENOENT
    // Enumeration never ends, as a broken driver's would.
    bool endless = false;

private:
    // The modem `number` when `channel` holds it, else null (errno EINVAL).
    Modem* held_by(const Channel& channel, int32_t number);
    int Allocate(const Channel& channel);
    int ArrayRequest(Modem& modem, uint32_t request, const int32_t* words);

    std::vector<Modem> modems_;
};

}  // namespace board::sim
