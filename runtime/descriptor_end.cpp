#include "runtime/descriptor_end.h"

#include <errno.h>

#include <cstring>
#include <iostream>

#include "runtime/multiplexer.h"

const char* ReadEnd(ssize_t n, short revents) {
    if (n > 0) return nullptr;
    if (n == 0) return "hung up";
    const int error = errno;
    if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) return std::strerror(error);
    if (!(revents & kEndEvents)) return nullptr;
    // The read tells nothing: the poll result says why.
    if (revents & POLLHUP) return "hung up";
    return (revents & POLLNVAL) ? "not open" : "error event";
}

bool AcceptFailureLasts(int error) {
    return error != EAGAIN && error != EWOULDBLOCK && error != EINTR;
}

void EndWatch(Event& event, const std::string& what, const char* why) {
    std::cerr << what << why << std::endl;
    event.Release();
}
