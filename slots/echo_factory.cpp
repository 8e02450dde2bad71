#include "slots/echo_factory.h"

#include <iostream>

namespace {
constexpr unsigned kBusWidth = 32;
}  // namespace

void EchoSlot::IAfterCreate() {
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

// No echo canceller answers on this board: every bus stays unavailable.
void EchoFactory::Scan() {
    available_.fill(false);
    std::clog << "Scanning echo channels ..." << std::endl;
}

Slot* EchoFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::EchoParams* p = params.get_echo();
    if (!p) return nullptr;
    const unsigned bus = static_cast<unsigned>(p->get_bus().getValue());
    if (bus >= kBuses || !available_[bus]) return nullptr;
    return new EchoSlot(bus * kBusWidth + static_cast<unsigned>(p->get_channel().getValue()));
}

void EchoFactory::Query(LGCP::Resources& resources) {
    for (unsigned bus = 0; bus < kBuses; ++bus)
        if (available_[bus]) resources.get_echoBus().append().setValue(bus);
}
