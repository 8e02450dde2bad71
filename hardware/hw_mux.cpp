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

HwMux* HwMux::live_ = nullptr;

HwMux& HwMux::instance() {
    static HwMux mux;
    return mux;
}

HwMux::HwMux() {
    for (unsigned i = 0; i < kMapSize; ++i) rest_[i] = DefaultRest(static_cast<int>(i));
    refresh_.set_once_per_pass();  // the sweep is paced by passes
    live_ = this;
    std::clog << "hwMux: init" << std::endl;
    IsOpened();
    refresh_.Bind(this, &HwMux::OnDPC);
}

HwMux::~HwMux() {
    live_ = nullptr;
    Close();
}

// An owner's claims go with it, whoever forgot to say so; at the process's
// end the switch may have gone first.
HwMux::Owner::~Owner() {
    if (live_) live_->Forget(*this);
}

void HwMux::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    refresh_.Deactivate();
}

void HwMux::reset_for_test() {
    Close();
    std::fill(std::begin(have_), std::end(have_), Off());
    for (unsigned i = 0; i < kMapSize; ++i) rest_[i] = DefaultRest(static_cast<int>(i));
    claims_.clear();
    apart_.clear();
    apartCursor_ = -1;
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
        have_[channel] = Off();
    }
    cursor_ = 0;
    refresh_.Activate();
    ::usleep(500);
    return true;
}

// ---- Settings

// Channels past the fabric go to the driver unchanged but have no entry.
int HwMux::MapIndex(int channel) {
    return channel >= 0 && static_cast<unsigned>(channel) < kMapSize ? channel : -1;
}

HwMux::Setting HwMux::Source(int channel) {
    return Setting{Setting::Kind::source, static_cast<uint16_t>(channel)};
}

HwMux::Setting HwMux::Byte(unsigned char value) { return Setting{Setting::Kind::byte, value}; }

// A shared-bus channel that nothing feeds is not driven: another card's
// call may be on it.
HwMux::Setting HwMux::DefaultRest(int channel) {
    return channel >= kFirstBusChannel ? Off() : Byte(kIdleByte);
}

uint16_t HwMux::Code(const Setting& setting) {
    switch (setting.kind) {
        case Setting::Kind::off: return kDisabled;
        case Setting::Kind::byte: return kDriven;
        case Setting::Kind::source: break;
    }
    return setting.value;
}

uint16_t HwMux::entry(int channel) const {
    const int index = MapIndex(channel);
    return index >= 0 ? Code(have_[index]) : kDisabled;
}

HwMux::Setting HwMux::has(int channel) const {
    const int index = MapIndex(channel);
    return index >= 0 ? have_[index] : Off();
}

HwMux::Setting HwMux::wanted(int channel) const {
    const int index = MapIndex(channel);
    if (index < 0) return Off();
    const auto claim = claims_.find(channel);
    return claim != claims_.end() ? Source(claim->second.source) : rest_[index];
}

// The record follows the fabric: a setting is had once the driver has
// switched, and a refusal leaves the record as it was.
bool HwMux::Request(int channel, const Setting& setting, Say say) {
    const bool quiet = say == Say::nothing;
    if (!IsOpened()) {
        if (!quiet && setting.kind == Setting::Kind::source)
            std::clog << "hwMux: ERROR not opened" << std::endl;
        return false;
    }
    int result = -1;
    switch (setting.kind) {
        case Setting::Kind::source: {
            hal::mux_connect record{channel, setting.value};
            result = board::ioctl(fd_, hal::kMuxConnect, &record);
            break;
        }
        case Setting::Kind::byte: {
            hal::mux_byte record{channel, setting.value};
            result = board::ioctl(fd_, hal::kMuxWriteByte, &record);
            break;
        }
        case Setting::Kind::off: {
            int32_t record = channel;
            result = board::ioctl(fd_, hal::kMuxDisable, &record);
            break;
        }
    }
    const int error = errno;
    if (result >= 0) {
        if (const int index = MapIndex(channel); index >= 0) have_[index] = setting;
        return true;
    }
    if (quiet) return false;
    const char* reason = std::strerror(error);
    if (setting.kind == Setting::Kind::source)
        std::clog << "hwMux: connect " << setting.value << " -> " << channel
                  << " failed: " << reason << std::endl;
    else if (setting.kind == Setting::Kind::off && disableFailed_.admit())
        std::clog << "hwMux: disable failed " << channel << " : " << reason << disableFailed_
                  << std::endl;
    else if (setting == Byte(kIdleByte))
        std::clog << "hwMux: disconnect failed " << channel << " : " << reason << std::endl;
    else if (setting.kind == Setting::Kind::byte && writeFailed_.admit())
        std::clog << "hwMux: write failed " << channel << " <- " << std::hex << "0x"
                  << setting.value << std::dec << " : " << reason << writeFailed_ << std::endl;
    return false;
}

