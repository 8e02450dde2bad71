// The board's backend of the interface-request seam: the plain system calls.
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "board/netif.h"

namespace board::netif {

int socket(int domain, int type, int protocol) { return ::socket(domain, type, protocol); }

int ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }

}  // namespace board::netif
