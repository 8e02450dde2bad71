#include "link/packet.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <new>
#include <sstream>
#include <vector>

#include "tests/link/packet_pool_check.h"

namespace {

Packet bytes(std::initializer_list<unsigned char> window, unsigned headroom = 0) {
    Packet p;
    p.reserve_head(headroom);
    for (unsigned char b : window) p.put(b);
    return p;
}

using PacketRooms = PacketPoolCheck;
using PacketBytes = PacketPoolCheck;
using PacketCopyOnWrite = PacketPoolCheck;
using PacketPool = PacketPoolCheck;
using PacketOutput = PacketPoolCheck;
using PacketDeathTest = PacketPoolCheck;

TEST_F(PacketRooms, ReservingOnANullPacketTakesAnEmptyBlock) {
    Packet head, tail, null;
    head.reserve_head(4);
    tail.reserve_tail(4);
    EXPECT_EQ(4u, head._headroom());
    EXPECT_EQ(0u, head.length());
    EXPECT_EQ(65532u, head._tailroom());
    EXPECT_EQ(65532u, tail._headroom());
    EXPECT_EQ(4u, tail._tailroom());
    EXPECT_FALSE(null);
    EXPECT_EQ(0u, null.length());
    EXPECT_EQ(Packet_pool::capacity() - 2, Packet_pool::free_count());
}

TEST_F(PacketRooms, ReservationsOnAnEmptyPacketAddUp) {
    Packet p;
    p.reserve_head(0);
    p.reserve_head(3);
    p.reserve_head(4);
    EXPECT_EQ(7u, p._headroom());
    p.reserve_tail(2);
    EXPECT_EQ(5u, p._headroom());
    EXPECT_EQ(Packet_pool::capacity() - 1, Packet_pool::free_count());
}

TEST_F(PacketRooms, PushFillsTheHeadRoomToItsEdge) {
    Packet p = bytes({0x56}, 2);
    p.push16_b(0x1234);
    EXPECT_EQ("12 34 56", p.text());
    EXPECT_EQ(0u, p._headroom());
}

TEST_F(PacketRooms, PutFillsTheTailRoomToItsEdge) {
    Packet p;
    p.reserve_tail(5);
    p.put16_b(0x1234);
    p.put16(0x1234);
    const unsigned char last = 0xEE;
    p.put(&last, 1);
    EXPECT_EQ("12 34 34 12 EE", p.text());
    EXPECT_EQ(0u, p._tailroom());
}

TEST_F(PacketRooms, AWholeBlockCanBeFilled) {
    Packet p;
    p.reserve_head(0);
    std::vector<unsigned char> block(packet_max_size, 0x5A);
    p.put(block.data(), packet_max_size);
    EXPECT_EQ(packet_max_size, p.length());
    EXPECT_EQ(0x5A, p[packet_max_size - 1]);
}

TEST_F(PacketRooms, ReservingOnAHeldWindowKeepsItsBytes) {
    Packet p = bytes({1, 2, 3}, 2);
    p.reserve_head(5);
    EXPECT_EQ(7u, p._headroom());
    EXPECT_EQ("01 02 03", p.text());
    p.reserve_tail(7);
    EXPECT_EQ(0u, p._headroom());
    EXPECT_EQ("01 02 03", p.text());
}

TEST_F(PacketRooms, AReadIntoTheTailRoomIsTakenIntoTheWindow) {
    Packet p;
    p.reserve_head(0);
    unsigned char* room = p->tail;
    room[0] = 0xCA;
    room[1] = 0xFE;
    p.extend(2);
    EXPECT_EQ("CA FE", p.text());
    EXPECT_EQ(packet_max_size - 2, p._tailroom());
}

TEST_F(PacketBytes, PullsReadBigAndLittleEndianAndZeroWhenShort) {
    Packet p = bytes({0x12, 0x34, 0x12, 0x34, 0xAB});
    EXPECT_EQ(0x1234, p.pull16_b());
    EXPECT_EQ(0x3412, p.pull16_l());
    EXPECT_EQ(0xAB00, p.pull16_b());
    EXPECT_EQ(0u, p.length());
    EXPECT_EQ(0, p.pull16_b());
    EXPECT_EQ(0, p.pull());
    Packet shared = p;
    EXPECT_EQ(0, shared.pull());
    EXPECT_EQ(p.get(), shared.get());  // nothing changed, nothing copied
}

TEST_F(PacketBytes, SkipAndTrimCutBothEnds) {
    Packet p = bytes({1, 2, 3, 4, 5});
    p.skip(2);
    p.trim(1);
    EXPECT_EQ("03 04", p.text());
    EXPECT_EQ(2u, p._headroom());
    EXPECT_EQ(3, p[0]);
}

TEST_F(PacketBytes, StringsTravelWithALengthByte) {
    Packet p;
    p.reserve_head(0);
    p.put(std::string("abc"));
    EXPECT_EQ("03 61 62 63", p.text());
    EXPECT_EQ("abc", p.pull_string());
    EXPECT_EQ(0u, p.length());

    Packet cut = bytes({3, 'x'});
    EXPECT_EQ(std::string("x\0\0", 3), cut.pull_string());
    EXPECT_EQ("", cut.pull_string());
}

TEST_F(PacketBytes, PuttingAPacketAppendsItsBytes) {
    Packet p = bytes({1, 2});
    p.put(bytes({3, 4}));
    EXPECT_EQ("01 02 03 04", p.text());
    p.put(p);
    EXPECT_EQ("01 02 03 04 01 02 03 04", p.text());
}

TEST_F(PacketCopyOnWrite, ACopyThatIsConsumedLeavesTheOriginalAlone) {
    Packet original = bytes({0x10, 0x20, 0x30}, 4);
    Packet copy = original;
    EXPECT_EQ(original.get(), copy.get());
    EXPECT_EQ(Packet_pool::capacity() - 1, Packet_pool::free_count());

    EXPECT_EQ(0x10, copy.pull());
    EXPECT_NE(original.get(), copy.get());
    EXPECT_EQ(Packet_pool::capacity() - 2, Packet_pool::free_count());
    EXPECT_EQ("10 20 30", original.text());
    EXPECT_EQ("20 30", copy.text());
    EXPECT_EQ(5u, copy._headroom());
}

TEST_F(PacketCopyOnWrite, EveryChangeToASharedBlockCopiesItFirst) {
    Packet original = bytes({1, 2}, 2);
    Packet pushed = original, put = original, trimmed = original, skipped = original;
    pushed.push(0);
    put.put(3);
    trimmed.trim(1);
    skipped.skip(1);
    EXPECT_EQ("01 02", original.text());
    EXPECT_EQ("00 01 02", pushed.text());
    EXPECT_EQ("01 02 03", put.text());
    EXPECT_EQ("01", trimmed.text());
    EXPECT_EQ("02", skipped.text());
    EXPECT_EQ(Packet_pool::capacity() - 5, Packet_pool::free_count());
}

TEST_F(PacketCopyOnWrite, ABlockHeldOnceIsNotCopied) {
    Packet p = bytes({1, 2}, 1);
    const _Packet* block = p.get();
    {
        Packet gone = p;
    }
    p.push(0);
    p.pull();
    EXPECT_EQ(block, p.get());
    EXPECT_EQ(Packet_pool::capacity() - 1, Packet_pool::free_count());
}

TEST_F(PacketCopyOnWrite, SubTakesABlockOfItsOwnAtTheSamePositions) {
    Packet source = bytes({0x10, 0x20, 0x30, 0x40}, 3);
    Packet part = source.sub(2, 1);
    EXPECT_EQ("20 30", part.text());
    EXPECT_EQ(4u, part._headroom());
    EXPECT_NE(source.get(), part.get());
    EXPECT_EQ("10 20 30 40", source.text());
    EXPECT_EQ("", source.sub(0, 4).text());
}

TEST_F(PacketPool, AnEmptyPoolThrowsAndGivesBlocksBackFirstInFirstOut) {
    std::vector<Packet> held(Packet_pool::capacity());
    for (Packet& p : held) p.reserve_head(0);
    EXPECT_EQ(0u, Packet_pool::free_count());

    Packet more;
    EXPECT_THROW(more.reserve_head(0), std::bad_alloc);
    EXPECT_THROW(more.reserve_tail(0), std::bad_alloc);
    EXPECT_FALSE(more);

    const _Packet* first = held[7].get();
    const _Packet* second = held[3].get();
    held[7] = Packet();
    held[3] = Packet();
    more.reserve_head(0);
    EXPECT_EQ(first, more.get());
    Packet next;
    next.reserve_tail(0);
    EXPECT_EQ(second, next.get());
}

TEST_F(PacketPool, ACopyWithNoBlockLeftThrowsAndLeavesBothHandles) {
    std::vector<Packet> held(Packet_pool::capacity() - 1);
    for (Packet& p : held) p.reserve_head(0);
    Packet original = bytes({1, 2});
    Packet copy = original;
    EXPECT_THROW(copy.pull(), std::bad_alloc);
    EXPECT_EQ(original.get(), copy.get());
    EXPECT_EQ("01 02", copy.text());
}

TEST_F(PacketOutput, TextDumpAndContext) {
    Packet null, empty = bytes({}, 3), p = bytes({0x01, 0xAB}, 1);
    EXPECT_EQ("(null)", null.text());
    EXPECT_EQ("", empty.text());
    EXPECT_EQ("01 AB", p.text());

    std::ostringstream os;
    EXPECT_FALSE(null.dump(os));
    EXPECT_FALSE(null.dump_context(os));
    EXPECT_TRUE(empty.dump_context(os));
    EXPECT_EQ("", os.str());
    EXPECT_TRUE(p.dump(os));
    EXPECT_EQ("head=1, data=2, tail=65533", os.str());
    os.str("");
    EXPECT_TRUE(p.dump_context(os));
    EXPECT_EQ("dump: 1 ab", os.str());
}

TEST_F(PacketOutput, BrokenPointersAreShownAsBad) {
    Packet p = bytes({1, 2});
    p->data = p->tail + 1;
    EXPECT_EQ("(bad)", p.text());
    std::ostringstream os;
    EXPECT_FALSE(p.dump_context(os));
    p->data = p->tail;  // mended, so that the block can go back
}

TEST_F(PacketDeathTest, OperationsOnANullPacketAreFatal) {
    Packet null;
    const char* report = "PACKET ASSERTION FAILED!\nnull packet\n\\(null\\)";
    EXPECT_DEATH(null.push(1), report);
    EXPECT_DEATH(null.put(1), report);
    EXPECT_DEATH(null.pull(), report);
    EXPECT_DEATH(null.skip(0), report);
    EXPECT_DEATH(null.trim(0), report);
    EXPECT_DEATH(null[0], report);
    EXPECT_DEATH(null.sub(0, 0), report);
    EXPECT_DEATH(null.pull_string(), report);
    EXPECT_DEATH((void)null->data, "SMART POINTER ASSERTION!");
}

TEST_F(PacketDeathTest, RunningOutOfRoomIsFatal) {
    Packet p = bytes({0x01, 0xab}, 0);
    EXPECT_DEATH(p.push(0),
                 "PACKET ASSERTION FAILED!\nlen<=_headroom\\(\\)\n"
                 "head=0, data=2, tail=65534\ndump:\n 1 ab\n");
    Packet full;
    full.reserve_tail(0);
    EXPECT_DEATH(full.put(0), "len<=_tailroom\\(\\)");
    EXPECT_DEATH(full.extend(1), "len<=_tailroom\\(\\)");
    std::vector<unsigned char> block(packet_max_size);
    EXPECT_DEATH(p.put(block.data(), packet_max_size - 1), "len<=_tailroom\\(\\)");
    EXPECT_DEATH(p.skip(3), "len<=_length\\(\\)");
    EXPECT_DEATH(p.trim(3), "len<=_length\\(\\)");
    EXPECT_DEATH(p[2], "index out of range");
    EXPECT_DEATH(p.sub(0, 3), "start<=_length\\(\\)");
    EXPECT_DEATH(p.sub(2, 1), "start\\+len<=_length\\(\\)");
    EXPECT_DEATH(p.sub(0xFFFFFFFF, 1), "start\\+len<=_length\\(\\)");
}

TEST_F(PacketDeathTest, ReservationsBeyondTheBlockAreFatal) {
    Packet null;
    EXPECT_DEATH(null.reserve_head(packet_max_size + 1), "length>packet_max_size");
    EXPECT_DEATH(null.reserve_tail(packet_max_size + 1), "len>packet_max_size");
    Packet p = bytes({1, 2}, 10);
    EXPECT_DEATH(p.reserve_head(packet_max_size - 11), "new_len>packet_max_size");
    EXPECT_DEATH(p.reserve_tail(11), "_tailroom\\(\\)\\+len <= packet_max_size");
}

TEST_F(PacketDeathTest, ABrokenBlockIsFoundByTheCheck) {
    Packet p = bytes({1, 2});
    EXPECT_DEATH(
        {
            p->data = p->tail + 1;
            p.check("put");
        },
        "packet check fail\nafter \"put\" fdata>ftail\nterminate.");
    EXPECT_DEATH(
        {
            p->tail = p->buffer_end() + 1;
            p.check("trim");
        },
        "after \"trim\" ftail invalid");
    EXPECT_DEATH(
        {
            p->tail = p->data - 1;
            p.passert(false, std::string("custom text"));
        },
        "custom text\nhead=0, data=.*\ncan't dump packet: wrong pointers");
}

}  // namespace
