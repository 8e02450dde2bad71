#include "runtime/inet4_addr.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace INet4 {

static_assert(sizeof(Addr) == sizeof(sockaddr_in), "Addr has the layout of sockaddr_in");

void Addr::Reset() {
    std::memset(&sa_, 0, sizeof sa_);
    sa_.sin_family = AF_INET;
}

namespace {

constexpr long kHighestPort = 65535;

// The decimal number at the front of `text` as strtol reads it (blanks and
// a sign first; no digits read as 0), but the same on every build whatever
// the width of long: bad_port for a number outside 0..65535.
int read_port(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    long number = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
        number = number * 10 + (*text - '0');
        if (number > kHighestPort) return Addr::bad_port;
    }
    return negative && number != 0 ? Addr::bad_port : static_cast<int>(number);
}

}  // namespace

bool Addr::Assign(const char* text, int* port) {
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr) {
        if (port) *port = no_port;
        return inet_aton(text, &sa_.sin_addr) != 0;
    }
    const int number = read_port(colon + 1);
    if (port) *port = number;
    if (number != bad_port) sa_.sin_port = htons(static_cast<uint16_t>(number));
    std::string address(text, colon);
    return inet_aton(address.c_str(), &sa_.sin_addr) != 0 && number != bad_port;
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
