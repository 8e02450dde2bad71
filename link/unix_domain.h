#pragma once
// Addresses of the links over Unix-domain sockets.

#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace unix_domain {

// The socket address of `path`, which is cut to the 107 characters that fit.
inline sockaddr_un address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

}  // namespace unix_domain
