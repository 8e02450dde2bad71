#pragma once
// The factory of the conference mixer inputs and outputs. It learns the
// board's mixer units at each resources query (so mixer creates are
// declined until the first one), keeps them in the driver's order and
// reports the smallest channel and mixer input counts over them.

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "board/drivers/mixer.h"
#include "board/drivers/voice.h"
#include "slots/slot_factory.h"

namespace Mixer {

class Mixer;

class MixerFactory : public SlotFactory {
public:
    // Units beyond these are not known.
    static constexpr size_t kMaxMixers = 100;

    static MixerFactory& instance() {
        static MixerFactory factory;
        return factory;
    }

    const char* GetName() const override { return "Mixer"; }
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    // Learns the units anew (RefreshResources).
    void IQuery() override { RefreshResources(); }
    // Reports one entry per known unit.
    void Query(LGCP::Resources& resources) override;

    // The known mixer of the unit; null when there is none (or it went).
    Mixer* findMixer(int unit) const;
    // Walks the driver's units: new ones are cleared, those gone are dropped
    // (their slots hear `abort`). A walk that could not open the device, or
    // whose request for the next unit the driver refused, learns nothing:
    // the units stay as they were until the next one. Then reads the voice
    // driver's version.
    void RefreshResources();
    void QueryDriverVersion();

    // The smallest counts over the units; -1 before any unit was seen.
    int tdmChannels() const { return tdmChannels_; }
    int mixerInputs() const { return mixerInputs_; }
    const std::vector<Mixer*>& mixers() const { return mixers_; }
    bool driverVersionValid() const { return driverVersionValid_; }

    // For the mixers: declines a create whose value no mixer takes.
    Slot* Invalid(const char* reason) { return invalidParams(reason); }
    // "mixer: "
    void PutHeader(std::ostream& os) const;

    // As at start-up: no unit known (mixers whose slots live on go with
    // their last slot).
    void reset_for_test();

private:
    MixerFactory() = default;
    ~MixerFactory() override;
    void Forget();
    // The driver's units in its order, at most kMaxMixers; false when the
    // walk ended short of the driver's end of the list: the device did not
    // open on the way (`opened` false; a descriptor shortage, say) or a
    // request was refused.
    static bool WalkUnits(std::vector<board::mixer::mix_enum_record>& units, bool& opened);
    // The units of a whole walk are the known ones.
    void Learn(const std::vector<board::mixer::mix_enum_record>& units);

    bool driverVersionValid_ = false;
    board::voice::voice_version driverVersion_{};
    int mixerInputs_ = -1;
    int tdmChannels_ = -1;
    std::vector<Mixer*> mixers_;
};

}  // namespace Mixer
