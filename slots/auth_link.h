#pragma once
// The dial-in authentication link. A local program on the board connects to
// the server's loopback port, asks it to authenticate the user of a modem
// session and reports the session's accounting totals; the server answers
// an activated session with an accept and the session's IP parameters. A
// session is named by the DSP modem number. Every record is a run of
// big-endian 32-bit words behind the header {length, type, session}; the
// length counts the whole record.
//
//   Auth::Reader reader;                       // one per connection
//   n = read(fd, reader.space(), reader.missing());
//   if (reader.filled(n) == Auth::Reader::Step::Record) use(reader.record());

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/fd.h"
#include "runtime/inet4_addr.h"
#include "runtime/multiplexer.h"

class ModemFactory;

namespace Auth {

constexpr size_t kHeaderSize = 12;
constexpr size_t kMaxRecord = 512;
// The user name and the password fields of a login.
constexpr size_t kTextSize = 64;

enum Type : uint32_t { kLogin = 1, kAccept = 2, kIpParameters = 3, kAccounting = 4 };
constexpr size_t kLoginSize = 140;
constexpr size_t kAcceptSize = 16;
constexpr size_t kIpParametersSize = 36;
constexpr size_t kAccountingSize = 64;

struct attr {
    uint32_t length = 0;
    uint32_t type = 0;
    uint32_t session = 0;
};

// Login request: each text ends at its first NUL byte, 64 bytes at most.
struct voauth {
    std::string username;
    std::string password;
};

// Accounting totals of a session.
struct voacct {
    uint64_t octetsOut = 0;
    uint64_t octetsIn = 0;
    uint64_t packetsOut = 0;
    uint64_t packetsIn = 0;
    uint32_t time = 0;
};

// IP parameters of an accepted session; addresses in network order.
struct voaddr {
    uint32_t remote = 0;
    uint32_t netmask = 0;
    uint32_t gateway = 0;
    uint32_t dns = 0;
    uint32_t mtu = 0;
};

// A complete received record, at least a header long; it refers to the
// reader's buffer and holds until the next read.
class Record {
public:
    explicit Record(const uint8_t* bytes);

    const attr& header() const { return header_; }
    // Valid for a login record of kLoginSize bytes.
    voauth login() const;
    // Valid for an accounting record of kAccountingSize bytes.
    voacct accounting() const;

private:
    uint32_t word(size_t offset) const;
    uint64_t word64(size_t offset) const;
    std::string text(size_t offset) const;

    const uint8_t* bytes_;
    attr header_;
};

// The records the server sends.
std::vector<uint8_t> accept_record(uint32_t session);
std::vector<uint8_t> ip_parameters_record(uint32_t session, const voaddr& address);

// Cuts a byte stream into records. Each read asks for exactly the bytes
// still missing from the current piece (the length word, then the rest of
// the record), so a read never crosses into the next record.
class Reader {
public:
    enum class Step { More, Record, Bad };

    uint8_t* space() { return buffer_ + fill_; }
    size_t missing() const { return end_ - fill_; }
    // `count` bytes (at most missing()) were put at space(). Record: the
    // record is complete. Bad: its length word is shorter than a header or
    // longer than kMaxRecord (see bad_length); the stream is lost.
    Step filled(size_t count);
    Auth::Record record() const { return Auth::Record(buffer_); }
    uint32_t bad_length() const { return badLength_; }

private:
    static constexpr size_t kLengthSize = 4;

    void restart();

    uint8_t buffer_[kMaxRecord];
    size_t fill_ = 0;
    size_t end_ = kLengthSize;
    uint32_t badLength_ = 0;
};

}  // namespace Auth

// One connection of the authentication program. It is closed on an error,
// the peer's close, a bad length or a failed send, and then deleted by the
// factory, but never while one of its own operations runs: however deeply a
// record's handling calls back into it, the deletion waits until the
// outermost one returns.
class AuthClient {
public:
    AuthClient(Fd fd, const INet4::Addr& peer, ModemFactory& factory);
    AuthClient(const AuthClient&) = delete;
    AuthClient& operator=(const AuthClient&) = delete;

    // Starts watching the connection for input; false, with errno set,
    // when no descriptor is left for the watch.
    bool Activate();
    void OnSocketEvent(int fd, short revents);
    // Writes the whole record: false, with the connection closed, when it
    // does not all go at once (a peer that stopped reading).
    bool Send(const std::vector<uint8_t>& record);
    // Closes the connection; the factory deletes the object later.
    void OnDisconnect();

    // Whether the last record received named `session`.
    bool LastSession(uint32_t session) const { return named_ && lastSession_ == session; }
    const INet4::Addr& peer() const { return peer_; }

private:
    // Raised while an operation runs; the last one out deletes a closed
    // connection. Touch nothing of the client after its scope ends.
    class Busy {
    public:
        explicit Busy(AuthClient& client) : client_(client) { ++client_.busy_; }
        ~Busy() {
            if (--client_.busy_ == 0) client_.CheckDisconnect();
        }

    private:
        AuthClient& client_;
    };

    void ReadRecords();
    void CheckDisconnect();

    Fd fd_;
    INet4::Addr peer_;
    ModemFactory& factory_;
    int busy_ = 0;
    Auth::Reader reader_;
    // A fresh connection names no session, not even 0xFFFFFFFF.
    bool named_ = false;
    uint32_t lastSession_ = 0;
    Event event_;
};