bool HwMux::Reconcile(int channel, bool force, Say say) {
    const int index = MapIndex(channel);
    if (index < 0) return false;
    const Setting want = wanted(channel);
    const bool done = (!force && have_[index] == want) || Request(channel, want, say);
    if (done)
        apart_.erase(channel);
    else
        apart_.insert(channel);
    return done;
}

void HwMux::Mark(int channel) {
    const int index = MapIndex(channel);
    if (index >= 0 && have_[index] != wanted(channel))
        apart_.insert(channel);
    else
        apart_.erase(channel);
}

bool HwMux::Settle(int channel) { return MapIndex(channel) < 0 || Reconcile(channel); }

// ---- For no owner

// A silence or a switch-off is owed until done; a path or a test byte the
// driver refused leaves the channel as it was.
bool HwMux::SetForNoOwner(int channel, const Setting& rest, bool keep) {
    if (channel < 0) return false;
    const int index = MapIndex(channel);
    if (index < 0) return Request(channel, rest, Say::failures);
    const auto claim = claims_.find(channel);
    const Claimed old = claim != claims_.end() ? claim->second : Claimed{};
    const Setting oldRest = rest_[index];
    claims_.erase(channel);
    rest_[index] = rest;
    if (Reconcile(channel, true) || keep) return settled(channel);
    rest_[index] = oldRest;
    if (!old.owners.empty()) claims_[channel] = old;
    Mark(channel);
    return false;
}

bool HwMux::Connect(int tx, int rx) {
    if (tx < 0 || rx < 0) {
        std::clog << "hwMux: ERROR not opened" << std::endl;
        return false;
    }
    return SetForNoOwner(rx, Source(tx), false);
}

bool HwMux::Disconnect(int channel) { return SetForNoOwner(channel, Byte(kIdleByte), true); }

bool HwMux::Disable(int channel) { return SetForNoOwner(channel, Off(), true); }

bool HwMux::Write(int channel, unsigned char value) {
    return SetForNoOwner(channel, Byte(value), false);
}

int HwMux::Read(int channel) {
    if (channel < 0 || !IsOpened()) return -1;
    hal::mux_byte record{channel, 255};
    if (board::ioctl(fd_, hal::kMuxReadByte, &record) < 0) {
        std::clog << "hwMux: read failed " << channel << " -> " << std::hex << "0x" << record.value
                  << std::dec << " : " << std::strerror(errno) << std::endl;
        return -1;
    }
    return record.value & 0xFF;
}

// ---- The refresh

// What is off is switched off again: a refusal of that changes nothing known.
void HwMux::RefreshChannel(unsigned index) {
    const int channel = kFirstBusChannel + static_cast<int>(index);
    if (index >= kBusEntries || wanted(channel) != Off()) return;
    if (have_[channel] == Off())
        Request(channel, Off(), Say::nothing);
    else
        Reconcile(channel, false, Say::nothing);
}

void HwMux::OnDPC() {
    if (fd_ < 0) return;
    for (unsigned i = 0; i < kRefreshPerPass; ++i) {
        cursor_ = (cursor_ + 1) % kBusEntries;
        RefreshChannel(cursor_);
    }
    RetryApart();
}

// From the channel after the last one tried, so that channels the driver
// keeps refusing do not hold back the others.
void HwMux::RetryApart() {
    const size_t count = std::min<size_t>(apart_.size(), kRefreshPerPass);
    std::vector<int> due;
    for (auto it = apart_.upper_bound(apartCursor_); due.size() < count; ++it) {
        if (it == apart_.end()) it = apart_.begin();
        due.push_back(*it);
    }
    for (int channel : due) Reconcile(channel, false, Say::nothing);
    if (!due.empty()) apartCursor_ = due.back();
}

// ---- Claims

bool HwMux::Connect(int tx, int rx, const Owner& owner) {
    return MakeClaim(tx, rx, owner, false);
}

bool HwMux::Claim(int tx, int rx, const Owner& owner) { return MakeClaim(tx, rx, owner, true); }

bool HwMux::MakeClaim(int tx, int rx, const Owner& owner, bool keep) {
    if (tx < 0 || rx < 0) {
        std::clog << "hwMux: ERROR not opened" << std::endl;
        return false;
    }
    if (MapIndex(rx) < 0) return Request(rx, Source(tx), Say::failures);  // nothing to record
    const auto before = claims_.find(rx);
    const bool had = before != claims_.end();
    const Claimed old = had ? before->second : Claimed{};
    Claimed& claim = claims_[rx];
    if (claim.source != tx) claim = Claimed{tx, {}};
    if (std::find(claim.owners.begin(), claim.owners.end(), &owner) == claim.owners.end())
        claim.owners.push_back(&owner);
    if (Reconcile(rx, true) || keep) return apart_.count(rx) == 0;
    if (had)
        claims_[rx] = old;
    else
        claims_.erase(rx);
    Mark(rx);
    return false;
}

