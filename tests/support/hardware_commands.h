#pragma once
// Builders of the controller's hardware commands and readers of the signals
// they bring, for the hardware suites and the end-to-end tests.

#include <cstdlib>
#include <optional>
#include <ostream>
#include <vector>

#include "messages/lgcp.h"

namespace test {

inline LGCP::IoctlParams cas_command(int trunk, int timeslot,
                                     LGCP::CasCommandSignal::Alternative cmd, int value = 0) {
    LGCP::IoctlParams params;
    LGCP::CasCommand& command = params.select_cas();
    command.get_channel().set_path(trunk);
    command.get_channel().set_timeslot(timeslot);
    LGCP::CasCommandSignal& signal = command.get_cmd();
    switch (cmd) {
        case LGCP::CasCommandSignal::Alternative::open: signal.set_open(value); break;
        case LGCP::CasCommandSignal::Alternative::close: signal.select_close(); break;
        case LGCP::CasCommandSignal::Alternative::set: signal.set_set(value); break;
        case LGCP::CasCommandSignal::Alternative::get: signal.select_get(); break;
    }
    return params;
}

inline LGCP::IoctlParams cas_open(int trunk, int timeslot, int value) {
    return cas_command(trunk, timeslot, LGCP::CasCommandSignal::Alternative::open, value);
}
inline LGCP::IoctlParams cas_close(int trunk, int timeslot) {
    return cas_command(trunk, timeslot, LGCP::CasCommandSignal::Alternative::close);
}
inline LGCP::IoctlParams cas_set(int trunk, int timeslot, int value) {
    return cas_command(trunk, timeslot, LGCP::CasCommandSignal::Alternative::set, value);
}
inline LGCP::IoctlParams cas_get(int trunk, int timeslot) {
    return cas_command(trunk, timeslot, LGCP::CasCommandSignal::Alternative::get);
}

inline LGCP::Command ioctl(const LGCP::IoctlParams& params) {
    LGCP::Command command;
    command.set_ioctl(params);
    return command;
}

inline LGCP::ClockCfg clock_cfg(LGCP::ClkSel0::NamedNumber clkSel0,
                                LGCP::BExtEn::NamedNumber bextEn, int source) {
    LGCP::ClockCfg cfg;
    cfg.set_clkSel0(clkSel0);
    cfg.set_bextEn(bextEn);
    cfg.set_source(source);
    return cfg;
}

inline LGCP::TrunkCfg trunk_cfg(int trunk, LGCP::TrunkMode::NamedNumber mode) {
    LGCP::TrunkCfg cfg;
    cfg.set_trunk(trunk);
    cfg.set_mode(mode);
    return cfg;
}

inline LGCP::Command bus_test(unsigned bus, unsigned start, unsigned length, int seed,
                              LGCP::BpcTestMode::Alternative mode) {
    LGCP::Command command;
    LGCP::BpcTestParams& params = command.select_testBpc();
    params.set_bus(bus);
    params.set_timeslot_start(start);
    params.set_timeslot_length(length);
    params.set_seed(seed);
    params.get_mode().setSelection(static_cast<int>(mode), nullptr);
    params.get_mode().createSelection();
    return command;
}

// The bytes that every party with this seed puts on a bus test's channels.
inline std::vector<uint8_t> bus_sequence(int seed, unsigned count) {
    srandom(static_cast<unsigned>(seed));
    std::vector<uint8_t> bytes;
    for (unsigned i = 0; i < count; ++i) bytes.push_back(random() & 0xFF);
    return bytes;
}

// A `cas` signal as (trunk, timeslot, rx, tx).
struct Cas {
    int trunk, timeslot, rx, tx;
    bool operator==(const Cas& o) const {
        return trunk == o.trunk && timeslot == o.timeslot && rx == o.rx && tx == o.tx;
    }
};

inline std::ostream& operator<<(std::ostream& os, const Cas& c) {
    return os << "(" << c.trunk << ", " << c.timeslot << ", " << c.rx << ", " << c.tx << ")";
}

inline std::optional<Cas> cas_of(const LGCP::Signal& signal) {
    const LGCP::CasSignalling* c = signal.get_cas();
    if (c == nullptr) return std::nullopt;
    return Cas{c->get_channel().get_path().getValue(), c->get_channel().get_timeslot().getValue(),
               c->get_rx().getValue(), c->get_tx().getValue()};
}

}  // namespace test
