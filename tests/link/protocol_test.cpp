#include "link/protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/link/packet_pool_check.h"

namespace {

using Log = std::vector<std::string>;

// A layer that records what reaches it. Downwards it pushes its one-byte tag
// in front of the packet; upwards it takes the tag off again.
class Layer : public Protocol {
public:
    Layer(Log& log, const char* tag, unsigned headroom = 1)
        : log_(log), name_(tag), tag_(static_cast<unsigned char>(tag[0])), headroom_(headroom) {}
    ~Layer() override { log_.push_back(std::string(name_.name()) + (owner() ? " dies owned" : " dies")); }

    const Protocol_name& name() const override { return name_; }
    bool compare_name(const Protocol_name& other) const override { return name_.compare(other); }

    void local_prepare_head(Packet& p) override { p.reserve_head(headroom_); }
    Smart_pointer<Internal_protocol_status> local_initialize() override {
        record("initialize");
        if (fails_to_initialize) return new Protocol_status_error(this, "no line");
        return Protocol::local_initialize();
    }
    void local_activate() override {
        record("up");
        Protocol::local_activate();
    }
    void local_deactivate() override {
        record("down");
        Protocol::local_deactivate();
    }
    void message(Packet& p) override {
        p.push(tag_);
        transmit(p);
    }
    void receive(Packet& p) override {
        if (p.pull() != tag_) record("bad header");
        on_message(p);
    }

    bool fails_to_initialize = false;

private:
    void record(const std::string& what) { log_.push_back(std::string(name_.name()) + " " + what); }

    Log& log_;
    Protocol_name_str name_;
    unsigned char tag_;
    unsigned headroom_;
};

// The owner at the edge of a stack: takes what leaves the family.
class Owner : public ProtocolsFamily {
public:
    explicit Owner(Log& log) : log_(log) {}

    void on_activate() override { log_.push_back("owner up"); }
    void on_deactivate(Smart_pointer<Internal_protocol_status> status) override {
        log_.push_back("owner down: " + status->message());
    }
    void on_activated(Protocol* p) override {
        log_.push_back(std::string("activated by ") + p->name().name());
        ProtocolsFamily::on_activated(p);
    }
    void on_deactivated(Protocol* p, Smart_pointer<Internal_protocol_status> status) override {
        log_.push_back(std::string("deactivated by ") + p->name().name());
        ProtocolsFamily::on_deactivated(p, status);
    }
    void on_status(Smart_pointer<Internal_protocol_status> status) override {
        log_.push_back("status: " + status->message());
    }
    void transmit(Packet& p) override { sent.push_back(p.text()); }
    void on_message(Packet& p) override { received.push_back(p.text()); }

