#pragma once
// IPv4 socket address value: the layout of sockaddr_in, parsed from and
// printed as "a.b.c.d:port".

#include <netinet/in.h>

#include <iosfwd>
#include <string>
#include <vector>

namespace INet4 {

class Addr {
public:
    static constexpr int no_port = -1;
    static constexpr int bad_port = -2;

    Addr() { Reset(); }

    void Reset();
    // "a.b.c.d" or "a.b.c.d:port". `port` gets the port text's number, -1
    // when there is none, or bad_port when it is outside 0..65535 (the
    // stored port is then left as it was). True when the address part is
    // a valid address and a port given is in range.
    bool Assign(const char* text, int* port = nullptr);
    bool Assign(const std::string& text, int* port = nullptr) { return Assign(text.c_str(), port); }
    // Address in network byte order; the port is kept.
    void Assign(unsigned long address);
    void SetPort(unsigned short port) { sa_.sin_port = htons(port); }

    bool IsEqual(const Addr& other) const;
    void Put(std::ostream& os) const;
    std::string GetString() const;
    std::vector<unsigned char> GetVector() const;

    unsigned short Port() const { return ntohs(sa_.sin_port); }
    // Address in network byte order.
    uint32_t Address() const { return sa_.sin_addr.s_addr; }

    const sockaddr* sockaddr_ptr() const { return reinterpret_cast<const sockaddr*>(&sa_); }
    sockaddr* sockaddr_ptr() { return reinterpret_cast<sockaddr*>(&sa_); }
    const sockaddr_in& sockaddr_in_ref() const { return sa_; }
    sockaddr_in& sockaddr_in_ref() { return sa_; }
    static socklen_t size() { return sizeof(sockaddr_in); }

private:
    sockaddr_in sa_;
};

inline std::ostream& operator<<(std::ostream& os, const Addr& a) {
    a.Put(os);
    return os;
}

}  // namespace INet4
