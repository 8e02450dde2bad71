#pragma once
// TPKT framing (RFC 1006) on a byte stream: version 3, reserved 0, a 16-bit
// big-endian length that counts the 4 header bytes, then the payload.
// Downwards the layer puts the header in front of each message; upwards it
// cuts the stream, which comes in arbitrary pieces, back into frames and
// skips what is not a frame. A frame whose payload stalls for 3 seconds is
// dropped, and the rest of it skipped when it comes.

#include <cstdint>

#include "link/protocol.h"
#include "runtime/log_throttle.h"
#include "runtime/timer.h"

class Tpkt_protocol : public Protocol {
public:
    enum State { idle, wait_r, len_1, len_2, body, ignore };

    static constexpr unsigned header_size = 4;
    // The most a 16-bit length can announce.
    static constexpr unsigned max_payload = 0xFFFF - header_size;
    static constexpr unsigned partial_frame_timeout_ms = 3000;

    ~Tpkt_protocol() override;

    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;
    void local_activate() override;
    void local_deactivate() override;
    void message(Packet& p) override;
    void receive(Packet& p) override;

    State state() const { return state_; }
    bool timeout_pending() const { return timer_.pending(); }

private:
    void on_timeout(Timer*);
    void reset();
    void next_state(State state) { state_ = state; }
    // One step of the state machine on the front of p.
    void take(Packet& p);
    void end_of_length();
    void deliver_frame();

    Protocol_name_str fixedName_{"TPKT"};
    uint32_t remaining_ = 0;
    Timer timer_;
    State state_ = idle;
    Packet frame_;
    // Bytes that are not frames come at the pace of the peer: each of their
    // lines is written at most once a second.
    LogThrottle badStart_;
    LogThrottle badReserved_;
    LogThrottle tooSmall_;
};
