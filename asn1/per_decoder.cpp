#include "asn1/per_decoder.h"

#include "asn1/asn1.h"
#include "asn1/per_layout.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace ASN1 {

using per::NoUpperBound;

PERDecoder::PERDecoder(const char* first, const char* last, const CoderEnv* env)
    : env_(env), position_(first), end_(last < first ? first : last) {}

unsigned long long PERDecoder::bitsAvailable() const {
    return static_cast<unsigned long long>(end_ - position_) * 8 + bitsLeft_ - 8;
}

bool PERDecoder::decodeSingleBit() {
    bool value = false;
    decodeSingleBit(value);
    return value;
}

bool PERDecoder::decodeSingleBit(bool& value) {
    unsigned bit = 0;
    if (!decodeMultiBit(1, bit)) return false;
    value = bit != 0;
    return true;
}

bool PERDecoder::decodeMultiBit(unsigned nBits, unsigned& value) {
    if (nBits > 32 || !hasBits(nBits)) return false;
    value = 0;
    while (nBits > 0) {
        const unsigned take = nBits < bitsLeft_ ? nBits : bitsLeft_;
        bitsLeft_ = static_cast<unsigned short>(bitsLeft_ - take);
        const unsigned chunk =
            (static_cast<unsigned char>(*position_) >> bitsLeft_) & ((1u << take) - 1);
        value = (take == 32 ? 0 : value << take) | chunk;
        nBits -= take;
        if (bitsLeft_ == 0) {
            ++position_;
            bitsLeft_ = 8;
        }
    }
    return true;
}

void PERDecoder::byteAlign() {
    if (bitsLeft_ < 8) {
        ++position_;
        bitsLeft_ = 8;
    }
}

void PERDecoder::setPosition(const char* position) {
    position_ = position > end_ ? end_ : position;
    bitsLeft_ = 8;
}

unsigned PERDecoder::decodeBlock(char* destination, unsigned n) {
    if (n == 0) return 0;
    byteAlign();
    const unsigned available = static_cast<unsigned>(end_ - position_);
    const unsigned count = n < available ? n : available;
    std::memcpy(destination, position_, count);
    position_ += count;
    return count;
}

bool PERDecoder::decodeBitMap(std::vector<char>& bitData, unsigned nBits) {
    if (!hasBits(nBits)) return false;
    bitData.assign((nBits + 7) / 8, 0);
    unsigned value = 0;
    unsigned i = 0;
    for (; i < nBits / 8; ++i) {
        decodeMultiBit(8, value);
        bitData[i] = static_cast<char>(value);
    }
    const unsigned rest = nBits % 8;
    if (rest) {
        decodeMultiBit(rest, value);
        bitData[i] = static_cast<char>(value << (8 - rest));
    }
    return true;
}

bool PERDecoder::decodeOctets(unsigned count, unsigned& value) {
    byteAlign();
    if (count > 4 || static_cast<unsigned>(end_ - position_) < count) return false;
    value = 0;
    for (unsigned i = 0; i < count; ++i) {
        value = (value << 8) | static_cast<unsigned char>(*position_++);
    }
    return true;
}

bool PERDecoder::decodeSmallUnsigned(unsigned& value) {
    bool large;
    if (!decodeSingleBit(large)) return false;
    if (!large) return decodeMultiBit(6, value);
    unsigned count = 0;
    return decodeLength(0, NoUpperBound, count) == 0 && decodeOctets(count, value);
}

int PERDecoder::decodeUnsigned(unsigned lower, unsigned upper, unsigned& value) {
    if (lower == upper) {
        value = lower;
        return 0;
    }
    const uint64_t range = uint64_t(upper - lower) + 1;
    unsigned offset = 0;
    bool ok;
    if (range <= 255) {
        ok = decodeMultiBit(CountBits(static_cast<unsigned>(range)), offset);
    } else if (range <= 65536) {
        byteAlign();
        ok = decodeMultiBit(range == 256 ? 8 : 16, offset);
    } else {
        const unsigned maxOctets = (CountBits(static_cast<unsigned>(range)) + 7) / 8;
        unsigned count = 0;
        ok = decodeLength(1, maxOctets, count) == 0 && decodeOctets(count, offset);
    }
    if (!ok) return -1;
    // No test against upper: the caller judges a value past the range.
    value = lower + offset;
    return 0;
}

