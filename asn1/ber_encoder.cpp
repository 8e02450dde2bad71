#include "asn1/ber_encoder.h"

#include "asn1/asn1.h"

namespace ASN1 {

namespace {

// Octets of the shortest two's-complement form (1 to 5 for 32-bit words).
unsigned integerLength(long long value) {
    unsigned count = 1;
    while (count < 8) {
        const long long limit = 1LL << (8 * count - 1);
        if (value >= -limit && value < limit) break;
        ++count;
    }
    return count;
}

// The number an INTEGER stands for, by the signedness of its type.
long long numberOf(const INTEGER& value) {
    if (value.isUnsigned()) return static_cast<long long>(value.getUnsignedValue());
    return value.getValue();
}

unsigned effectiveTag(const AbstractData& value, unsigned tag) {
    return tag == ber::OwnTag ? value.info()->tag : tag;
}

unsigned headerLength(unsigned tag, unsigned length) {
    unsigned size = 2;  // identifier and length octets
    const unsigned number = tag & 0xFFFF;
    if (number >= 31) {
        for (unsigned rest = number; rest; rest >>= 7) ++size;
    }
    if (length >= 128) {
        for (unsigned rest = length; rest; rest >>= 8) ++size;
    }
    return size;
}

}  // namespace

bool PrimitiveChecker::do_visit(const CHOICE& value) {
    const AbstractData* alternative = value.getSelection();
    return !alternative || alternative->accept(*this);
}

bool PrimitiveChecker::do_visit(const OpenData& value) {
    return !value.has_data() || value.get_data()->accept(*this);
}

bool PrimitiveChecker::do_visit(const SEQUENCE_OF_Base&) {
    primitive = false;
    return true;
}

// A SEQUENCE's fields need not be walked: stop at once.
bool PrimitiveChecker::preVisitExtensionRoots(const SEQUENCE&) {
    primitive = false;
    return false;
}

bool isPrimitive(const AbstractData& value) {
    PrimitiveChecker checker;
    value.accept(checker);
    return checker.primitive;
}

bool DataLengthCounter::do_visit(const BOOLEAN&) {
    length = 1;
    return true;
}

bool DataLengthCounter::do_visit(const INTEGER& value) {
    length = integerLength(numberOf(value));
    return true;
}

bool DataLengthCounter::do_visit(const ENUMERATED& value) {
    length = integerLength(value.getValue());
    return true;
}

bool DataLengthCounter::do_visit(const OBJECT_IDENTIFIER& value) {
    std::vector<char> contents;
    value.encodeCommon(contents);
    length = static_cast<unsigned>(contents.size());
    return true;
}

bool DataLengthCounter::do_visit(const BIT_STRING& value) {
    length = 1 + (value.size() + 7) / 8;
    return true;
}

bool DataLengthCounter::do_visit(const OCTET_STRING& value) {
    length = static_cast<unsigned>(value.size());
    return true;
}

bool DataLengthCounter::do_visit(const AbstractString& value) {
    length = static_cast<unsigned>(value.size());
    return true;
}

bool DataLengthCounter::do_visit(const BMPString& value) {
    length = 2 * static_cast<unsigned>(value.size());
    return true;
}

bool DataLengthCounter::do_visit(const CHOICE& value) {
    const AbstractData* alternative = value.getSelection();
    if (value.currentSelection() < 0 || !alternative) return false;
    length = getObjectLength(*alternative,
                             ber::contextTag(static_cast<unsigned>(value.currentSelection())));
    return true;
}

bool DataLengthCounter::do_visit(const OpenData& value) {
    if (value.has_data()) {
        length = getObjectLength(*value.get_data(), ber::OwnTag);
        return true;
    }
    if (!value.has_buf()) return false;
    length = static_cast<unsigned>(value.get_buf()->size());
    return true;
}

bool DataLengthCounter::do_visit(const GeneralizedTime& value) {
    length = static_cast<unsigned>(value.get().size());
    return true;
}

bool DataLengthCounter::do_visit(const SEQUENCE_OF_Base& value) {
    for (unsigned i = 0; i < value.size(); ++i) {
        length += getObjectLength(value.getElement(i), ber::OwnTag);
    }
    return true;
}

bool DataLengthCounter::visitExtensionRoot(const SEQUENCE& value, int index) {
    const AbstractData* field = value.getField(static_cast<unsigned>(index));
    if (field) length += getObjectLength(*field, ber::contextTag(static_cast<unsigned>(index)));
    return true;
}

bool DataLengthCounter::visitKnownExtension(const SEQUENCE& value, int index) {
    return visitExtensionRoot(value, index);
}

unsigned getIntegerDataLength(int value) { return integerLength(value); }

unsigned getDataLength(const AbstractData& value) {
    DataLengthCounter counter;
    value.accept(counter);
    return counter.length;
}

unsigned getObjectLength(const AbstractData& value, unsigned tag) {
    const unsigned length = getDataLength(value);
    const unsigned written = effectiveTag(value, tag);
    if (tag == 0 || written == 0) return length;
    return headerLength(written, length) + length;
}

BEREncoder::BEREncoder(std::vector<char>& buffer) : buffer_(buffer) {
    buffer_.reserve(buffer_.size() + 256);
}

void BEREncoder::writeHeader(unsigned tag, bool constructed, unsigned length) {
    const unsigned number = tag & 0xFFFF;
    unsigned char identifier = static_cast<unsigned char>((tag >> 16) & 0xC0);
    if (constructed) identifier |= 0x20;
    if (number < 31) {
        buffer_.push_back(static_cast<char>(identifier | number));
    } else {
        buffer_.push_back(static_cast<char>(identifier | 0x1F));
        int shift = 0;
        while ((number >> (shift + 7)) != 0) shift += 7;
        for (; shift > 0; shift -= 7) buffer_.push_back(static_cast<char>(0x80 | ((number >> shift) & 0x7F)));
        buffer_.push_back(static_cast<char>(number & 0x7F));
    }
    if (length < 128) {
        buffer_.push_back(static_cast<char>(length));
        return;
    }
    unsigned count = 0;
    for (unsigned rest = length; rest; rest >>= 8) ++count;
    buffer_.push_back(static_cast<char>(0x80 | count));
    while (count-- > 0) buffer_.push_back(static_cast<char>(length >> (8 * count)));
}

unsigned BEREncoder::takeTag(const AbstractData& value) {
    const unsigned tag = effectiveTag(value, tag_);
    tag_ = ber::OwnTag;
    return tag;
}

void BEREncoder::encodeHeader(const AbstractData& value) {
    const unsigned tag = takeTag(value);
    writeHeader(tag, !isPrimitive(value), getDataLength(value));
}

void BEREncoder::writeInteger(long long value) {
    for (unsigned count = integerLength(value); count-- > 0;) {
        buffer_.push_back(static_cast<char>(value >> (8 * count)));
    }
}

void BEREncoder::writeOctets(const char* data, size_t count) {
    buffer_.insert(buffer_.end(), data, data + count);
}

bool BEREncoder::do_visit(const Null& value) {
    encodeHeader(value);
    return true;
}

bool BEREncoder::do_visit(const BOOLEAN& value) {
    encodeHeader(value);
    buffer_.push_back(value.getValue() ? '\xFF' : '\x00');
    return true;
}

bool BEREncoder::do_visit(const INTEGER& value) {
    encodeHeader(value);
    writeInteger(numberOf(value));
    return true;
}

bool BEREncoder::do_visit(const ENUMERATED& value) {
    encodeHeader(value);
    writeInteger(value.getValue());
    return true;
}

bool BEREncoder::do_visit(const OBJECT_IDENTIFIER& value) {
    encodeHeader(value);
    std::vector<char> contents;
    value.encodeCommon(contents);
    writeOctets(contents.data(), contents.size());
    return true;
}

bool BEREncoder::do_visit(const BIT_STRING& value) {
    encodeHeader(value);
    const unsigned unused = (8 - value.size() % 8) % 8;
    buffer_.push_back(static_cast<char>(unused));
    const size_t count = (value.size() + 7) / 8;
    writeOctets(value.bitData().data(), count);
    // The unused bits go out as zeros whatever the value keeps there.
    if (count) buffer_.back() = static_cast<char>(buffer_.back() & (0xFF << unused));
    return true;
}

bool BEREncoder::do_visit(const OCTET_STRING& value) {
    encodeHeader(value);
    writeOctets(value.data(), value.size());
    return true;
}

bool BEREncoder::do_visit(const AbstractString& value) {
    encodeHeader(value);
    writeOctets(value.data(), value.size());
    return true;
}

bool BEREncoder::do_visit(const BMPString& value) {
    encodeHeader(value);
    for (wchar_t c : value) {
        buffer_.push_back(static_cast<char>(static_cast<unsigned>(c) >> 8));
        buffer_.push_back(static_cast<char>(c));
    }
    return true;
}

bool BEREncoder::do_visit(const CHOICE& value) {
    const int selection = value.currentSelection();
    const AbstractData* alternative = value.getSelection();
    if (selection < 0 || !alternative) return false;
    const unsigned tag = takeTag(value);
    if (tag != 0) writeHeader(tag, true, getDataLength(value));
    tag_ = ber::contextTag(static_cast<unsigned>(selection));
    return alternative->accept(*this);
}

bool BEREncoder::do_visit(const SEQUENCE_OF_Base& value) {
    encodeHeader(value);
    for (unsigned i = 0; i < value.size(); ++i) {
        if (!value.getElement(i).accept(*this)) return false;
    }
    return true;
}

// A tagged open type wraps the complete encoding it carries.
bool BEREncoder::do_visit(const OpenData& value) {
    if (!value.has_data() && !value.has_buf()) return false;
    const unsigned tag = takeTag(value);
    if (tag != 0) writeHeader(tag, true, getDataLength(value));
    if (value.has_data()) return value.get_data()->accept(*this);
    writeOctets(value.get_buf()->data(), value.get_buf()->size());
    return true;
}

bool BEREncoder::do_visit(const GeneralizedTime& value) {
    encodeHeader(value);
    const std::string text = value.get();
    writeOctets(text.data(), text.size());
    return true;
}

bool BEREncoder::preVisitExtensionRoots(const SEQUENCE& value) {
    encodeHeader(value);
    return true;
}

bool BEREncoder::visitExtensionRoot(const SEQUENCE& value, int index) {
    const AbstractData* field = value.getField(static_cast<unsigned>(index));
    if (!field) return false;
    tag_ = ber::contextTag(static_cast<unsigned>(index));
    return field->accept(*this);
}

bool BEREncoder::visitKnownExtension(const SEQUENCE& value, int index) {
    return visitExtensionRoot(value, index);
}

}  // namespace ASN1
