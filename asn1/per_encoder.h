#pragma once
// Aligned PER encoder (X.691, basic aligned variant). It walks a value as a
// ConstVisitor and appends octets to the caller's buffer. Lengths above 16383
// would need fragmentation, which neither side supports: they fail.

#include "asn1/visitor.h"

#include <vector>

namespace ASN1 {

class ConstrainedObject;
struct ConstrainedInfo;

class PEREncoder : public ConstVisitor {
public:
    // Appends to `buffer` (reserving room for a typical message).
    explicit PEREncoder(std::vector<char>& buffer);

    // Bit-level writers. Bits go most significant first; a new octet starts
    // as 0x00, so unwritten bits are padding.
    void encodeSingleBit(bool value);
    void encodeMultiBit(unsigned value, unsigned nBits);  // the low nBits of value
    void encodeByte(unsigned value);                      // aligned octet
    void encodeBlock(const char* data, unsigned n);       // aligned octets (none: no align)
    void encodeBitMap(const std::vector<char>& bitData, unsigned nBits);
    void byteAlign() { bitsLeft_ = 8; }

    // X.691 building blocks.
    void encodeSmallUnsigned(unsigned value);  // normally small non-negative number
    bool encodeUnsigned(unsigned value, unsigned lower, unsigned upper);  // constrained whole number
    bool encodeLength(unsigned length, unsigned lower, unsigned upper);   // 0x7FFFFFFF: no upper
    // Writes the extension bit of an extendable constraint; true when value
    // takes the unconstrained form.
    bool encodeConstraint(const ConstrainedObject& object, unsigned value);
    bool encodeConstrainedLength(const ConstrainedObject& object, unsigned length);
    bool encodeAnyType(const AbstractData* value);  // open type

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
    bool do_visit(const OpenData& value) override;
    bool do_visit(const GeneralizedTime& value) override;
    bool do_visit(const SEQUENCE_OF_Base& value) override;

    bool preVisitExtensionRoots(const SEQUENCE& value) override;
    bool visitExtensionRoot(const SEQUENCE& value, int index) override;
    bool preVisitExtensions(const SEQUENCE& value) override;
    bool visitKnownExtension(const SEQUENCE& value, int index) override;

private:
    // A size under its constraint: writes the extension bit (if any) and the
    // length determinant; `bounded` tells whether the root bounds applied.
    bool encodeSize(const ConstrainedObject& object, unsigned size, bool& bounded);
    void encodeOctets(unsigned value, unsigned count);  // big-endian, aligned
    void encodeUnconstrainedInteger(int value);
    bool encodeSemiConstrainedInteger(unsigned offset);

    std::vector<char>& buffer_;
    unsigned short bitsLeft_ = 8;  // free bits in the last octet; 8: start a new one
};

}  // namespace ASN1
