#include "link/tpkt_protocol.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "tests/link/packet_pool_check.h"
#include "tests/link/stack_probe.h"
#include "tests/support/stream_capture.h"
#include "tests/support/virtual_loop.h"

namespace {

class TpktLayer : public PacketPoolCheck {
protected:
    TpktLayer() {
        stack.add_protocol_tail(wire = new test::WireProbe);
        stack.add_protocol_tail(tpkt = new Tpkt_protocol);
    }

    // Bytes arriving from the stream below, as one piece.
    void arrive(const std::vector<unsigned char>& bytes) {
        Packet p;
        p.reserve_head(0);
        p.put(bytes.data(), static_cast<unsigned>(bytes.size()));
        wire->on_message(p);
    }
    void arrive_one_by_one(const std::vector<unsigned char>& bytes) {
        for (unsigned char b : bytes) arrive({b});
    }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    test::StreamCapture progress{std::clog};
    test::OwnerProbe stack;
    test::WireProbe* wire;
    Tpkt_protocol* tpkt;
};

TEST_F(TpktLayer, AFrameInOnePieceGoesUpWhole) {
    arrive({0x03, 0x00, 0x00, 0x07, 0x41, 0x42, 0x43});
    EXPECT_EQ((std::vector<std::string>{"41 42 43"}), stack.frames);
    EXPECT_EQ(Tpkt_protocol::idle, tpkt->state());
    EXPECT_FALSE(tpkt->timeout_pending());
}

TEST_F(TpktLayer, AFrameInPiecesGoesUpWhenItsLastByteArrives) {
    const std::vector<unsigned char> frame{0x03, 0x00, 0x00, 0x07, 0x41, 0x42, 0x43};
    for (size_t i = 0; i + 1 < frame.size(); ++i) {
        arrive({frame[i]});
        EXPECT_EQ(i >= 3, tpkt->timeout_pending()) << "after byte " << i;
        loop.advance(2999);  // each piece gives the payload another three seconds
    }
    EXPECT_TRUE(stack.frames.empty());
    arrive({frame.back()});
    EXPECT_EQ((std::vector<std::string>{"41 42 43"}), stack.frames);
    EXPECT_FALSE(tpkt->timeout_pending());
    EXPECT_EQ("", progress.str());
}

TEST_F(TpktLayer, EverySplitOfTwoFramesYieldsTheSameTwoFrames) {
    const std::vector<unsigned char> stream{0x03, 0x00, 0x00, 0x06, 0x01, 0x02,
                                            0x03, 0x00, 0x00, 0x05, 0x09};
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        stack.frames.clear();
        arrive({stream.begin(), stream.begin() + cut});
        arrive({stream.begin() + cut, stream.end()});
        EXPECT_EQ((std::vector<std::string>{"01 02", "09"}), stack.frames) << "cut at " << cut;
    }
}

// The stream loses nothing: the rest of a stalled frame still comes. A frame
// whose payload stalled is dropped and its rest skipped; one whose header
// stalled is read on. Either way the next frame is read from its header.
TEST_F(TpktLayer, AFrameWhosePayloadStallsThreeSecondsIsDroppedAndItsRestSkipped) {
    const std::vector<unsigned char> stream{0x03, 0x00, 0x00, 0x07, 0x03, 0x00, 0x05,
                                            0x03, 0x00, 0x00, 0x05, 0x44};
    for (size_t cut = 1; cut < 7; ++cut) {
        stack.frames.clear();
        progress.clear();
        arrive({stream.begin(), stream.begin() + cut});
        loop.advance(2999);
        EXPECT_EQ("", progress.str()) << cut;
        loop.advance(1);
        const bool payloadStalled = cut >= 4;
        EXPECT_EQ(payloadStalled ? " TPKT packet timeout.\n" : "", progress.str()) << cut;
        arrive({stream.begin() + cut, stream.end()});
        using Frames = std::vector<std::string>;
        EXPECT_EQ((payloadStalled ? Frames{"44"} : Frames{"03 00 05", "44"}), stack.frames) << cut;
    }
}

