#pragma once
// Hex helpers, one-call PER and BER coding and the round-trip check of
// decoded values, for the ASN.1 tests and the decode fuzzers.

#include "asn1/asn1.h"
#include "asn1/ber_decoder.h"
#include "asn1/ber_encoder.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"

#include <memory>
#include <string>
#include <vector>

namespace Test {

inline std::string toHex(const std::vector<char>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (char byte : bytes) {
        text += digits[(byte >> 4) & 0xF];
        text += digits[byte & 0xF];
    }
    return text;
}

inline std::vector<char> fromHex(const std::string& text) {
    std::vector<char> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

inline bool perEncode(const ASN1::AbstractData& value, std::vector<char>& octets) {
    ASN1::PEREncoder encoder(octets);
    return value.accept(encoder);
}

// The encoding as upper-case hex, or "encode failed".
inline std::string perHex(const ASN1::AbstractData& value) {
    std::vector<char> out;
    if (!perEncode(value, out)) return "encode failed";
    return toHex(out);
}

inline bool perDecode(const std::vector<char>& bytes, ASN1::AbstractData& value) {
    ASN1::PERDecoder decoder(bytes.data(), bytes.data() + bytes.size());
    return value.accept(decoder);
}

inline bool perDecodeHex(const std::string& hex, ASN1::AbstractData& value) {
    return perDecode(fromHex(hex), value);
}

inline bool berEncode(const ASN1::AbstractData& value, std::vector<char>& octets) {
    ASN1::BEREncoder encoder(octets);
    return value.accept(encoder);
}

// The BER encoding as upper-case hex, or "encode failed".
inline std::string berHex(const ASN1::AbstractData& value) {
    std::vector<char> out;
    if (!berEncode(value, out)) return "encode failed";
    return toHex(out);
}

inline bool berDecode(const std::vector<char>& octets, ASN1::AbstractData& value) {
    ASN1::BERDecoder decoder(octets.data(), octets.data() + octets.size());
    return value.accept(decoder);
}

inline bool berDecodeHex(const std::string& hex, ASN1::AbstractData& value) {
    return berDecode(fromHex(hex), value);
}

// Whether a value that encoded to `octets` comes back: the octets decode to
// an equal value that encodes to the same octets again. encode(value,
// octets) and decode(octets, value) are one rule's coders.
template <class Encode, class Decode>
bool comesBack(const ASN1::AbstractData& value, const std::vector<char>& octets, Encode encode,
               Decode decode) {
    std::unique_ptr<ASN1::AbstractData> again(value.info()->create(value.info()));
    if (!decode(octets, *again) || again->compare(value) != 0) return false;
    std::vector<char> second;
    return encode(*again, second) && octets == second;
}

// What a PER-decoded value must satisfy: when it encodes at all (a decoder
// lets an INTEGER past its range through, which the encoder refuses), it
// comes back.
inline bool reencodesStably(const ASN1::AbstractData& decoded) {
    std::vector<char> octets;
    return !perEncode(decoded, octets) || comesBack(decoded, octets, perEncode, perDecode);
}

// What a fuzz target asks of arbitrary octets decoded as a T: that a value
// which decodes also re-encodes stably.
template <class T>
bool decodesSoundly(const std::vector<char>& octets) {
    T value;
    return !perDecode(octets, value) || reencodesStably(value);
}

}  // namespace Test
