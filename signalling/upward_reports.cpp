#include "signalling/upward_reports.h"

UpwardReports::~UpwardReports() {
    if (alive_) *alive_ = false;
}

void UpwardReports::message(const Packet& p) {
    reports_.push_back(Report{Report::message, p, nullptr});
}

void UpwardReports::activated() {
    reports_.push_back(Report{Report::activated, Packet(), nullptr});
}

void UpwardReports::deactivated(Smart_pointer<Internal_protocol_status> status) {
    reports_.push_back(Report{Report::deactivated, Packet(), status});
}

void UpwardReports::status(Smart_pointer<Internal_protocol_status> status) {
    reports_.push_back(Report{Report::status, Packet(), status});
}

void UpwardReports::deliver() {
    if (delivering_) return;
    delivering_ = true;
    bool alive = true;
    alive_ = &alive;
    for (size_t i = 0; i < reports_.size(); ++i) {
        Report report = std::move(reports_[i]);
        switch (report.kind) {
        case Report::message: layer_.on_message(report.packet); break;
        case Report::activated: layer_.on_activate(); break;
        case Report::deactivated: layer_.on_deactivate(report.result); break;
        case Report::status: layer_.on_status(report.result); break;
        }
        if (!alive) return;
    }
    reports_.clear();
    alive_ = nullptr;
    delivering_ = false;
}
