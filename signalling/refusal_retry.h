#pragma once
// When a link tries again what its channel refused. A busy channel says
// when it takes frames again (`on_hdlc_ready`); one whose write failed (EIO,
// or EINTR without end) says nothing, and is open and ready as before. What
// the link owes the peer (a status, a reject, the answer to a poll, a unit
// waiting to go) is then tried again on this timer: a channel that fails for
// a while loses nothing, and one that fails for good costs a write per
// interval, never a spinning loop.

#include "runtime/timer.h"
#include "signalling/hdlc.h"

class RefusalRetry {
public:
    static constexpr unsigned interval_ms = 100;

    // After `channel` refused a frame: unless a "ready" will follow (a busy
    // or closed channel), `retry` runs once, interval_ms from the first
    // such refusal. The link sends only what it still owes then.
    template <class T>
    void refused(const GenericHDLC& channel, void (T::*retry)(), T* link) {
        if (channel.is_open() && channel.is_ready() && !timer_.pending())
            timer_.set(interval_ms, retry, link);
    }
    bool pending() const { return timer_.pending(); }

private:
    Timer timer_;
};
