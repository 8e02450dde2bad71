#pragma once
// The owner of a link under test: a protocol family holding the link that
// records what the link reports upwards.

#include <functional>
#include <string>
#include <vector>

#include "link/protocol.h"

namespace test {

class LinkOwner : public ProtocolsFamily {
public:
    // Takes the link into the family (and so owns it).
    explicit LinkOwner(Protocol* link) { add_protocol_tail(link); }

    void on_activated(Protocol*) override { ++activations; }
    void on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status> status) override {
        deactivations.push_back(status->message());
    }
    void on_status(Smart_pointer<Internal_protocol_status> status) override {
        statuses.push_back(status->message());
    }
    void on_message(Packet& p) override {
        const unsigned char* data = p.data();
        messages.emplace_back(data, data + p.length());
        if (on_data) on_data(p);
    }

    unsigned activations = 0;
    std::vector<std::string> deactivations;
    std::vector<std::string> statuses;
    std::vector<std::string> messages;  // the octets of each message
    // Runs after each message is recorded.
    std::function<void(Packet&)> on_data;
};

// One message from above into `link` (a link, or a family as its owner
// holds it), made as the layer above makes them.
inline void send_down(Protocol& link, const std::string& octets) {
    Packet p;
    link.prepare_head(p);
    p.put(octets.data(), static_cast<unsigned>(octets.size()));
    link.message(p);
}

}  // namespace test
