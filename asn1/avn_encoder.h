#pragma once
// Value-notation printer: writes a value as ASN.1 value notation, one field
// per line and nested braces indented by two spaces, e.g.
//
//   {
//     seq 5,
//     slot 3,
//     pdu command : ping : NULL
//   }
//
// Numbers are always decimal and the stream's format flags are left as they
// were. AVNDecoder reads this text back.

#include "asn1/visitor.h"

#include <cstddef>
#include <iosfwd>
#include <vector>

namespace ASN1 {

class AVNEncoder : public ConstVisitor {
public:
    // indent: the column of the current value's closing brace.
    explicit AVNEncoder(std::ostream& stream, int indent = 0) : stream_(&stream), indent_(indent) {}

    using ConstVisitor::do_visit;
    bool do_visit(const Null& value) override;
    bool do_visit(const BOOLEAN& value) override;
    bool do_visit(const INTEGER& value) override;
    bool do_visit(const IntegerWithNamedNumber& value) override;
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
    bool visitKnownExtension(const SEQUENCE& value, int index) override;
    bool afterVisitSequence(const SEQUENCE& value) override;

private:
    bool good() const;
    void spaces(int count);
    bool printOctets(const char* data, size_t count);
    bool printQuoted(const char* text, size_t length);

    std::ostream* stream_;
    int indent_;
    std::vector<bool> fieldPrinted_;  // one entry per SEQUENCE being printed
};

}  // namespace ASN1
