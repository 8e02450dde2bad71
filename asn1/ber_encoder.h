#pragma once
// BER encoder (X.690, definite lengths only) for modules with automatic tags:
// a SEQUENCE field and a CHOICE alternative carry the context-specific tag of
// their index in place of their own; a CHOICE that has such a tag (as a field
// or as an alternative) writes it as an explicit, constructed wrapper around
// its alternative. A CHOICE at the top, or as a list element, writes no
// header of its own. INTEGERs are written as the number they stand for: an
// unsigned type's 4294967295 is 00 FF FF FF FF.

#include "asn1/visitor.h"

#include <cstddef>
#include <vector>

namespace ASN1 {

// Tag words as in the records: the identifier octet's class bits << 16 |
// number.
namespace ber {
const unsigned ContextClass = 0x80;
// The pending tag that stands for the value's own tag.
const unsigned OwnTag = 0xFFFFFFFFu;
inline unsigned contextTag(unsigned index) { return (ContextClass << 16) | index; }
}  // namespace ber

// Whether a value's encoding is primitive: false for SEQUENCE and SEQUENCE
// OF; a CHOICE or open type answers for what it holds.
class PrimitiveChecker : public ConstVisitor {
public:
    using ConstVisitor::do_visit;
    bool do_visit(const CHOICE& value) override;
    bool do_visit(const OpenData& value) override;
    bool do_visit(const SEQUENCE_OF_Base& value) override;
    bool preVisitExtensionRoots(const SEQUENCE& value) override;

    bool primitive = true;
};
bool isPrimitive(const AbstractData& value);

// The contents length of the value visited.
class DataLengthCounter : public ConstVisitor {
public:
    using ConstVisitor::do_visit;
    bool do_visit(const BOOLEAN& value) override;
    bool do_visit(const INTEGER& value) override;
    bool do_visit(const ENUMERATED& value) override;
    bool do_visit(const OBJECT_IDENTIFIER& value) override;
    bool do_visit(const BIT_STRING& value) override;
    bool do_visit(const OCTET_STRING& value) override;
    bool do_visit(const AbstractString& value) override;
    bool do_visit(const BMPString& value) override;
    bool do_visit(const CHOICE& value) override;
    bool do_visit(const OpenData& value) override;
    bool do_visit(const GeneralizedTime& value) override;
    bool do_visit(const SEQUENCE_OF_Base& value) override;
    bool preVisitExtensionRoots(const SEQUENCE&) override { return true; }
    bool visitExtensionRoot(const SEQUENCE& value, int index) override;
    bool visitKnownExtension(const SEQUENCE& value, int index) override;

    unsigned length = 0;
};

// Octets of the shortest two's-complement form of value (1 to 4).
unsigned getIntegerDataLength(int value);
// The contents length of value.
unsigned getDataLength(const AbstractData& value);
// The whole size of value written with tag (ber::OwnTag: its own); a tag of
// 0, or its own tag when that is 0, means no header.
unsigned getObjectLength(const AbstractData& value, unsigned tag);

class BEREncoder : public ConstVisitor {
public:
    // Appends to `buffer` (reserving room for a typical message).
    explicit BEREncoder(std::vector<char>& buffer);

    // Identifier and length octets of value under the pending tag.
    void encodeHeader(const AbstractData& value);

    using ConstVisitor::do_visit;
    bool do_visit(const Null& value) override;
    bool do_visit(const BOOLEAN& value) override;
    bool do_visit(const INTEGER& value) override;
    bool do_visit(const ENUMERATED& value) override;
    bool do_visit(const OBJECT_IDENTIFIER& value) override;
    bool do_visit(const BIT_STRING& value) override;
    bool do_visit(const OCTET_STRING& value) override;
    bool do_visit(const AbstractString& value) override;
    bool do_visit(const BMPString& value) override;
    bool do_visit(const CHOICE& value) override;
    bool do_visit(const SEQUENCE_OF_Base& value) override;
    bool do_visit(const OpenData& value) override;
    bool do_visit(const GeneralizedTime& value) override;

    bool preVisitExtensionRoots(const SEQUENCE& value) override;
    bool visitExtensionRoot(const SEQUENCE& value, int index) override;
    bool visitKnownExtension(const SEQUENCE& value, int index) override;

private:
    void writeHeader(unsigned tag, bool constructed, unsigned length);
    // The tag of value's header: the pending one, else value's own. Nothing
    // stays pending after it. 0 (an untagged CHOICE or open type): no header.
    unsigned takeTag(const AbstractData& value);
    void writeInteger(long long value);
    void writeOctets(const char* data, size_t count);

    std::vector<char>& buffer_;
    unsigned tag_ = ber::OwnTag;  // the tag of the next header
};

}  // namespace ASN1
