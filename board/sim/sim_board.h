#pragma once
// The simulated board: one model per device path, answering the calls that
// reach board/devio.h. Each open gets one end of a SOCK_SEQPACKET socket pair
// (so that poll, dup and close work natively); the model keeps the other end
// and delivers each event record as one datagram. Every call is journaled
// (unless its device's journal is switched off), and tests may make the next
// call of a kind fail.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/sim/netif_model.h"

namespace board::sim {

class Model;

// What tells one open file from every other: its device and inode (the
// caller's descriptors of one open share them; files and sockets that also
// pass the seam have their own).
struct FileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileId& other) const {
        return device == other.device && inode == other.inode;
    }
};

// One open of a device: the caller holds one end, the channel the other.
class Channel {
public:
    Channel(Model& model, std::string path, int flags, int peerFd, FileId id);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    Model& model() const { return model_; }
    const std::string& path() const { return path_; }
    int flags() const { return flags_; }
    const FileId& id() const { return id_; }

    // Hands one record to the caller: it becomes readable as one datagram.
    bool deliver(const void* record, size_t length);
    // True once every caller descriptor of this open is closed.
    bool closed() const;
    // The device hangs up on the open: the caller's descriptor polls
    // POLLHUP, its reads return 0 and its writes fail with EPIPE.
    void hang_up();
    bool hung_up() const { return hungUp_; }

    // A model that queues input of its own (more than a socket holds) marks
    // the open readable with one pending datagram: raise_input() sends it
    // unless it is pending; lower_input() has the read that emptied the
    // queue take it back (Board::read calls settle_input with the caller's
    // descriptor, the only end it can be read from).
    void raise_input();
    void lower_input() { lowering_ = true; }
    void settle_input(int callerFd);

    // A model whose transmit queue is full stops the caller's writes as a
    // driver does: lower_output() has the write in progress leave the
    // caller's descriptor without POLLOUT (Board::write calls settle_output
    // with it: the pair's other way, which carries nothing else, is filled
    // from it), and raise_output() gives POLLOUT back.
    void lower_output() { loweringOutput_ = true; }
    void raise_output();
    void settle_output(int callerFd);
    bool output_lowered() const { return outputLowered_; }

private:
    Model& model_;
    std::string path_;
    int flags_;
    int peerFd_;
    FileId id_;
    bool inputRaised_ = false;
    bool lowering_ = false;
    bool loweringOutput_ = false;
    bool outputLowered_ = false;
    bool hungUp_ = false;
};

// Base of the device models. Defaults: open succeeds, ioctl fails with ENOTTY,
// write accepts everything, read returns the next delivered record, close
// forgets nothing.
class Model {
public:
    virtual ~Model() = default;
    virtual int open(Channel& channel);
    virtual int ioctl(Channel& channel, uint32_t request, void* arg);
    virtual int ioctl_value(Channel& channel, uint32_t request, unsigned long value);
    virtual ssize_t write(Channel& channel, const void* data, size_t length);
    // Returns -2 to let the caller read its descriptor natively (a read
    // that finds nothing fails with EAGAIN, as the event drivers do).
    virtual ssize_t read(Channel& channel, void* buf, size_t length);
    // The caller has closed every descriptor of this open; the board notices
    // when it next opens or lists channels, and forgets the channel after.
    virtual void close(Channel& /*channel*/) {}
    // Back to the state of a freshly booted board.
    virtual void reset() {}
    // The board's time has come to `nowUs`: the channels whose line has
    // carried enough take data again. Returns the microseconds until the
    // next full one does, kNoWait when none is full.
    static constexpr uint64_t kNoWait = UINT64_MAX;
    virtual uint64_t pace(uint64_t /*nowUs*/) { return kNoWait; }

    // Whether the calls on this device's opens are journaled, and the model
    // keeps its own history of them (the packets written, the requests, the
    // values set in turn).
    bool journaled = true;
    // While set, a read that finds nothing returns 0 rather than failing
    // with EAGAIN, as some drivers answer a drained queue ("/dev/rtp_ext").
    bool drained_reads_zero = false;
};

enum class Op { Open, Ioctl, Read, Write };
const char* to_string(Op op);

// One journaled call.
struct Call {
    Call(Op op, std::string path, uint32_t request = 0, std::vector<uint8_t> data = {})
        : op(op), path(std::move(path)), request(request), data(std::move(data)) {}
    Op op;
    std::string path;
    uint32_t request = 0;       // ioctl request number
    std::vector<uint8_t> data;  // bytes written, or the ioctl record as passed in
    unsigned long value = 0;    // ioctl_value argument
    long result = 0;            // the call's return value
    int error = 0;              // errno when result is -1
};

