#include "runtime/descriptor_end.h"

#include <errno.h>

#include <cstring>
#include <iostream>

#include "runtime/multiplexer.h"

namespace {

// Why the poll result ends the descriptor, or null.
const char* PollEnd(short revents) {
    if (!(revents & kEndEvents)) return nullptr;
    if (revents & POLLHUP) return "hung up";
    return (revents & POLLNVAL) ? "not open" : "error event";
}

// Why a failed read (errno set) ends the descriptor: its error, unless it
// only says "nothing yet", when the poll result tells.
const char* FailedReadEnd(short revents) {
    const int error = errno;
    if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) return std::strerror(error);
    return PollEnd(revents);
}

}  // namespace

const char* ReadEnd(ssize_t n, short revents) {
    if (n > 0) return nullptr;
    if (n == 0) return "hung up";
    return FailedReadEnd(revents);
}

const char* DeviceReadEnd(ssize_t n, short revents) {
    if (n > 0) return nullptr;
    if (n == 0) return PollEnd(revents);
    return FailedReadEnd(revents);
}

bool AcceptFailureLasts(int error) {
    return error != EAGAIN && error != EWOULDBLOCK && error != EINTR;
}

void EndWatch(Event& event, const std::string& what, const char* why) {
    std::cerr << what << why << std::endl;
    event.Release();
}
