#include "tests/support/pri_peer.h"

#include <cstring>
#include <stdexcept>

#include <sys/time.h>

extern "C" {
#include <libpri.h>
}

#include "tests/support/hdlc_pair.h"

namespace test {

namespace {

// libpri prints its notes to stdout unless told where they go.
void quiet(pri*, char*) {}

// Never destroyed, so that what libpri allocated stays reachable for the
// leak check at exit.
std::vector<pri*>& channels() {
    static auto* all = new std::vector<pri*>;
    return *all;
}

constexpr int fcs_octets = 2;

}  // namespace

PriPeer::PriPeer(HdlcEnd& port, bool networkSide, bool bri) : port_(port) {
    pri_set_message(quiet);
    pri_set_error(quiet);
    port_.bind(this);
    const int node = networkSide ? PRI_NETWORK : PRI_CPE;
    channel_ = bri ? pri_new_bri_cb(-1, 0, node, PRI_SWITCH_EUROISDN_E1, &PriPeer::io_read,
                                    &PriPeer::io_write, this)
                   : pri_new_cb(-1, node, PRI_SWITCH_EUROISDN_E1, &PriPeer::io_read,
                                &PriPeer::io_write, this);
    if (!channel_) throw std::runtime_error("pri_new_bri_cb failed");
    channels().push_back(channel_);
}

PriPeer::~PriPeer() {
    port_.bind(nullptr);
    pri_set_userdata(channel_, nullptr);
}

q931_call* PriPeer::call(const char* number) {
    q931_call* c = pri_new_call(channel_);
    pri_sr* request = pri_sr_new();
    pri_sr_set_channel(request, 1, 1, 0);
    pri_sr_set_bearer(request, PRI_TRANS_CAP_SPEECH, PRI_LAYER_1_ALAW);
    pri_sr_set_called(request, const_cast<char*>(number), PRI_UNKNOWN, 1);
    pri_setup(channel_, c, request);
    pri_sr_free(request);
    return c;
}

void PriPeer::on_hdlc_receive(Packet& frame) {
    heard_.emplace_back(reinterpret_cast<const char*>(frame.data()), frame.length());
    take_event(pri_check_event(channel_));
    take_event(pri_schedule_run(channel_));
}

void PriPeer::take_event(const void* event) {
    if (!event) return;
    const pri_event* e = static_cast<const pri_event*>(event);
    events.push_back(e->e);
    if (e->e == PRI_EVENT_RING) {
        ringing = e->ring.call;
        ringReference = e->ring.cref;
    }
}

// One frame and its two FCS octets, or nothing.
int PriPeer::io_read(pri* channel, void* buffer, int size) {
    auto* peer = static_cast<PriPeer*>(pri_get_userdata(channel));
    if (!peer || peer->heard_.empty()) return 0;
    const std::string frame = std::move(peer->heard_.front());
    peer->heard_.pop_front();
    if (static_cast<int>(frame.size()) + fcs_octets > size) return 0;
    std::memcpy(buffer, frame.data(), frame.size());
    std::memset(static_cast<char*>(buffer) + frame.size(), 0, fcs_octets);
    return static_cast<int>(frame.size()) + fcs_octets;
}

// A frame with room for its FCS at the end, which the line does not carry.
int PriPeer::io_write(pri* channel, void* buffer, int size) {
    auto* peer = static_cast<PriPeer*>(pri_get_userdata(channel));
    if (!peer || size <= fcs_octets) return size;
    Packet frame;
    frame.reserve_head(0);
    frame.put(buffer, static_cast<unsigned>(size - fcs_octets));
    peer->port_.hdlc_transmit(frame);
    return size;
}

}  // namespace test
