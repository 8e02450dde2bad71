#pragma once
// The simulated board's network interfaces, as the kernel reports them to
// the requests of board/netif.h: each has an index, a name, its flags and
// possibly an IPv4 address; a synchronous HDLC interface also has the
// generic HDLC layer's protocol and its driver's physical settings. Requests
// are answered from this table on any open descriptor; tests change the
// table and make the socket or a request fail. More requests and fields join
// the table as the server needs them.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "board/drivers/hdlc_if.h"

namespace board::sim {

class NetIfModel {
public:
    struct Hdlc {
        uint32_t protocol = IF_PROTO_HDLC;  // or IF_PROTO_PPP
        std::array<uint8_t, hdlc_if::kPhysicalSize> physical{};
        int32_t channel() const;
        void set_channel(int32_t channel);
    };
    struct Interface {
        int index = 0;
        std::string name;
        short flags = 0;      // IFF_UP, IFF_RUNNING, ...
        std::string address;  // dotted quad; empty when it has no IPv4 address
        std::optional<Hdlc> hdlc = std::nullopt;  // a generic HDLC interface
    };
    // The TDM channel of the default "hdlc<n>": a range no other device
    // of the board hands out (above the multi-channel controller's pools,
    // below the QSIG device's channels).
    static constexpr int32_t kHdlcChannelBase = 5120;

    NetIfModel() { reset(); }

    // "lo" (1, 127.0.0.1) and "eth0" (2, 10.0.0.2), both up and running;
    // "hdlc0" (3) and "hdlc1" (4), point-to-point, down, raw HDLC.
    void reset();
    // A point-to-point HDLC interface, down, raw HDLC, on `channel`.
    static Interface hdlc(int index, const std::string& name, int32_t channel);

    // Adds an interface, replacing one with the same index.
    void add(Interface interface);
    void remove(int index);
    Interface* find(int index);
    Interface* find(const std::string& name);
    const std::vector<Interface>& interfaces() const { return interfaces_; }
    // Sets or clears IFF_RUNNING; false when there is no such interface.
    bool set_running(const std::string& name, bool running);
    bool set_flags(const std::string& name, short flags);
    bool set_channel(const std::string& name, int32_t channel);

    // The name under which the board's refuse hook (sim_board.h) is asked
    // about the socket (an open) and the requests (ioctls).
    static constexpr const char* kPath = "netif";

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
    int get_index(ifreq& r);
    int set_flags(ifreq& r);
    int wan_device(ifreq& r);
    // The interface named in the record, or null with errno ENODEV.
    Interface* named(const ifreq& r);

    std::vector<Interface> interfaces_;
    std::optional<int> socketFailure_;
    std::vector<Failure> failures_;
    unsigned socketsOpened_ = 0;
};

}  // namespace board::sim
