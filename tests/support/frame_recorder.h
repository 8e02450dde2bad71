#pragma once
// The far end of a line in link tests: keeps the frames it hears, described
// as tests/support/lapd_frames.h describes them, for expectations that read
// like a trace.

#include <string>
#include <vector>

#include "signalling/hdlc.h"
#include "tests/support/lapd_frames.h"

namespace test {

class FrameRecorder : public HDLC::Notify {
public:
    // `fromNetwork`: the side that sends what this end hears; `withTei`:
    // each description after the frame's TEI ("64: SABME P cmd").
    FrameRecorder(bool fromNetwork, bool withTei) : fromNetwork_(fromNetwork), withTei_(withTei) {}

    void on_hdlc_receive(Packet& frame) override {
        frames.push_back(withTei_ ? lapd::describe_on_bus(frame, fromNetwork_)
                                  : lapd::describe(frame, fromNetwork_));
    }
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override {}

    // What was heard since the last call.
    std::vector<std::string> take() { return std::move(frames); }

    std::vector<std::string> frames;

private:
    bool fromNetwork_;
    bool withTei_;
};

}  // namespace test
