#pragma once
// An independent Q.921 peer for interoperation tests: libosmo-abis's LAPD
// (over libosmocore's lapd_core) on one end of an `HdlcPair`, its timers
// running on the loop's virtual clock.
//
//   test::OsmoLapdPeer peer(line.b, /*networkSide=*/true);
//   link.activate();  loop.advance(100);   // peer.established == 1

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/timer.h"
#include "signalling/hdlc.h"

struct lapd_instance;
struct msgb;
struct osmo_dlsap_prim;

namespace test {

class HdlcEnd;

class OsmoLapdPeer : public HDLC::Notify {
public:
    // With `window` above 0, the library's ISDN profile with that window (k)
    // on SAPI 0 instead of its 7.
    OsmoLapdPeer(HdlcEnd& end, bool networkSide, unsigned window = 0);
    ~OsmoLapdPeer() override;
    OsmoLapdPeer(const OsmoLapdPeer&) = delete;
    OsmoLapdPeer& operator=(const OsmoLapdPeer&) = delete;

    // User side only: establish (SABME) and release TEI 0, SAPI 0. The
    // release sometimes stays local (no DISC is sent).
    void start();
    void stop();
    // One layer-3 message in an I frame.
    void send(const std::string& octets);

    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override {}

    unsigned established = 0;
    unsigned released = 0;
    std::vector<unsigned> errors;         // MDL-ERROR causes
    std::vector<std::string> messages;    // DL-DATA indications
    unsigned badFrames = 0;               // frames lapd_receive refused

private:
    static void transmit(msgb* msg, void* self);
    static void indicate(osmo_dlsap_prim* prim, uint8_t tei, uint8_t sapi, void* self);
    // Brings the library's clock to the loop's, runs its due timers and arms
    // ours for its next one.
    void step();
    void on_timer() { step(); }

    HdlcEnd& end_;
    lapd_instance* instance_ = nullptr;
    Timer timer_;
    uint64_t clockUs_ = 0;
};

}  // namespace test
