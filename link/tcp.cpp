#include "link/tcp.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace tcp {

bool bind_any(const Fd& socket, unsigned short port) {
    INet4::Addr address;
    address.Assign(htonl(INADDR_ANY));
    address.SetPort(port);
    return ::bind(socket.get(), address.sockaddr_ptr(), INet4::Addr::size()) == 0;
}

Fd accept(int listenFd, INet4::Addr& peer) {
    socklen_t length = INet4::Addr::size();
    return Fd(::accept4(listenFd, peer.sockaddr_ptr(), &length, SOCK_CLOEXEC));
}

}  // namespace tcp
