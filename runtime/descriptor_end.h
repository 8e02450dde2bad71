#pragma once
// The one rule for a watched descriptor that ends (a board device, a socket,
// a pipe): POLLHUP, POLLERR or POLLNVAL in its poll result, a read of 0, or
// a read error other than EAGAIN and EINTR. Such a descriptor polls ready on
// every pass from then on, so its handler ends it once: one log line that
// names the device, the event released, the descriptor closed as a failed
// open leaves it, and the owner's own failure path. One readable event is
// served with a bounded number of reads, so no peer holds a loop pass.
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

// Why the read that returned `n` (errno set when it failed) ends the
// descriptor; null while it lives: data, or nothing yet (EAGAIN or EINTR)
// where the poll result reported no end.
const char* ReadEnd(ssize_t n, short revents);

// Serves one poll result: up to `reads` calls of `read` (returning what a
// read returns), each that got data handed to `take(n)`, stopping at the
// first that got none. Returns why the descriptor ended, or null.
template <class Read, class Take>
const char* ReadEvent(short revents, Read read, Take take, unsigned reads = kRecordsPerEvent) {
    if (!CallsForRead(revents)) return nullptr;
    for (unsigned k = 0; k < reads; ++k) {
        const ssize_t n = read();
        if (n <= 0) return ReadEnd(n, revents);
        take(n);
    }
    return nullptr;
}

// Ends the watch of a descriptor that ended: one line on std::cerr, `what`
// followed by `why`, and the event released (its duplicate closed).
void EndWatch(Event& event, const std::string& what, const char* why);
