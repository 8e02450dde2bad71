#pragma once
// The layout choices of aligned PER that PEREncoder and PERDecoder must make
// alike: where a string's contents start on an octet and how its characters
// travel.

#include "asn1/abstract_data.h"

#include <cstdint>

namespace ASN1 {
namespace per {

// The upper bound of a length determinant that has none.
const unsigned NoUpperBound = 0x7FFFFFFF;

// Whether the contents of a BIT STRING or OCTET STRING (contentBits of them)
// start on an octet: all but those of a fixed size of 16 bits or fewer.
inline bool contentsAligned(const ConstrainedObject& object, bool bounded, uint64_t contentBits) {
    const bool fixedSize =
        bounded && static_cast<unsigned>(object.lowerLimit()) == object.upperLimit();
    return contentBits > 16 || !fixedSize;
}

// Whether the characters of a string start on an octet: unless its size is
// bounded and the largest string takes 16 bits or fewer.
inline bool charactersAligned(const ConstrainedInfo& info, bool bounded, unsigned bitsPerChar) {
    return !bounded || uint64_t(info.upperLimit) * bitsPerChar > 16;
}

// Whether an 8-bit string's characters travel as their own codes rather than
// as indexes into the permitted set.
inline bool sendsOwnCodes(const StringInfo& info) {
    return info.canonicalBits <= info.alignedBits && info.canonicalBits > 4;
}

// Whether a BMPString's characters travel as their own codes (the last
// permitted one fits the field) rather than as offsets from the first.
inline bool sendsOwnCodes(const BMPStringInfo& info) {
    const unsigned last = static_cast<unsigned>(info.lastChar);
    return info.alignedBits >= 32 || last < (1u << info.alignedBits);
}

}  // namespace per
}  // namespace ASN1
