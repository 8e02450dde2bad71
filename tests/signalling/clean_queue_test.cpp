#include "signalling/clean_queue.h"

#include <gtest/gtest.h>

#include "signalling/cyclic.h"
#include "tests/link/packet_pool_check.h"

namespace {

Packet packet(unsigned char octet) {
    Packet p;
    p.reserve_head(0);
    p.put(octet);
    return p;
}

template <unsigned N>
std::string contents(CleanQueue<Packet, N>& q) {
    std::string text;
    CleanQueue<Packet, N> copy;
    Packet p;
    while (q.get(&p)) {
        text += static_cast<char>('0' + p[0]);
        copy.put(p);
    }
    while (copy.get(&p)) q.put(p);
    return text;
}

class CleanQueueTest : public PacketPoolCheck {};

TEST_F(CleanQueueTest, FullQueueRefusesPutAndAppendAndStaysAsItWas) {
    CleanQueue<Packet, 3> q;
    for (unsigned char i = 1; i <= 3; ++i) ASSERT_TRUE(q.put(packet(i)));
    EXPECT_FALSE(q.put(packet(4)));
    EXPECT_FALSE(q.append(packet(5)));
    EXPECT_EQ(3u, q.count());
    EXPECT_EQ(3u, q.size());
    EXPECT_EQ("123", contents(q));
    EXPECT_EQ(Packet_pool::capacity() - 3, Packet_pool::free_count());
}

TEST_F(CleanQueueTest, AppendPutsInFrontAcrossTheWrap) {
    CleanQueue<Packet, 4> q;
    EXPECT_TRUE(q.append(packet(1)));  // read index wraps back from 0
    Packet p;
    ASSERT_TRUE(q.get(p));
    EXPECT_EQ(1, p[0]);
    q.put(packet(2));
    q.put(packet(3));
    q.append(packet(1));
    EXPECT_EQ("123", contents(q));
}

// The retransmission requeue: newest out of one queue, to the front of
// another, one by one.
TEST_F(CleanQueueTest, GetLastThenAppendKeepsOrder) {
    CleanQueue<Packet, 7> sent;
    CleanQueue<Packet, 9> waiting;
    for (unsigned char i = 1; i <= 5; ++i) sent.put(packet(i));
    waiting.put(packet(6));
    waiting.put(packet(7));
    Packet p;
    while (sent.get_last(&p)) ASSERT_TRUE(waiting.append(p));
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ("1234567", contents(waiting));
}

TEST_F(CleanQueueTest, PreviewLeavesTheOldestQueued) {
    CleanQueue<Packet, 2> q;
    EXPECT_FALSE(q.preview(nullptr));
    q.put(packet(1));
    q.put(packet(2));
    Packet p;
    EXPECT_TRUE(q.preview(nullptr));
    EXPECT_TRUE(q.preview(&p));
    EXPECT_EQ(1, p[0]);
    EXPECT_EQ(2u, q.count());
}

TEST_F(CleanQueueTest, EmptyQueueGivesNothing) {
    CleanQueue<Packet, 2> q;
    Packet p;
    EXPECT_FALSE(q.get(&p));
    EXPECT_FALSE(q.get_last(&p));
    EXPECT_FALSE(bool(p));
}

// Slots that held elements are emptied, so their blocks go back to the pool.
TEST_F(CleanQueueTest, ClearAndTakingOutFreeEveryBlock) {
    const size_t free = Packet_pool::free_count();
    CleanQueue<Packet, 5> q;
    for (int round = 0; round < 3; ++round) {
        for (unsigned char i = 0; i < 4; ++i) q.put(packet(i));
        q.get(nullptr);
        q.get_last(nullptr);
    }
    EXPECT_LT(Packet_pool::free_count(), free);
    q.clear();
    EXPECT_EQ(0u, q.count());
    EXPECT_EQ(free, Packet_pool::free_count());
    q.put(packet(9));
    EXPECT_EQ("9", contents(q));
}

using Seq = Cyclic<unsigned int, 127u>;

TEST(CyclicTest, CountsModulo128) {
    EXPECT_EQ(0u, unsigned(++Seq(127)));
    EXPECT_EQ(127u, unsigned(--Seq(0)));
    Seq s(127);
    EXPECT_EQ(127u, unsigned(s++));
    EXPECT_EQ(0u, unsigned(s));
    EXPECT_EQ(0u, unsigned(Seq(127) + Seq(1)));
    EXPECT_EQ(5u, unsigned(Seq(133)));
    EXPECT_EQ(3u, unsigned(Seq(120) + Seq(11)));
}

TEST(CyclicTest, LessEqPairExamples) {
    EXPECT_TRUE((Seq(120) <= Seq(3)) <= Seq(5));
    EXPECT_FALSE((Seq(3) <= Seq(120)) <= Seq(5));
    EXPECT_TRUE((Seq(9) <= Seq(9)) <= Seq(9));
}

// (a <= b) <= c holds exactly when walking up from a, step by step, meets b
// no later than c.
TEST(CyclicTest, LessEqPairAgreesWithAWalkForEveryTriple) {
    for (unsigned a = 0; a < 128; ++a) {
        for (unsigned c = 0; c < 128; ++c) {
            bool onWay[128] = {};
            for (Seq s(a);; ++s) {
                onWay[s] = true;
                if (s == c) break;
            }
            for (unsigned b = 0; b < 128; ++b)
                ASSERT_EQ(onWay[b], (Seq(a) <= Seq(b)) <= Seq(c)) << a << " " << b << " " << c;
        }
    }
}

}  // namespace
