#include "runtime/cdr_sender.h"

#include <sys/socket.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "runtime/inet4_addr.h"

namespace CDR_Sender {

namespace {

// "a.b.c.d:port" with a port of 1 to 65535 in decimal.
bool ParseDestination(const std::string& word, INet4::Addr& addr) {
    std::string::size_type colon = word.find(':');
    if (colon == std::string::npos || colon + 1 == word.size()) return false;
    const char* port = word.c_str() + colon + 1;
    char* end = nullptr;
    long number = std::strtol(port, &end, 10);
    if (*port < '0' || *port > '9' || *end != '\0' || number < 1 || number > 65535) return false;
    return addr.Assign(word);
}

}  // namespace

Sender::Sender() : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)) {}

bool Sender::SendTo(const std::string& record, const std::string& destinations) {
    if (!socket_) return false;
    bool allSent = true;
    std::istringstream words(destinations);
    std::string word;
    while (words >> word) {
        INet4::Addr addr;
        if (!ParseDestination(word, addr)) {
            std::cerr << "CDR sender: bad destination \"" << word << "\" skipped" << std::endl;
            allSent = false;
            continue;
        }
        ssize_t sent = ::sendto(socket_.get(), record.data(), record.size(), 0, addr.sockaddr_ptr(),
                                INet4::Addr::size());
        if (sent != static_cast<ssize_t>(record.size())) allSent = false;
    }
    return allSent;
}

}  // namespace CDR_Sender
