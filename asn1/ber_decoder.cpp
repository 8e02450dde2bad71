#include "asn1/ber_decoder.h"

#include "asn1/asn1.h"
#include "asn1/ber_encoder.h"

#include <climits>
#include <string>

namespace ASN1 {

BERDecoder::BERDecoder(const char* first, const char* last, const CoderEnv* env)
    : env_(env), position_(first), end_(last < first ? first : last) {}

bool BERDecoder::decodeHeader(unsigned& tag, bool& primitive, unsigned& length) {
    const char* p = position_;
    const char* const last = limit();
    auto next = [&p, last](unsigned& octet) {
        if (p >= last) return false;
        octet = static_cast<unsigned char>(*p++);
        return true;
    };
    unsigned identifier, octet;
    if (!next(identifier)) return false;
    unsigned number = identifier & 0x1F;
    if (number == 0x1F) {
        number = 0;
        do {
            if (!next(octet)) return false;
            number = (number << 7) | (octet & 0x7F);
            if (number > 0xFFFF) return false;  // beyond what a tag word holds
        } while (octet & 0x80);
    }
    if (!next(octet)) return false;
    if (octet < 0x80) {
        length = octet;
    } else {
        // 0x80 is the indefinite form, which is refused like lengths of more
        // than four octets and the reserved 0xFF.
        const unsigned count = octet & 0x7F;
        if (count == 0 || count > 4) return false;
        length = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (!next(octet)) return false;
            length = (length << 8) | octet;
        }
    }
    if (length > static_cast<unsigned long>(last - p)) return false;
    tag = ((identifier & 0xC0) << 16) | number;
    primitive = (identifier & 0x20) == 0;
    position_ = p;
    return true;
}

bool BERDecoder::decodeHeader(const AbstractData& value, unsigned& length) {
    return decodeTaggedHeader(value, isPrimitive(value), length);
}

bool BERDecoder::decodeTaggedHeader(const AbstractData& value, bool primitive,
                                    unsigned& length) {
    const char* start = position_;
    unsigned tag;
    bool isPrimitive;
    if (!decodeHeader(tag, isPrimitive, length)) return false;
    const bool tagMatches = implicitTags_ > 0 || tag == value.info()->tag;
    if (implicitTags_ > 0) --implicitTags_;
    if (!tagMatches || isPrimitive != primitive) {
        position_ = start;
        return false;
    }
    return true;
}

bool BERDecoder::peekElement(unsigned& tag, const char*& end) {
    const char* start = position_;
    unsigned length;
    bool primitive;
    if (!decodeHeader(tag, primitive, length)) return false;
    end = position_ + length;
    position_ = start;
    return true;
}

bool BERDecoder::decodeContents(const AbstractData& value, const char*& contents,
                                unsigned& length) {
    if (!decodeHeader(value, length)) return false;
    contents = position_;
    position_ += length;
    return true;
}

bool BERDecoder::decodeWrapper(const AbstractData& value, const char*& end) {
    unsigned length;
    if (!decodeTaggedHeader(value, false, length)) return false;
    end = position_ + length;
    return true;
}

// A CHOICE or open type has a wrapper when a tag stands for it: a pending
// implicit tag, or a tag of its own.
bool BERDecoder::isWrapped(const AbstractData& value) const {
    return implicitTags_ > 0 || value.info()->tag != 0;
}

bool BERDecoder::decodeNested(AbstractData& value) {
    const size_t open = ends_.size();
    const bool ok = visitNested(*this, value, depth_);
    if (!ok) ends_.resize(open);
    return ok;
}

// Two's complement, most significant octet first; the number must fit a
// 32-bit word (signed or unsigned).
bool BERDecoder::decodeNumber(const AbstractData& value, long long& number) {
    const char* contents;
    unsigned length;
    if (!decodeContents(value, contents, length) || length == 0 || length > 5) return false;
    number = static_cast<signed char>(contents[0]);
    for (unsigned i = 1; i < length; ++i) {
        number = number * 256 + static_cast<unsigned char>(contents[i]);
    }
    return number >= INT_MIN && number <= static_cast<long long>(UINT_MAX);
}

bool BERDecoder::do_visit(Null& value) {
    const char* contents;
    unsigned length;
    return decodeContents(value, contents, length);
}

bool BERDecoder::do_visit(BOOLEAN& value) {
    const char* contents;
    unsigned length;
    if (!decodeContents(value, contents, length) || length != 1) return false;
    value.setValue(contents[0] != 0);
    return true;
}

bool BERDecoder::do_visit(INTEGER& value) {
    long long number;
    if (!decodeNumber(value, number)) return false;
    value.setValue(static_cast<unsigned>(number));
    return true;
}

// Signed like an INTEGER, so that negative enumerators come back.
bool BERDecoder::do_visit(ENUMERATED& value) {
    long long number;
    if (!decodeNumber(value, number) || number > INT_MAX) return false;
    value.setValue(static_cast<int>(number));
    return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& value) {
    const char* contents;
    unsigned length;
    return decodeContents(value, contents, length) && value.decodeCommon(contents, length);
}

bool BERDecoder::do_visit(OCTET_STRING& value) {
    const char* contents;
    unsigned length;
    if (!decodeContents(value, contents, length) || length > MaximumStringSize) return false;
    value.assign(contents, contents + length);
    return true;
}

