#pragma once
// The server's one access to the board's TDM switching fabric: it switches
// one channel's content into another, drives a channel with a constant byte,
// reads the byte a channel carries, and switches channels off.
//
// For every channel of the fabric it keeps what the server wants the
// channel to carry beside what the driver has. What is wanted comes from
// the live claims on the channel (the owners, slots or HDLC channels, that
// switch one source into it) or, with none, from the channel's own rest:
// switched off, silence or a byte, set only by operations on that channel
// itself. Each change writes the difference; a refusal leaves the two apart,
// and the refresh on each loop pass tries those again until the driver does
// it. The refresh also keeps bus channels that should be off switched off
// (a full sweep every 16 passes).
//
//   HwMux& mux = HwMux::instance();     // opens "/dev/hal"
//   mux.Connect(tx, rx, slot);          // rx now receives what tx sends
//   mux.Release(slot, rx);              // rx carries A-law silence, unless
//                                       // another owner shares the path

#include <cstdint>
#include <iosfwd>
#include <map>
#include <set>
#include <vector>

#include "board/drivers/hal.h"
#include "runtime/log_throttle.h"
#include "runtime/timer.h"

class HwMux {
public:
    // Who switched a path (a slot, an HDLC channel), as the switch's lines
    // name it. An owner that goes leaves every claim it had (Forget).
    class Owner {
    public:
        virtual void PutOwner(std::ostream& os) const = 0;

    protected:
        ~Owner();
    };
    using Owners = std::vector<const Owner*>;
    // What a release did to the switch.
    enum class Released {
        broken,  // the channel was written: silence, or switched off
        kept,    // left as it is: another owner's path, or none of the owner's
        failed,  // the device is not open, the channel negative, or the driver refused
    };
    // What a channel carries, or should.
    struct Setting {
        enum class Kind : uint8_t { off, byte, source };
        Kind kind = Kind::off;
        uint16_t value = 0;  // the byte, or the source channel
        bool operator==(const Setting& other) const {
            return kind == other.kind && (kind == Kind::off || value == other.value);
        }
        bool operator!=(const Setting& other) const { return !(*this == other); }
    };

    // Entries of the map besides a source channel.
    static constexpr uint16_t kDisabled = 0xFFFF;
    static constexpr uint16_t kDriven = 0xFFFE;
    // G.711 A-law silence.
    static constexpr unsigned char kIdleByte = 0xD5;
    // Channels refreshed (and, apart, retried) on each loop pass.
    static constexpr unsigned kRefreshPerPass = 128;

    static HwMux& instance();
    ~HwMux();
    HwMux(const HwMux&) = delete;
    HwMux& operator=(const HwMux&) = delete;

    // True when the device is open; otherwise tries to open it now.
    bool IsOpened();
    // Makes channel `rx` receive what channel `tx` transmits. These four
    // set the channel for no owner (its claims go) and the rest it falls
    // back to. A refused silence or switch-off stays wanted until the
    // driver does it; a refused path or test byte leaves the channel as it
    // was.
    bool Connect(int tx, int rx);
    // Drives the channel with the idle byte.
    bool Disconnect(int channel);
    bool Disable(int channel);
    bool Write(int channel, unsigned char value);
    // The byte the channel carries; -1 on any failure.
    int Read(int channel);
    void Reset() {}

    // ---- Claims

    // `owner` switches `tx` into `rx`: the owners of a claim of `tx` there
    // share it with `owner`; a claim of another source goes with its
    // owners. Done by the driver, or false with the claims as they were.
    bool Connect(int tx, int rx, const Owner& owner);
    // As Connect, but the claim stands whatever the driver answers: what it
    // refused stays apart until the refresh has it done. True when done.
    bool Claim(int tx, int rx, const Owner& owner);
    // `owner` lets go of its own receive channel `rx`: its claim goes and,
    // with no other owner sharing it ("mux: X leaves [rx] to Y"), the
    // channel carries silence. A channel with no claim of `owner`'s is
    // kept as it is.
    Released Release(const Owner& owner, int rx);
    // `owner` no longer switches into `rx`, another's channel: rx falls
    // back to what its other claims or its own rest say.
    Released Leave(const Owner& owner, int rx);
    // Switches `owner`'s own channel off, unless another owner claims it
    // (said as by Release), whose path stays until it goes.
    Released SwitchOff(const Owner& owner, int channel);
    // The channel goes back to its driver, which may give it to the next
    // user at once: every claim from and into it goes ("mux: disconnect X
    // [n]" for each), each channel fed from it falls back to its own rest,
    // and it is switched off. True when the driver switched it off.
    bool HandBack(int channel);
    // A new user takes the channel from the driver: what an earlier user
    // left from or into it goes as at a hand-back. A channel with nothing
    // from or into it is left as it is.
    void TakeOver(int channel);
    // The owners of the claim on the channel; none without one.
    const Owners& owners(int channel) const;
    bool Owns(const Owner& owner, int channel) const;
    // The source claimed into the channel; -1 with no claim.
    int claimed(int channel) const;
    // An owner that goes leaves every claim it had; a channel it alone
    // claimed falls back to its own rest. Owners are forgotten when they
    // are destroyed.
    void Forget(const Owner& owner);
    // Every channel with a claim, with its owners.
    std::map<int, Owners> owned_paths() const;

