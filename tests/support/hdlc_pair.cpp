#include "tests/support/hdlc_pair.h"

#include <algorithm>
#include <memory>

namespace test {

namespace {

uint64_t now_us() {
    Mux::timeval tv;
    Mux::gettimeval(tv);
    return uint64_t{static_cast<uint32_t>(tv.tv_sec)} * 1000000 + static_cast<uint32_t>(tv.tv_usec);
}

// The loop milliseconds `us` from now, rounded up.
uint32_t ms_after(uint64_t us) {
    return Mux::milliseconds() + static_cast<uint32_t>((us + 999) / 1000);
}

bool reached(uint32_t ms) { return static_cast<int32_t>(ms - Mux::milliseconds()) <= 0; }

}  // namespace

FramePredicate nth(unsigned n, std::function<bool(const Packet&)> match) {
    return from_nth(n, 1, std::move(match));
}

FramePredicate from_nth(unsigned n, unsigned count, std::function<bool(const Packet&)> match) {
    auto seen = std::make_shared<unsigned>(0);
    return [n, count, match, seen](const Packet& frame, unsigned) {
        if (match && !match(frame)) return false;
        ++*seen;
        return *seen >= n && *seen - n < count;
    };
}

FramePredicate every(std::function<bool(const Packet&)> match) {
    return [match](const Packet& frame, unsigned) { return match(frame); };
}

// HdlcEnd.

HdlcEnd::HdlcEnd(HdlcLine& line) : line_(line) { line.ends_.push_back(this); }

bool HdlcEnd::hdlc_transmit(Packet& frame) {
    if (frame.length() == 0) return true;
    const unsigned index = ++counters_.given;
    if (!open_) {
        ++counters_.discarded;
        return false;
    }
    // A driver takes what its queue has room for, whether or not it said so.
    if (busy_ || (queue_ ? !queue_->takes(now_us()) : !ready_)) return refuse_frame(true);
    if (refuse && refuse(frame, index)) {
        if (!refuse_as_failed) return refuse_frame(!refuse_only_that);
        ++counters_.refused;
        ++counters_.failed;
        return false;
    }
    ++counters_.sent;
    tap(frame, true);
    const uint64_t lineUs = queue_ ? queue_->add(frame.length(), now_us()) : 0;
    if (drop && drop(frame, index)) {
        ++counters_.dropped;
        return true;
    }
    const uint32_t due = ms_after(lineUs) + latencyMs_;
    inFlight_.push_back(InFlight{frame, due});
    if (duplicate && duplicate(frame, index)) {
        inFlight_.push_back(InFlight{frame, due});
        ++counters_.duplicated;
    }
    line_.wake();
    return true;
}

int HdlcEnd::add_tap(Tap tap) {
    taps_[nextTap_] = std::move(tap);
    return nextTap_++;
}

void HdlcEnd::remove_tap(int id) { taps_.erase(id); }

void HdlcEnd::tap(const Packet& frame, bool sent) const {
    for (const auto& entry : taps_) entry.second(frame, sent);
}

bool HdlcEnd::refuse_frame(bool block) {
    ++counters_.refused;
    if (block) ready_ = false;
    if (!busy_) {
        readyOwed_ = true;
        readyDue_ = ms_after(queue_ ? queue_->wait(now_us()) : 0);
        line_.wake();
    }
    return false;
}

bool HdlcEnd::ready_due() const { return readyOwed_ && reached(readyDue_); }

void HdlcEnd::set_busy(bool busy) {
    busy_ = busy;
    if (!busy && !ready_) {
        readyOwed_ = true;
        readyDue_ = Mux::milliseconds();
        line_.wake();
    }
}

void HdlcEnd::release() {
    holding_ = false;
    line_.wake();
}

void HdlcEnd::fail() {
    open_ = ready_ = false;
    readyOwed_ = false;
    errorOwed_ = true;
    line_.wake();
}

bool HdlcEnd::has_work() const {
    return ready_due() || errorOwed_ || due_frames() > 0;
}

size_t HdlcEnd::due_frames() const {
    if (holding_) return 0;
    const uint32_t now = Mux::milliseconds();
    size_t due = 0;
    while (due < inFlight_.size() && static_cast<int32_t>(inFlight_[due].due - now) <= 0) ++due;
    return due;
}

// HdlcLine.

HdlcLine::HdlcLine() { dpc_.Bind(this, &HdlcLine::run); }

bool HdlcLine::idle() const {
    for (const HdlcEnd* end : ends_)
        if (end->readyOwed_ || end->has_work() || !end->inFlight_.empty()) return false;
    return true;
}

bool HdlcLine::settled() const {
    for (const HdlcEnd* end : ends_)
        if (end->has_work()) return false;
    return true;
}

void HdlcLine::wake() {
    dpc_.Activate();
    nudge_.set(0, &HdlcLine::on_nudge, this);
}

// Frames sent and readiness owed while this runs wait for the next run. An
// end hears what arrived for it before it hears that it is ready, as a
// channel reads before it writes.
void HdlcLine::run() {
    std::vector<size_t> frames;
    std::vector<bool> ready;
    for (const HdlcEnd* end : ends_) {
        frames.push_back(end->due_frames());
        ready.push_back(end->ready_due());
    }
    for (size_t i = 0; i < ends_.size(); ++i) carry(*ends_[i], frames[i]);
    for (size_t i = 0; i < ends_.size(); ++i) tell(*ends_[i], ready[i]);
    if (settled()) dpc_.Deactivate();
    nudge();
}

void HdlcLine::nudge() {
    if (!settled()) return nudge_.set(0, &HdlcLine::on_nudge, this);
    const uint32_t now = Mux::milliseconds();
    int32_t wait = -1;
    auto wait_for = [now, &wait](uint32_t due) {
        const int32_t left = std::max<int32_t>(0, static_cast<int32_t>(due - now));
        if (wait < 0 || left < wait) wait = left;
    };
    for (const HdlcEnd* end : ends_) {
        if (end->readyOwed_) wait_for(end->readyDue_);
        if (!end->holding_ && !end->inFlight_.empty()) wait_for(end->inFlight_.front().due);
    }
    if (wait < 0)
        nudge_.reset();
    else
        nudge_.set(static_cast<unsigned>(wait), &HdlcLine::on_nudge, this);
}

// Tells `end` it failed, or that it is ready.
void HdlcLine::tell(HdlcEnd& end, bool ready) {
    if (end.errorOwed_) {
        end.errorOwed_ = false;
        if (end.notify_) end.notify_->on_hdlc_error(HDLC::Notify::Cause::read_failure);
    }
    if (ready && end.readyOwed_) {
        end.readyOwed_ = false;
        end.ready_ = true;
        if (end.notify_) end.notify_->on_hdlc_ready();
    }
}

// Hands `frames` of what `end` sent to its peers; a failed peer loses them.
void HdlcLine::carry(HdlcEnd& end, size_t frames) {
    for (; frames && !end.inFlight_.empty(); --frames) {
        const Packet frame = end.inFlight_.front().frame;
        end.inFlight_.pop_front();
        for (HdlcEnd* peer : end.peers_) {
            if (!peer->open_) continue;
            ++peer->counters_.delivered;
            peer->tap(frame, false);
            Packet copy = frame;
            if (peer->notify_) peer->notify_->on_hdlc_receive(copy);
        }
    }
}

// HdlcPair.

HdlcPair::HdlcPair() {
    join(a, b);
    join(b, a);
}

// BriBus.

BriBus::BriBus(unsigned terminals) {
    for (unsigned i = 0; i < terminals; ++i) {
        terminals_.emplace_back(new HdlcEnd(*this));
        join(network, *terminals_.back());
        join(*terminals_.back(), network);
    }
}

}  // namespace test
