#include "hardware/hw_tests.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "board/drivers/hal.h"
#include "hardware/hw_mux.h"
#include "runtime/ext_output.h"

namespace {

unsigned NextByte() { return static_cast<unsigned>(random()) & 0xFF; }

}  // namespace

HwTests& HwTests::instance() {
    static HwTests tests;
    return tests;
}

void HwTests::PutHeader(std::ostream& os) const { os << "bus " << bus_ << ": "; }

bool HwTests::OnCommand(const LGCP::Command& command) {
    const LGCP::BpcTestParams* params = command.get_testBpc();
    if (params == nullptr) return false;
    OnTestBpc(*params);
    return true;
}

void HwTests::OnTestBpc(const LGCP::BpcTestParams& params) {
    bus_ = params.get_bus().getValue();
    first_ = board::hal::kBusBase + bus_ * board::hal::kBusWidth + params.get_timeslot_start().getValue();
    end_ = first_ + params.get_timeslot_length().getValue();
    seed_ = static_cast<uint32_t>(params.get_seed().getValue());
    srandom(seed_);
    switch (params.get_mode().selection()) {
        case LGCP::BpcTestMode::Alternative::read: TestRead(); break;
        case LGCP::BpcTestMode::Alternative::write: TestWrite(); break;
        case LGCP::BpcTestMode::Alternative::disconnect: TestDisconnect(); break;
        default: Error(LGCP::ErrorCause::invalidParams); break;
    }
}

void HwTests::Verify(const char* failure, const char* wanted, const char* got) {
    HwMux& mux = HwMux::instance();
    for (uint32_t channel = first_; channel < end_; ++channel) {
        const unsigned char expected = static_cast<unsigned char>(NextByte());
        const int read = mux.Read(static_cast<int>(channel));
        if (read == expected) continue;
        const unsigned char byte = static_cast<unsigned char>(read);
        std::cerr << ext::header(this) << failure << (channel % board::hal::kBusWidth) << wanted
                  << ext::OutBufInHex(&expected, 1) << got;
        if (read < 0)
            std::cerr << "nothing (the read failed)" << std::endl;
        else
            std::cerr << ext::OutBufInHex(&byte, 1) << std::endl;
        return Error(LGCP::ErrorCause::busError);
    }
    Success();
}

void HwTests::TestRead() { Verify("test failed on channel ", " expected ", " read "); }

void HwTests::TestWrite() {
    HwMux& mux = HwMux::instance();
    for (uint32_t channel = first_; channel < end_; ++channel)
        mux.Write(static_cast<int>(channel), static_cast<unsigned char>(NextByte()));
    ::usleep(500);
    srandom(seed_);
    Verify("write failed on channel ", " write ", " written ");
}

// Every channel the switch takes is switched off, also past one it refused;
// the bus test failed when any channel may still carry what it drove there.
void HwTests::TestDisconnect() {
    HwMux& mux = HwMux::instance();
    bool disabled = true;
    for (uint32_t channel = first_; channel < end_; ++channel)
        disabled = mux.Disable(static_cast<int>(channel)) && disabled;
    ::usleep(250);
    if (disabled)
        Success();
    else
        Error(LGCP::ErrorCause::busError);
}
