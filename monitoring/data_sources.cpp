#include "monitoring/data_sources.h"

#include <errno.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "board/netif.h"
#include "runtime/ext_output.h"
#include "runtime/fd.h"
#include "runtime/trace_ctl.h"

namespace {

// The lines of the framer's status file that the framer state is read from.
const char kCurrentState[] = "Current state           : ";
const char kSignalLoss[] = "Loss of Signal          : ";
const char kFrameAlignLoss[] = "Loss of Frame Alignment : ";
const char kNegativeSlips[] = "Receive Slip Negative   : ";
const char kPositiveSlips[] = "Receive Slip Positive   : ";

// The rest of the line after `marker`, when the line holds it.
bool value_after(const std::string& line, const char* marker, std::string& value) {
    size_t at = line.find(marker);
    if (at == std::string::npos) return false;
    value = line.substr(at + std::strlen(marker));
    return true;
}

template <class T>
void store(T& field, const T& value, bool& changed) {
    if (field == value) return;
    field = value;
    changed = true;
}

}  // namespace

int ParseSlipCount(const std::string& text) {
    long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

bool FramerDataHolder::setFramerStatus(std::vector<unsigned char>& data) {
    // The record's text ends at its first zero byte, if any.
    const std::string text(data.begin(), std::find(data.begin(), data.end(), 0));
    bool changed = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        parseLine(text.substr(start, end - start), changed);
        start = end + 1;
    }
    return changed;
}

void FramerDataHolder::parseLine(const std::string& line, bool& changed) {
    std::string value;
    if (value_after(line, kCurrentState, value) && value != statusText) {
        statusText = value;
        connected = value != "No Carrier";
        changed = true;
    }
    if (value_after(line, kSignalLoss, value)) store(signalLoss, value == "yes", changed);
    if (value_after(line, kFrameAlignLoss, value)) store(frameAlignLoss, value == "yes", changed);
    if (value_after(line, kNegativeSlips, value)) store(negSlips, ParseSlipCount(value), changed);
    if (value_after(line, kPositiveSlips, value)) store(posSlips, ParseSlipCount(value), changed);
}

namespace {

// Why a sample could not be taken, when "monitoring.internal" is on.
void trace_failure(const char* what) {
    int error = errno;
    if (traces.monitoring)
        std::clog << what << " errno=" << ext::quoted(std::strerror(error)) << std::endl;
}

}  // namespace

bool NetIfDataHolder::updateNetIf() {
    Fd sock(board::netif::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 255));
    if (!sock) {
        trace_failure("Error open socket: ");
        return false;
    }
    ifreq request;
    std::memset(&request, 0, sizeof request);
    request.ifr_ifindex = index;
    if (board::netif::ioctl(sock.get(), SIOCGIFNAME, &request) != 0 ||
        board::netif::ioctl(sock.get(), SIOCGIFFLAGS, &request) != 0) {
        trace_failure("Error ioctl socket: ");
        return false;
    }
    return setNetIfStatus((request.ifr_flags & IFF_RUNNING) ? 1 : 0);
}

bool NetIfDataHolder::setNetIfStatus(int running) {
    samples.push_back(running);
    while (samples.size() > maxSamples) samples.pop_front();
    int count = 0;
    for (int sample : samples) count += sample == 1;
    int was = up;
    up = count >= 2 ? 1 : 0;
    operStatus = adminStatus = up == 1 ? 1 : 2;
    return up != was;
}

std::string host2str(const TERM::HostAddress& host) { return host.get_iaddr(); }
