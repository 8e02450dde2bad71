#pragma once
// A fixture for tests that use packets: after each test every pool block
// must be back in the pool.

#include <gtest/gtest.h>

#include <vector>

#include "link/packet.h"

class PacketPoolCheck : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(Packet_pool::capacity(), Packet_pool::free_count()) << "a packet block leaked";
    }
};

// Holds every pool block but `leave` while it lives: a pool run low.
class PoolHold {
public:
    explicit PoolHold(size_t leave) {
        while (Packet_pool::free_count() > leave) {
            blocks_.emplace_back();
            blocks_.back().reserve_head(0);
        }
    }

private:
    std::vector<Packet> blocks_;
};
