#include "link/tpkt_tracer.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "tests/support/loopback.h"
#include "tests/support/stream_capture.h"
#include "tests/support/tpkt.h"
#include "tests/support/virtual_loop.h"

namespace {

// Keeps the frames; echoes each one when asked to.
class FrameProbe : public TPKTTracer::Notify {
public:
    explicit FrameProbe(TPKTTracer& tracer) : tracer_(tracer) {}
    void OnFrame(const void* data, unsigned length) override {
        frames.emplace_back(static_cast<const char*>(data), length);
        if (echo) tracer_.Send(data, length);
    }
    std::vector<std::string> frames;
    bool echo = false;

private:
    TPKTTracer& tracer_;
};

class Tracer : public ::testing::Test {
protected:
    Tracer() : port(test::free_port()) {
        tracer.set_notify(&probe);
        EXPECT_TRUE(tracer.Listen(port));
    }

    Fd client() {
        Fd c = test::connect_loopback(port);
        loop.pump();
        return c;
    }
    void send(const Fd& c, const std::string& bytes) {
        test::write_bytes(c.get(), bytes);
        loop.pump();
    }

    test::VirtualLoop loop;
    test::StreamCapture progress{std::clog};
    unsigned short port;
    TPKTTracer tracer;
    FrameProbe probe{tracer};
};

TEST_F(Tracer, SendsEachFrameToEveryClient) {
    Fd a = client(), b = client();
    EXPECT_EQ(2u, tracer.clients());
    EXPECT_EQ(0u, progress.str().find("ACP connection open from 127.0.0.1:"));
    tracer.Send("abc", 3);
    const std::string frame("\x03\x00\x00\x07" "abc", 7);
    EXPECT_EQ(frame, test::read_available(a.get()));
    EXPECT_EQ(frame, test::read_available(b.get()));
}

TEST_F(Tracer, AssemblesFramesFromAnyPieces) {
    Fd c = client();
    const std::string stream = test::tpkt_frame("one") + test::tpkt_frame("two");
    send(c, stream.substr(0, 2));
    send(c, stream.substr(2, 4));
    EXPECT_TRUE(probe.frames.empty());
    send(c, stream.substr(6));
    EXPECT_EQ((std::vector<std::string>{"one", "two"}), probe.frames);
}

TEST_F(Tracer, DeliversNothingForAnEmptyFrameAndStaysConnected) {
    Fd c = client();
    send(c, test::tpkt_frame("") + test::tpkt_frame("x"));
    EXPECT_EQ((std::vector<std::string>{"x"}), probe.frames);
    EXPECT_EQ(1u, tracer.clients());
}

TEST_F(Tracer, ClosesAClientThatSendsNoTpkt) {
    const std::vector<std::string> bad = {std::string("\x03\x00\x00\x03", 4),
                                          std::string("\x04\x00\x00\x08", 4),
                                          test::tpkt_frame(std::string(513, 'x'))};
    for (const std::string& bytes : bad) {
        Fd c = client();
        send(c, bytes);
        EXPECT_EQ(0u, tracer.clients());
        EXPECT_TRUE(test::closed_by_peer(c.get()));
    }
    Fd c = client();
    send(c, test::tpkt_frame(std::string(512, 'y')));  // the largest that fits
    ASSERT_EQ(1u, probe.frames.size());
    EXPECT_EQ(512u, probe.frames[0].size());
}

TEST_F(Tracer, ReadsAndDiscardsFramesWithoutAReceiver) {
    tracer.set_notify(nullptr);
    Fd c = client();
    send(c, test::tpkt_frame("ignored"));
    EXPECT_EQ(1u, tracer.clients());
    EXPECT_TRUE(probe.frames.empty());
}

TEST_F(Tracer, AnswersFromInsideAFrameOnlyItsSender) {
    probe.echo = true;
    Fd a = client(), b = client();
    send(a, test::tpkt_frame("hi"));
    EXPECT_EQ(test::tpkt_frame("hi"), test::read_available(a.get()));
    EXPECT_EQ("", test::read_available(b.get()));
}

TEST_F(Tracer, DropsAClientThatStopsReading) {
    Fd slow = client();
    const std::string block(60000, 'z');
    for (int i = 0; i < 1000 && tracer.clients() == 1; ++i) tracer.Send(block.data(), block.size());
    EXPECT_EQ(0u, tracer.clients());
}

TEST_F(Tracer, RefusesAFrameLongerThanTheLengthField) {
    Fd c = client();
    test::StreamCapture errors(std::cerr);
    const std::string huge(TPKTTracer::max_length + 1, 'h');
    tracer.Send(huge.data(), huge.size());
    EXPECT_EQ("", test::read_available(c.get()));
    EXPECT_NE(std::string::npos, errors.str().find("does not fit"));
}

TEST_F(Tracer, CannotListenOnAPortInUse) {
    test::StreamCapture errors(std::cerr);
    TPKTTracer second;
    EXPECT_FALSE(second.Listen(port));
    EXPECT_EQ("", errors.str());
}

}  // namespace
