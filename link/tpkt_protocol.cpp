#include "link/tpkt_protocol.h"

#include <algorithm>
#include <iostream>

#include "runtime/profile.h"

namespace {

constexpr unsigned char kVersion = 3;
constexpr unsigned char kReserved = 0;

}  // namespace

Tpkt_protocol::~Tpkt_protocol() {
    frame_ = Packet();
    timer_.reset();
}

void Tpkt_protocol::local_prepare_head(Packet& p) { p.reserve_head(header_size); }

void Tpkt_protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void Tpkt_protocol::local_activate() { reset(); }

void Tpkt_protocol::local_deactivate() {
    reset();
    on_deactivate(new Protocol_status_success(this, "TPKT deactivated"));
}

void Tpkt_protocol::reset() {
    timer_.reset();
    frame_ = Packet();
    next_state(idle);
}

// The stream loses nothing: the rest of the frame still comes. The payload
// held so far goes, and the rest is skipped when it comes, so that the next
// frame is read from its own header.
void Tpkt_protocol::on_timeout(Timer*) {
    std::clog << " TPKT packet timeout." << std::endl;
    frame_ = Packet();
    next_state(ignore);
}

void Tpkt_protocol::message(Packet& p) {
    const unsigned length = p.length();
    // The length field would wrap: the peer would read another frame.
    if (length > max_payload) {
        std::cerr << "TPKT message too long, length = " << length << " max = " << max_payload
                  << ", not sent" << std::endl;
        return;
    }
    static Profile::Point point("Tpkt_protocol::message");
    point.begin();
    p.push16_b(static_cast<unsigned short>(length + header_size));
    p.push(kReserved);
    p.push(kVersion);
    point.end();
    transmit(p);
}

void Tpkt_protocol::receive(Packet& p) {
    while (p.length() > 0) take(p);
    // The time-out frees the buffer of a payload being collected; a header's
    // bytes hold none and are read on whenever the rest comes.
    if (state_ == body)
        timer_.set(partial_frame_timeout_ms, &Tpkt_protocol::on_timeout, this);
    else
        timer_.reset();
}

void Tpkt_protocol::take(Packet& p) {
    switch (state_) {
    case idle:
        if (p.pull() == kVersion)
            next_state(wait_r);
        else if (badStart_.admit())
            std::clog << name().name() << " bad TPKT packet start." << badStart_ << std::endl;
        break;
    case wait_r:
        if (p.pull() == kReserved) {
            next_state(len_1);
        } else {
            if (badReserved_.admit())
                std::clog << name().name() << " bad TPKT reserved." << badReserved_ << std::endl;
            next_state(idle);
        }
        break;
    case len_1:
        remaining_ = p.pull();
        next_state(len_2);
        break;
    case len_2:
        remaining_ = remaining_ * 256 + p.pull();
        end_of_length();
        break;
    case body: {
        unsigned n = std::min<unsigned>(remaining_, p.length());
        frame_.put(p.data(), n);
        p.skip(n);
        remaining_ -= n;
        if (remaining_ == 0) deliver_frame();
        break;
    }
    case ignore: {
        unsigned n = std::min<unsigned>(remaining_, p.length());
        p.skip(n);
        remaining_ -= n;
        if (remaining_ == 0) next_state(idle);
        break;
    }
    }
}

void Tpkt_protocol::end_of_length() {
    if (remaining_ <= 3) {
        if (tooSmall_.admit()) std::clog << "TPKT too small " << remaining_ << tooSmall_ << std::endl;
        next_state(idle);
        return;
    }
    remaining_ -= header_size;
    frame_ = Packet();
    frame_.reserve_head(0);
    if (remaining_ > frame_._tailroom()) {
        std::clog << "TPKT length too big, received = " << remaining_
                  << " max = " << frame_._tailroom() << std::endl;
        frame_ = Packet();
        next_state(ignore);
        return;
    }
    next_state(body);
    // An empty frame is complete with its header.
    if (remaining_ == 0) deliver_frame();
}

// The frame leaves this layer before it goes up, so that whatever the layers
// above do meanwhile (even reset this one) finds the layer idle.
void Tpkt_protocol::deliver_frame() {
    Packet frame = frame_;
    frame_ = Packet();
    next_state(idle);
    on_message(frame);
}
