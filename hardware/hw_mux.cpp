#include "hardware/hw_mux.h"

#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>

#include "board/devio.h"
#include "board/drivers/hal.h"
#include "runtime/ext_output.h"
#include "runtime/fd.h"

namespace hal = board::hal;

HwMux& HwMux::instance() {
    static HwMux mux;
    return mux;
}

HwMux::HwMux() {
    std::fill(std::begin(map_), std::end(map_), kDisabled);
    refresh_.set_once_per_pass();  // the sweep is paced by passes
    std::clog << "hwMux: init" << std::endl;
    IsOpened();
    refresh_.Bind(this, &HwMux::OnDPC);
}

HwMux::~HwMux() { Close(); }

void HwMux::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    refresh_.Deactivate();
}

void HwMux::reset_for_test() {
    Close();
    std::fill(std::begin(map_), std::end(map_), kDisabled);
    owners_.clear();
    owed_.clear();
    owedCursor_ = -1;
    cursor_ = 0;
    openFailed_ = LogThrottle();
    disableFailed_ = LogThrottle();
    writeFailed_ = LogThrottle();
}

bool HwMux::IsOpened() {
    if (fd_ >= 0) return true;
    fd_ = board::open(hal::kDevice, O_RDWR);
    if (fd_ < 0) {
        const int error = errno;
        if (openFailed_.admit())
            std::clog << "hwMux: can't open device: " << std::strerror(error) << openFailed_
                      << std::endl;
        return false;
    }
    SetCloexec(fd_);
    std::clog << "hwMux: device opened" << std::endl;
    for (unsigned i = 0; i < kBusEntries; ++i) {
        int32_t channel = kFirstBusChannel + i;
        board::ioctl(fd_, hal::kMuxDisable, &channel);
        SetEntry(channel, kDisabled);
    }
    cursor_ = 0;
    refresh_.Activate();
    ::usleep(500);
    return true;
}

// Channels past the fabric go to the driver unchanged but have no entry.
int HwMux::MapIndex(int channel) {
    return channel >= 0 && static_cast<unsigned>(channel) < kMapSize ? channel : -1;
}

void HwMux::SetEntry(int channel, uint16_t value) {
    int index = MapIndex(channel);
    if (index < 0) return;
    map_[index] = value;
    owners_.erase(channel);
    owed_.erase(channel);
}

void HwMux::Owe(int channel, Owed what) {
    if (MapIndex(channel) >= 0) owed_[channel] = what;
}

HwMux::Owed HwMux::owed(int channel) const {
    const auto it = owed_.find(channel);
    return it != owed_.end() ? it->second : Owed::nothing;
}

uint16_t HwMux::entry(int channel) const {
    int index = MapIndex(channel);
    return index >= 0 ? map_[index] : kDisabled;
}

// The record follows the fabric: an entry changes once the driver has
// switched, and a refusal leaves it and its owners as they were.
bool HwMux::Connect(int tx, int rx) {
    if (!IsOpened() || tx < 0 || rx < 0) {
        std::clog << "hwMux: ERROR not opened" << std::endl;
        return false;
    }
    hal::mux_connect record{rx, tx};
    if (board::ioctl(fd_, hal::kMuxConnect, &record) < 0) {
        std::clog << "hwMux: connect " << tx << " -> " << rx << " failed: " << std::strerror(errno)
                  << std::endl;
        return false;
    }
    SetEntry(rx, static_cast<uint16_t>(tx));
    return true;
}

bool HwMux::WriteByte(int channel, unsigned char value) {
    hal::mux_byte record{channel, value};
    if (board::ioctl(fd_, hal::kMuxWriteByte, &record) < 0) return false;
    SetEntry(channel, kDriven);
    return true;
}

bool HwMux::SwitchOffChannel(int channel) {
    int32_t record = channel;
    if (board::ioctl(fd_, hal::kMuxDisable, &record) < 0) return false;
    SetEntry(channel, kDisabled);
    return true;
}