TEST_F(TpktLayer, AnEmptyFrameGoesUpAsSoonAsItsHeaderIsComplete) {
    arrive({0x03, 0x00, 0x00, 0x04});
    EXPECT_EQ((std::vector<std::string>{""}), stack.frames);
    EXPECT_FALSE(tpkt->timeout_pending());
}

TEST_F(TpktLayer, WhatIsNotAFrameIsSkippedWithALineAndTheSearchGoesOn) {
    arrive({0x05, 0x03, 0x00, 0x00, 0x05, 0x41});
    EXPECT_EQ("(no name) bad TPKT packet start.\n", progress.str());
    progress.clear();
    // A wrong reserved byte costs the two bytes; the search restarts after it.
    arrive({0x03, 0x01, 0x03, 0x00, 0x00, 0x05, 0x42});
    EXPECT_EQ("(no name) bad TPKT reserved.\n", progress.str());
    progress.clear();
    arrive({0x03, 0x00, 0x00, 0x02, 0x03, 0x00, 0x00, 0x05, 0x43});
    EXPECT_EQ("TPKT too small 2\n", progress.str());
    EXPECT_EQ((std::vector<std::string>{"41", "42", "43"}), stack.frames);
}

// Bytes that are not frames come as fast as the peer sends them: each kind
// of line is written once a second, the next one telling how many were held.
TEST_F(TpktLayer, LinesAboutWhatIsNotAFrameAreWrittenOnceASecond) {
    struct Row {
        std::vector<unsigned char> junk;
        std::string line;
    };
    for (const Row& row : {Row{{'G'}, "(no name) bad TPKT packet start."},
                           Row{{0x03, 0x01}, "(no name) bad TPKT reserved."},
                           Row{{0x03, 0x00, 0x00, 0x02}, "TPKT too small 2"}}) {
        progress.clear();
        std::vector<unsigned char> flood;
        for (int k = 0; k < 1000; ++k) flood.insert(flood.end(), row.junk.begin(), row.junk.end());
        arrive(flood);
        loop.advance(1000);
        arrive(row.junk);
        arrive({0x03, 0x00, 0x00, 0x05, 0x41});
        EXPECT_EQ(row.line + "\n" + row.line + " (999 more since)\n", progress.str());
    }
    EXPECT_EQ((std::vector<std::string>{"41", "41", "41"}), stack.frames);
}

TEST_F(TpktLayer, DeactivationDropsAHalfFrameAndReportsDown) {
    arrive({0x03, 0x00, 0x00, 0x09, 0x01});
    stack.deactivate();
    EXPECT_FALSE(tpkt->timeout_pending());
    EXPECT_EQ(Tpkt_protocol::idle, tpkt->state());
    EXPECT_EQ((std::vector<std::string>{"success"}), stack.statuses);  // the bottom's, last
    arrive({0x03, 0x00, 0x00, 0x05, 0x07});
    EXPECT_EQ((std::vector<std::string>{"07"}), stack.frames);
}

TEST_F(TpktLayer, AMessageGoesDownWithItsHeader) {
    Packet p;
    stack.prepare_head(p);
    EXPECT_EQ(4u, p._headroom());
    p.put("\x01\x02\x03\x04\x05", 5);
    stack.message(p);
    EXPECT_EQ((std::vector<std::string>{"03 00 00 09 01 02 03 04 05"}), wire->sent);
}

TEST_F(TpktLayer, AMessageLongerThanTheLengthFieldAllowsIsRefused) {
    test::StreamCapture errors(std::cerr);
    for (unsigned size : {Tpkt_protocol::max_payload, Tpkt_protocol::max_payload + 1}) {
        Packet p;
        stack.prepare_head(p);
        std::vector<unsigned char> payload(size, 0xAA);
        p.put(payload.data(), size);
        stack.message(p);
    }
    ASSERT_EQ(1u, wire->sent.size());
    EXPECT_EQ("03 00 FF FF AA", wire->sent[0].substr(0, 14));
    EXPECT_EQ("TPKT message too long, length = 65532 max = 65531, not sent\n", errors.str());
}

}  // namespace
