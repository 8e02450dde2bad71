#pragma once
// Joins a fabric endpoint of the simulated board to one end of an in-memory
// line: what the board sends on the endpoint's channel goes down the line,
// what comes up the line goes out on the channel. A peer or a second
// endpoint on the line's other end stands where a cable would, with the
// line's hooks (latency, loss) on the way.

#include "board/sim/tdm_fabric.h"
#include "tests/support/hdlc_pair.h"

namespace test {

class EndpointBridge : public HDLC::Notify {
public:
    EndpointBridge(board::sim::TdmFabric::Endpoint& endpoint, HdlcEnd& end)
        : endpoint_(endpoint), end_(end) {
        end_.bind(this);
        endpoint_.on_frame = [this](const board::sim::TdmFabric::Frame& bytes) {
            Packet frame;
            frame.reserve_head(0);
            frame.put(bytes.data(), static_cast<unsigned>(bytes.size()));
            end_.hdlc_transmit(frame);
        };
    }
    ~EndpointBridge() override {
        endpoint_.on_frame = nullptr;
        end_.bind(nullptr);
    }
    EndpointBridge(const EndpointBridge&) = delete;
    EndpointBridge& operator=(const EndpointBridge&) = delete;

    void on_hdlc_receive(Packet& frame) override {
        endpoint_.send(board::sim::TdmFabric::Frame(frame.data(), frame.data() + frame.length()));
    }
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override {}

private:
    board::sim::TdmFabric::Endpoint& endpoint_;
    HdlcEnd& end_;
};

}  // namespace test
