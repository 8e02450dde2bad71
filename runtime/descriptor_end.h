#pragma once
// The one rule for a watched descriptor that ends: POLLHUP, POLLERR or
// POLLNVAL in its poll result, or a read error other than EAGAIN and EINTR.
// A read of 0 means what the descriptor is: on a socket or pipe the peer
// closed its end, so it ends too; a board device answers 0 when its driver
// holds nothing more (as EAGAIN), so it only ends the burst. A descriptor
// that ended polls ready on every pass from then on, so its handler ends it
// once: one line that names it, the event released, the descriptor closed
// as a failed open leaves it, and the owner's own failure path. One
// readable event is served with a bounded number of reads, so no peer holds
// a loop pass.
//
//   void Owner::OnEvent(int fd, short revents) {
//       Record record;
//       const char* ended = ReadEvent(revents,
//           [&] { return board::read(fd, &record, sizeof record); },
//           [&](ssize_t n) { use(record, n); });
//       if (ended) Fail(ended);   // EndWatch(event_, "owner: read error: ", ended), ...
//   }

#include <poll.h>
#include <sys/types.h>

#include <string>

class Event;

// The poll bits that end a descriptor.
constexpr short kEndEvents = POLLHUP | POLLERR | POLLNVAL;

// The records (one read each) that one readable event serves at most; the
// rest wait for the next pass.
constexpr unsigned kRecordsPerEvent = 64;

// How long a listener rests after an accept() that failed for a reason that
// lasts (out of descriptors or memory): it stays readable and accept() would
// fail again on every pass. Its connections wait in the backlog meanwhile.
constexpr unsigned kListenRestMs = 1000;

// Whether accept() failed with `error` for a reason that lasts (anything but
// EAGAIN and EINTR).
bool AcceptFailureLasts(int error);

// Whether the poll result calls for a read: input, or an end, whose read
// tells why.
inline bool CallsForRead(short revents) {
    return (revents & (POLLIN | kEndEvents)) != 0;
}

// Why the read of a socket or pipe that returned `n` (errno set when it
// failed) ends the descriptor; null while it lives: data, or nothing yet
// (EAGAIN or EINTR) where the poll result reported no end.
const char* ReadEnd(ssize_t n, short revents);
// The same for a board device, whose read of 0 is nothing yet.
const char* DeviceReadEnd(ssize_t n, short revents);

// Serves one poll result of a board device: up to `reads` calls of `read`
// (returning what a read returns), each that got data handed to `take(n)`,
// stopping at the first that got none. Returns why the device ended, or null.
template <class Read, class Take>
const char* ReadEvent(short revents, Read read, Take take, unsigned reads = kRecordsPerEvent) {
    if (!CallsForRead(revents)) return nullptr;
    for (unsigned k = 0; k < reads; ++k) {
        const ssize_t n = read();
        if (n <= 0) return DeviceReadEnd(n, revents);
        take(n);
    }
    return nullptr;
}

// Ends the watch of a descriptor that ended: one line on std::cerr, `what`
// followed by `why`, and the event released (its duplicate closed).
void EndWatch(Event& event, const std::string& what, const char* why);