int PERDecoder::decodeLength(unsigned lower, unsigned upper, unsigned& length) {
    if (upper <= 65535) {
        if (decodeUnsigned(lower, upper, length) < 0) return -1;
        return length > upper ? -1 : 0;
    }
    byteAlign();
    unsigned first = 0;
    if (!decodeMultiBit(8, first)) return -1;
    if ((first & 0x80) == 0) {
        length = first;
    } else if ((first & 0x40) == 0) {
        unsigned second = 0;
        if (!decodeMultiBit(8, second)) return -1;
        length = ((first & 0x3F) << 8) | second;
    } else {
        return -1;  // fragmented
    }
    return length < lower || length > upper ? -1 : 0;
}

bool PERDecoder::decodeSize(ConstrainedObject& object, unsigned& size, bool& bounded) {
    const ConstrainedInfo& info = *object.info();
    const unsigned lower = static_cast<unsigned>(info.lowerLimit);
    bool outside = false;
    switch (info.type) {
        case FixedConstraint:
            break;
        case ExtendableConstraint:
            if (!decodeSingleBit(outside)) return false;
            break;
        default:
            outside = true;
            break;
    }
    bounded = !outside;
    if (bounded) return decodeLength(lower, info.upperLimit, size) == 0;
    return decodeLength(info.type == PartiallyConstrained ? lower : 0, NoUpperBound, size) == 0;
}

bool PERDecoder::decodeStringSize(ConstrainedObject& object, unsigned& size, bool& bounded) {
    return decodeSize(object, size, bounded) && size <= MaximumStringSize;
}

int PERDecoder::decodeConstrainedLength(ConstrainedObject& object, unsigned& length) {
    bool bounded;
    return decodeSize(object, length, bounded) ? 0 : -1;
}

bool PERDecoder::decodeOpenType(const char*& first, const char*& last) {
    unsigned length = 0;
    if (decodeLength(0, NoUpperBound, length) < 0) return false;
    byteAlign();
    if (length > static_cast<unsigned>(end_ - position_)) return false;
    first = position_;
    last = position_ + length;
    return true;
}

bool PERDecoder::decodeContained(const char* first, const char* last, AbstractData& value) {
    PERDecoder inner(first, last, env_);
    const bool ok = value.accept(inner);
    choiceUnknown_ = choiceUnknown_ || inner.choiceUnknown_;
    return ok;
}

bool PERDecoder::decodeUnconstrainedInteger(unsigned& value) {
    unsigned count = 0;
    if (decodeLength(0, NoUpperBound, count) < 0 || count > 4) return false;
    if (!decodeOctets(count, value)) return false;
    if (count > 0 && count < 4 && (value & (1u << (8 * count - 1)))) value |= ~0u << (8 * count);
    return true;
}

bool PERDecoder::decodeSemiConstrainedInteger(unsigned lower, unsigned& value) {
    unsigned count = 0;
    unsigned offset = 0;
    if (decodeLength(0, NoUpperBound, count) < 0 || !decodeOctets(count, offset)) return false;
    value = lower + offset;
    return true;
}

bool PERDecoder::do_visit(Null&) { return true; }

bool PERDecoder::do_visit(BOOLEAN& value) {
    bool bit;
    if (!decodeSingleBit(bit)) return false;
    value.setValue(bit);
    return true;
}

bool PERDecoder::do_visit(INTEGER& value) {
    const ConstrainedInfo& info = *value.info();
    const unsigned lower = static_cast<unsigned>(info.lowerLimit);
    unsigned word = 0;
    bool ok;
    switch (info.type) {
        case Unconstrained:
            ok = decodeUnconstrainedInteger(word);
            break;
        case PartiallyConstrained:
            ok = decodeSemiConstrainedInteger(lower, word);
            break;
        case ExtendableConstraint: {
            bool outside;
            if (!decodeSingleBit(outside)) return false;
            ok = outside ? decodeUnconstrainedInteger(word)
                         : decodeUnsigned(lower, info.upperLimit, word) == 0;
            break;
        }
        default:
            ok = decodeUnsigned(lower, info.upperLimit, word) == 0;
            break;
    }
    if (ok) value.setValue(word);
    return ok;
}

