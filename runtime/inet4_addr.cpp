#include "runtime/inet4_addr.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>

namespace INet4 {

static_assert(sizeof(Addr) == sizeof(sockaddr_in), "Addr has the layout of sockaddr_in");

void Addr::Reset() {
    std::memset(&sa_, 0, sizeof sa_);
    sa_.sin_family = AF_INET;
}

bool Addr::Assign(const char* text, int* port) {
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr) {
        if (port) *port = -1;
        return inet_aton(text, &sa_.sin_addr) != 0;
    }
    long number = std::strtol(colon + 1, nullptr, 10);
    sa_.sin_port = htons(static_cast<uint16_t>(number));
    if (port) *port = static_cast<int>(number);
    std::string address(text, colon);
    return inet_aton(address.c_str(), &sa_.sin_addr) != 0;
}

void Addr::Assign(unsigned long address) { sa_.sin_addr.s_addr = static_cast<in_addr_t>(address); }

bool Addr::IsEqual(const Addr& other) const {
    return sa_.sin_addr.s_addr == other.sa_.sin_addr.s_addr && sa_.sin_port == other.sa_.sin_port;
}

static std::string dotted(const in_addr& a) {
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// A text, so the port is decimal whatever the stream's base.
void Addr::Put(std::ostream& os) const { os << GetString(); }

std::string Addr::GetString() const {
    char port[16];
    std::snprintf(port, sizeof port, "%d", static_cast<int>(ntohs(sa_.sin_port)));
    return dotted(sa_.sin_addr) + ":" + port;
}

std::vector<unsigned char> Addr::GetVector() const {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&sa_.sin_addr.s_addr);
    return std::vector<unsigned char>(p, p + 4);
}

}  // namespace INet4
