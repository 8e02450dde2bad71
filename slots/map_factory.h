#pragma once
// Map slots: a handle on one or two channels of the shared TDM buses (16
// buses of 128 channels, numbered from 8192): a transmit channel other
// slots can receive, a receive channel another slot can be switched into,
// or both. The factory keeps one owner per shared channel, transmit and
// receive alike: a newer slot that needs a channel destroys its older
// owner, without telling the controller.

#include <array>

#include "board/drivers/hal.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

class MapFactory;

class MapSlot : public Slot {
public:
    // -1: no such channel.
    MapSlot(int transmit, int receive) : transmit_(transmit), receive_(receive) {}

    // Reports the receive stream, then the transmit stream.
    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    void IForcedRelease() override;
    bool IOnOutputStream() override { return transmit_ >= 0; }
    bool IOnInputStream() override { return receive_ >= 0; }
    int IGetTransmitChannel() override { return transmit_; }
    int IGetReceiveChannel() override { return receive_; }
    const char* GetName() const override { return "map"; }

private:
    MapFactory* owner() const;

    int transmit_;
    int receive_;
};

// 8192 + bus * 128 + channel.
int GetMapTimeSlot(const LGCP::SharedChannel& channel);

class MapFactory : public SlotFactory {
public:
    static MapFactory& instance() {
        static MapFactory factory;
        return factory;
    }

    const char* GetName() const override { return "Map"; }
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    void Query(LGCP::Resources&) override {}

    // Makes the slot the owner of its channels, destroying older owners.
    void AllocateMapSlot(MapSlot* slot);
    // The slot gives up its channels; its receive channel is switched off.
    void ReleaseMapSlot(MapSlot* slot);
    // Clears the slot's entries and nothing else (a forced release).
    void Forget(MapSlot* slot);

    // The owner of a shared channel (8192 to 10239), null when none.
    MapSlot* owner(int channel) const;

private:
    MapFactory() = default;
    void Claim(int channel, MapSlot* slot);
    // The entry of a channel: its logical number, 0 to 2047.
    MapSlot*& entry(int channel) { return table_[channel - board::hal::kBusBase]; }

    std::array<MapSlot*, board::hal::kBusChannels> table_{};
};
