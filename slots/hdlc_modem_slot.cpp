#include "slots/hdlc_modem_slot.h"

#include <errno.h>
#include <sys/socket.h>

#include <array>
#include <cstring>
#include <iostream>
#include <sstream>

#include "board/drivers/hdlc_if.h"
#include "board/netif.h"
#include "runtime/fd.h"
#include "slots/modem_factory.h"

namespace hdlc_if = board::hdlc_if;

namespace {

constexpr const char* kOptions = "/usr/local/etc/ppp/ioptions";

Fd RequestSocket() { return Fd(board::netif::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)); }

}  // namespace

void HdlcModemSlot::unbind() { ModemFactory::instance().ReleaseModemSlot(this); }

void HdlcModemSlot::initModem() {
    if (child_.running()) return;
    Fd sock = RequestSocket();
    if (!sock) return;
    std::array<uint8_t, hdlc_if::kPhysicalSize> physical{};
    ifreq request = hdlc_if::wan_request(interfaceName_, IF_GET_IFACE, physical.size(), physical.data());
    if (board::netif::ioctl(sock.get(), SIOCWANDEV, &request) != 0) {
        PutHeader(std::cerr) << "SIOCWANDEV/IF_GET_IFACE fail!" << std::endl;
        return;
    }
    int32_t channel;
    std::memcpy(&channel, physical.data() + hdlc_if::kChannelOffset, sizeof channel);
    channel_ = channel;
    HoldChannel(channel);  // goes back with the slot
    uint8_t none[4] = {};
    request = hdlc_if::wan_request(interfaceName_, IF_PROTO_PPP, sizeof none, none);
    if (board::netif::ioctl(sock.get(), SIOCWANDEV, &request) != 0) {
        PutHeader(std::cerr) << "SIOCWANDEV/IF_PROTO_PPP fail!" << std::endl;
        return;
    }
    pppd_exec(interfaceName_.c_str(), kOptions);
}

// pppd is killed first: the interface must not be taken from under it.
HdlcModemSlot::~HdlcModemSlot() {
    pppd_kill();
    std::ostringstream header;
    PutHeader(header);
    ModemFactory::instance().ReleaseInterface(interfaceName_, header.str());
}

bool HdlcModemSlot::TakeDown(const std::string& name, const std::string& header,
                             LogThrottles& throttles) {
    // A refused step leaves the take-down owed, unless the interface is gone.
    const auto refused = [&](const std::string& line) {
        const int error = errno;
        LogThrottle& throttle = throttles[line];
        if (throttle.admit()) std::cerr << header << line << throttle << std::endl;
        return error == ENODEV;
    };
    Fd sock = RequestSocket();
    if (!sock) {
        refused(std::string("socket fail: ") + std::strerror(errno));
        return false;
    }
    ifreq request = hdlc_if::request(name);
    if (board::netif::ioctl(sock.get(), SIOCGIFFLAGS, &request) != 0)
        return refused("SIOCGIFFLAGS fail!!!");
    request.ifr_flags = static_cast<short>(request.ifr_flags & ~IFF_UP);
    if (board::netif::ioctl(sock.get(), SIOCSIFFLAGS, &request) != 0)
        return refused("SIOCSIFFLAGS fail!!!");
    raw_hdlc_proto raw{};  // default encoding and parity
    request = hdlc_if::wan_request(name, IF_PROTO_HDLC, sizeof raw, &raw);
    if (board::netif::ioctl(sock.get(), SIOCWANDEV, &request) != 0)
        return refused("SIOCWANDEV/IF_PROTO_HDLC fail!");
    return true;
}
