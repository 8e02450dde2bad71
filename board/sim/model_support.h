#pragma once
// What the device models do alike when they answer a request.

#include <errno.h>

#include <cstring>

namespace board::sim {

// A refused request: errno set, -1 returned.
inline int refuse(int error) {
    errno = error;
    return -1;
}

// The request's record, copied out of the caller's argument.
template <class T>
T record_of(const void* arg) {
    T record;
    std::memcpy(&record, arg, sizeof record);
    return record;
}

}  // namespace board::sim
