#include "slots/map_factory.h"

#include <iostream>

#include "slots/slots.h"

namespace hal = board::hal;

namespace {

bool InRange(const LGCP::SharedChannel* channel) {
    return !channel || (channel->get_bus().getValue() < unsigned(hal::kBuses) &&
                        channel->get_channel().getValue() < unsigned(hal::kBusWidth));
}

}  // namespace

int GetMapTimeSlot(const LGCP::SharedChannel& channel) {
    return hal::kBusBase + static_cast<int>(channel.get_bus().getValue() * hal::kBusWidth +
                                            channel.get_channel().getValue());
}

// ---- MapSlot

MapFactory* MapSlot::owner() const {
    return dynamic_cast<MapFactory*>(factory());
}

void MapSlot::IAfterCreate() {
    if (receive_ >= 0) OnChangeInputStream(true);
    if (transmit_ >= 0) OnChangeOutputStream(true);
}

bool MapSlot::IBeforeDestroy() {
    if (MapFactory* factory = owner()) factory->ReleaseMapSlot(this);
    return true;
}

void MapSlot::IForcedRelease() {
    if (MapFactory* factory = owner()) factory->Forget(this);
}

// ---- MapFactory

// The decoder leaves the upper bounds of bus and channel to us.
Slot* MapFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::MapParams* p = params.get_map();
    if (!p) return nullptr;
    const LGCP::SharedChannel* transmitter = p->get_transmitter();
    const LGCP::SharedChannel* receiver = p->get_receiver();
    if (!InRange(transmitter) || !InRange(receiver))
        return invalidParams("shared channel beyond bus 15 or channel 127");
    auto* slot = new MapSlot(transmitter ? GetMapTimeSlot(*transmitter) : -1,
                             receiver ? GetMapTimeSlot(*receiver) : -1);
    AllocateMapSlot(slot);
    return slot;
}

void MapFactory::AllocateMapSlot(MapSlot* slot) {
    if (slot->IGetReceiveChannel() >= 0) Claim(slot->IGetReceiveChannel(), slot);
    if (slot->IGetTransmitChannel() >= 0) Claim(slot->IGetTransmitChannel(), slot);
}

// A slot that names one channel for both directions owns its entry once.
void MapFactory::Claim(int channel, MapSlot* slot) {
    if (MapSlot* old = entry(channel); old && old != slot) {
        std::cerr << "map-slot: two slots require the same ipc-slot, remove old." << std::endl
                  << "new slot " << *slot << " <-> old slot " << *old << std::endl;
        Slots::instance()->Destroy(old);  // its release clears the entry
    }
    entry(channel) = slot;
}

// The entries are checked before any is cleared: a slot that names one
// channel for both directions passes both checks.
void MapFactory::ReleaseMapSlot(MapSlot* slot) {
    const int receive = slot->IGetReceiveChannel();
    const int transmit = slot->IGetTransmitChannel();
    if (receive >= 0) {
        std::clog << "map: disable map channel " << receive - hal::kBusBase << std::endl;
        MuxSwitchOff(*slot, receive);
        if (entry(receive) != slot)
            std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 1"
                      << std::endl;
    }
    if (transmit >= 0 && entry(transmit) != slot)
        std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 2" << std::endl;
    Forget(slot);
}

// Only the slot's own entries: another slot's stay as they are.
void MapFactory::Forget(MapSlot* slot) {
    for (int channel : {slot->IGetReceiveChannel(), slot->IGetTransmitChannel()})
        if (channel >= 0 && entry(channel) == slot) entry(channel) = nullptr;
}

MapSlot* MapFactory::owner(int channel) const {
    const unsigned index = static_cast<unsigned>(channel - hal::kBusBase);
    return index < table_.size() ? table_[index] : nullptr;
}
