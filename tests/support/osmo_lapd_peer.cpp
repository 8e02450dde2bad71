#include "tests/support/osmo_lapd_peer.h"

#include <cstring>
#include <stdexcept>

extern "C" {
#include <osmocom/abis/lapd.h>
#include <osmocom/core/logging.h>
#include <osmocom/core/msgb.h>
#include <osmocom/core/timer.h>
}

#include "runtime/mux_time.h"
#include "tests/support/hdlc_pair.h"

namespace test {

namespace {

uint64_t loop_us() {
    Mux::timeval now;
    Mux::gettimeval(now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint32_t>(now.tv_usec);
}

// The library aborts when it logs before logging is set up; no target is
// added, so it stays quiet.
void init_library_logging() {
    static const log_info info = {};
    static const bool initialized = log_init(&info, nullptr) == 0;
    (void)initialized;
}

}  // namespace

OsmoLapdPeer::OsmoLapdPeer(HdlcEnd& end, bool networkSide, unsigned window) : end_(end) {
    init_library_logging();
    clockUs_ = loop_us();
    osmo_gettimeofday_override = true;
    osmo_gettimeofday_override_time.tv_sec = static_cast<time_t>(clockUs_ / 1000000);
    osmo_gettimeofday_override_time.tv_usec = static_cast<suseconds_t>(clockUs_ % 1000000);
    lapd_profile profile = lapd_profile_isdn;
    if (window) profile.k[0] = static_cast<uint8_t>(window);
    instance_ = lapd_instance_alloc2(networkSide, &OsmoLapdPeer::transmit, this,
                                     &OsmoLapdPeer::indicate, this, &profile, "peer");
    if (!instance_) throw std::runtime_error("lapd_instance_alloc2 failed");
    if (networkSide && !lapd_tei_alloc(instance_, 0)) throw std::runtime_error("lapd_tei_alloc failed");
    end_.bind(this);
}

OsmoLapdPeer::~OsmoLapdPeer() {
    end_.bind(nullptr);
    lapd_instance_free(instance_);
    osmo_gettimeofday_override = false;
}

void OsmoLapdPeer::start() {
    lapd_sap_start(instance_, 0, 0);
    step();
}

void OsmoLapdPeer::stop() {
    lapd_sap_stop(instance_, 0, 0);
    step();
}

void OsmoLapdPeer::send(const std::string& octets) {
    msgb* msg = msgb_alloc_headroom(512 + octets.size(), 128, "peer tx");
    std::memcpy(msgb_put(msg, static_cast<unsigned>(octets.size())), octets.data(), octets.size());
    lapd_transmit(instance_, 0, 0, msg);
    step();
}

void OsmoLapdPeer::on_hdlc_receive(Packet& frame) {
    step();
    msgb* msg = msgb_alloc(frame.length() + 64, "peer rx");
    std::memcpy(msgb_put(msg, frame.length()), frame.data(), frame.length());
    int error = 0;
    if (lapd_receive(instance_, msg, &error) < 0) ++badFrames;
    step();
}

void OsmoLapdPeer::transmit(msgb* msg, void* self) {
    auto* peer = static_cast<OsmoLapdPeer*>(self);
    Packet frame;
    frame.reserve_head(0);
    frame.put(msgb_data(msg), msgb_length(msg));
    msgb_free(msg);
    peer->end_.hdlc_transmit(frame);
}

void OsmoLapdPeer::indicate(osmo_dlsap_prim* prim, uint8_t, uint8_t, void* self) {
    auto* peer = static_cast<OsmoLapdPeer*>(self);
    msgb* msg = prim->oph.msg;
    switch (prim->oph.primitive) {
    case PRIM_DL_EST: ++peer->established; break;
    case PRIM_DL_REL: ++peer->released; break;
    case PRIM_MDL_ERROR: peer->errors.push_back(prim->u.error_ind.cause); break;
    case PRIM_DL_DATA:
        if (msg && prim->oph.operation == PRIM_OP_INDICATION)
            peer->messages.emplace_back(reinterpret_cast<const char*>(msgb_l3(msg)), msgb_l3len(msg));
        break;
    default: break;
    }
    if (msg) msgb_free(msg);
}

void OsmoLapdPeer::step() {
    const uint64_t now = loop_us();
    if (now > clockUs_) {
        const uint64_t delta = now - clockUs_;
        osmo_gettimeofday_override_add(static_cast<time_t>(delta / 1000000),
                                       static_cast<suseconds_t>(delta % 1000000));
        clockUs_ = now;
    }
    osmo_timers_prepare();
    osmo_timers_update();
    osmo_timers_prepare();
    const timeval* next = osmo_timers_nearest();
    if (!next) {
        timer_.reset();
        return;
    }
    const uint64_t us = static_cast<uint64_t>(next->tv_sec) * 1000000 + static_cast<uint64_t>(next->tv_usec);
    timer_.set(static_cast<unsigned>((us + 999) / 1000), &OsmoLapdPeer::on_timer, this);
}

}  // namespace test
