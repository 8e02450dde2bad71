#pragma once
// What the tone and the voice-processing receivers do alike: the device
// side of their services with the reading of their event records and what
// the timeslots are owed, the log line of a failed driver request, and
// finding the receivers of a timeslot and of an event in a ring.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "board/devio.h"
#include "runtime/cyclic_list.h"
#include "runtime/descriptor_end.h"
#include "runtime/fd.h"
#include "runtime/log_throttle.h"
#include "runtime/multiplexer.h"
#include "runtime/owed.h"

namespace Hardware {

// The log line of a read that gave `n` bytes, fewer than a whole record.
void ShortRecord(const char* name, ssize_t n);

// The device of a receiver service: its descriptor, the loop Event that
// reads it into Service::OnEvent, the enable-id counter, what receivers
// that went owe their timeslots, and the log line of a refused request.
// Service names its device in DevName(), kOpenFlags, kOpenFailure and
// kEventName, and pays a timeslot's debt of one bit in a static
// pay(ts, bit), true once done.
template <class Service>
class ReceiverDevice {
public:
    // Created on first use, which opens the device.
    static Service& instance() {
        Service& service = object();
        if (!service.used_) {
            service.used_ = true;
            service.init();
        }
        return service;
    }

    // Opens the device when it is not open; false when it cannot be, or
    // when the loop cannot watch it (no descriptor left): it is then closed
    // as one that did not open, and the next request tries again. The line
    // of a failure is written at most once a second.
    bool init() {
        if (device_) return true;
        device_.reset(
            board::open(Service::DevName(), Service::kOpenFlags | O_NONBLOCK | O_CLOEXEC));
        if (!device_) {
            const int error = errno;
            if (openFailed_.admit())
                std::cerr << Service::kOpenFailure << std::strerror(error) << openFailed_
                          << std::endl;
            return false;
        }
        event_.Bind(Service::kEventName, &Service::OnEvent, static_cast<Service*>(this));
        if (event_.Schedule(device_, POLLIN)) return true;
        const int error = errno;
        if (openFailed_.admit())
            std::cerr << Service::kOpenFailure << "watch fail: " << std::strerror(error)
                      << openFailed_ << std::endl;
        device_.reset();
        return false;
    }

    int fd() const { return device_.get(); }
    // The descriptor for a request, the device opened first when it is
    // not open: a request on none (-1) fails as any refused request.
    int device() {
        init();
        return fd();
    }

    // Serves the device's poll result: a burst of records, each whole one
    // handed to `route`, a short one logged under `name`. A device that
    // ended is closed as one that did not open: the next request opens it
    // again, and while a receiver listens (Service::listening) it is opened
    // again within a second, tried every second until it opens, so that the
    // live calls hear their events without a request of theirs. The driver
    // keeps what each timeslot was told across opens: the receivers'
    // functions run on as they were.
    template <class Record, class Route>
    void ReadRecords(short revents, const char* name, Route route) {
        Record record;
        const char* ended = ReadEvent(
            revents, [&] { return board::read(device_.get(), &record, sizeof record); },
            [&](ssize_t n) {
                if (n == static_cast<ssize_t>(sizeof record))
                    route(record);
                else
                    ShortRecord(name, n);
            });
        if (!ended) return;
        EndWatch(event_, std::string("fail to read from ") + name + ": ", ended);
        device_.reset();
        reopen_.owe();
    }

    // What receivers that went owe their timeslot: the switch-offs the
    // driver refused at their clean-up, as the service's bits, held here as
    // they go. They are tried again every second, and when a new owner
    // takes the timeslot (settle); a request of the function done since
    // pays its bit.
    void oweTimeslot(unsigned ts, uint32_t bits) {
        for (uint32_t bit = 1; bit != 0; bit <<= 1)
            if (bits & bit) owed_.owe({ts, bit});
    }
    void paid(unsigned ts, uint32_t bits) {
        for (uint32_t bit = 1; bit != 0; bit <<= 1)
            if (bits & bit) owed_.forgive({ts, bit});
    }
    static void settle(unsigned ts) {
        const auto& keys = object().owed_.keys();
        const std::vector<Debt> debts(keys.lower_bound({ts, 0}), keys.lower_bound({ts + 1, 0}));
        for (const Debt& debt : debts) object().owed_.pay(debt);
    }