bool HwMux::Disconnect(int channel) {
    if (Usable(channel) && WriteByte(channel, kIdleByte)) return true;
    if (fd_ >= 0 && channel >= 0)
        std::clog << "hwMux: disconnect failed " << channel << " : " << std::strerror(errno)
                  << std::endl;
    Owe(channel, Owed::silence);
    return false;
}

bool HwMux::Disable(int channel) {
    if (Usable(channel) && SwitchOffChannel(channel)) return true;
    const int error = errno;
    if (fd_ >= 0 && channel >= 0 && disableFailed_.admit())
        std::clog << "hwMux: disable failed " << channel << " : " << std::strerror(error)
                  << disableFailed_ << std::endl;
    Owe(channel, Owed::off);
    return false;
}

// A test byte is no switch-off: a refused one leaves what was owed.
bool HwMux::Write(int channel, unsigned char value) {
    if (!Usable(channel)) return false;
    if (WriteByte(channel, value)) return true;
    const int error = errno;
    if (writeFailed_.admit())
        std::clog << "hwMux: write failed " << channel << " <- " << std::hex << "0x"
                  << unsigned(value) << std::dec << " : " << std::strerror(error) << writeFailed_
                  << std::endl;
    return false;
}

int HwMux::Read(int channel) {
    if (!Usable(channel)) return 255;
    hal::mux_byte record{channel, 255};
    if (board::ioctl(fd_, hal::kMuxReadByte, &record) < 0) {
        std::clog << "hwMux: read failed " << channel << " -> " << std::hex << "0x" << record.value
                  << std::dec << " : " << std::strerror(errno) << std::endl;
        return 255;
    }
    return record.value & 0xFF;
}

void HwMux::RefreshChannel(unsigned index) {
    int32_t channel = kFirstBusChannel + static_cast<int>(index);
    if (index >= kBusEntries || map_[channel] != kDisabled) return;
    board::ioctl(fd_, hal::kMuxDisable, &channel);
}

void HwMux::OnDPC() {
    if (fd_ < 0) return;
    for (unsigned i = 0; i < kRefreshPerPass; ++i) {
        cursor_ = (cursor_ + 1) % kBusEntries;
        RefreshChannel(cursor_);
    }
    RetryOwed();
}

bool HwMux::Settle(int channel) {
    const Owed what = owed(channel);
    if (what == Owed::nothing) return true;
    if (!IsOpened()) return false;
    return what == Owed::off ? SwitchOffChannel(channel) : WriteByte(channel, kIdleByte);
}

// From the channel after the last one tried, so that channels the driver
// keeps refusing do not hold back the others.
void HwMux::RetryOwed() {
    const size_t count = std::min<size_t>(owed_.size(), kRefreshPerPass);
    std::vector<int> due;
    for (auto it = owed_.upper_bound(owedCursor_); due.size() < count; ++it) {
        if (it == owed_.end()) it = owed_.begin();
        due.push_back(it->first);
    }
    for (int channel : due) Settle(channel);
    if (!due.empty()) owedCursor_ = due.back();
}

// ---- Paths with owners

bool HwMux::Connect(int tx, int rx, const Owner& owner) {
    Owners sharers;
    if (const auto path = owners_.find(rx); path != owners_.end() && entry(rx) == tx)
        sharers = path->second;
    if (!Connect(tx, rx)) return false;
    if (MapIndex(rx) < 0) return true;  // nothing to record
    if (std::find(sharers.begin(), sharers.end(), &owner) == sharers.end())
        sharers.push_back(&owner);
    owners_[rx] = std::move(sharers);
    return true;
}

bool HwMux::Owns(const Owner& owner, int channel) const {
    const Owners& had = owners(channel);
    return std::find(had.begin(), had.end(), &owner) != had.end();
}

