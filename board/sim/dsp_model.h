#pragma once
// The simulated voice-processing DSP: a settable driver version, and per
// timeslot the functions switched on with the id of each enabling, the
// running tone filters and the last configure record of each function code.
// The hooks deliver a function's event record under that function's current
// id while it is on, a tone filter's while its frequency is filtered.

#include <cstdint>
#include <map>

#include "board/drivers/dsp.h"
#include "board/sim/sim_board.h"

namespace board::sim {

class DspModel : public Model {
public:
    struct Timeslot {
        std::map<uint32_t, uint32_t> enabled;  // function bit -> enable id (0: tone filter)
        std::map<uint32_t, dsp::dsproc_configure> configured;  // by function code
        // The running tone filters by frequency. A configure enables one; a
        // configure that disables any, or a disable of their bit, ends all.
        std::map<uint32_t, dsp::tone_filter_params> filters;

        bool on(uint32_t function) const { return enabled.count(function) != 0; }
        // The id of the function's enabling, 0 when it is off.
        uint32_t id(uint32_t function) const;
        // The last configure record for `function`, or null.
        const dsp::dsproc_configure* configure(uint32_t function) const;
        void endToneFilters();
    };

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    int ioctl_value(Channel& channel, uint32_t request, unsigned long value) override;
    void reset() override;

    const Timeslot& timeslot(uint32_t ts) const;
    // Every timeslot the driver was told of.
    const std::map<uint32_t, Timeslot>& timeslots() const { return timeslots_; }

    // Events of the functions that are on; each returns whether it went out.
    bool vad(uint32_t ts, uint32_t directions, uint32_t rx, uint32_t tx);
    bool sd(uint32_t ts, uint32_t rx);
    bool bss(uint32_t ts, float score);
    bool tone_filter(uint32_t ts, uint32_t frequency, uint32_t presence);
    bool flags(uint32_t ts, uint32_t flags, uint32_t mask);
    // Any record, as given (another id, an unknown timeslot, a short one).
    int deliver_raw(const void* record, size_t length);

    int version = 2;      // the answer of the version request
    bool absent = false;  // open fails with ENOENT

private:
    bool deliver(uint32_t ts, uint32_t type, uint32_t id, const void* payload);
    std::map<uint32_t, Timeslot> timeslots_;
};

}  // namespace board::sim
