#include "runtime/dual_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item : F_dual_list_item<Item> {
    explicit Item(int v) : value(v) {}
    int value;
};

std::vector<int> values(const F_dual_list<Item>& list) {
    std::vector<int> out;
    for (Item* i = list.head(); i; i = i->next_item()) out.push_back(i->value);
    return out;
}

TEST(DualList, InsertRemoveKeepsLinksAndCount) {
    Item a(1), b(2), c(3), d(4);
    F_dual_list<Item> list;
    list.push_back(&b);
    list.push_front(&a);
    list.push_back(&d);
    list.insert_before(&d, &c);
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), values(list));
    EXPECT_EQ(4u, list.count());
    EXPECT_TRUE(list.remove(&b));
    EXPECT_FALSE(list.remove(&b));
    EXPECT_EQ((std::vector<int>{1, 3, 4}), values(list));
    EXPECT_EQ(&a, list.pop_front());
    EXPECT_EQ(&c, list.head());
    EXPECT_EQ(&d, list.tail());
    EXPECT_EQ(nullptr, c.prev_item());
}

TEST(DualList, ItemMovesBetweenListsAndLeavesOnDestruction) {
    F_dual_list<Item> one, two;
    Item a(1);
    one.push_back(&a);
    two.push_back(&a);
    EXPECT_TRUE(one.empty());
    EXPECT_TRUE(two.contains(&a));
    {
        Item b(2);
        two.push_back(&b);
        EXPECT_EQ(2u, two.count());
    }
    EXPECT_EQ((std::vector<int>{1}), values(two));
}

TEST(DualList, SpliceKeepsOrder) {
    F_dual_list<Item> one, two;
    Item a(1), b(2), c(3);
    one.push_back(&a);
    two.push_back(&b);
    two.push_back(&c);
    one.splice_back(two);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), values(one));
    EXPECT_TRUE(two.empty());
}

}  // namespace
