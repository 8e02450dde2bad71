#include "runtime/cyclic_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Polymorphic, with a base and members in front of the node: what offset()
// must see through.
struct Base {
    virtual ~Base() = default;
    long base[3] = {};
};
struct Item : Base {
    explicit Item(int v) : value(v) {}
    int value;
    Containers::CyclicList node;
};

std::vector<int> values(Containers::CyclicList& ring) {
    std::vector<int> out;
    for (auto it = ring.begin(); it != ring.end(); ++it)
        out.push_back(Containers::offset<Item>(*it, &Item::node).value);
    return out;
}

TEST(CyclicList, KeepsInsertionOrderAndFindsItsHolder) {
    Containers::CyclicList ring;
    EXPECT_TRUE(ring.alone());
    Item a(1), b(2), c(3);
    for (Item* i : {&a, &b, &c}) ring.AddTail(i->node);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), values(ring));
    EXPECT_EQ(&b, &Containers::offset<Item>(b.node, &Item::node));
    b.node.Del();
    EXPECT_TRUE(b.node.alone());
    EXPECT_EQ((std::vector<int>{1, 3}), values(ring));
}

TEST(CyclicList, NodesLeaveTheRingWhenDestroyed) {
    Containers::CyclicList ring;
    Item a(1);
    ring.AddTail(a.node);
    {
        Item b(2);
        ring.AddTail(b.node);
        EXPECT_EQ((std::vector<int>{1, 2}), values(ring));
    }
    EXPECT_EQ(std::vector<int>{1}, values(ring));
}

TEST(CyclicList, HeadGoingFirstLeavesItsNodesSafeToDestroy) {
    auto a = std::make_unique<Item>(1);
    auto b = std::make_unique<Item>(2);
    {
        Containers::CyclicList ring;
        ring.AddTail(a->node);
        ring.AddTail(b->node);
    }
    EXPECT_EQ(&b->node, a->node.next);
    a.reset();
    EXPECT_TRUE(b->node.alone());
}

}  // namespace
