#pragma once
// What the tone and the voice-processing receivers do alike: enable ids,
// the log line of a failed driver request, and finding the receiver of a
// timeslot in a ring.

#include <cstdint>
#include <string>

#include "board/devio.h"
#include "runtime/cyclic_list.h"

namespace Hardware {

// The next id of `counter`: never 0 (the id of nothing enabled), also when
// the counter wraps.
inline uint32_t NextEnableId(uint32_t& counter) {
    if (++counter == 0) ++counter;
    return counter;
}

// Logs a failed request to std::cerr: `what`, " timeslot=" and `ts`,
// `more`, then the error of errno in double quotes. Returns false.
bool RequestFailed(const std::string& what, unsigned ts, const std::string& more = "");

// Logs `failure` and the timeslot to std::cerr for a request that found
// the device closed. Returns false.
bool NotOpened(const char* failure, unsigned ts);

// The log line of a read that gave `n` instead of a whole record: a
// failure other than "no more records", or a short record.
void ReadFailed(const char* name, ssize_t n);

// Reads the device's records until none is left, handing each whole one to
// `route`. A failed read, and a short record, are logged under the
// device's `name` ("fail to read from <name>: ...").
template <class Record, class Route>
void ReadRecords(int fd, const char* name, Route route) {
    for (;;) {
        Record record;
        const ssize_t n = board::read(fd, &record, sizeof record);
        if (n == static_cast<ssize_t>(sizeof record)) {
            route(record);
        } else {
            ReadFailed(name, n);
            return;
        }
    }
}
// The first receiver in `ring` (oldest first) whose `timeslot()` is `ts`,
// or null.
template <class T, class Timeslot>
T* FirstOnTimeslot(Containers::CyclicList& ring, Containers::CyclicList T::*node, unsigned ts,
                   Timeslot timeslot) {
    for (auto it = ring.begin(); it != ring.end(); ++it) {
        T& receiver = Containers::offset<T>(*it, node);
        if ((receiver.*timeslot)() == ts) return &receiver;
    }
    return nullptr;
}

}  // namespace Hardware
