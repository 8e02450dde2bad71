#pragma once
// The server's one access to the board's TDM switching fabric: it switches
// one channel's content into another, drives a channel with a constant byte,
// reads the byte a channel carries, and switches channels off. It keeps a
// map of what every channel of the fabric carries, and from the event loop
// keeps switched-off bus channels switched off (a full sweep every 16
// passes).
//
// Every path the server makes has owners: the slots or HDLC channels that
// switched it. A release by an owner breaks the path only while it still
// carries what that owner switched, and leaves it to the owners that remain.
// An owner that releases, switches off or goes leaves the path whatever the
// driver answers; what the driver refused (a silence, a switch-off) stays
// owed: the refresh tries it again on each loop pass until the driver does
// it or a later operation on the channel replaces it.
//
//   HwMux& mux = HwMux::instance();     // opens "/dev/hal"
//   mux.Connect(tx, rx, slot);          // rx now receives what tx sends
//   mux.Release(slot, rx);              // rx carries A-law silence, unless
//                                       // another owner shares the path

#include <cstdint>
#include <iosfwd>
#include <map>
#include <vector>

#include "board/drivers/hal.h"
#include "runtime/log_throttle.h"
#include "runtime/timer.h"

class HwMux {
public:
    // Who switched a path (a slot, an HDLC channel), as the switch's lines
    // name it.
    class Owner {
    public:
        virtual void PutOwner(std::ostream& os) const = 0;

    protected:
        ~Owner() = default;
    };
    using Owners = std::vector<const Owner*>;
    // What a release did to the switch.
    enum class Released {
        broken,  // the channel was written: silence, or switched off
        kept,    // left as it is: another owner's path, or none of the owner's
        failed,  // the device is not open, the channel negative, or the driver refused
    };

    // Map entries besides a source channel.
    static constexpr uint16_t kDisabled = 0xFFFF;
    static constexpr uint16_t kDriven = 0xFFFE;
    // G.711 A-law silence.
    static constexpr unsigned char kIdleByte = 0xD5;
    // Map entries refreshed on each loop pass.
    static constexpr unsigned kRefreshPerPass = 128;

    static HwMux& instance();
    ~HwMux();
    HwMux(const HwMux&) = delete;
    HwMux& operator=(const HwMux&) = delete;

    // True when the device is open; otherwise tries to open it now.
    bool IsOpened();
    // Makes channel `rx` receive what channel `tx` transmits. These four
    // write the channel for no owner: once the driver has switched, the
    // owners of what it carried before are forgotten, and what was owed it;
    // a refusal leaves the record as it was, and of a silence or a
    // switch-off makes it owed.
    bool Connect(int tx, int rx);
    // Drives the channel with the idle byte.
    bool Disconnect(int channel);
    bool Disable(int channel);
    bool Write(int channel, unsigned char value);
    // The byte the channel carries; 255 on any failure.
    int Read(int channel);
    void Reset() {}

    // ---- Paths with owners

    // `owner` switches `tx` into `rx`: the owners of a path from `tx` there
    // share it with `owner`; a path from another source goes with its
    // owners. A refusal leaves the path and its owners as they were.
    bool Connect(int tx, int rx, const Owner& owner);
    // What `owner` switched into `rx` goes: the channel carries silence,
    // unless another owner shares the path ("mux: X leaves [rx] to Y"), or
    // the channel carries no path of `owner`'s. `owner` leaves the path
    // even when the driver refuses: the silence is owed.
    Released Release(const Owner& owner, int rx);
    // Switches off `owner`'s own channel, unless another owner has a path
    // into it (said as by Release); a refused switch-off is owed.
    Released SwitchOff(const Owner& owner, int channel);
    // The channel goes back to its driver, which may give it to the next
    // user at once: every path from it goes (its receivers carry silence)
    // and it is switched off, whoever switched them, recorded or not
    // ("mux: disconnect X [n]" for each path an owner X had). What the
    // driver refuses is owed.
    bool HandBack(int channel);
    // A new user takes the channel from the driver: the paths the fabric
    // still has from and into it (an earlier user's, left by a refusal or
    // not yet let go of) go as at a hand-back. A channel that carries no
    // path is left as it is.
    void TakeOver(int channel);
    // The owners of the path into the channel; none for a channel that
    // carries no path the server made for an owner.
    const Owners& owners(int channel) const;
    // Whether `owner` is one of them.
    bool Owns(const Owner& owner, int channel) const;
    // An owner that goes: it owns no path any more. A path it alone owned
    // carries silence (owed when the driver refuses).
    void Forget(const Owner& owner);
    // Every channel whose path has owners, with them.
    const std::map<int, Owners>& owned_paths() const { return owners_; }

    // What the server still owes a channel whose writing the driver refused.
    enum class Owed : uint8_t { nothing, silence, off };
    Owed owed(int channel) const;
    // Tries now what is owed the channel: true when nothing is owed (any
    // more), false while the driver refuses.
    bool Settle(int channel);

    void RefreshChannel(unsigned index);
    void OnDPC();

    // Prints the current call stack (a diagnostic aid).
    static void print_trace();

    // What the map holds for a channel of the fabric (0 to 10239).
    uint16_t entry(int channel) const;
    unsigned cursor() const { return cursor_; }
    // Back to a closed device with an empty map, the refresh stopped: for tests.
    void reset_for_test();

private:
    static constexpr int kFirstBusChannel = board::hal::kBusBase;
    static constexpr unsigned kBusEntries = board::hal::kBusChannels;
    static constexpr unsigned kMapSize = board::hal::kChannels;

    HwMux();
    // The map index of a channel of the fabric; -1 for any other channel.
    static int MapIndex(int channel);
    // The entry is written, and the channel's owners and what it was owed
    // forgotten.
    void SetEntry(int channel, uint16_t value);
    // The driver refused to write the channel: it stays owed.
    void Owe(int channel, Owed what);
    // The write byte and disable requests; true when the driver did it.
    bool WriteByte(int channel, unsigned char value);
    bool SwitchOffChannel(int channel);
    // Tries what is owed again, a bounded number each pass, quietly.
    void RetryOwed();
    // `owner` leaves the path into `channel`.
    void Leave(const Owner& owner, int channel);
    bool Usable(int channel) { return IsOpened() && channel >= 0; }
    // True, with one line, when another owner keeps the path into
    // `channel`: `owner` is taken off it.
    bool LeftToAnother(const Owner& owner, int channel);
    // The channels that receive what `channel` transmits.
    std::vector<int> FedFrom(int channel) const;
    // HandBack, `fed` being FedFrom(channel).
    bool HandBack(int channel, const std::vector<int>& fed);
    // Says that the path an owner had into `channel` is broken.
    void SayBroken(int channel) const;
    static Released Outcome(bool written) { return written ? Released::broken : Released::failed; }
    void Close();

    int fd_ = -1;
    uint16_t map_[kMapSize];
    // Channels whose path has owners, with them in the order they came.
    std::map<int, Owners> owners_;
    // Channels of the fabric owed a silence or a switch-off.
    std::map<int, Owed> owed_;
    int owedCursor_ = -1;  // the last channel whose debt was tried
    unsigned cursor_ = 0;
    Dpc refresh_;
    // A bus test writes or switches off a whole range at once.
    // Each operation tries the device again: lines of a whole bus test.
    LogThrottle openFailed_;
    LogThrottle disableFailed_;
    LogThrottle writeFailed_;
};

// An owner as the switch's lines name it.
std::ostream& operator<<(std::ostream& os, const HwMux::Owner& owner);
