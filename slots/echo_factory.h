#pragma once
// Echo slots: one channel of an echo-canceller bus (32 channels per bus).
// The factory makes them only on buses it has found available; its scan
// finds none on this board, so every creation is declined and the
// controller hears an empty list of echo buses.

#include <array>

#include "slots/slot.h"
#include "slots/slot_factory.h"

class EchoSlot : public Slot {
public:
    explicit EchoSlot(unsigned channel) : channel_(channel) {}

    // Reports the output stream, then the input stream.
    void IAfterCreate() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return static_cast<int>(channel_); }
    int IGetReceiveChannel() override { return static_cast<int>(channel_); }
    const char* GetName() const override { return "echo"; }

private:
    unsigned channel_;
};

class EchoFactory : public SlotFactory {
public:
    static constexpr unsigned kBuses = 16;

    static EchoFactory& instance() {
        static EchoFactory factory;
        return factory;
    }

    const char* GetName() const override { return "Echo"; }
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    // Lists the available buses in `echoBus`.
    void Query(LGCP::Resources& resources) override;

private:
    EchoFactory() { Scan(); }
    void Scan();

    std::array<bool, kBuses> available_{};
};
