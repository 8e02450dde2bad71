#include "runtime/multiplexer.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <boost/polymorphic_cast.hpp>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "board/devio.h"
#include "board/drivers/watchdog.h"
#include "runtime/ext_output.h"
#include "runtime/profile.h"

namespace {

// The longest wait while the watchdog is open, and the ping period.
constexpr int kWatchdogWait = 1000;

constexpr int kNoLimit = INT_MAX;

bool write_word(int fd, const char* word) {
    size_t length = std::strlen(word);
    return board::write(fd, word, length) == static_cast<ssize_t>(length);
}

// `fd`, or a duplicate of it numbered 3 or more when it is 0, 1 or 2 (the
// original is closed).
int above_standard_streams(int fd) {
    if (fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

}  // namespace

Multiplexer& multiplexer = Multiplexer::instance();

std::string PollEventAsText(short mask) {
    static const struct {
        short bit;
        const char* name;
    } names[] = {{0x001, "POLLIN"},     {0x002, "POLLPRI"},    {0x004, "POLLOUT"},
                 {0x008, "POLLERR"},    {0x010, "POLLHUP"},    {0x020, "POLLNVAL"},
                 {0x040, "POLLRDNORM"}, {0x080, "POLLRDBAND"}, {0x100, "POLLWRNORM"},
                 {0x200, "POLLWRBAND"}, {0x400, "POLLMSG"}};
    std::string text;
    for (const auto& n : names)
        if (mask & n.bit) text += std::string("|") + n.name;
    return text.empty() ? text : text.substr(1);
}

// ---- EventHandler and Event

EventHandler::~EventHandler() { mux_detach(); }

void EventHandler::mux_attach() {
    if (attached_) return;
    Multiplexer::instance().attach(this);
    attached_ = true;
}

void EventHandler::mux_detach() {
    if (!attached_) return;
    Multiplexer::instance().detach(this);
    attached_ = false;
}

Event::~Event() {
    if (alive_) *alive_ = false;
    delete handler_;
    handler_ = nullptr;
    if (fd_) mux_detach();
}

void Event::Bind(Event::Handler* handler) {
    delete handler_;
    handler_ = handler;
}

bool Event::Schedule(const Fd& fd, short events) {
    if (fd_) mux_detach();
    if (&fd != &fd_) fd_ = fd;
    events_ = events;
    if (fd_) mux_attach();
    return bool(fd_);
}

void Event::Release() {
    if (fd_) mux_detach();
    fd_.close();
}

void Event::shedule_event(pollfd& entry) {
    entry.fd = fd_.get();
    entry.events = events_;
}

void Event::svc_event(short revents) {
    bool ready = (revents & events_) != 0;
    if (ready) ++count_;
    if (!handler_) return;
    // The callback may delete this Event (usually with its owner).
    bool alive = true;
    alive_ = &alive;
    if (ready) measure_.begin();
    handler_->Invoke(fd_.get(), revents);
    if (!alive) return;
    alive_ = nullptr;
    if (ready) measure_.end();
}

// ---- Multiplexer: construction and the run

Multiplexer& Multiplexer::instance() {
    static Multiplexer* const loop = new Multiplexer;
    return *loop;
}

// The loop is made during static initialisation, when 0, 1 or 2 may still
// be closed; its pipe must not take one of them, or a daemon() would put
// /dev/null over it and poll() would find it readable on every pass.
Multiplexer::Multiplexer() {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) == 0) {
        wakeRead_ = above_standard_streams(pipeFds[0]);
        wakeWrite_ = above_standard_streams(pipeFds[1]);
    }
}

void Multiplexer::run(bool watchdog, bool liveClock) {
    // The stop flag is left as it is: a SIGTERM during start-up still stops.
    start(watchdog, liveClock);
    while (!stop_) pass();
    finish();
}