// The unused-bit count, then the bits.
bool BERDecoder::do_visit(BIT_STRING& value) {
    const char* contents;
    unsigned length;
    if (!decodeContents(value, contents, length) || length == 0) return false;
    const unsigned unused = static_cast<unsigned char>(contents[0]);
    if (unused > 7 || (length == 1 && unused != 0)) return false;
    const unsigned bits = 8 * (length - 1) - unused;
    if (bits > MaximumStringSize) return false;
    value.resize(0);
    value.resize(bits);
    value.bitData().assign(contents + 1, contents + length);
    if (bits) value.bitData().back() = static_cast<char>(value.bitData().back() & (0xFF << unused));
    return true;
}

bool BERDecoder::do_visit(AbstractString& value) {
    const char* contents;
    unsigned length;
    if (!decodeContents(value, contents, length) || length > MaximumStringSize) return false;
    value.assign(contents, length);
    return true;
}

bool BERDecoder::do_visit(BMPString& value) {
    const char* contents;
    unsigned length;
    if (!decodeContents(value, contents, length) || length % 2 != 0 ||
        length / 2 > MaximumStringSize) {
        return false;
    }
    value.clear();
    for (unsigned i = 0; i < length; i += 2) {
        value += static_cast<wchar_t>((static_cast<unsigned char>(contents[i]) << 8) |
                                      static_cast<unsigned char>(contents[i + 1]));
    }
    return true;
}

bool BERDecoder::do_visit(GeneralizedTime& value) {
    const char* contents;
    unsigned length;
    if (!decodeContents(value, contents, length)) return false;
    value.set(std::string(contents, length).c_str());
    return true;
}

bool BERDecoder::decodeChoicePreamle(CHOICE& value, const char*& end) {
    const bool wrapped = isWrapped(value);
    if (wrapped) {
        if (!decodeWrapper(value, end)) return false;
        ends_.push_back(end);
    }
    unsigned tag;
    const char* alternativeEnd;
    if (!peekElement(tag, alternativeEnd)) return false;
    if (!wrapped) end = alternativeEnd;
    return value.setID(tag & 0xFFFF, tag >> 16);
}

bool BERDecoder::do_visit(CHOICE& value) {
    const size_t open = ends_.size();
    const char* end;
    bool ok = decodeChoicePreamle(value, end);
    if (ok) {
        implicitTags_ = 1;
        ok = decodeNested(*value.getSelection());
        position_ = end;
    }
    ends_.resize(open);
    return ok;
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& value) {
    unsigned length;
    if (!decodeHeader(value, length)) return false;
    const char* end = position_ + length;
    ends_.push_back(end);
    value.clear();
    while (position_ < end) {
        if (value.size() >= MaximumArraySize) return false;
        implicitTags_ = 0;
        if (!decodeNested(value.append())) {
            value.resize(value.size() - 1);
            return false;
        }
    }
    ends_.pop_back();
    return true;
}

// Kept undecoded: the contents of its wrapper when it is tagged, otherwise
// its whole encoding, header included.
bool BERDecoder::do_visit(OpenData& value) {
    const char* first = position_;
    const char* last;
    if (isWrapped(value)) {
        if (!decodeWrapper(value, last)) return false;
        first = position_;
    } else {
        unsigned tag;
        if (!peekElement(tag, last)) return false;
    }
    if (last - first > static_cast<long>(MaximumStringSize)) return false;
    value.buf().assign(first, last);
    position_ = last;
    return true;
}

bool BERDecoder::do_revisit(OpenData& value) {
    if (!value.has_data() || !value.has_buf()) return false;
    const std::vector<char>& octets = *value.get_buf();
    BERDecoder inner(octets.data(), octets.data() + octets.size(), env_);
    return value.get_data()->accept(inner);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& value) {
    if (!value.has_data()) return false;
    if (!isWrapped(value)) return decodeNested(*value.get_data());
    const char* end;
    if (!decodeWrapper(value, end)) return false;
    ends_.push_back(end);
    const bool ok = decodeNested(*value.get_data());
    ends_.pop_back();
    position_ = end;
    return ok;
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& value) {
    unsigned length;
    if (!decodeHeader(value, length)) return FAIL;
    ends_.push_back(position_ + length);
    // Fields the encoding leaves out are absent, whatever the value held.
    for (unsigned id = 0; id < value.numOptional(); ++id) value.removeOptionalField(id);
    value.extensionMap().resize(0);
    return CONTINUE;
}

// A field is present when the next element carries the context tag of its
// index; otherwise it is absent, which only an optional field may be.
int BERDecoder::decodeField(SEQUENCE& value, int index, int optionalId) {
    const unsigned position = static_cast<unsigned>(index);
    bool present = false;
    if (position_ < ends_.back()) {
        unsigned tag;
        const char* end;
        if (!peekElement(tag, end)) return FAIL;
        present = tag == ber::contextTag(position);
    }
    if (!present) return optionalId >= 0 ? CONTINUE : FAIL;
    if (optionalId >= 0) value.includeOptionalField(static_cast<unsigned>(optionalId), position);
    AbstractData* field = value.createField(position);
    implicitTags_ = 1;
    if (field && decodeNested(*field)) return CONTINUE;
    if (optionalId >= 0) value.removeOptionalField(static_cast<unsigned>(optionalId));
    return FAIL;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& value, int index, int optionalId) {
    return decodeField(value, index, optionalId);
}

int BERDecoder::visitKnownExtension(SEQUENCE& value, int index, int optionalId) {
    return decodeField(value, index, optionalId);
}

// Whatever the type does not know up to the SEQUENCE's end is skipped.
bool BERDecoder::visitUnknownExtensions(SEQUENCE&) {
    position_ = ends_.back();
    ends_.pop_back();
    return true;
}

}  // namespace ASN1
