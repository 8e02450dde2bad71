#pragma once
// The simulated board's network interfaces, as the kernel reports them to
// the requests of board/netif.h: each has an index, a name, its flags and
// possibly an IPv4 address. Requests are answered from this table on any
// open descriptor; tests change the table and make the socket or a request
// fail. More requests and fields join the table as the server needs them.

#include <net/if.h>

#include <optional>
#include <string>
#include <vector>

namespace board::sim {

class NetIfModel {
public:
    struct Interface {
        int index = 0;
        std::string name;
        short flags = 0;      // IFF_UP, IFF_RUNNING, ...
        std::string address;  // dotted quad; empty when it has no IPv4 address
    };

    NetIfModel() { reset(); }

    // "lo" (1, 127.0.0.1) and "eth0" (2, 10.0.0.2), both up and running.
    void reset();

    // Adds an interface, replacing one with the same index.
    void add(Interface interface);
    void remove(int index);
    Interface* find(int index);
    Interface* find(const std::string& name);
    const std::vector<Interface>& interfaces() const { return interfaces_; }
    // Sets or clears IFF_RUNNING; false when there is no such interface.
    bool set_running(const std::string& name, bool running);

    // The next socket, or the next `count` requests `request`, fail with `error`.
    void fail_next_socket(int error) { socketFailure_ = error; }
    void fail_next(unsigned long request, int error, int count = 1);

    // The seam's entry points (board/netif.h forwards here).
    int socket(int domain, int type, int protocol);
    int ioctl(int fd, unsigned long request, void* arg);

    unsigned sockets_opened() const { return socketsOpened_; }

private:
    struct Failure {
        unsigned long request;
        int error;
        int count;
    };
    bool take_failure(unsigned long request);
    int request(unsigned long request, void* arg);
    int get_name(ifreq& r);
    int get_flags(ifreq& r);
    int get_address(ifreq& r);
    int get_config(ifconf& c);
    // The interface named in the record, or null with errno ENODEV.
    Interface* named(const ifreq& r);

    std::vector<Interface> interfaces_;
    std::optional<int> socketFailure_;
    std::vector<Failure> failures_;
    unsigned socketsOpened_ = 0;
};

}  // namespace board::sim