void Multiplexer::start(bool watchdog, bool liveClock) {
    liveClock_ = liveClock;
    pinged_ = false;
    if (watchdog) open_watchdog();
    if (!liveClock_) Mux::mux_settimeofday();
}

void Multiplexer::finish() {
    std::clog << "Mux: terminating..." << std::endl;
    close_watchdog();
}

void Multiplexer::terminate() {
    int savedErrno = errno;
    stop_ = 1;
    char byte = 0;
    if (wakeWrite_ >= 0 && ::write(wakeWrite_, &byte, 1) < 0) {
        // The pipe is full: a wake-up is pending already.
    }
    errno = savedErrno;
}

void Multiplexer::drain_wakeup() {
    char bytes[64];
    while (wakeRead_ >= 0 && ::read(wakeRead_, bytes, sizeof bytes) > 0) {
    }
}

// One pass: timers and deferred calls, then the wait, then every handler.
void Multiplexer::pass() {
    timers_schedule();
    int pluginWait = timerPoll_schedule();
    attached_.splice_back(pending_);
    build_poll_set();
    execute_dpc(true);

    // Measured after the second run of deferred calls, which may have armed
    // a timer or attached a handler that the next pass must poll.
    int timeout = std::min(first_timer_wait(), pluginWait);
    if (!pending_.empty()) timeout = 0;
    if (timeout == kNoLimit) timeout = -1;

    if (timeout == -1 && attached_.empty()) {
        std::cerr << "multiplexer: system hang detected!!!" << std::endl;
        std::abort();
    }
    if (watchdog_ && (timeout == -1 || timeout > kWatchdogWait)) timeout = kWatchdogWait;
    poll_and_dispatch(timeout);
}

void Multiplexer::build_poll_set() {
    size_t count = attached_.count();
    if (pollSet_.size() != count + 1) {
        pollSet_.resize(count + 1);
        pollOwners_.resize(count);
    }
    size_t k = 0;
    for (EventHandler* h = attached_.head(); h; h = h->next_item(), ++k) {
        pollSet_[k] = pollfd{-1, 0, 0};
        h->shedule_event(pollSet_[k]);
        pollOwners_[k] = h;
        h->pollIndex_ = static_cast<int>(k);
    }
    pollSet_[count] = pollfd{wakeRead_, POLLIN, 0};
}

void Multiplexer::poll_and_dispatch(int timeoutMs) {
    int ready = Mux::clock().poll(pollSet_.data(), pollSet_.size(), timeoutMs);
    int pollErrno = errno;
    if (!liveClock_) Mux::mux_settimeofday();
    keep_watchdog_alive();

    if (ready < 0) {
        if (pollErrno == EINTR) return;
        std::cerr << "multiplexer poll failed: " << std::strerror(pollErrno) << std::endl;
        std::abort();
    }
    if (pollSet_.back().revents) {
        drain_wakeup();
        --ready;
    }
    if (ready <= 0) return;

    for (size_t k = 0; k < pollOwners_.size(); ++k) {
        if (EventHandler* h = pollOwners_[k]) {
            h->revents_ = pollSet_[k].revents;
            h->pollIndex_ = -1;
            pollOwners_[k] = nullptr;
        }
    }
    dispatch();
}

void Multiplexer::dispatch() {
    while (!attached_.empty() && !stop_) {
        EventHandler* h = attached_.head();
        served_.push_back(h);
        eventMeasure_.begin();
        h->svc_event();  // may detach or delete h
        eventMeasure_.end();
    }
    // Served first, then those a stop left unserved: the poll order stays.
    served_.splice_back(attached_);
    attached_.splice_back(served_);
}

// ---- Handlers

void Multiplexer::attach(EventHandler* handler) {
    if (event_exists(handler)) {
        std::cerr << "duplicate multiplexer attach " << std::flush;
        std::cerr << '"' << handler->event_name() << "\" ignored." << std::endl;
        return;
    }
    pending_.push_back(handler);
}

