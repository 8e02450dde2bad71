#pragma once
// Conference mixers ("/dev/mixer"). A unit has numbered channels, each on a
// TDM timeslot; a channel used as a summing point hears the sum of the
// channels added to it. The controller builds conferences from two slot
// kinds: a mixer input (`TdmInput`, `mixerIn`) feeds its timeslot into a
// summing point, a mixer output (`TdmOutput`, `mixerOut`) is a summing
// point with the inputs and gains the controller lists. Both carry the tone
// and voice-processing receivers of their timeslot. `Mixer` keeps one
// unit's slots; a unit gone from the driver stays until its last slot goes.

#include <cstdint>
#include <iosfwd>
#include <list>
#include <map>
#include <set>
#include <utility>

#include "board/drivers/mixer.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "messages/lgcp.h"
#include "runtime/log_throttle.h"
#include "runtime/owed.h"
#include "slots/receiver_ioctl.h"
#include "slots/slot.h"

namespace Mixer {

class Mixer;

// One request on "/dev/mixer", opened and closed around it (errno kept):
// the request's result, -1 when the device does not open (then `opened`,
// when given, is false).
int mixer_ctl(uint32_t request, void* arg, bool* opened = nullptr);

// What the input and the output share: a channel of a unit on its
// timeslot, and the receivers of that timeslot. When the unit goes from the
// driver the slot lets go of its hardware (Slot::LetGoOfHardware) and is
// aborted.
class TdmChannel : public Slot,
                   protected Hardware::TonecReceiver,
                   protected Hardware::DSProcReceiver {
public:
    ~TdmChannel() override;

    // Switches the timeslot off, unless a slot of the channel still
    // receives on it, and leaves the mixer (which may go with it).
    bool IBeforeDestroy() override;
    void IForcedRelease() override;
    bool Ioctl(const LGCP::IoctlParams& params) override;
    // The unit went: when it comes back the timeslot is the next slot's,
    // so this one forgets it and its receivers let go of it.
    void IReleaseHardware() override;

    int channel() const { return channel_; }
    int timeslot() const { return timeslot_; }
    // A digit sequence being sent ends in silence.
    void StopDigits();

protected:
    TdmChannel(Mixer& mixer, int channel, int timeslot, const ReceiverIoctls& ioctls);
    // The mixer's release of this kind.
    virtual void Release(Mixer& mixer) = 0;

    Mixer& mixer_;
    const int channel_;
    int timeslot_;

private:
    unsigned tonec_timeslot() const override { return static_cast<unsigned>(timeslot_); }
    unsigned dsproc_timeslot() const override { return static_cast<unsigned>(timeslot_); }
    // What both kinds report; the input reports the rest as well.
    void dsproc_tone_flt_event(const board::dsp::dsproc_tone_event* event) override {
        processToneFltEvent(event);
    }
    void dsproc_flags_event(const board::dsp::dsproc_flags_event* event) override {
        processFlagsEvent(event);
    }
    void tonec_event(const Params&) override {}
    void dsproc_vad_event(const Hardware::DSProcVADEvent&) override {}
    void dsproc_bss_event(const board::dsp::dsproc_bss_event*) override {}
    void dsproc_sd_event(const Hardware::DSProcSDEvent&) override {}

    const ReceiverIoctls& ioctls_;
};

class TdmInput : public TdmChannel {
public:
    TdmInput(Mixer& mixer, int channel, int timeslot);

    bool IOnInputStream() override { return true; }
    int IGetReceiveChannel() override { return timeslot_; }
    const char* GetName() const override { return "mixer tdm input"; }

    // The summing point it was added to; -1 none.
    int summator() const { return summator_; }
    void SetSummator(int summator) { summator_ = summator; }
    using Hardware::TonecReceiver::echoCancel;

private:
    void Release(Mixer& mixer) override;
    void tonec_event(const Params& params) override { processTonecEvent(params); }
    void dsproc_vad_event(const Hardware::DSProcVADEvent& event) override {
        processVADEvent(event);
    }
    void dsproc_bss_event(const board::dsp::dsproc_bss_event* event) override {
        processBSSEvent(event);
    }
    void dsproc_sd_event(const Hardware::DSProcSDEvent& event) override { processSDEvent(event); }

