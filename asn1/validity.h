#pragma once
// Constraint checks over a value tree, and a tracer that says which value
// fails and why. ValidChecker accepts what an extendable type may carry from
// a newer peer; StrictlyValidChecker only what lies within every root.
// InvalidTracer explains the first failure as a path of field, alternative
// and element names, e.g. ".pdu.command.connect The INTEGER value 1024 is
// greater than upper bound 1023".

#include "asn1/visitor.h"

#include <iosfwd>
#include <sstream>
#include <string>

namespace ASN1 {

class ConstrainedObject;

// The checks of both levels; with an explanation stream it also writes why
// the first failing value fails.
class ConstraintChecker : public ConstVisitor {
public:
    using ConstVisitor::do_visit;
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
    bool visitExtensionRoot(const SEQUENCE& value, int index) override;
    bool visitKnownExtension(const SEQUENCE& value, int index) override;

protected:
    ConstraintChecker(bool strict, std::ostream* explanation)
        : strict_(strict), explanation_(explanation) {}

private:
    bool checkSize(const char* what, const ConstrainedObject& value, unsigned size);
    // Checks a component; a failure is explained as label + its own text.
    bool checkComponent(const AbstractData& component, const std::string& label);
    template <class Text>
    bool fail(Text text);

    bool strict_;
    std::ostream* explanation_;
};

class ValidChecker : public ConstraintChecker {
public:
    ValidChecker() : ConstraintChecker(false, nullptr) {}
};

class StrictlyValidChecker : public ConstraintChecker {
public:
    StrictlyValidChecker() : ConstraintChecker(true, nullptr) {}
};

class InvalidTracer : public ConstraintChecker {
public:
    InvalidTracer() : ConstraintChecker(false, &text_) {}
    std::string str() const { return text_.str(); }

private:
    std::ostringstream text_;
};

// True when value is valid; otherwise writes prefix, the explanation and an
// end of line to os.
bool trace_invalid(std::ostream& os, const char* prefix, const AbstractData& value);

}  // namespace ASN1
