#pragma once
// Learning, inside the event loop, that a child process ended. The SIGCHLD
// handler only wakes the loop; the loop reaps every ended child and calls the
// waiter attached for its pid.
//
//   waiter.Bind(this, &ModemSlot::OnChildExit);   // before fork()
//   waiter.Attach(pid);                            // in the parent
//   ... later, in the loop: OnChildExit(status) with the wait status

#include <cstddef>
#include <new>
#include <type_traits>

#include "runtime/dual_list.h"
#include "runtime/fd.h"
#include "runtime/multiplexer.h"

class ChildWait : public F_dual_list_item<ChildWait> {
public:
    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(ChildWait& waiter, int status) = 0;
    };

    class DummyHandler : public Handler {
    public:
        void Invoke(ChildWait&, int) override {}
    };

    template <class T>
    class THandler1 : public Handler {
    public:
        THandler1(T* object, void (T::*member)(int)) : object_(object), member_(member) {}
        void Invoke(ChildWait&, int status) override { (object_->*member_)(status); }

    private:
        T* object_;
        void (T::*member_)(int);
    };

    ChildWait() { handler_ = new (&storage_) DummyHandler; }
    ~ChildWait();
    ChildWait(const ChildWait&) = delete;
    ChildWait& operator=(const ChildWait&) = delete;

    template <class T>
    void Bind(T* object, void (T::*member)(int)) {
        static_assert(sizeof(THandler1<T>) <= sizeof(storage_), "handler fits the storage");
        handler_->~Handler();
        handler_ = new (&storage_) THandler1<T>(object, member);
    }

    // Waits for `pid` (at the tail of the waiters); one report, then idle.
    void Attach(int pid);
    void Detach();
    int pid() const { return pid_; }

    // Sets reaping up: the wake-up socket pair, its loop event, the SIGCHLD
    // handler. Called once before the loop runs; false (logged) when the
    // pair cannot be made or watched (no descriptor left).
    static bool Activate();
    // Undoes Activate (SIGCHLD back to its default); for tests.
    static void Deactivate();

private:
    friend class ChildWaitService;

    int pid_ = -1;
    std::aligned_storage_t<64, alignof(std::max_align_t)> storage_;
    Handler* handler_;
};

// The one reaper: its event reads the wake-ups that the SIGCHLD handler
// writes, then reaps every ended child and reports each to its waiter.
class ChildWaitService {
public:
    static ChildWaitService& instance();

    bool Activate();
    void Deactivate();
    void Attach(ChildWait& waiter) { waiters_.push_back(&waiter); }
    void OnChildEvent(int fd, short revents);

private:
    ChildWaitService() = default;
    ~ChildWaitService() = default;

    static void SigChldHandlerWrapper(int, siginfo_t*, void*);
    void ReapAll();
    void Report(int pid, int status);

    Event event_;
    Fd wakeWrite_;
    F_dual_list<ChildWait> waiters_;
};