bool HwMux::Drop(const Owner& owner, int channel) {
    const auto claim = claims_.find(channel);
    if (claim == claims_.end()) return false;
    Owners& owners = claim->second.owners;
    const auto mine = std::find(owners.begin(), owners.end(), &owner);
    if (mine == owners.end()) return false;
    owners.erase(mine);
    if (owners.empty()) claims_.erase(claim);
    return true;
}

bool HwMux::LeftToAnother(const Owner& owner, int channel) const {
    const Owners& owners = this->owners(channel);
    const auto other = std::find_if(owners.begin(), owners.end(),
                                    [&](const Owner* one) { return one != &owner; });
    if (other == owners.end()) return false;
    std::clog << "mux: " << owner << " leaves [" << channel << "] to " << **other << std::endl;
    return true;
}

// A channel outside the map has no record: it is silenced as asked.
HwMux::Released HwMux::Release(const Owner& owner, int rx) {
    if (rx < 0) return Released::failed;
    const int index = MapIndex(rx);
    if (index < 0) return Outcome(Disconnect(rx));
    const bool mine = Owns(owner, rx);
    if (mine) rest_[index] = Byte(kIdleByte);
    if (LeftToAnother(owner, rx) || !mine) {
        Drop(owner, rx);
        return Released::kept;
    }
    Drop(owner, rx);
    return Outcome(Reconcile(rx, true));
}

HwMux::Released HwMux::Leave(const Owner& owner, int rx) {
    if (rx < 0) return Released::kept;
    const bool shared = LeftToAnother(owner, rx);
    if (!Drop(owner, rx) || shared) return Released::kept;
    return Outcome(Reconcile(rx));
}

HwMux::Released HwMux::SwitchOff(const Owner& owner, int channel) {
    if (channel < 0) return Released::failed;
    const int index = MapIndex(channel);
    if (index < 0) return Outcome(Disable(channel));
    rest_[index] = Off();
    const bool shared = LeftToAnother(owner, channel);
    Drop(owner, channel);
    if (shared) return Released::kept;
    return Outcome(Reconcile(channel, true));
}

void HwMux::SayBroken(int channel) const {
    const Owners& had = owners(channel);
    if (!had.empty())
        std::clog << "mux: disconnect " << *had.front() << " [" << channel << "]" << std::endl;
}

bool HwMux::HandBack(int channel) {
    const int index = MapIndex(channel);
    if (index < 0) return channel >= 0 && Disable(channel);
    for (int rx : FedFrom(channel)) {
        SayBroken(rx);
        claims_.erase(rx);
        Reconcile(rx);
    }
    SayBroken(channel);
    claims_.erase(channel);
    rest_[index] = Off();
    return Reconcile(channel, true);
}

void HwMux::TakeOver(int channel) {
    const int index = MapIndex(channel);
    if (index < 0) return;
    const bool carries = have_[index].kind == Setting::Kind::source || claims_.count(channel);
    if (carries || !settled(channel) || !FedFrom(channel).empty()) HandBack(channel);
}

std::vector<int> HwMux::FedFrom(int channel) const {
    std::vector<int> fed;
    for (const auto& [rx, claim] : claims_)
        if (claim.source == channel && rx != channel) fed.push_back(rx);
    const Setting from = Source(channel);
    for (unsigned rx = 0; rx < kMapSize; ++rx)
        if (have_[rx] == from && static_cast<int>(rx) != channel && !claims_.count(rx))
            fed.push_back(static_cast<int>(rx));
    return fed;
}

std::ostream& operator<<(std::ostream& os, const HwMux::Owner& owner) {
    owner.PutOwner(os);
    return os;
}

const HwMux::Owners& HwMux::owners(int channel) const {
    static const Owners none;
    const auto claim = claims_.find(channel);
    return claim != claims_.end() ? claim->second.owners : none;
}

bool HwMux::Owns(const Owner& owner, int channel) const {
    const Owners& had = owners(channel);
    return std::find(had.begin(), had.end(), &owner) != had.end();
}

int HwMux::claimed(int channel) const {
    const auto claim = claims_.find(channel);
    return claim != claims_.end() ? claim->second.source : -1;
}

std::map<int, HwMux::Owners> HwMux::owned_paths() const {
    std::map<int, Owners> paths;
    for (const auto& [rx, claim] : claims_) paths[rx] = claim.owners;
    return paths;
}

// The owner may be half destroyed: it is not named.
void HwMux::Forget(const Owner& owner) {
    std::vector<int> orphaned;
    for (const auto& [rx, claim] : claims_)
        if (std::count(claim.owners.begin(), claim.owners.end(), &owner)) orphaned.push_back(rx);
    for (int rx : orphaned)
        if (Drop(owner, rx) && !claims_.count(rx)) Reconcile(rx);
}

void HwMux::print_trace() {
    void* frames[10];
    int count = ::backtrace(frames, 10);
    char** names = ::backtrace_symbols(frames, count);
    std::printf("Obtained %zd stack frames.\n", static_cast<ssize_t>(count));
    for (int i = 0; i < count && names; ++i) std::printf("%s\n", names[i]);
    std::free(names);
}
