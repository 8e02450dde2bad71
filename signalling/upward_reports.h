#pragma once
// What a link owes the layer above (received messages, activation,
// deactivation, statuses), kept while the link deals with the frame, message
// or timer that caused it and handed up when it is done: the layer above may
// destroy the link from any of these calls, and then nothing of the link is
// touched again.
//
//   reports_.message(payload);   // while handling a frame
//   ...
//   reports_.deliver();          // the last thing the entry point does

#include <vector>

#include "link/protocol.h"

class UpwardReports {
public:
    // Reports reach the layer above through `layer`'s on_message,
    // on_activate, on_deactivate and on_status.
    explicit UpwardReports(Protocol& layer) : layer_(layer) {}
    UpwardReports(const UpwardReports&) = delete;
    UpwardReports& operator=(const UpwardReports&) = delete;
    ~UpwardReports();

    void message(const Packet& p);
    void activated();
    void deactivated(Smart_pointer<Internal_protocol_status> status);
    void status(Smart_pointer<Internal_protocol_status> status);

    // Hands the reports up in order; reports made meanwhile join the end and
    // go up in the same call. Does nothing when called from a report.
    void deliver();
    bool empty() const { return reports_.empty(); }

private:
    struct Report {
        enum Kind { message, activated, deactivated, status } kind;
        Packet packet;
        Smart_pointer<Internal_protocol_status> result;
    };

    Protocol& layer_;
    std::vector<Report> reports_;
    bool delivering_ = false;
    bool* alive_ = nullptr;  // cleared by the destructor while reports go up
};
