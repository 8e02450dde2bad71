#pragma once
// Builders of the controller's slot commands: creation of the trunk, map,
// pass-through, echo and MCC slots, connect, userData and activate; for the
// slot suites, the end-to-end tests and the fuzz targets.

#include <optional>
#include <vector>

#include "messages/lgcp.h"

namespace test {

inline LGCP::Command create_trunk(unsigned trunk, unsigned timeslot) {
    LGCP::Command command;
    LGCP::TrunkParams& params = command.select_create().select_trunk();
    params.set_trunk(trunk);
    params.set_timeslot(timeslot);
    return command;
}

inline LGCP::Command create_trunk_bri(unsigned trunk, unsigned channel) {
    LGCP::Command command;
    LGCP::TrunkParams& params = command.select_create().select_trunk_bri();
    params.set_trunk(trunk);
    params.set_timeslot(channel);
    return command;
}

struct BusChannel {
    unsigned bus;
    unsigned channel;
};

inline LGCP::Command create_map(std::optional<BusChannel> transmitter,
                                std::optional<BusChannel> receiver) {
    LGCP::Command command;
    LGCP::MapParams& params = command.select_create().select_map();
    auto shared = [](BusChannel c) {
        LGCP::SharedChannel channel;
        channel.set_bus(c.bus);
        channel.set_channel(c.channel);
        return channel;
    };
    if (transmitter) params.set_transmitter(shared(*transmitter));
    if (receiver) params.set_receiver(shared(*receiver));
    return command;
}

inline LGCP::Command create_ext(int transmitter, int receiver) {
    LGCP::Command command;
    LGCP::ExtParams& params = command.select_create().select_ext();
    params.set_transmitter(transmitter);
    params.set_receiver(receiver);
    return command;
}

inline LGCP::Command create_echo(int bus, int channel) {
    LGCP::Command command;
    LGCP::EchoParams& params = command.select_create().select_echo();
    params.set_bus(bus);
    params.set_channel(channel);
    return command;
}

inline LGCP::Command create_mcc(LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode) {
    LGCP::Command command;
    LGCP::MccParams& params = command.select_create().select_mcc();
    params.set_type(type);
    params.set_mode(mode);
    return command;
}

inline LGCP::Command connect_command(unsigned target) {
    LGCP::Command command;
    command.set_connect(target);
    return command;
}

inline LGCP::Command user_data(const std::vector<char>& bytes) {
    LGCP::Command command;
    command.set_userData(bytes);
    return command;
}

inline LGCP::Command activate() {
    LGCP::Command command;
    command.select_activate().select_empty();
    return command;
}

}  // namespace test