void HwMux::Leave(const Owner& owner, int channel) {
    const auto path = owners_.find(channel);
    if (path == owners_.end()) return;
    Owners& owners = path->second;
    owners.erase(std::remove(owners.begin(), owners.end(), &owner), owners.end());
    if (owners.empty()) owners_.erase(path);
}

bool HwMux::LeftToAnother(const Owner& owner, int channel) {
    const Owners& owners = this->owners(channel);
    const auto other = std::find_if(owners.begin(), owners.end(),
                                    [&](const Owner* one) { return one != &owner; });
    if (other == owners.end()) return false;
    const Owner& heir = **other;
    Leave(owner, channel);
    std::clog << "mux: " << owner << " leaves [" << channel << "] to " << heir << std::endl;
    return true;
}

// A channel outside the map has no record: it is silenced as asked.
HwMux::Released HwMux::Release(const Owner& owner, int rx) {
    if (rx < 0) return Released::failed;
    if (LeftToAnother(owner, rx)) return Released::kept;
    if (!Owns(owner, rx) && MapIndex(rx) >= 0) return Released::kept;
    Leave(owner, rx);
    return Outcome(Disconnect(rx));
}

HwMux::Released HwMux::SwitchOff(const Owner& owner, int channel) {
    if (channel < 0) return Released::failed;
    if (LeftToAnother(owner, channel)) return Released::kept;
    Leave(owner, channel);
    return Outcome(Disable(channel));
}

void HwMux::SayBroken(int channel) const {
    const Owners& had = owners(channel);
    if (!had.empty())
        std::clog << "mux: disconnect " << *had.front() << " [" << channel << "]" << std::endl;
}

bool HwMux::HandBack(int channel) {
    return channel >= 0 && HandBack(channel, FedFrom(channel));
}

bool HwMux::HandBack(int channel, const std::vector<int>& fed) {
    for (int rx : fed) {
        SayBroken(rx);
        owners_.erase(rx);
        Disconnect(rx);
    }
    SayBroken(channel);
    owners_.erase(channel);
    return Disable(channel);
}

void HwMux::TakeOver(int channel) {
    const int index = MapIndex(channel);
    if (index < 0) return;
    const bool carries = map_[index] != kDisabled && map_[index] != kDriven;
    const std::vector<int> fed = FedFrom(channel);
    if (carries || owed(channel) != Owed::nothing || !fed.empty()) HandBack(channel, fed);
}

std::vector<int> HwMux::FedFrom(int channel) const {
    std::vector<int> fed;
    if (MapIndex(channel) < 0) return fed;
    for (unsigned rx = 0; rx < kMapSize; ++rx)
        if (map_[rx] == channel && static_cast<int>(rx) != channel) fed.push_back(rx);
    return fed;
}

std::ostream& operator<<(std::ostream& os, const HwMux::Owner& owner) {
    owner.PutOwner(os);
    return os;
}

const HwMux::Owners& HwMux::owners(int channel) const {
    static const Owners none;
    const auto path = owners_.find(channel);
    return path != owners_.end() ? path->second : none;
}

// The owner may be half destroyed: it is not named.
void HwMux::Forget(const Owner& owner) {
    std::vector<int> orphaned;
    for (auto path = owners_.begin(); path != owners_.end();) {
        Owners& owners = path->second;
        const auto mine = std::remove(owners.begin(), owners.end(), &owner);
        if (mine != owners.end() && mine == owners.begin()) orphaned.push_back(path->first);
        owners.erase(mine, owners.end());
        path = owners.empty() ? owners_.erase(path) : std::next(path);
    }
    for (int rx : orphaned) Disconnect(rx);
}

void HwMux::print_trace() {
    void* frames[10];
    int count = ::backtrace(frames, 10);
    char** names = ::backtrace_symbols(frames, count);
    std::printf("Obtained %zd stack frames.\n", static_cast<ssize_t>(count));
    for (int i = 0; i < count && names; ++i) std::printf("%s\n", names[i]);
    std::free(names);
}
