#pragma once
// What happens later or repeatedly: one-shot timers in milliseconds of the
// loop clock, deferred calls that run on every loop pass while active, and
// timer plug-ins that the loop asks for their next due time. The loop itself
// is runtime/multiplexer.h.

#include <cstdint>
#include <memory>

#include "runtime/dual_list.h"
#include "runtime/mux_time.h"

// One pending wake-up, kept in the loop's timer queue by due time. One-shot:
// the loop takes it off the queue before fire().
class TimerEvent : public F_dual_list_item<TimerEvent> {
public:
    TimerEvent() = default;
    TimerEvent(const TimerEvent&) = delete;
    TimerEvent& operator=(const TimerEvent&) = delete;
    virtual ~TimerEvent();
    virtual void fire() = 0;

    // Due `ms` from now (wrapping at 32 bits); re-arming moves it.
    void schedule(unsigned int ms);
    // Takes it off the queue when it is queued.
    void reset();
    // Signed 32-bit difference of the due times, so order survives the wrap.
    int compare(const TimerEvent* other) const {
        return static_cast<int32_t>(due_ - other->due_);
    }
    uint32_t due() const { return due_; }
    bool queued() const { return linked(); }

private:
    friend class Multiplexer;
    uint32_t due_ = 0;
};

// Owns at most one pending event of one object. Setting it again replaces
// (and so cancels) the pending event; destruction cancels it.
class Timer {
public:
    Timer() = default;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer() { reset(); }

    template <class T>
    void set(unsigned int ms, void (T::*member)(), T* object);
    template <class T>
    void set(unsigned int ms, void (T::*member)(Timer*), T* object);

    // Deletes the pending event (cancelling it) and takes `event` instead.
    void reset(TimerEvent* event = nullptr) { event_.reset(event); }
    TimerEvent* get() const { return event_.get(); }
    TimerEvent* release() { return event_.release(); }
    bool pending() const { return event_ != nullptr; }
    explicit operator bool() const { return pending(); }

private:
    std::unique_ptr<TimerEvent> event_;
};

// Calls object->member() when due. Gives itself up from its Timer first, so
// the callback may set the same Timer again; then deletes itself.
template <class T>
class ObjTimerEvent1 : public TimerEvent {
public:
    ObjTimerEvent1(Timer* owner, unsigned int ms, void (T::*member)(), T* object)
        : owner_(owner), member_(member), object_(object) {
        schedule(ms);
    }
    void fire() override {
        owner_->release();
        T* object = object_;
        auto member = member_;
        delete this;
        (object->*member)();
    }

private:
    Timer* owner_;
    void (T::*member_)();
    T* object_;
};

// As ObjTimerEvent1, passing the owning Timer to the callback.
template <class T>
class ObjTimerEvent2 : public TimerEvent {
public:
    ObjTimerEvent2(Timer* owner, unsigned int ms, void (T::*member)(Timer*), T* object)
        : owner_(owner), member_(member), object_(object) {
        schedule(ms);
    }
    void fire() override {
        Timer* owner = owner_;
        owner->release();
        T* object = object_;
        auto member = member_;
        delete this;
        (object->*member)(owner);
    }

private:
    Timer* owner_;
    void (T::*member_)(Timer*);
    T* object_;
};

// As ObjTimerEvent1 with a plain function.
class SimpleTimerEvent1 : public TimerEvent {
public:
    SimpleTimerEvent1(Timer* owner, unsigned int ms, void (*function)())
        : owner_(owner), function_(function) {
        schedule(ms);
    }
    void fire() override;

private:
    Timer* owner_;
    void (*function_)();
};

template <class T>
void Timer::set(unsigned int ms, void (T::*member)(), T* object) {
    reset(new ObjTimerEvent1<T>(this, ms, member, object));
}

template <class T>
void Timer::set(unsigned int ms, void (T::*member)(Timer*), T* object) {
    reset(new ObjTimerEvent2<T>(this, ms, member, object));
}

// A timer described once by a static record, for classes that arm the same
// timer from several places:
//   static const TimerSpec<Slot>::Spec TUpdatespec;   // {&Slot::OnUpdate, 0, 3000}
//   TimerSpec<Slot>::SpecTimer<Slot::TUpdatespec> updateTimer;
//   updateTimer.set(this);
template <class T>
struct TimerSpec {
    struct Spec {
        void (T::*member)();
        void (T::*memberWithTimer)(Timer*);  // used when member is null
        unsigned int ms;
    };

    template <const Spec& spec>
    class SpecTimer : public Timer {
    public:
        void set(T* object) {
            if (spec.member)
                Timer::set(spec.ms, spec.member, object);
            else
                Timer::set(spec.ms, spec.memberWithTimer, object);
        }
    };
};

// Something with due times of its own that the loop asks before each wait.
class TimerPoolPlugin {
public:
    TimerPoolPlugin() = default;
    TimerPoolPlugin(const TimerPoolPlugin&) = delete;
    TimerPoolPlugin& operator=(const TimerPoolPlugin&) = delete;
    virtual ~TimerPoolPlugin() { timerUnhook(); }
    // Milliseconds to the next due time; negative when there is none.
    virtual int timerPoll() = 0;

    void timerHook();
    void timerUnhook();
    bool hooked() const { return hooked_; }

private:
    friend class Multiplexer;
    bool hooked_ = false;
};

class DpcHandler {
public:
    virtual void Invoke() = 0;
    virtual ~DpcHandler() = default;
};

class DpcHandler1 : public DpcHandler {
public:
    explicit DpcHandler1(void (*function)()) : function_(function) {}
    void Invoke() override { function_(); }

private:
    void (*function_)();
};

template <class T>
class TDpcHandler : public DpcHandler {
public:
    TDpcHandler(T* object, void (T::*member)()) : object_(object), member_(member) {}
    void Invoke() override { (object_->*member_)(); }

private:
    T* object_;
    void (T::*member_)();
};

// A deferred call: while active it runs twice on every loop pass (after the
// timers and just before the wait), in ascending address order with the
// other active calls; one marked once per pass runs only after the timers.
// A call that should run once deactivates itself.
class Dpc {
public:
    Dpc() = default;
    Dpc(const Dpc&) = delete;
    Dpc& operator=(const Dpc&) = delete;
    ~Dpc();

    // Deletes the current handler and keeps `handler` (may be null).
    void Bind(DpcHandler* handler);
    template <class T>
    void Bind(T* object, void (T::*member)()) {
        Bind(new TDpcHandler<T>(object, member));
    }
    void Activate();
    void Deactivate();
    bool active() const { return active_; }
    DpcHandler* handler() const { return handler_; }
    // For work paced by loop passes, which a second run would double.
    void set_once_per_pass() { oncePerPass_ = true; }
    bool once_per_pass() const { return oncePerPass_; }

private:
    friend class Multiplexer;
    DpcHandler* handler_ = nullptr;
    bool active_ = false;
    bool oncePerPass_ = false;
};
