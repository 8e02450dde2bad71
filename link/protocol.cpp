#include "link/protocol.h"

#include <cstdlib>
#include <cstring>
#include <ostream>

// Names and statuses.

Protocol_name_str::Protocol_name_str(const char* name)
    : name_(strdup(name ? name : "(no name)")) {}

Protocol_name_str::~Protocol_name_str() { free(name_); }

bool Protocol_name_str::compare(const Protocol_name& other) const {
    return other.kind() == 1 && std::strcmp(name_, other.name()) == 0;
}

void Protocol_status_text::out(std::ostream& os) const { os << text_; }

// Protocol.

Protocol::~Protocol() {
    if (owner_) owner_->release(this);
}

void Protocol::local_prepare_head(Packet& p) { p.reserve_head(0); }
void Protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void Protocol::prepare_head(Packet& p) {
    descend_prepare_head(p);
    local_prepare_head(p);
}

void Protocol::prepare_tail(Packet& p) {
    descend_prepare_tail(p);
    local_prepare_tail(p);
}

void Protocol::descend_prepare_head(Packet& p) {
    if (Protocol* below = lower_layer()) below->prepare_head(p);
}

void Protocol::descend_prepare_tail(Packet& p) {
    if (Protocol* below = lower_layer()) below->prepare_tail(p);
}

Smart_pointer<Internal_protocol_status> Protocol::local_initialize() {
    return new Protocol_status_success(this, "success");
}

Smart_pointer<Internal_protocol_status> Protocol::initialize() {
    if (Protocol* below = lower_layer()) {
        Smart_pointer<Internal_protocol_status> status = below->initialize();
        if (!status) SmartPtrAssertion();
        if (!status->success()) return status;
    }
    return local_initialize();
}

void Protocol::activate() {
    if (Protocol* below = lower_layer())
        below->activate();
    else
        local_activate();
}

void Protocol::local_activate() { on_activate(); }

void Protocol::on_activate() {
    if (Protocol* above = upper_layer())
        above->local_activate();
    else if (owner_)
        owner_->on_activated(this);
}

void Protocol::deactivate() { local_deactivate(); }

void Protocol::local_deactivate() { on_deactivate(new Protocol_status_success(this, "success")); }

// Going down continues below; an error climbs to the top without running any
// other layer's deactivation, and the owner hears it from the edge.
void Protocol::on_deactivate(Smart_pointer<Internal_protocol_status> status) {
    if (!status) SmartPtrAssertion();
    if (status->success()) {
        if (Protocol* below = lower_layer()) return below->deactivate();
    } else if (Protocol* above = upper_layer()) {
        return above->on_deactivate(status);
    }
    if (owner_) owner_->on_deactivated(this, status);
}

void Protocol::on_status(Smart_pointer<Internal_protocol_status> status) {
    if (Protocol* above = upper_layer())
        above->on_status(status);
    else if (owner_)
        owner_->on_status(status);
}

void Protocol::transmit(Packet& p) {
    if (Protocol* below = lower_layer())
        below->message(p);
    else if (owner_)
        owner_->transmit(p);
}

void Protocol::on_message(Packet& p) {
    if (Protocol* above = upper_layer())
        above->receive(p);
    else if (owner_)
        owner_->on_message(p);
}

// ProtocolsList.

ProtocolsList::~ProtocolsList() {
    while (Protocol* p = top()) {
        release(p);
        delete p;
    }
}

void ProtocolsList::add_protocol_head(Protocol* p) {
    adopt(p);
    push_front(p);
}

void ProtocolsList::add_protocol_tail(Protocol* p) {
    adopt(p);
    push_back(p);
}

void ProtocolsList::adopt(Protocol* p) {
    if (p->owner_) p->owner_->release(p);
    p->owner_ = this;
}

void ProtocolsList::release(Protocol* p) {
    remove(p);
    p->owner_ = nullptr;
}

Protocol* ProtocolsList::search(const Protocol_name& name) const {
    for (Protocol* p = bottom(); p; p = p->upper_layer())
        if (p->compare_name(name)) return p;
    return nullptr;
}

// ProtocolsFamily.

void ProtocolsFamily::local_prepare_head(Packet& p) {
    if (Protocol* t = top()) t->prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p) {
    if (Protocol* t = top()) t->prepare_tail(p);
}

Smart_pointer<Internal_protocol_status> ProtocolsFamily::local_initialize() {
    if (Protocol* t = top()) return t->initialize();
    return new Protocol_initialize_error(this, "error");
}

void ProtocolsFamily::local_activate() {
    if (Protocol* t = top()) t->activate();
}

void ProtocolsFamily::local_deactivate() {
    if (Protocol* t = top()) t->deactivate();
}

void ProtocolsFamily::message(Packet& p) {
    if (Protocol* t = top()) t->message(p);
}

void ProtocolsFamily::receive(Packet& p) {
    if (Protocol* b = bottom()) b->receive(p);
}

void ProtocolsFamily::on_activated(Protocol* p) {
    if (p == top()) on_activate();
}

void ProtocolsFamily::on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status> status) {
    on_deactivate(status);
}