void Multiplexer::detach(EventHandler* handler) {
    if (!pending_.remove(handler) && !served_.remove(handler) && !attached_.remove(handler)) {
        std::cerr << "indvalid Multiplexer::detach " << std::flush;
        std::cerr << handler->event_name() << std::endl;
        return;
    }
    int k = handler->pollIndex_;
    if (k >= 0 && static_cast<size_t>(k) < pollOwners_.size() && pollOwners_[k] == handler)
        pollOwners_[k] = nullptr;
    handler->pollIndex_ = -1;
}

bool Multiplexer::event_exists(EventHandler* handler) const {
    return pending_.contains(handler) || served_.contains(handler) ||
           attached_.contains(handler);
}

// ---- Watchdog

void Multiplexer::open_watchdog() {
    if (watchdog_) return;
    Fd fd(board::open(board::watchdog::kDevice, O_WRONLY | O_CLOEXEC));
    if (!fd) {
        std::cerr << "Mux: fail to open watchdog: " << std::strerror(errno) << std::endl;
        return;
    }
    if (!write_word(fd.get(), board::watchdog::kStart)) {
        std::cerr << "Mux: fail to activate watchdog: " << std::strerror(errno) << std::endl;
        return;
    }
    watchdog_ = std::move(fd);
}

void Multiplexer::close_watchdog() {
    if (!watchdog_) return;
    if (!write_word(watchdog_.get(), board::watchdog::kStop))
        std::cerr << "Mux: stop watchdog failed: " << std::strerror(errno) << std::endl;
    watchdog_.close();
}

void Multiplexer::resetWD() {
    if (!watchdog_) return;
    if (!write_word(watchdog_.get(), board::watchdog::kPing))
        std::cerr << "Mux: ping watchdog failed: " << std::strerror(errno) << std::endl;
}

// At most one ping a second, and one as soon as the clock went backwards.
void Multiplexer::keep_watchdog_alive() {
    uint32_t now = Mux::milliseconds();
    if (pinged_ && now >= lastPing_ && now - lastPing_ <= 999) return;
    pinged_ = true;
    lastPing_ = now;
    resetWD();
}

// ---- Timers

void Multiplexer::set(TimerEvent* timer) { timers_.insert(timer); }

void Multiplexer::reset(TimerEvent* timer) { timers_.remove(timer); }

bool Multiplexer::next_due(uint32_t& due) const {
    if (!timers_.head()) return false;
    due = timers_.head()->due();
    return true;
}

int Multiplexer::timers_schedule() {
    uint32_t now = Mux::milliseconds();
    while (TimerEvent* t = timers_.head()) {
        if (static_cast<int32_t>(now - t->due_) < 0) break;
        timerMeasure_.begin();
        timers_.remove(t);
        t->fire();  // may delete t
        timerMeasure_.end();
    }
    execute_dpc();
    if (!timers_.head()) return -1;
    return wait_for_first_timer(now);
}

int Multiplexer::first_timer_wait() {
    return timers_.head() ? wait_for_first_timer(Mux::milliseconds()) : kNoLimit;
}

// Milliseconds from `now` to the first queued timer (0 when it is due). The
// clock runs only forward, whatever the date does, so a long wait is a long
// timer.
int Multiplexer::wait_for_first_timer(uint32_t now) {
    const int32_t wait = static_cast<int32_t>(timers_.head()->due_ - now);
    return wait > 0 ? wait : 0;
}

// ---- Deferred calls

void Multiplexer::attach(Dpc* dpc) {
    dpcs_.push_back(dpc);
    dpcs_.sort(std::less<Dpc*>());
    dpcs_.unique();
}

void Multiplexer::dettach(Dpc* dpc) {
    dpcs_.remove(dpc);
    dpcWork_.remove(dpc);
}

