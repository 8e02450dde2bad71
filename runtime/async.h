#pragma once
// Two small loop machines for the voice slots: a copy of everything a source
// descriptor yields into a destination without blocking (its reads and
// writes go through the board's device seam, for either end may be a board
// device: on the board they are the plain calls), and a non-blocking
// TCP connect with a time-out. Each reports one completion to a handler that
// its owner binds; the handler may delete the owner.

#include <poll.h>

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/fd.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"

namespace ASync {

class Copy {
public:
    struct Status {
        enum Type {
            idle = 0,
            copying = 1,
            draining = 2,  // the source ended; pending data is still written
            flushing = 3,  // everything written; waiting for the flush event
            failed = 4,
            done = 5,
            aborted = 6,  // the masks or the buffer size changed
        };
    };

    // The poll masks: the source's, the destination's, and the destination
    // event that completes the copy after the last write (0: none).
    struct EventsParams {
        uint32_t source = POLLIN;
        uint32_t destination = POLLOUT;
        uint32_t flush = POLLWRNORM;
    };

    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(Status::Type status) = 0;
    };

    template <class T>
    class THandler : public Handler {
    public:
        using Action = void (T::*)(Status::Type);
        THandler(Action action, T* object) : action_(action), object_(object) {}
        void Invoke(Status::Type status) override { (object_->*action_)(status); }

    private:
        Action action_;
        T* object_;
    };

    Copy() = default;
    ~Copy();
    Copy(const Copy&) = delete;
    Copy& operator=(const Copy&) = delete;

    // Both abort a running copy (status 6).
    void set_events(const EventsParams& params);
    // A size of 0 is refused (false) and changes nothing.
    bool set_bufsize(unsigned size);

    void Bind(Handler* handler);
    template <class T>
    void Bind(typename THandler<T>::Action action, T* object) {
        Bind(new THandler<T>(action, object));
    }
    void UnBind() { Bind(nullptr); }

    // Copies from duplicates of the two descriptors; the handler may be
    // called before this returns.
    void Start(const Fd& source, const Fd& destination);
    // Ends the input as if the source had ended; what was read is written.
    void Stop();

    Status::Type state() const { return state_; }
    // The errno of the failed read or write; 0 for a zero-byte write or an
    // error event.
    int last_error() const { return lastError_; }
    unsigned copied() const { return copied_; }

private:
    using Step = int (Copy::*)();  // nonzero: run the next step at once

    int SrcReady();
    int DstReady();
    int NotReady() { return 0; }
    void Progress();
    void EndInput();
    void FlushWait();
    void Complete(Status::Type status);
    void WaitFor(uint32_t sourceMask, uint32_t destinationMask);
    bool running() const;
    void allocate(unsigned size);

    void OnSrcEvent(int fd, short revents);
    void OnDstEvent(int fd, short revents);

    Fd source_;
    Fd destination_;
    EventsParams params_;
    unsigned bufferSize_ = 0;
    int lastError_ = 0;
    Step step_ = &Copy::NotReady;
    Handler* handler_ = nullptr;
    Event sourceEvent_;
    Event destinationEvent_;
    unsigned copied_ = 0;
    char* position_ = nullptr;
    char* end_ = nullptr;
    Status::Type state_ = Status::idle;
    std::unique_ptr<char[]> buffer_;
};

class Connect {
public:
    struct Status {
        enum Type { idle = 0, connecting = 1, failed = 2, connected = 3, stopped = 4 };
    };

    class Handler {
    public:
        virtual ~Handler() = default;
        // `socket` is the connected socket for `connected`, else invalid.
        virtual void Invoke(Status::Type status, Fd socket) = 0;
    };

    template <class T>
    class THandler : public Handler {
    public:
        using Action = void (T::*)(Status::Type, Fd);
        THandler(Action action, T* object) : action_(action), object_(object) {}
        void Invoke(Status::Type status, Fd socket) override {
            (object_->*action_)(status, std::move(socket));
        }

    private:
        Action action_;
        T* object_;
    };

    Connect() = default;
    ~Connect();
    Connect(const Connect&) = delete;
    Connect& operator=(const Connect&) = delete;

    // Connects to "a.b.c.d" or "a.b.c.d:port"; the handler may be called
    // before this returns (at once connected, or failed).
    void Start(const std::string& address, unsigned int timeout_ms);
    void Stop();

    void Bind(Handler* handler);
    template <class T>
    void Bind(typename THandler<T>::Action action, T* object) {
        Bind(new THandler<T>(action, object));
    }
    void UnBind() { Bind(nullptr); }

    Status::Type state() const { return state_; }

private:
    void OnSocketEvent(int fd, short revents);
    void OnTimeOut(Timer* timer);
    void Complete(Status::Type status);

    Status::Type state_ = Status::idle;
    Fd socket_;
    Event event_;
    Handler* handler_ = nullptr;
    Timer timer_;
};

}  // namespace ASync
