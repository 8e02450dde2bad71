#pragma once
// Aligned PER decoder: fills a value (which names its type) from octets laid
// out as PEREncoder writes them. It never reads outside [first, last), checks
// every count against the data and the runtime limits before allocating, and
// reports any malformed input by a false result.

#include "asn1/visitor.h"

#include <vector>

namespace ASN1 {

class CoderEnv;
class ConstrainedObject;

class PERDecoder : public Visitor {
public:
    // Where a decoder stands: the octet being read and its unread bits.
    struct memento_type {
        const char* position;
        unsigned short bitsLeft;
    };

    // `env` is carried to nested decoders and not consulted.
    PERDecoder(const char* first, const char* last, const CoderEnv* env = nullptr);

    // Bit-level readers; each fails (false or -1) when the data runs out.
    bool decodeSingleBit();  // false also when no bit is left
    bool decodeSingleBit(bool& value);
    bool decodeMultiBit(unsigned nBits, unsigned& value);
    unsigned decodeBlock(char* destination, unsigned n);  // aligned; octets copied
    bool decodeBitMap(std::vector<char>& bitData, unsigned nBits);
    void byteAlign();
    void setPosition(const char* position);
    unsigned short getBitsLeft() const { return bitsLeft_; }
    const char* getPosition() const { return position_; }
    // The decoding failed at an extension alternative that the records do
    // not know, read whole (here or in an open type a nested decoder read):
    // what came before it decoded. A later version's message, not junk.
    bool leftChoiceUnknown() const { return choiceUnknown_; }
    // Bits not yet read.
    unsigned long long bitsAvailable() const;

    // X.691 building blocks (int results: 0 success, -1 failure).
    bool decodeSmallUnsigned(unsigned& value);
    int decodeUnsigned(unsigned lower, unsigned upper, unsigned& value);
    int decodeLength(unsigned lower, unsigned upper, unsigned& length);
    int decodeConstrainedLength(ConstrainedObject& object, unsigned& length);
    // Reads a CHOICE's extension bit and index and selects the alternative;
    // for an extension alternative, `end` is where its open type ends. An
    // extension alternative the record does not know, whole within the
    // data, fails with the selection UNKNOWN_SELECTION and the position at
    // its end.
    bool decodeChoicePreamle(CHOICE& value, memento_type& end);

    using Visitor::do_visit;
    bool do_visit(Null& value) override;
    bool do_visit(BOOLEAN& value) override;
    bool do_visit(INTEGER& value) override;
    bool do_visit(ENUMERATED& value) override;
    bool do_visit(OBJECT_IDENTIFIER& value) override;
    bool do_visit(OCTET_STRING& value) override;
    bool do_visit(BIT_STRING& value) override;
    bool do_visit(AbstractString& value) override;
    bool do_visit(BMPString& value) override;
    bool do_visit(CHOICE& value) override;
    bool do_visit(SEQUENCE_OF_Base& value) override;
    bool do_visit(OpenData& value) override;
    bool do_revisit(OpenData& value) override;
    bool do_visit(TypeConstrainedOpenData& value) override;
    bool do_visit(GeneralizedTime& value) override;

    int preVisitExtensionRoots(SEQUENCE& value) override;
    int visitExtensionRoot(SEQUENCE& value, int index, int optionalId) override;
    int preVisitExtensions(SEQUENCE& value) override;
    int visitKnownExtension(SEQUENCE& value, int index, int optionalId) override;
    bool visitUnknownExtensions(SEQUENCE& value) override;

private:
    bool decodeSize(ConstrainedObject& object, unsigned& size, bool& bounded);
    // A string's size (octets, bits or characters), within MaximumStringSize.
    bool decodeStringSize(ConstrainedObject& object, unsigned& size, bool& bounded);
    bool decodeOctets(unsigned count, unsigned& value);  // aligned, big-endian
    bool decodeUnconstrainedInteger(unsigned& value);
    bool decodeSemiConstrainedInteger(unsigned lower, unsigned& value);
    // Reads an open type's length and gives its contents [first, last).
    bool decodeOpenType(const char*& first, const char*& last);
    // Decodes value from the contents of an open type, with a decoder of its
    // own so that nothing outside the contents is read.
    bool decodeContained(const char* first, const char* last, AbstractData& value);
    bool hasBits(unsigned long long nBits) const { return bitsAvailable() >= nBits; }

    const CoderEnv* env_;
    const char* position_;
    const char* end_;
    unsigned short bitsLeft_ = 8;  // unread bits of the octet at position_
    bool choiceUnknown_ = false;
};

}  // namespace ASN1
