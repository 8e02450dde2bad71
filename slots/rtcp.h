#pragma once
// The two RTCP packets an RTP session sends on its port + 1: a source
// description when it starts and a BYE when it ends (RFC 3550 formats).
//
//   RTPC::SDES sdes(ssrc);
//   sdes.add(RTPC::SDES::Item::CNAME, "host");
//   char buf[1024];
//   unsigned length = sdes.encode(buf, sizeof buf);   // 0: it does not fit

#include <cstdint>
#include <string>
#include <vector>

namespace RTPC {

class Msg {
public:
    explicit Msg(uint32_t ssrc) : ssrc(ssrc) {}
    virtual ~Msg() = default;

    // The packet type byte.
    virtual uint8_t pt() const = 0;
    // The 5-bit count of the first byte.
    virtual uint8_t count() const = 0;

    // The whole packet into `buf`, never beyond `size` bytes. Returns its
    // length (a multiple of 4), or 0 when the smallest packet of its kind
    // does not fit (8 bytes for a BYE, 12 for an SDES).
    unsigned encode(char* buf, unsigned size) const;

    uint32_t ssrc;

protected:
    // Everything after the 4-byte header into at most `size` bytes (a
    // multiple of 4, so that encode's padding fits); returns the bytes
    // written, 0 when nothing fits.
    virtual unsigned encode_body(char* buf, unsigned size) const = 0;
};

class SDES : public Msg {
public:
    struct Item {
        enum Type : uint8_t { CNAME = 1, NAME, EMAIL, PHONE, LOC, TOOL, NOTE, PRIV };
        Type type;
        std::string text;  // at most 255 bytes go out
    };

    using Msg::Msg;
    uint8_t pt() const override { return 202; }
    uint8_t count() const override { return 1; }  // one chunk

    void add(Item::Type type, const std::string& text) { items_.push_back(Item{type, text}); }

protected:
    // The SSRC, then the items in order as far as each fits with the
    // closing zero byte and padding, then that zero byte (RFC 3550 6.5).
    unsigned encode_body(char* buf, unsigned size) const override;

private:
    std::vector<Item> items_;
};

class BYE : public Msg {
public:
    BYE(uint32_t ssrc, std::string reason) : Msg(ssrc), reason(std::move(reason)) {}
    uint8_t pt() const override { return 203; }
    uint8_t count() const override { return 1; }  // one SSRC

    std::string reason;  // cut to what fits, at most 255 bytes

protected:
    unsigned encode_body(char* buf, unsigned size) const override;
};

}  // namespace RTPC
