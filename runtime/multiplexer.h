#pragma once
// The server's one event loop: poll() over every attached descriptor, with the
// timer queue, the deferred calls and the hardware watchdog (runtime/timer.h
// for timers and deferred calls).

#include <poll.h>
#include <signal.h>

#include <cstdint>
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/dual_list.h"
#include "runtime/fd.h"
#include "runtime/measure.h"
#include "runtime/sorted_list.h"
#include "runtime/timer.h"

// The names of the poll bits set in `mask`, joined by "|".
std::string PollEventAsText(short mask);

// Base of everything the loop polls. The loop calls every attached handler
// in each pass in which any descriptor was ready, also with revents 0.
class EventHandler : public F_dual_list_item<EventHandler> {
public:
    EventHandler() = default;
    EventHandler(const EventHandler&) = delete;
    EventHandler& operator=(const EventHandler&) = delete;
    virtual ~EventHandler();

    // Fills this handler's poll entry.
    virtual void shedule_event(pollfd& entry) = 0;
    // Serves the poll result.
    virtual void svc_event(short revents) = 0;
    virtual const char* event_name() const { return "unknown"; }
    virtual bool is_named() const { return false; }

    void svc_event() { svc_event(revents_); }
    void mux_attach();
    void mux_detach();
    bool attached() const { return attached_; }
    short revents() const { return revents_; }

private:
    friend class Multiplexer;
    bool attached_ = false;
    short revents_ = 0;
    int pollIndex_ = -1;  // this pass's poll entry, -1 when none
};

// The loop registration of one descriptor: owns a duplicate of it, the poll
// mask and a callback bound to an object's member function.
class Event : public EventHandler {
public:
    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(int fd, short revents) = 0;
    };

    template <class T>
    class THandler : public Handler {
    public:
        THandler(void (T::*member)(int, short), T* object) : member_(member), object_(object) {}
        void Invoke(int fd, short revents) override {
            if (member_) (object_->*member_)(fd, revents);
        }

    private:
        void (T::*member_)(int, short);
        T* object_;
    };

    Event() = default;
    ~Event() override;

    // Deletes the current callback and keeps `handler` (may be null).
    void Bind(Event::Handler* handler);
    template <class T>
    void Bind(const std::string& name, void (T::*member)(int, short), T* object) {
        name_ = name;
        Bind(new THandler<T>(member, object));
    }
    void UnBind() { Bind(nullptr); }

    // Polls a duplicate of `fd` for `events` (replacing any earlier
    // descriptor); a new mask moves the Event to the tail of the poll order.
    // False, with errno set, when it watches nothing: no descriptor was
    // left for the duplicate (or `fd` is none). An owner that cannot watch a
    // connection closes it; a listener tries again later.
    bool Schedule(const Fd& fd, short events);
    // A new mask for the descriptor held (it needs no new descriptor).
    bool Schedule(short events) { return Schedule(fd_, events); }
    // Stops polling and closes the duplicate.
    void Release();

    void shedule_event(pollfd& entry) override;
    void svc_event(short revents) override;
    using EventHandler::svc_event;
    const char* event_name() const override { return name_.c_str(); }
    bool is_named() const override { return true; }

    int fd() const { return fd_.get(); }
    short events() const { return events_; }
    const std::string& name() const { return name_; }
    // Calls whose revents shared a bit with the mask, and their timing.
    unsigned int count() const { return count_; }
    const Measure& measure() const { return measure_; }
    bool bound() const { return handler_ != nullptr; }

private:
    Handler* handler_ = nullptr;
    Fd fd_;
    short events_ = 0;
    std::string name_ = "Unknown";
    unsigned int count_ = 0;
    Measure measure_;
    bool* alive_ = nullptr;  // cleared by the destructor while a callback runs
};

class Multiplexer {
public:
    // Told when a plug-in unhooks while the plug-ins are being asked.
    class TimerPollNotify {
    public:
        virtual ~TimerPollNotify() = default;
        virtual void removeTimerPoolPlugin(TimerPoolPlugin* plugin) = 0;
    };

    // The one loop of the process (also reachable as `multiplexer`). Never
    // destroyed, so static objects may use it at any time.
    static Multiplexer& instance();

    // Runs passes until terminate(). With `watchdog` the hardware watchdog is
    // kept alive; with `liveClock` false the clock is read once per pass.
    void run(bool watchdog, bool liveClock);
    // The pieces of run(), for tests that drive the loop pass by pass.
    void start(bool watchdog, bool liveClock);
    void pass();
    void finish();

    // Asks the loop to end after the current step. Async-signal-safe.
    void terminate();
    bool terminated() const { return stop_ != 0; }

    void attach(EventHandler* handler);
    void detach(EventHandler* handler);
    bool event_exists(EventHandler* handler) const;

    // Writes "PING" to the watchdog when it is open.
    void resetWD();
    bool watchdog_open() const { return bool(watchdog_); }

    void set(TimerEvent* timer);
    void reset(TimerEvent* timer);
    // The due time of the first queued timer; false when none is queued.
    bool next_due(uint32_t& due) const;
    size_t timer_count() const { return timers_.count(); }

    void attach(Dpc* dpc);
    void dettach(Dpc* dpc);
    void hook(TimerPoolPlugin* plugin);
    void unhook(TimerPoolPlugin* plugin);

    // Fires the due timers and runs the deferred calls; returns the
    // milliseconds to the next timer, -1 when none.
    int timers_schedule();
    void execute_dpc() { execute_dpc(false); }
    // The smallest wait the plug-ins report, or INT_MAX.
    int timerPoll_schedule();

    // The loop's part of the status dump.
    void dump(std::ostream& os) const;

    // Back to the state after construction, with the system clock: for tests.
    // Whatever was attached, queued or active is forgotten (not deleted).
    void reset_for_test();

private:
    Multiplexer();
    ~Multiplexer() = delete;

    // One run of the active deferred calls; the run just before the wait
    // leaves out those that run once per pass.
    void execute_dpc(bool beforeWait);
    int wait_for_first_timer(uint32_t now);
    int first_timer_wait();
    void build_poll_set();
    void poll_and_dispatch(int timeoutMs);
    void dispatch();
    void keep_watchdog_alive();
    void open_watchdog();
    void close_watchdog();
    void drain_wakeup();

    F_sorted_list<TimerEvent> timers_;
    F_dual_list<EventHandler> pending_;
    F_dual_list<EventHandler> served_;
    F_dual_list<EventHandler> attached_;
    // One entry per attached handler, then the wake-up pipe.
    std::vector<pollfd> pollSet_;
    std::vector<EventHandler*> pollOwners_;  // null once detached
    std::list<Dpc*> dpcs_;
    std::list<Dpc*> dpcWork_;
    volatile sig_atomic_t stop_ = 0;
    Measure dpcMeasure_;
    Measure eventMeasure_;
    Measure timerMeasure_;
    std::list<TimerPoolPlugin*> plugins_;
    TimerPollNotify* pollGuard_ = nullptr;
    Fd watchdog_;
    bool liveClock_ = true;
    bool pinged_ = false;
    uint32_t lastPing_ = 0;
    // terminate() writes a byte here so that a wait already begun ends.
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
};

// For main and tests; code that may run during static initialisation uses
// Multiplexer::instance().
extern Multiplexer& multiplexer;
