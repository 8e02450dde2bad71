#pragma once
// Probes for layer tests: what a layer hands down, and the owner above that
// takes what comes up and how the stack went down.

#include <string>
#include <vector>

#include "link/protocol.h"

namespace test {

// The bottom of a test stack: keeps what is sent down, as text.
class WireProbe : public Protocol {
public:
    void message(Packet& p) override { sent.push_back(p.text()); }
    std::vector<std::string> sent;
};

// The owner of a test stack: keeps the frames that come up and the texts of
// the statuses it is deactivated with.
class OwnerProbe : public ProtocolsFamily {
public:
    void on_message(Packet& p) override { frames.push_back(p.text()); }
    void on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status> status) override {
        statuses.push_back(status->message());
    }
    std::vector<std::string> frames;
    std::vector<std::string> statuses;
};

}  // namespace test