bool PERDecoder::do_visit(ENUMERATED& value) {
    const unsigned maximum = static_cast<unsigned>(value.getMaximum());
    bool extension = false;
    if (value.extendable() && !decodeSingleBit(extension)) return false;
    unsigned number = 0;
    if (!extension) {
        if (decodeUnsigned(0, maximum, number) < 0 || number > maximum) return false;
        value.setValue(static_cast<int>(number));
        return true;
    }
    // The normally small number value + 1, then the value in 0..value; only
    // a value above the root's maximum travels this way.
    unsigned count = 0;
    if (!decodeSmallUnsigned(count) || count == 0) return false;
    if (decodeUnsigned(0, count - 1, number) < 0 || number > count - 1) return false;
    if (static_cast<int>(number) <= value.getMaximum()) return false;
    value.setValue(static_cast<int>(number));
    return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& value) {
    const char* first;
    const char* last;
    if (!decodeOpenType(first, last)) return false;
    setPosition(last);
    return value.decodeCommon(first, static_cast<unsigned>(last - first));
}

bool PERDecoder::do_visit(OCTET_STRING& value) {
    unsigned n = 0;
    bool bounded;
    if (!decodeStringSize(value, n, bounded)) return false;
    if (!per::contentsAligned(value, bounded, 8ull * n)) {
        if (!hasBits(8ull * n)) return false;
        value.resize(n);
        for (char& octet : value) {
            unsigned bits = 0;
            decodeMultiBit(8, bits);
            octet = static_cast<char>(bits);
        }
        return true;
    }
    if (n > 0) byteAlign();
    if (n > static_cast<unsigned>(end_ - position_)) return false;
    value.assign(position_, position_ + n);
    position_ += n;
    return true;
}

bool PERDecoder::do_visit(BIT_STRING& value) {
    unsigned nBits = 0;
    bool bounded;
    if (!decodeStringSize(value, nBits, bounded)) return false;
    if (nBits > 0 && per::contentsAligned(value, bounded, nBits)) byteAlign();
    if (!hasBits(nBits)) return false;
    value.resize(nBits);
    return decodeBitMap(value.bitData(), nBits);
}

bool PERDecoder::do_visit(AbstractString& value) {
    const StringInfo& info = *value.info();
    const unsigned bits = info.alignedBits;
    unsigned n = 0;
    bool bounded;
    if (!decodeStringSize(value, n, bounded) || bits == 0 || bits > 8) return false;
    if (n > 0 && per::charactersAligned(info, bounded, bits)) byteAlign();
    if (!hasBits(uint64_t(n) * bits)) return false;
    const bool ownCodes = per::sendsOwnCodes(info);
    value.assign(n, '\0');
    for (char& c : value) {
        unsigned field = 0;
        decodeMultiBit(bits, field);
        if (ownCodes) {
            c = static_cast<char>(field);
        } else if (field < info.characterSetSize) {
            c = value.characterAt(field);
        } else {
            return false;  // past the permitted characters
        }
    }
    return true;
}

bool PERDecoder::do_visit(BMPString& value) {
    const BMPStringInfo& info = *value.info();
    const unsigned bits = info.alignedBits;
    unsigned n = 0;
    bool bounded;
    if (!decodeStringSize(value, n, bounded) || bits == 0 || bits > 32) return false;
    if (n > 0 && per::charactersAligned(info, bounded, bits)) byteAlign();
    if (!hasBits(uint64_t(n) * bits)) return false;
    const unsigned first = static_cast<unsigned>(info.firstChar);
    const unsigned last = static_cast<unsigned>(info.lastChar);
    const bool ownCodes = per::sendsOwnCodes(info);
    value.assign(n, L'\0');
    for (wchar_t& c : value) {
        unsigned field = 0;
        decodeMultiBit(bits, field);
        const uint64_t code = ownCodes ? field : uint64_t(first) + field;
        if (code < first || code > last) return false;
        c = static_cast<wchar_t>(code);
    }
    return true;
}

bool PERDecoder::decodeChoicePreamle(CHOICE& value, memento_type& end) {
    end = {nullptr, 8};
    bool extension = false;
    if (value.extendable() && !decodeSingleBit(extension)) return false;
    unsigned index = 0;
    if (extension) {
        unsigned offset = 0;
        const char* first;
        if (!decodeSmallUnsigned(offset) || !decodeOpenType(first, end.position)) return false;
        // An alternative of a later version: skipped whole, it is the one
        // failure that leaves UNKNOWN_SELECTION and leftChoiceUnknown(), so
        // that a caller can tell it from octets that do not decode. Checked
        // before adding, so that no index wraps to "not selected".
        if (offset >= value.totalChoices() - value.numChoices()) {
            setPosition(end.position);
            value.setSelection(CHOICE::UNKNOWN_SELECTION, nullptr);
            choiceUnknown_ = true;
            return false;
        }
        index = value.numChoices() + offset;
    } else {
        if (value.numChoices() > 1 && decodeUnsigned(0, value.numChoices() - 1, index) < 0) {
            return false;
        }
        // No version sends it: a later one adds extension alternatives.
        if (index >= value.numChoices()) {
            value.setSelection(CHOICE::NOT_SELECTED, nullptr);
            return false;
        }
    }
    if (value.currentSelection() == static_cast<int>(index) && value.getSelection()) return true;
    value.setSelection(static_cast<int>(index), nullptr);
    return value.createSelection();
}

