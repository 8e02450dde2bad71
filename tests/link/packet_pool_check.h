#pragma once
// A fixture for tests that use packets: after each test every pool block
// must be back in the pool.

#include <gtest/gtest.h>

#include "link/packet.h"

class PacketPoolCheck : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(Packet_pool::capacity(), Packet_pool::free_count()) << "a packet block leaked";
    }
};
