#pragma once
// libpri as an independent peer on a BRI port (a point-to-multipoint D
// channel) or a PRI link, network or user side, whose frames travel on an
// `HdlcEnd`.
//
//   test::PriPeer peer(bus.network, /*networkSide=*/true);  // writes at once
//   loop.advance(100);   // each frame it hears is fed, then its due timers run
//
// libpri keeps time on the real clock, not the loop's: tests take only paths
// where none of its timers runs out (well under a second). It cannot free a
// D channel, so every one made stays reachable until the process ends.

#include <deque>
#include <string>
#include <vector>

#include "signalling/hdlc.h"

struct pri;
struct q931_call;

namespace test {

class HdlcEnd;

class PriPeer : public HDLC::Notify {
public:
    PriPeer(HdlcEnd& port, bool networkSide, bool bri = true);
    ~PriPeer() override;
    PriPeer(const PriPeer&) = delete;
    PriPeer& operator=(const PriPeer&) = delete;

    // Offers a speech call on B1 to `number`: a SETUP.
    q931_call* call(const char* number);

    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override {}

    std::vector<int> events;  // PRI_EVENT_* in order
    q931_call* ringing = nullptr;  // the call of the last PRI_EVENT_RING
    int ringReference = -1;        // and its call reference

private:
    static int io_read(pri* channel, void* buffer, int size);
    static int io_write(pri* channel, void* buffer, int size);
    void take_event(const void* event);

    HdlcEnd& port_;
    pri* channel_ = nullptr;
    std::deque<std::string> heard_;  // frames waiting for libpri to read them
};

}  // namespace test
