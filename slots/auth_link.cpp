#include "slots/auth_link.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "runtime/descriptor_end.h"
#include "slots/modem_factory.h"

namespace Auth {

namespace {

uint32_t get_word(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void put_word(std::vector<uint8_t>& out, uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(word >> shift));
}

std::vector<uint8_t> header(size_t length, Type type, uint32_t session) {
    std::vector<uint8_t> out;
    out.reserve(length);
    put_word(out, uint32_t(length));
    put_word(out, type);
    put_word(out, session);
    return out;
}

}  // namespace

Record::Record(const uint8_t* bytes) : bytes_(bytes) {
    header_.length = word(0);
    header_.type = word(4);
    header_.session = word(8);
}

uint32_t Record::word(size_t offset) const { return get_word(bytes_ + offset); }

uint64_t Record::word64(size_t offset) const {
    return uint64_t(word(offset)) << 32 | word(offset + 4);
}

std::string Record::text(size_t offset) const {
    const char* p = reinterpret_cast<const char*>(bytes_ + offset);
    return std::string(p, strnlen(p, kTextSize));
}

voauth Record::login() const { return voauth{text(12), text(12 + kTextSize)}; }

voacct Record::accounting() const {
    voacct acct;
    acct.octetsOut = word64(24);
    acct.octetsIn = word64(32);
    acct.packetsOut = word64(40);
    acct.packetsIn = word64(48);
    acct.time = word(56);
    return acct;
}

std::vector<uint8_t> accept_record(uint32_t session) {
    std::vector<uint8_t> out = header(kAcceptSize, kAccept, session);
    put_word(out, 1);
    return out;
}

std::vector<uint8_t> ip_parameters_record(uint32_t session, const voaddr& address) {
    std::vector<uint8_t> out = header(kIpParametersSize, kIpParameters, session);
    put_word(out, 0);
    // The addresses go as they are stored: network order is the wire's.
    for (uint32_t a : {address.remote, address.netmask, address.gateway, address.dns}) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&a);
        out.insert(out.end(), bytes, bytes + 4);
    }
    put_word(out, address.mtu);
    return out;
}

// ---- Reader

void Reader::restart() {
    fill_ = 0;
    end_ = kLengthSize;
}

Reader::Step Reader::filled(size_t count) {
    fill_ += std::min(count, missing());
    if (fill_ < end_) return Step::More;
    if (end_ == kLengthSize) {
        const uint32_t length = get_word(buffer_);
        // A record shorter than its header has no session to hand on.
        if (length < kHeaderSize || length > kMaxRecord) {
            badLength_ = length;
            restart();
            return Step::Bad;
        }
        end_ = length;
        return Step::More;
    }
    restart();
    return Step::Record;
}

}  // namespace Auth

// ---- AuthClient

AuthClient::AuthClient(Fd fd, const INet4::Addr& peer, ModemFactory& factory)
    : fd_(std::move(fd)), peer_(peer), factory_(factory) {
    event_.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
}

bool AuthClient::Activate() {
    return event_.Schedule(fd_, POLLIN);
}

void AuthClient::OnDisconnect() {
    fd_.close();
    event_.Release();
}

void AuthClient::CheckDisconnect() {
    if (!fd_) factory_.OnAuthSocketDisconnect(this);
}

void AuthClient::OnSocketEvent(int, short revents) {
    Busy busy(*this);
    if (revents & kEndEvents) return OnDisconnect();
    if (revents & POLLIN) ReadRecords();
}

// A burst of records at most: a program that streams them cannot hold the
// loop, the rest wait for the next pass. The handling of a record may close
// the connection (a send to it that failed): the loop stops then.
void AuthClient::ReadRecords() {
    for (unsigned records = 0; fd_ && records < kRecordsPerEvent;) {
        const ssize_t n = ::read(fd_.get(), reader_.space(), reader_.missing());
        if (n <= 0) {
            if (ReadEnd(n, 0)) OnDisconnect();
            return;
        }
        switch (reader_.filled(size_t(n))) {
            case Auth::Reader::Step::More: break;
            case Auth::Reader::Step::Bad:
                factory_.PutHeader(std::cerr);
                std::cerr << "auth client " << peer_ << ": bad record length "
                          << reader_.bad_length() << ", closing." << std::endl;
                return OnDisconnect();
            case Auth::Reader::Step::Record: {
                ++records;
                const Auth::Record record = reader_.record();
                named_ = true;
                lastSession_ = record.header().session;
                factory_.OnAuth(record);
                break;
            }
        }
    }
}

bool AuthClient::Send(const std::vector<uint8_t>& record) {
    Busy busy(*this);
    if (!fd_) return false;
    for (size_t done = 0; done < record.size();) {
        const ssize_t n = ::send(fd_.get(), record.data() + done, record.size() - done,
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 1) {
            OnDisconnect();
            return false;
        }
        done += size_t(n);
    }
    return true;
}