    // What the server wants of the channel, and what the driver has.
    Setting wanted(int channel) const;
    Setting has(int channel) const;
    // Whether the driver has what is wanted, as far as the server knows:
    // false for a channel whose writing the driver refused.
    bool settled(int channel) const { return apart_.count(channel) == 0; }
    // Tries now what the channel wants: true when the driver has it.
    bool Settle(int channel);

    void RefreshChannel(unsigned index);
    void OnDPC();

    // Prints the current call stack (a diagnostic aid).
    static void print_trace();

    // What the driver has of a channel of the fabric (0 to 10239), as a
    // map entry: a source channel, kDriven or kDisabled.
    uint16_t entry(int channel) const;
    unsigned cursor() const { return cursor_; }
    // Back to a closed device with an empty map, the refresh stopped: for tests.
    void reset_for_test();

private:
    static constexpr int kFirstBusChannel = board::hal::kBusBase;
    static constexpr unsigned kBusEntries = board::hal::kBusChannels;
    static constexpr unsigned kMapSize = board::hal::kChannels;
    struct Claimed {
        int source = -1;
        Owners owners;
    };
    enum class Say { failures, nothing };

    HwMux();
    // The switch live for the owners' destructors; null once it is gone.
    static HwMux* live_;
    // The map index of a channel of the fabric; -1 for any other channel.
    static int MapIndex(int channel);
    static Setting Source(int channel);
    static Setting Byte(unsigned char value);
    static Setting Off() { return Setting{}; }
    // A channel's rest until an operation of its own sets another: bus
    // channels are off, the others carry silence.
    static Setting DefaultRest(int channel);
    static uint16_t Code(const Setting& setting);

    // Writes `setting` into the channel; true when the driver did it. A
    // channel of the fabric then has it.
    bool Request(int channel, const Setting& setting, Say say);
    // Writes what the channel wants where the driver has something else
    // (always, with `force`); a refusal leaves it apart.
    bool Reconcile(int channel, bool force = false, Say say = Say::failures);
    // Whether the channel is apart, from what it wants and has, with no
    // request.
    void Mark(int channel);
    // Sets the channel for no owner: its claims go, its rest is `rest`;
    // refused, it stays apart (`keep`) or is as it was.
    bool SetForNoOwner(int channel, const Setting& rest, bool keep);
    // Claim (keep: whatever the driver answers) or Connect.
    bool MakeClaim(int tx, int rx, const Owner& owner, bool keep);
    // `owner` leaves the claim on `channel`; true when it was one of its owners.
    bool Drop(const Owner& owner, int channel);
    // True, with one line, when another owner keeps the claim on `channel`.
    bool LeftToAnother(const Owner& owner, int channel) const;
    // The claims from `channel`, and the channels the driver has it switched into.
    std::vector<int> FedFrom(int channel) const;
    // Says that the path an owner had into `channel` is broken.
    void SayBroken(int channel) const;
    // Tries the channels left apart again, a bounded number each pass, quietly.
    void RetryApart();
    static Released Outcome(bool written) { return written ? Released::broken : Released::failed; }
    void Close();

    int fd_ = -1;
    Setting have_[kMapSize];
    Setting rest_[kMapSize];
    std::map<int, Claimed> claims_;
    // Channels whose writing the driver refused: what they want, it has not.
    std::set<int> apart_;
    int apartCursor_ = -1;  // the last channel tried again
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
