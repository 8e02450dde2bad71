#include "asn1/per_encoder.h"

#include "asn1/asn1.h"
#include "asn1/per_layout.h"

#include <cstdint>

namespace ASN1 {

using per::NoUpperBound;

namespace {

// Octets of the non-negative number value, at least one.
unsigned octetsOf(unsigned value) {
    unsigned count = 1;
    while (count < 4 && (value >> (8 * count)) != 0) ++count;
    return count;
}

}  // namespace

PEREncoder::PEREncoder(std::vector<char>& buffer) : buffer_(buffer) {
    buffer_.reserve(buffer_.size() + 256);
}

void PEREncoder::encodeSingleBit(bool value) { encodeMultiBit(value ? 1 : 0, 1); }

void PEREncoder::encodeMultiBit(unsigned value, unsigned nBits) {
    while (nBits > 0) {
        if (bitsLeft_ == 8) buffer_.push_back(0);
        const unsigned take = nBits < bitsLeft_ ? nBits : bitsLeft_;
        const unsigned chunk = (value >> (nBits - take)) & ((1u << take) - 1);
        bitsLeft_ = static_cast<unsigned short>(bitsLeft_ - take);
        buffer_.back() = static_cast<char>(buffer_.back() | (chunk << bitsLeft_));
        nBits -= take;
        if (bitsLeft_ == 0) bitsLeft_ = 8;
    }
}

void PEREncoder::encodeByte(unsigned value) {
    byteAlign();
    buffer_.push_back(static_cast<char>(value));
}

void PEREncoder::encodeBlock(const char* data, unsigned n) {
    if (n == 0) return;
    byteAlign();
    buffer_.insert(buffer_.end(), data, data + n);
}

void PEREncoder::encodeBitMap(const std::vector<char>& bitData, unsigned nBits) {
    unsigned i = 0;
    for (; i < nBits / 8; ++i) encodeMultiBit(static_cast<unsigned char>(bitData[i]), 8);
    const unsigned rest = nBits % 8;
    if (rest) encodeMultiBit(static_cast<unsigned char>(bitData[i]) >> (8 - rest), rest);
}

void PEREncoder::encodeOctets(unsigned value, unsigned count) {
    byteAlign();
    while (count-- > 0) buffer_.push_back(static_cast<char>(value >> (8 * count)));
}

void PEREncoder::encodeSmallUnsigned(unsigned value) {
    if (value <= 63) {
        encodeMultiBit(value, 7);  // a 0 bit, then six bits
        return;
    }
    encodeSingleBit(true);
    const unsigned count = octetsOf(value);
    encodeLength(count, 0, NoUpperBound);
    encodeOctets(value, count);
}

bool PEREncoder::encodeUnsigned(unsigned value, unsigned lower, unsigned upper) {
    const ConstrainedInfo bounds = {{nullptr, 0}, FixedConstraint, static_cast<int>(lower), upper};
    if (!withinBounds(bounds, value)) return false;
    if (lower == upper) return true;
    const uint64_t range = uint64_t(upper - lower) + 1;
    const unsigned offset = value - lower;
    if (range <= 255) {
        encodeMultiBit(offset, CountBits(static_cast<unsigned>(range)));
    } else if (range == 256) {
        encodeOctets(offset, 1);
    } else if (range <= 65536) {
        encodeOctets(offset, 2);
    } else {
        // The octet count as a constrained number in 1..m, then the octets.
        const unsigned maxOctets = (CountBits(static_cast<unsigned>(range)) + 7) / 8;
        const unsigned count = octetsOf(offset);
        encodeUnsigned(count, 1, maxOctets);
        encodeOctets(offset, count);
    }
    return true;
}

bool PEREncoder::encodeLength(unsigned length, unsigned lower, unsigned upper) {
    if (length < lower || length > upper) return false;
    if (upper <= 65535) return encodeUnsigned(length, lower, upper);
    if (length < 128) {
        encodeByte(length);
    } else if (length < 16384) {
        encodeByte(0x80 | (length >> 8));
        encodeByte(length & 0xFF);
    } else {
        return false;  // would need fragmentation
    }
    return true;
}

bool PEREncoder::encodeConstraint(const ConstrainedObject& object, unsigned value) {
    switch (object.constraintType()) {
        case FixedConstraint:
            return false;
        case ExtendableConstraint: {
            const bool outside = !withinBounds(*object.info(), value);
            encodeSingleBit(outside);
            return outside;
        }
        default:
            return true;
    }
}

bool PEREncoder::encodeSize(const ConstrainedObject& object, unsigned size, bool& bounded) {
    const ConstrainedInfo& info = *object.info();
    const unsigned lower = static_cast<unsigned>(info.lowerLimit);
    bounded = !encodeConstraint(object, size);
    if (bounded) return encodeLength(size, lower, info.upperLimit);
    return encodeLength(size, info.type == PartiallyConstrained ? lower : 0, NoUpperBound);
}

bool PEREncoder::encodeConstrainedLength(const ConstrainedObject& object, unsigned length) {
    bool bounded;
    return encodeSize(object, length, bounded);
}

bool PEREncoder::encodeAnyType(const AbstractData* value) {
    std::vector<char> contents;
    if (value) {
        PEREncoder inner(contents);
        if (!value->accept(inner)) return false;
    }
    if (contents.empty()) contents.push_back(0);  // an empty encoding is one zero octet
    if (!encodeLength(static_cast<unsigned>(contents.size()), 0, NoUpperBound)) return false;
    encodeBlock(contents.data(), static_cast<unsigned>(contents.size()));
    return true;
}

void PEREncoder::encodeUnconstrainedInteger(int value) {
    unsigned count = 1;
    while (count < 4) {
        const int64_t limit = int64_t(1) << (8 * count - 1);
        if (value >= -limit && value < limit) break;
        ++count;
    }
    encodeLength(count, 0, NoUpperBound);
    encodeOctets(static_cast<unsigned>(value), count);
}

bool PEREncoder::encodeSemiConstrainedInteger(unsigned offset) {
    const unsigned count = octetsOf(offset);
    encodeLength(count, 0, NoUpperBound);
    encodeOctets(offset, count);
    return true;
}

bool PEREncoder::do_visit(const Null&) { return true; }

bool PEREncoder::do_visit(const BOOLEAN& value) {
    encodeSingleBit(value.getValue());
    return true;
}

bool PEREncoder::do_visit(const INTEGER& value) {
    const ConstrainedInfo& info = *value.info();
    const unsigned word = value.getUnsignedValue();
    switch (info.type) {
        case Unconstrained:
            encodeUnconstrainedInteger(value.getValue());
            return true;
        case PartiallyConstrained:
            if (!withinBounds(info, word)) return false;
            return encodeSemiConstrainedInteger(word - static_cast<unsigned>(info.lowerLimit));
        case ExtendableConstraint:
            if (encodeConstraint(value, word)) {
                encodeUnconstrainedInteger(value.getValue());
                return true;
            }
            break;
        case FixedConstraint:
            break;
    }
    const unsigned lower = static_cast<unsigned>(info.lowerLimit);
    if (lower == info.upperLimit) return true;
    return encodeUnsigned(word, lower, info.upperLimit);
}

bool PEREncoder::do_visit(const ENUMERATED& value) {
    const int number = value.getValue();
    const int maximum = value.getMaximum();
    if (value.extendable()) {
        const bool extension = number > maximum;
        encodeSingleBit(extension);
        if (extension) {
            // This system's form of a value outside the root: the normally
            // small number value + 1, then the value in 0..value.
            encodeSmallUnsigned(static_cast<unsigned>(number) + 1);
            return encodeUnsigned(static_cast<unsigned>(number), 0, static_cast<unsigned>(number));
        }
    }
    return encodeUnsigned(static_cast<unsigned>(number), 0, static_cast<unsigned>(maximum));
}

bool PEREncoder::do_visit(const OBJECT_IDENTIFIER& value) {
    std::vector<char> contents;
    value.encodeCommon(contents);
    if (!encodeLength(static_cast<unsigned>(contents.size()), 0, NoUpperBound)) return false;
    encodeBlock(contents.data(), static_cast<unsigned>(contents.size()));
    return true;
}

bool PEREncoder::do_visit(const BIT_STRING& value) {
    const unsigned nBits = value.size();
    bool bounded;
    if (!encodeSize(value, nBits, bounded)) return false;
    if (nBits == 0) return true;
    if (per::contentsAligned(value, bounded, nBits)) byteAlign();
    encodeBitMap(value.bitData(), nBits);
    return true;
}

bool PEREncoder::do_visit(const OCTET_STRING& value) {
    const unsigned n = static_cast<unsigned>(value.size());
    bool bounded;
    if (!encodeSize(value, n, bounded)) return false;
    if (per::contentsAligned(value, bounded, 8ull * n)) {
        encodeBlock(value.data(), n);
    } else {
        for (char octet : value) encodeMultiBit(static_cast<unsigned char>(octet), 8);
    }
    return true;
}

bool PEREncoder::do_visit(const AbstractString& value) {
    const StringInfo& info = *value.info();
    const unsigned n = static_cast<unsigned>(value.size());
    const unsigned bits = info.alignedBits;
    bool bounded;
    if (!encodeSize(value, n, bounded)) return false;
    const bool ownCodes = per::sendsOwnCodes(info);
    if (per::charactersAligned(info, bounded, bits)) {
        if (bits == 8 && ownCodes) {
            encodeBlock(value.data(), n);
            return true;
        }
        if (n > 0) byteAlign();
    }
    for (char c : value) {
        if (ownCodes) {
            encodeMultiBit(static_cast<unsigned char>(c), bits);
            continue;
        }
        const int index = value.indexOf(c);
        if (index < 0) return false;
        encodeMultiBit(static_cast<unsigned>(index), bits);
    }
    return true;
}

bool PEREncoder::do_visit(const BMPString& value) {
    const BMPStringInfo& info = *value.info();
    const unsigned n = static_cast<unsigned>(value.size());
    const unsigned bits = info.alignedBits;
    bool bounded;
    if (!encodeSize(value, n, bounded)) return false;
    if (n > 0 && per::charactersAligned(info, bounded, bits)) byteAlign();
    const unsigned last = static_cast<unsigned>(info.lastChar);
    const unsigned first = static_cast<unsigned>(info.firstChar);
    const bool ownCodes = per::sendsOwnCodes(info);
    for (wchar_t c : value) {
        const unsigned code = static_cast<unsigned>(c);
        if (code < first || code > last) return false;
        encodeMultiBit(ownCodes ? code : code - first, bits);
    }
    return true;
}

bool PEREncoder::do_visit(const CHOICE& value) {
    const int selection = value.currentSelection();
    const AbstractData* alternative = value.getSelection();
    if (selection < 0 || !alternative) return false;
    const unsigned index = static_cast<unsigned>(selection);
    if (index >= value.totalChoices()) return false;
    const bool extension = index >= value.numChoices();
    if (value.extendable()) {
        encodeSingleBit(extension);
        if (extension) {
            encodeSmallUnsigned(index - value.numChoices());
            return encodeAnyType(alternative);
        }
    } else if (extension) {
        return false;
    }
    if (value.numChoices() > 1 && !encodeUnsigned(index, 0, value.numChoices() - 1)) return false;
    return alternative->accept(*this);
}

bool PEREncoder::do_visit(const OpenData& value) {
    if (value.has_data()) return encodeAnyType(value.get_data());
    const std::vector<char>* octets = value.get_buf();
    if (!octets) return encodeAnyType(nullptr);
    if (!encodeLength(static_cast<unsigned>(octets->size()), 0, NoUpperBound)) return false;
    encodeBlock(octets->data(), static_cast<unsigned>(octets->size()));
    return true;
}

bool PEREncoder::do_visit(const GeneralizedTime& value) {
    const std::string text = value.get();
    if (!encodeLength(static_cast<unsigned>(text.size()), 0, NoUpperBound)) return false;
    encodeBlock(text.data(), static_cast<unsigned>(text.size()));
    return true;
}

bool PEREncoder::do_visit(const SEQUENCE_OF_Base& value) {
    if (!encodeConstrainedLength(value, value.size())) return false;
    for (unsigned i = 0; i < value.size(); ++i) {
        if (!value.getElement(i).accept(*this)) return false;
    }
    return true;
}

namespace {

bool anyKnownAddition(const SEQUENCE& value) {
    for (unsigned k = 0; k < value.knownExtensionCount(); ++k) {
        if (value.hasOptionalField(value.numOptional() + k)) return true;
    }
    return false;
}

}  // namespace

bool PEREncoder::preVisitExtensionRoots(const SEQUENCE& value) {
    if (value.extendable()) encodeSingleBit(anyKnownAddition(value));
    encodeBitMap(value.optionalMap().bytes(), value.numOptional());
    return true;
}

bool PEREncoder::visitExtensionRoot(const SEQUENCE& value, int index) {
    const AbstractData* field = value.getField(static_cast<unsigned>(index));
    return field && field->accept(*this);
}

bool PEREncoder::preVisitExtensions(const SEQUENCE& value) {
    if (!anyKnownAddition(value)) return true;
    // One presence bit for every addition the type knows.
    const unsigned count = value.knownExtensionCount();
    encodeSmallUnsigned(count - 1);
    for (unsigned k = 0; k < count; ++k) {
        encodeSingleBit(value.hasOptionalField(value.numOptional() + k));
    }
    return true;
}

bool PEREncoder::visitKnownExtension(const SEQUENCE& value, int index) {
    const AbstractData* field = value.getField(static_cast<unsigned>(index));
    return field && encodeAnyType(field);
}

}  // namespace ASN1