void Multiplexer::execute_dpc(bool beforeWait) {
    dpcWork_ = dpcs_;
    while (!dpcWork_.empty()) {
        Dpc* dpc = dpcWork_.front();
        dpcWork_.pop_front();
        if (beforeWait && dpc->oncePerPass_) continue;
        dpcMeasure_.begin();
        if (dpc->handler_) dpc->handler_->Invoke();  // may delete dpc
        dpcMeasure_.end();
    }
}

// ---- Timer plug-ins

namespace {

// The plug-ins still to be asked in a poll in progress.
class PluginPoll : public Multiplexer::TimerPollNotify {
public:
    explicit PluginPoll(std::list<TimerPoolPlugin*>& hooked) : hooked_(hooked) {}
    void removeTimerPoolPlugin(TimerPoolPlugin* plugin) override {
        toAsk.remove(plugin);
        hooked_.remove(plugin);
    }
    std::list<TimerPoolPlugin*> toAsk;

private:
    std::list<TimerPoolPlugin*>& hooked_;
};

}  // namespace

void Multiplexer::hook(TimerPoolPlugin* plugin) { plugins_.push_back(plugin); }

void Multiplexer::unhook(TimerPoolPlugin* plugin) {
    if (pollGuard_)
        pollGuard_->removeTimerPoolPlugin(plugin);
    else
        plugins_.remove(plugin);
}

int Multiplexer::timerPoll_schedule() {
    PluginPoll poll(plugins_);
    pollGuard_ = &poll;
    poll.toAsk.swap(plugins_);
    int result = kNoLimit;
    while (!poll.toAsk.empty()) {
        TimerPoolPlugin* plugin = poll.toAsk.front();
        poll.toAsk.pop_front();
        plugins_.push_back(plugin);
        int wait = plugin->timerPoll();
        if (wait >= 0) result = std::min(result, wait);
    }
    pollGuard_ = nullptr;
    return result;
}

// ---- Status dump

void Multiplexer::dump(std::ostream& os) const {
    os << "dpc transition measurement (min/max/cur/counter): " << dpcMeasure_ << std::endl;
    os << "event transition measurement (min/max/cur/counter): " << eventMeasure_ << std::endl;
    os << "timer transition measurement (min/max/cur/counter): " << timerMeasure_ << std::endl;
    Profile::dump(os);
    {
        ext::Table table(40, 30, 10, 10, 5, 60);
        ext::Table::Sentry s(os, table);
        s << ext::delimeter << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow << "count"
          << ext::nextrow << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure"
          << ext::nextrow << ext::delimeter;
        for (const EventHandler* h = attached_.head(); h; h = h->next_item()) {
            if (!h->is_named()) continue;
            const Event* e = boost::polymorphic_downcast<const Event*>(h);
            s << ext::beginrow << e->name() << ext::nextrow << PollEventAsText(e->events()) << ext::nextrow
              << e->count() << ext::nextrow << (e->bound() ? "attached" : "unattached")
              << ext::nextrow << e->fd() << ext::nextrow << e->measure() << ext::nextrow;
        }
        s << ext::delimeter;
    }
    os << std::endl;
}

// ---- Tests

void Multiplexer::reset_for_test() {
    for (auto* list : {&pending_, &served_, &attached_}) {
        while (EventHandler* h = list->pop_front()) {
            h->attached_ = false;
            h->pollIndex_ = -1;
        }
    }
    pollSet_.clear();
    pollOwners_.clear();
    timers_.clear();
    for (Dpc* dpc : dpcs_) dpc->active_ = false;
    dpcs_.clear();
    dpcWork_.clear();
    for (TimerPoolPlugin* plugin : plugins_) plugin->hooked_ = false;
    plugins_.clear();
    pollGuard_ = nullptr;
    watchdog_.reset();
    dpcMeasure_ = eventMeasure_ = timerMeasure_ = Measure();
    liveClock_ = true;
    pinged_ = false;
    lastPing_ = 0;
    drain_wakeup();
    stop_ = 0;
    Mux::set_clock(nullptr);
}