class Board {
public:
    static Board& instance();

    // Makes `path` a device answered by `model` (replacing any other).
    void install(const std::string& path, std::unique_ptr<Model> model);
    Model* model(const std::string& path) const;
    template <class T>
    T* model_as(const std::string& path) const {
        return dynamic_cast<T*>(model(path));
    }

    // Open channels of a device, oldest first (closed ones are dropped).
    std::vector<Channel*> channels(const std::string& path);
    // Forgets the opens whose caller has closed every descriptor, running
    // their model's close() first.
    void drop_closed();
    // The open behind a descriptor (also a duplicate of it); null when the
    // descriptor is not an open of a simulated device.
    Channel* channel(int fd);
    // Delivers a record to every open channel of a device; returns how many got it.
    int deliver(const std::string& path, const void* record, size_t length);

    // The journal keeps the latest calls in a ring of this size whose
    // entries are reused, so that a long run (the server's refresh of the
    // switch makes calls on every loop pass) neither grows nor allocates.
    static constexpr size_t kJournalLimit = 1 << 16;

    // Oldest first.
    std::vector<Call> journal() const;
    std::vector<Call> journal(const std::string& path) const;
    void clear_journal();
    // Switches the journal of a device's opens and of the calls on them off
    // or on, for devices whose calls no test reads; without a path, of
    // every device and of the opens of paths that name none.
    void set_journaled(const std::string& path, bool on);
    void set_journaled(bool on);
    // Whether devices journal their calls when the board starts and after
    // reset(). The server executable, whose journal nothing can read,
    // clears it before it runs.
    static bool journalsByDefault;

    // The next `count` calls of `op` on `path` (and `request`, when not 0)
    // fail with `error` without reaching the model.
    void fail_next(Op op, const std::string& path, int error, uint32_t request = 0,
                   int count = 1);
    // Asked about every call that reaches a device (after fail_next's),
    // with an ioctl's record or the bytes written (else null): a non-zero
    // errno it returns fails the call without reaching the model. The
    // network interfaces ask it too, under NetIfModel::kPath (the socket
    // as an open, each request as an ioctl). reset() clears it.
    std::function<int(Op op, const std::string& path, uint32_t request, const void* arg)> refuse;

    // The network interfaces (board/netif.h).
    NetIfModel& netifs() { return netifs_; }

    // The board's time in microseconds. While it is set, a channel that
    // models a line (the multi-channel controller's) takes data no faster
    // than the line carries it; unset, at once. The server executable sets
    // the loop's clock; reset() unsets it.
    std::function<uint64_t()> clock;
    // Lets the channels take what their lines have carried by now; returns
    // the milliseconds until the next full one takes data again, -1 when
    // none is full (or no clock is set). The server's loop calls it before
    // each wait.
    int pace();

    // Forgets every channel, journal entry, pending failure and the clock,
    // and resets every model and the network interfaces.
    void reset();

    // The seam's entry points (board/devio.h forwards here).
    int open(const char* path, int flags);
    int ioctl(int fd, uint32_t request, void* arg);
    int ioctl_value(int fd, uint32_t request, unsigned long value);
    ssize_t read(int fd, void* buf, size_t count);
    ssize_t write(int fd, const void* buf, size_t count);

private:
    Board();
    struct Failure {
        Op op;
        std::string path;
        uint32_t request;
        int error;
        int count;
    };
    bool take_failure(Op op, const std::string& path, uint32_t request,
                      const void* arg = nullptr);
    bool take_listed_failure(Op op, const std::string& path, uint32_t request);
    template <class ModelCall>
    long journaled(Channel& c, Op op, uint32_t request, const void* passed, size_t size,
                   ModelCall model_call);
    // The journal entry of the next call: a new one until the ring is full,
    // then the oldest. Every field is the caller's to set.
    Call& journal_entry();
    // Visits the journal's calls oldest first, in place.
    template <class Visit>
    void for_each_call(Visit visit) const;
    void record(const Call& call) { journal_entry() = call; }

    std::map<std::string, std::unique_ptr<Model>> models_;
    // Oldest first; found by descriptor number (board/sim/descriptor_table.h),
    // else by the file id of the caller's socket, so that a dup of a
    // descriptor finds its open.
    std::vector<std::unique_ptr<Channel>> channels_;
    // The ring: entries in use, and the oldest once it is full.
    std::vector<Call> journal_;
    size_t journalCount_ = 0;
    size_t journalOldest_ = 0;
    std::vector<Failure> failures_;
    bool journalsOpens_ = true;  // of paths that name no device
    NetIfModel netifs_;
};

// Installs the model of every board device (board/sim/models.cpp).
void install_models(Board& board);

}  // namespace board::sim