    int summator_ = -1;
};

class TdmOutput : public TdmChannel {
public:
    TdmOutput(Mixer& mixer, int channel, int timeslot);

    bool IOnOutputStream() override { return true; }
    int IGetTransmitChannel() override { return timeslot_; }
    const char* GetName() const override { return "mixer tdm output"; }

private:
    void Release(Mixer& mixer) override;
    void tone_gen_complete() override { processToneGenEvent(); }
};

// One unit and the slots made on it, in creation order.
class Mixer {
public:
    explicit Mixer(int unit) : unit_(unit) {}
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // A new slot, or null (declined). A channel has one output at most.
    // These four first try again what the sums are owed.
    Slot* New(const LGCP::MixerInParams& params);
    Slot* New(const LGCP::MixerOutParams& params);
    // Each takes from the sums only what its slot put there and no slot
    // has replaced since.
    void Release(TdmInput& input);
    void Release(TdmOutput& output);

    // Clears the sum of every channel.
    void Reset();
    // The unit has gone: every slot hears `abort`; without slots the mixer
    // deletes itself. Touch nothing of it afterwards.
    void Clear();

    // {unit, TDM, number} of a `tdm` channel; false for `rtp`.
    bool Channel2Slot(const LGCP::MixerChannel& channel, board::mixer::mix_slot& slot) const;
    bool ClearTX(const LGCP::MixerChannel& channel);
    // The output's sum anew: its inputs, or the output itself without any.
    // A failed add undoes the sum again (DropSum).
    bool SetTX(const LGCP::MixerOutParams& params);
    // MIX_TDM: the channel's timeslot, -1 when the driver refused.
    int channel2timeslot(int channel);

    void Register(TdmChannel* slot);
    // May delete the mixer: touch nothing of it afterwards.
    void UnRegister(TdmChannel* slot);
    void CheckForDestroy();

    int unit() const { return unit_; }
    bool stale() const { return stale_; }
    void set_stale(bool stale) { stale_ = stale; }
    const std::list<TdmChannel*>& slots() const { return slots_; }
    // "mixer [<unit>]: "
    void PutHeader(std::ostream& os) const;

private:
    board::mixer::mix_slot slot_of(int channel) const {
        return board::mixer::mix_slot{unit_, board::mixer::kTdm, channel};
    }
    // An output of this mixer holds the channel's sum.
    bool HasOutput(int channel) const;
    // A `tdm` channel of the units' channel range, or -1.
    static int tdm_channel(const LGCP::MixerChannel& channel);
    // MIX_RX_ADD, the pair then `owner`'s; a failure is logged.
    bool AddToSum(const board::mixer::mix_slot& rx, const board::mixer::mix_slot& tx, int gain,
                  const TdmChannel* owner = nullptr);
    // MIX_RX_REMOVE; true once the driver's sum has no such pair.
    bool RemoveFromSum(int summator, int channel);
    // The pair is no slot's any more: removed, or owed its removal.
    void Drop(std::pair<int, int> pair);
    // The pair added or removed as `pairs_` wants it now; the sums of a
    // unit gone from the driver went with it.
    bool SettleSum(const std::pair<int, int>& pair);
    // Undoes the sum SetTX put for an output not made: cleared, or, when
    // the driver refuses the clear, its pairs removed one by one (owed
    // where refused).
    void DropSum(const LGCP::MixerChannel& output);

    int unit_;
    bool stale_ = false;
    std::list<TdmChannel*> slots_;
    // {summing point, channel added} -> the slot that wants the pair in the
    // driver's sums (null for a sum set for an output still being made).
    std::map<std::pair<int, int>, const TdmChannel*> pairs_;
    // The pairs the driver refused to add or remove: a removal is owed for
    // a pair no slot holds, or a channel given to the next call would be
    // heard in the old conference. A clear of the sum pays both.
    Owed<std::pair<int, int>> owed_{[this](const auto& pair) { return SettleSum(pair); }};
    LogThrottle addRefused_, removeRefused_;
};

}  // namespace Mixer
