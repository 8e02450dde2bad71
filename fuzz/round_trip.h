#pragma once
// What the decode fuzzers check of a value that decoded: it encodes, and the
// encoding decodes to an equal value that encodes to the same octets again.

#include "asn1/asn1.h"
#include "tests/asn1/per_test_util.h"

#include <vector>

namespace Fuzz {

// A time text that decoded may hold fields that its text form cannot carry
// (a year of five digits, negative minutes); such a value cannot come back.
inline bool timeReadsBack(const ASN1::GeneralizedTime& time) {
    return ASN1::GeneralizedTime(time.get().c_str()) == time;
}

// encode(value, octets) and decode(octets, value) are one rule's coders.
template <class Encode, class Decode>
void checkRoundTrip(const ASN1::AbstractData& decoded, Encode encode, Decode decode) {
    std::vector<char> octets;
    if (!encode(decoded, octets) || !Test::comesBack(decoded, octets, encode, decode)) {
        __builtin_trap();
    }
}

}  // namespace Fuzz
