#pragma once
// Value-notation parser: fills a value from the text that AVNEncoder prints.
// The value to be filled drives the reading, so the text must follow its
// type. White space may stand between any two tokens; identifiers end at
// punctuation, so "cause invalidSlot," reads as the name and a comma.
//
// Beyond the printed form it reads an enumeration or named number given as
// its number, a SEQUENCE whose last field is followed by a comma, and a
// doubled quote inside a quoted text as one quote. A field that the type does
// not know, a missing mandatory field, an unknown name and anything past the
// runtime limits fail the reading; nothing is logged.

#include "asn1/visitor.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace ASN1 {

class AVNDecoder : public Visitor {
public:
    explicit AVNDecoder(std::istream& stream) : stream_(&stream) {}

    using Visitor::do_visit;
    bool do_visit(Null& value) override;
    bool do_visit(BOOLEAN& value) override;
    bool do_visit(INTEGER& value) override;
    bool do_visit(IntegerWithNamedNumber& value) override;
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
    int visitKnownExtension(SEQUENCE& value, int index, int optionalId) override;
    bool visitUnknownExtensions(SEQUENCE& value) override;

private:
    // Token readers; each skips white space first.
    int peek();
    bool expect(char c);
    bool readIdentifier(std::string& word);  // a name, or "}" alone
    bool readNumber(long long& number);      // optional '-', then digits
    bool readLetters(std::string& word);     // letters, blanks between them allowed
    bool readQuoted(std::string& text, char quote);
    // A number or a name looked up by `lookup`.
    template <class Lookup>
    bool readNamedNumber(long long lower, long long upper, Lookup lookup, long long& number);
    bool readOctets(std::vector<char>& octets, unsigned& bitCount);
    bool readQuadruples(std::wstring& text);
    bool readNested(AbstractData& value);
    bool laterFieldsOptional(const SEQUENCE& value, int index) const;

    std::istream* stream_;
    // The field identifier read and not yet matched, one per open SEQUENCE.
    std::vector<std::string> identifiers_;
    unsigned depth_ = 0;  // the nesting being followed (visitNested)
};

}  // namespace ASN1