    // Logs a refused request to std::cerr, each `what` once a second at
    // most: `what`, " timeslot=" and `ts`, `more`, then the error of errno
    // in double quotes. Returns false.
    bool refused(const std::string& what, unsigned ts, const std::string& more = "") {
        const int error = errno;
        LogThrottle& throttle = refusals_[what];
        if (throttle.admit())
            std::cerr << what << " timeslot=" << ts << more << " errno=\"" << std::strerror(error)
                      << '"' << throttle << std::endl;
        return false;
    }

    // Back to a service not used yet (its next use opens the device), with
    // the id counter at `counter` and nothing owed. Opens nothing itself.
    static void reset_for_test(uint32_t counter = 0) {
        ReceiverDevice& service = object();
        service.event_.Release();
        service.device_.reset();
        service.counter_ = counter;
        service.used_ = false;
        service.openFailed_ = LogThrottle();
        service.owed_.clear();
        service.reopen_.clear();
        service.refusals_.clear();
    }

protected:
    ReceiverDevice() = default;

    static Service& object() {
        static Service service;
        return service;
    }

    // The next enable id: never 0 (the id of nothing enabled), also when the
    // counter wraps; used up even when the request then fails.
    uint32_t nextId() {
        if (++counter_ == 0) ++counter_;
        return counter_;
    }

private:
    using Debt = std::pair<unsigned, uint32_t>;  // a timeslot and a bit

    Fd device_;
    Event event_;
    uint32_t counter_ = 0;
    bool used_ = false;
    LogThrottle openFailed_;
    LogThrottles refusals_;
    Owed<Debt> owed_{[](const Debt& debt) { return Service::pay(debt.first, debt.second); }};
    // A device that ended is opened again while a receiver listens; once
    // none does, the next request opens it.
    Owed<> reopen_{[this](auto) { return device_ || !Service::listening() || init(); }};
};

// Logs `failure` and the timeslot to std::cerr for a request that found
// the device closed. Returns false.
bool NotOpened(const char* failure, unsigned ts);

// The first receiver in `ring` (oldest first) whose `timeslot()` is `ts`
// and that `wanted` takes, or null.
template <class T, class Timeslot, class Wanted>
T* FindOnTimeslot(Containers::CyclicList& ring, Containers::CyclicList T::*node, unsigned ts,
                  Timeslot timeslot, Wanted wanted) {
    for (auto it = ring.begin(); it != ring.end(); ++it) {
        T& receiver = Containers::offset<T>(*it, node);
        if ((receiver.*timeslot)() == ts && wanted(receiver)) return &receiver;
    }
    return nullptr;
}

// Whether `wanted` takes any receiver in `ring`.
template <class T, class Wanted>
bool AnyReceiver(Containers::CyclicList& ring, Containers::CyclicList T::*node, Wanted wanted) {
    for (auto it = ring.begin(); it != ring.end(); ++it)
        if (wanted(Containers::offset<T>(*it, node))) return true;
    return false;
}

// Calls `each` with every receiver in `ring` (oldest first) whose
// `timeslot()` is `ts`.
template <class T, class Timeslot, class Each>
void ForEachOnTimeslot(Containers::CyclicList& ring, Containers::CyclicList T::*node, unsigned ts,
                       Timeslot timeslot, Each each) {
    for (auto it = ring.begin(); it != ring.end(); ++it) {
        T& receiver = Containers::offset<T>(*it, node);
        if ((receiver.*timeslot)() == ts) each(receiver);
    }
}

// The receivers an event of timeslot `ts` goes to. When it names the
// enabling of one of them (`named` takes it), it is current: it goes to
// every one that has its function on (`has` takes it), for the slots of a
// mixer channel may each have asked for it and the driver names only the
// latest enabling. Otherwise it goes to the first of the timeslot, whose own
// checks then drop or deliver it. No receiver: the timeslot has none. (An
// event handed over destroys no receiver: the list holds while it is used.)
template <class T>
struct EventTargets {
    std::vector<T*> receivers;
    bool named = false;
};

template <class T, class Timeslot, class Named, class Has>
EventTargets<T> TargetsOfEvent(Containers::CyclicList& ring, Containers::CyclicList T::*node,
                               unsigned ts, Timeslot timeslot, Named named, Has has) {
    EventTargets<T> targets;
    targets.named = FindOnTimeslot(ring, node, ts, timeslot, named) != nullptr;
    for (auto it = ring.begin(); it != ring.end(); ++it) {
        T& receiver = Containers::offset<T>(*it, node);
        if ((receiver.*timeslot)() != ts || (targets.named && !has(receiver))) continue;
        targets.receivers.push_back(&receiver);
        if (!targets.named) break;
    }
    return targets;
}

}  // namespace Hardware
