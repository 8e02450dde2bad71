#pragma once
// The controller's create commands of the mixer and voice slots, for the
// slot suites and the black-box tests.

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "messages/lgcp.h"

namespace test {

// A mixer channel: TDM (number >= 0 as given) or, with `rtp`, an RTP one.
struct MixChannel {
    int number;
    bool rtp = false;
};

inline void fill(LGCP::MixerChannel& out, MixChannel channel) {
    if (channel.rtp)
        out.set_rtp(channel.number);
    else
        out.set_tdm(channel.number);
}

// With `echoCancel`, the input asks for its echo canceller.
inline LGCP::Command create_mixer_in(int unit, MixChannel channel,
                                     std::optional<MixChannel> summator = {},
                                     bool echoCancel = false) {
    LGCP::Command command;
    LGCP::MixerInParams& params = command.select_create().select_mixerIn();
    params.set_unit(unit);
    fill(params.get_channel(), channel);
    if (summator) fill(params.include_summator(), *summator);
    if (echoCancel) params.include_ecm().set_ec(true);
    return command;
}

// Inputs as {channel, gain}.
inline LGCP::Command create_mixer_out(int unit, MixChannel channel,
                                      std::initializer_list<std::pair<MixChannel, int>> inputs = {}) {
    LGCP::Command command;
    LGCP::MixerOutParams& params = command.select_create().select_mixerOut();
    params.set_unit(unit);
    fill(params.get_channel(), channel);
    for (const auto& [input, gain] : inputs) {
        LGCP::MixerInput& entry = params.get_inputs().append();
        fill(entry.get_channel(), input);
        entry.set_gain(gain);
    }
    return command;
}

inline void fill(TERM::HostAddress& host, unsigned short port, const std::string& address) {
    host.set_iaddr(address);
    host.set_port(port);
}

inline LGCP::Command create_recorder(unsigned short port,
                                     const std::string& address = "127.0.0.1") {
    LGCP::Command command;
    fill(command.select_create().select_voice().select_record(), port, address);
    return command;
}

inline LGCP::Command create_network_player(unsigned short port, int id,
                                           const std::string& address = "127.0.0.1") {
    LGCP::Command command;
    LGCP::PlayerParams_network& params =
        command.select_create().select_voice().select_player().select_network();
    fill(params.get_host(), port, address);
    params.set_id(id);
    return command;
}

inline LGCP::Command create_file_player(std::initializer_list<const char*> names, int repeat) {
    LGCP::Command command;
    LGCP::PlayerParams_file& params =
        command.select_create().select_voice().select_player().select_file();
    for (const char* name : names) params.get_name().append() = name;
    params.set_repeat(repeat);
    return command;
}

}  // namespace test
