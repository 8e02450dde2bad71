#pragma once
// Trunk slots: one timeslot of an E1 trunk (channel trunk * 32 + timeslot)
// or one channel of a BRI line (channel trunk * 4 + channel). A trunk slot
// only names its TDM channel, for both directions, so that Connect can
// switch any slot's output into the trunk or the trunk into any slot. One
// factory per trunk owns its timeslots: a newer creation for a timeslot
// destroys the slot that holds it, without telling the controller.
//
// BRI channels 0 to 31 are the numbers of E1 trunk 0's timeslots; the
// factories do not check one against the other.

#include <array>

#include "slots/slot.h"
#include "slots/slot_factory.h"

class TrunkSlot : public Slot {
public:
    explicit TrunkSlot(int channel) : channel_(channel) {}

    int GetTrunk() override { return channel_ >> 5; }
    int GetTrunkTimeSlot() override { return GetTimeSlot(); }
    // Reports both streams with the channel, output first.
    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    void IForcedRelease() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    const char* GetName() const override { return "trunk"; }
    virtual int GetTimeSlot() { return channel_ & 31; }

protected:
    int channel_;

private:
    void LeaveTable();
};

class TrunkBRISlot : public TrunkSlot {
public:
    using TrunkSlot::TrunkSlot;

    int GetTrunk() override { return channel_ >> 2; }
    const char* GetName() const override { return "trunkBRI"; }
    int GetTimeSlot() override { return channel_ & 3; }
};

class TrunkFactory : public SlotFactory {
public:
    // E1 trunk `trunk`: 32 timeslots from channel trunk * 32. Not explicit,
    // so that a list of trunk numbers makes a list of factories.
    TrunkFactory(unsigned trunk) : TrunkFactory(trunk, trunk * 32, 32) {}

    const char* GetName() const override { return "Trunks"; }
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    void Query(LGCP::Resources&) override {}
    // The slot leaves its timeslot.
    virtual void ReleaseTrunkSlot(TrunkSlot* slot);

    unsigned trunk() const { return trunk_; }
    // The slot holding a timeslot, null when none.
    TrunkSlot* at(unsigned timeslot) const {
        return timeslot < timeslots_ ? table_[timeslot] : nullptr;
    }
    unsigned timeslots() const { return timeslots_; }

protected:
    TrunkFactory(unsigned trunk, unsigned baseChannel, unsigned timeslots);
    // The parameters of this factory's creation alternative, null for another.
    virtual const LGCP::TrunkParams* ParamsOf(const LGCP::CreateParams& params) const;
    virtual TrunkSlot* MakeSlot(int channel) const { return new TrunkSlot(channel); }

private:
    static constexpr unsigned kMaxTimeslots = 32;

    std::array<TrunkSlot*, kMaxTimeslots> table_{};
    unsigned trunk_;
    unsigned baseChannel_;
    unsigned timeslots_;
};

class TrunkBRIFactory : public TrunkFactory {
public:
    // BRI line `trunk`: 4 channels from channel trunk * 4.
    TrunkBRIFactory(unsigned trunk) : TrunkFactory(trunk, trunk * 4, 4) {}

    const char* GetName() const override { return "TrunksBRI"; }

protected:
    const LGCP::TrunkParams* ParamsOf(const LGCP::CreateParams& params) const override {
        return params.get_trunk_bri();
    }
    TrunkSlot* MakeSlot(int channel) const override { return new TrunkBRISlot(channel); }
};

// The twelve trunk factories, made together on first use in the order E1
// trunks 0 to 3, then BRI trunks 0 to 7, so that the chain walks them last,
// BRI 7 down to E1 0. They are made through this accessor rather than as
// objects of their own, which the linker would drop from a library.
class TrunkFactories {
public:
    static constexpr unsigned kE1Trunks = 4;
    static constexpr unsigned kBriTrunks = 8;

    static TrunkFactories& instance();

    TrunkFactory& e1(unsigned trunk) { return trunk_[trunk]; }
    TrunkBRIFactory& bri(unsigned trunk) { return trunk_bri_[trunk]; }

private:
    TrunkFactories() = default;

    TrunkFactory trunk_[kE1Trunks] = {0, 1, 2, 3};
    TrunkBRIFactory trunk_bri_[kBriTrunks] = {0, 1, 2, 3, 4, 5, 6, 7};
};
