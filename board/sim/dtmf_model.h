#pragma once
// The simulated tone codec: per timeslot what the driver was told (detector
// configuration and enabling, echo canceller, DTMF rejection, IVA, the tone
// generator's current setting, the last SELCAL dial). A detection is
// delivered as one event record under the timeslot's current enable id, and
// only while the detector of its code (DTMF or IVA) is on.

#include <array>
#include <cstdint>
#include <map>

#include "board/drivers/dtmf.h"
#include "board/sim/sim_board.h"

namespace board::sim {

class DtmfModel : public Model {
public:
    struct Timeslot {
        dtmf::dtmf_config config{};
        bool configured = false;
        bool enabled = false;  // the DTMF detector
        uint32_t id = 0;       // of the last enabling
        bool echoCancel = false;
        bool rejection = false;
        bool iva = false;
        bool ivaConfigured = false;
        int32_t ivaLevel = 0;
        dtmf::tone_gen generator{};  // all zero: off
        dtmf::selcal_dial selcal{};
        bool selcalDialled = false;
    };

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    int ioctl_value(Channel& channel, uint32_t request, unsigned long value) override;
    void reset() override;

    // What the driver knows of `ts` (a fresh record when it was never named).
    const Timeslot& timeslot(uint32_t ts) const;
    // Every timeslot the driver was told of.
    const std::map<uint32_t, Timeslot>& timeslots() const { return timeslots_; }
    // The generator of `ts` as {freq1, freq2, amp1, amp2}.
    using Tone = std::array<uint16_t, 4>;
    Tone tone(uint32_t ts) const;

    // The detector of `code` on `ts` heard something: one event to every
    // open, when that detector is on. Returns whether a record went out.
    bool detect(uint32_t ts, uint32_t code, uint32_t timestamp);
    // Any record, as given (another id, an unknown timeslot, a short one).
    int deliver_raw(const void* record, size_t length);

    bool absent = false;  // open fails with ENOENT

private:
    Timeslot& slot(uint32_t ts) { return timeslots_[ts]; }
    std::map<uint32_t, Timeslot> timeslots_;
};

}  // namespace board::sim