bool PERDecoder::do_visit(CHOICE& value) {
    memento_type end;
    if (!decodeChoicePreamle(value, end)) return false;
    if (!end.position) return value.getSelection()->accept(*this);
    // An extension alternative: its open type holds its whole encoding.
    const bool ok = decodeContained(position_, end.position, *value.getSelection());
    setPosition(end.position);
    return ok;
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& value) {
    unsigned n = 0;
    if (decodeConstrainedLength(value, n) < 0 || n > MaximumArraySize) return false;
    value.resize(n);
    for (unsigned i = 0; i < n; ++i) {
        if (!value.getElement(i).accept(*this)) {
            value.resize(i);  // the failed element and those after it go
            return false;
        }
    }
    return true;
}

bool PERDecoder::do_visit(OpenData& value) {
    const char* first;
    const char* last;
    if (!decodeOpenType(first, last) || last - first > long(MaximumStringSize)) return false;
    value.buf().assign(first, last);
    setPosition(last);
    return true;
}

bool PERDecoder::do_revisit(OpenData& value) {
    if (!value.has_data() || !value.has_buf()) return false;
    const std::vector<char>& octets = *value.get_buf();
    return decodeContained(octets.data(), octets.data() + octets.size(), *value.get_data());
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& value) {
    const char* first;
    const char* last;
    if (!decodeOpenType(first, last)) return false;
    const bool ok = !value.has_data() || decodeContained(first, last, *value.get_data());
    setPosition(last);
    return ok;
}

bool PERDecoder::do_visit(GeneralizedTime& value) {
    const char* first;
    const char* last;
    if (!decodeOpenType(first, last) || first == last) return false;
    setPosition(last);
    value.set(std::string(first, last).c_str());
    return true;
}

int PERDecoder::preVisitExtensionRoots(SEQUENCE& value) {
    bool extension = false;
    if (value.extendable() && !decodeSingleBit(extension)) return FAIL;
    if (!decodeBitMap(value.optionalMap().bytes(), value.numOptional())) return FAIL;
    value.extensionMap().resize(0);
    return extension ? CONTINUE : NO_EXTENSION;
}

int PERDecoder::visitExtensionRoot(SEQUENCE& value, int index, int optionalId) {
    if (optionalId >= 0 && !value.hasOptionalField(static_cast<unsigned>(optionalId))) {
        return CONTINUE;
    }
    AbstractData* field = value.createField(static_cast<unsigned>(index));
    return field && field->accept(*this) ? CONTINUE : FAIL;
}

int PERDecoder::preVisitExtensions(SEQUENCE& value) {
    unsigned countLess1 = 0;
    if (!decodeSmallUnsigned(countLess1) || countLess1 >= MaximumArraySize) return FAIL;
    const unsigned count = countLess1 + 1;
    value.extensionMap().resize(count);
    return decodeBitMap(value.extensionMap().bytes(), count) ? CONTINUE : FAIL;
}

int PERDecoder::visitKnownExtension(SEQUENCE& value, int index, int optionalId) {
    if (!value.hasOptionalField(static_cast<unsigned>(optionalId))) return CONTINUE;
    const char* first;
    const char* last;
    if (!decodeOpenType(first, last)) return FAIL;
    AbstractData* field = value.createField(static_cast<unsigned>(index));
    const bool ok = !field || decodeContained(first, last, *field);
    setPosition(last);
    return ok ? CONTINUE : FAIL;
}

bool PERDecoder::visitUnknownExtensions(SEQUENCE& value) {
    SEQUENCE::BitMap& presence = value.extensionMap();
    for (unsigned bit = value.knownExtensionCount(); bit < presence.size(); ++bit) {
        if (!presence[bit]) continue;
        const char* first;
        const char* last;
        if (!decodeOpenType(first, last)) return false;
        setPosition(last);
    }
    // Additions this side does not know are gone: a re-encode must not
    // announce them.
    if (presence.size() > value.knownExtensionCount()) {
        presence.resize(value.knownExtensionCount());
    }
    return true;
}

}  // namespace ASN1
