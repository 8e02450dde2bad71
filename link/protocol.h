#pragma once
// Protocol stacks. A `ProtocolsList` holds and owns its `Protocol` layers,
// bottom first. Packets go down through `message` and up through `receive`;
// a layer done with a packet hands it on with `transmit` (down) or
// `on_message` (up), which reach the neighbour or, at the edge of the list,
// the list itself. Activation runs bottom-up, deactivation top-down.
// A `ProtocolsFamily` is a list that is itself a layer, so stacks nest.

#include <iosfwd>

#include "link/packet.h"
#include "link/protocol_name.h"
#include "link/protocol_status.h"
#include "runtime/dual_list.h"
#include "runtime/smart_pointer.h"

class ProtocolsList;

class Protocol : public F_dual_list_item<Protocol>, public Protocol_info {
public:
    Protocol() = default;
    Protocol(const Protocol&) = delete;
    Protocol& operator=(const Protocol&) = delete;
    // Leaves the owner's list.
    ~Protocol() override;

    // Header (trailer) room is reserved bottom layer first, each layer adding
    // its own; on a null packet the bottom layer takes the block.
    virtual void local_prepare_head(Packet& p);
    virtual void local_prepare_tail(Packet& p);
    virtual Smart_pointer<Internal_protocol_status> local_initialize();
    virtual void local_activate();
    virtual void local_deactivate();
    virtual void transmit(Packet& p);
    virtual void on_message(Packet& p);
    virtual void on_activate();
    virtual void on_deactivate(Smart_pointer<Internal_protocol_status> status);
    virtual void on_status(Smart_pointer<Internal_protocol_status> status);
    virtual void message(Packet&) {}
    virtual void receive(Packet&) {}
    virtual void activate();
    virtual void deactivate();
    virtual void protocol_info(std::ostream&) const {}

    void prepare_head(Packet& p);
    void prepare_tail(Packet& p);
    void descend_prepare_head(Packet& p);
    void descend_prepare_tail(Packet& p);
    // The first failure from the bottom up, else this layer's own status.
    Smart_pointer<Internal_protocol_status> initialize();

    Protocol* upper_layer() const { return next_item(); }
    Protocol* lower_layer() const { return prev_item(); }
    ProtocolsList* owner() const { return owner_; }

private:
    friend class ProtocolsList;
    ProtocolsList* owner_ = nullptr;
};

class ProtocolsList : public Protocol, private F_dual_list<Protocol> {
public:
    ProtocolsList() = default;
    // Deletes the members, top first.
    ~ProtocolsList() override;

    virtual void on_activated(Protocol*) {}
    virtual void on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status>) {}
    virtual void add_protocol_head(Protocol* p);
    // Stacks are built bottom first with this one.
    virtual void add_protocol_tail(Protocol* p);

    // The first member from the bottom whose `compare_name` holds, or null.
    Protocol* search(const Protocol_name& name) const;

    Protocol* bottom() const { return head(); }
    Protocol* top() const { return tail(); }
    size_t members() const { return count(); }

private:
    friend class Protocol;
    void adopt(Protocol* p);
    void release(Protocol* p);
};

// A list that is a layer: `message` goes to its top member, `receive` to its
// bottom member, and it is up once its top member is.
class ProtocolsFamily : public ProtocolsList {
public:
    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;
    Smart_pointer<Internal_protocol_status> local_initialize() override;
    void local_activate() override;
    void local_deactivate() override;
    void message(Packet& p) override;
    void receive(Packet& p) override;
    void on_activated(Protocol* p) override;
    void on_deactivated(Protocol* p, Smart_pointer<Internal_protocol_status> status) override;
};