    std::vector<std::string> sent, received;

private:
    Log& log_;
};

// Owner over the stack bottom B, middle M, top T.
struct Stack {
    explicit Stack(Log& log) : owner(log) {
        owner.add_protocol_tail(bottom = new Layer(log, "B", 1));
        owner.add_protocol_tail(middle = new Layer(log, "M", 2));
        owner.add_protocol_tail(top = new Layer(log, "T", 4));
    }
    Owner owner;
    Layer *bottom, *middle, *top;
};

class ProtocolStack : public PacketPoolCheck {
protected:
    Log log;
    Stack stack{log};
};

TEST_F(ProtocolStack, ActivationRunsBottomUpAndReportsTheTop) {
    stack.owner.activate();
    EXPECT_EQ((Log{"B up", "M up", "T up", "activated by T", "owner up"}), log);
    log.clear();
    stack.middle->activate();  // any member starts at the bottom
    EXPECT_EQ((Log{"B up", "M up", "T up", "activated by T", "owner up"}), log);
    log.clear();
    stack.owner.on_activated(stack.bottom);  // only the top member's counts
    EXPECT_EQ((Log{"activated by B"}), log);
}

TEST_F(ProtocolStack, DeactivationRunsTopDownAndReportsTheBottom) {
    stack.owner.deactivate();
    EXPECT_EQ((Log{"T down", "M down", "B down", "deactivated by B", "owner down: success"}), log);
}

TEST_F(ProtocolStack, AnErrorFromBelowClimbsWithoutDeactivatingTheLayersAbove) {
    stack.bottom->on_deactivate(new Protocol_status_error(stack.bottom, "broken socket"));
    EXPECT_EQ((Log{"deactivated by T", "owner down: broken socket"}), log);
}

TEST_F(ProtocolStack, StatusReportsClimbToTheOwner) {
    stack.middle->on_status(new Protocol_status_success(stack.middle, "congested"));
    EXPECT_EQ((Log{"status: congested"}), log);
}

TEST_F(ProtocolStack, HeaderRoomIsReservedBottomFirst) {
    Packet p;
    stack.owner.prepare_head(p);
    EXPECT_EQ(7u, p._headroom());
    Packet q;
    stack.middle->prepare_head(q);  // the layers below and its own
    EXPECT_EQ(3u, q._headroom());
}

TEST_F(ProtocolStack, AMessageGoesDownPickingUpEveryHeader) {
    Packet p;
    stack.owner.prepare_head(p);
    p.put(0xAA);
    stack.owner.message(p);
    EXPECT_EQ((std::vector<std::string>{"42 4D 54 AA"}), stack.owner.sent);  // B M T payload
    EXPECT_EQ(4u, p._headroom());
}

TEST_F(ProtocolStack, AReceivedFrameGoesUpLosingEveryHeader) {
    Packet p;
    p.reserve_head(0);
    const unsigned char frame[] = {'B', 'M', 'T', 0xAA};
    p.put(frame, sizeof frame);
    stack.owner.receive(p);
    EXPECT_EQ((std::vector<std::string>{"AA"}), stack.owner.received);
    EXPECT_TRUE(log.empty());
}

TEST_F(ProtocolStack, TheFirstFailureFromTheBottomUpIsTheResult) {
    stack.middle->fails_to_initialize = true;
    auto status = stack.owner.initialize();
    EXPECT_FALSE(status->success());
    EXPECT_EQ("no line", status->message());
    EXPECT_EQ(stack.middle, status->source);
    EXPECT_EQ((Log{"B initialize", "M initialize"}), log);
}

TEST_F(ProtocolStack, InitializationSucceedsWhenEveryLayerDoes) {
    auto status = stack.top->initialize();
    EXPECT_TRUE(status->success());
    EXPECT_EQ("success", status->message());
    EXPECT_EQ(stack.top, status->source);
}

TEST_F(ProtocolStack, AMemberDestroyedEarlyLeavesTheStack) {
    delete stack.middle;
    EXPECT_EQ((Log{"M dies owned"}), log);
    EXPECT_EQ(2u, stack.owner.members());
    EXPECT_EQ(stack.top, stack.bottom->upper_layer());
    EXPECT_EQ(stack.bottom, stack.top->lower_layer());
}

TEST_F(ProtocolStack, SearchFindsAMemberByName) {
    EXPECT_EQ(stack.middle, stack.owner.search(Protocol_name_str("M")));
    EXPECT_EQ(nullptr, stack.owner.search(Protocol_name_str("X")));
    EXPECT_EQ(nullptr, stack.owner.search(Protocol_name_null()));
}

TEST(ProtocolsList, DestructionDeletesMembersTopDownUnowned) {
    Log log;
    {
        Stack stack(log);
    }
    EXPECT_EQ((Log{"T dies", "M dies", "B dies"}), log);
}

using ProtocolEdges = PacketPoolCheck;

TEST_F(ProtocolEdges, PacketsLeavingAStackWithNoOwnerAreDropped) {
    Log log;
    ProtocolsFamily family;
    family.add_protocol_tail(new Layer(log, "B"));
    family.add_protocol_tail(new Layer(log, "T"));
    Packet p;
    family.prepare_head(p);
    family.message(p);
    EXPECT_EQ("42 54", p.text());
    family.receive(p);
    family.activate();
    family.deactivate();
    EXPECT_EQ((Log{"B up", "T up", "T down", "B down"}), log);
}

TEST_F(ProtocolEdges, AnEmptyFamilyDoesNothingAndFailsToInitialize) {
    Log log;
    Owner owner(log);
    Packet p;
    p.reserve_head(0);
    owner.message(p);
    owner.receive(p);
    owner.prepare_head(p);
    owner.activate();
    owner.deactivate();
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(owner.sent.empty());
    EXPECT_TRUE(owner.received.empty());
    auto status = owner.local_initialize();
    EXPECT_FALSE(status->success());
    EXPECT_EQ("error", status->message());
}

// A family nested as the lower member of an outer family: X over [B T].
TEST_F(ProtocolEdges, FamiliesNest) {
    Log log;
    Owner outer(log);
    auto* inner = new ProtocolsFamily;
    inner->add_protocol_tail(new Layer(log, "B"));
    inner->add_protocol_tail(new Layer(log, "T"));
    outer.add_protocol_tail(inner);
    outer.add_protocol_tail(new Layer(log, "X"));

    Packet p;
    outer.prepare_head(p);
    EXPECT_EQ(3u, p._headroom());
    outer.message(p);
    EXPECT_EQ((std::vector<std::string>{"42 54 58"}), outer.sent);
    Packet frame = p;
    outer.receive(frame);
    EXPECT_EQ((std::vector<std::string>{""}), outer.received);

    outer.activate();
    EXPECT_EQ((Log{"B up", "T up", "X up", "activated by X", "owner up"}), log);
    log.clear();
    outer.deactivate();
    EXPECT_EQ((Log{"X down", "T down", "B down", "deactivated by (no name)", "owner down: success"}),
              log);
}

TEST(ProtocolNames, NullAndTextNames) {
    Protocol_name_str none(nullptr), a("LAPD"), b("LAPD"), c("MTP");
    Protocol_name_null null;
    EXPECT_STREQ("(no name)", none.name());
    EXPECT_TRUE(a.compare(b));
    EXPECT_FALSE(a.compare(c));
    EXPECT_FALSE(a.compare(null));
    EXPECT_FALSE(null.compare(a));
    EXPECT_TRUE(null.compare(Protocol_name_null()));
    EXPECT_STREQ("(no name)", ProtocolsFamily().name().name());
}

TEST(ProtocolStatus, TheLastHandleDeletesTheStatus) {
    static int deleted = 0;
    struct Counted : Protocol_status_success {
        Counted() : Protocol_status_success(nullptr, "ok") {}
        ~Counted() override { ++deleted; }
    };
    {
        Smart_pointer<Internal_protocol_status> a(new Counted);
        Smart_pointer<Internal_protocol_status> b = a;
        EXPECT_EQ(2u, a->ref_count);
    }
    EXPECT_EQ(1, deleted);
}

TEST(ProtocolDeathTest, NullStatusesAreFatal) {
    Log log;
    Stack stack(log);
    EXPECT_DEATH(stack.top->on_deactivate(nullptr), "SMART POINTER ASSERTION!");
    struct Silent : Protocol {
        Smart_pointer<Internal_protocol_status> local_initialize() override { return nullptr; }
    };
    ProtocolsList list;
    list.add_protocol_tail(new Silent);
    list.add_protocol_tail(new Silent);
    EXPECT_DEATH(list.top()->initialize(), "SMART POINTER ASSERTION!");
}

}  // namespace
