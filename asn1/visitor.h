#pragma once
// The two ways of walking a value tree: ConstVisitor (encoders, printers,
// checkers) and Visitor (decoders, which fill the values). The value calls
// the do_visit of its own class; a SEQUENCE instead runs the sequence walk
// below, which calls the sequence hooks.

namespace ASN1 {

class AbstractData;
class Null;
class BOOLEAN;
class INTEGER;
class IntegerWithNamedNumber;
class ENUMERATED;
class OBJECT_IDENTIFIER;
class BIT_STRING;
class OCTET_STRING;
class AbstractString;
class BMPString;
class SEQUENCE;
class CHOICE;
class SEQUENCE_OF_Base;
class OpenData;
class TypeConstrainedOpenData;
class GeneralizedTime;

class ConstVisitor {
public:
    virtual ~ConstVisitor() = default;

    bool visit(const AbstractData& value);
    // The sequence walk: root fields that are present, then (when the value
    // has an extension bit map) the additions that are present.
    bool visit(const SEQUENCE& value);

    virtual bool do_visit(const AbstractData&) { return true; }
    virtual bool do_visit(const Null& value);
    virtual bool do_visit(const BOOLEAN& value);
    virtual bool do_visit(const INTEGER& value);
    virtual bool do_visit(const IntegerWithNamedNumber& value);
    virtual bool do_visit(const ENUMERATED& value);
    virtual bool do_visit(const OBJECT_IDENTIFIER& value);
    virtual bool do_visit(const BIT_STRING& value);
    virtual bool do_visit(const OCTET_STRING& value);
    virtual bool do_visit(const AbstractString& value);
    virtual bool do_visit(const BMPString& value);
    virtual bool do_visit(const CHOICE& value);
    virtual bool do_visit(const OpenData& value);
    virtual bool do_visit(const GeneralizedTime& value);
    virtual bool do_visit(const SEQUENCE_OF_Base& value);

    virtual bool preVisitExtensionRoots(const SEQUENCE& value);
    virtual bool visitExtensionRoot(const SEQUENCE&, int /*index*/) { return false; }
    virtual bool preVisitExtensions(const SEQUENCE&) { return true; }
    virtual bool visitKnownExtension(const SEQUENCE&, int /*index*/) { return false; }
    virtual bool afterVisitSequence(const SEQUENCE&) { return true; }
};

class Visitor {
public:
    // Step codes of the sequence hooks.
    enum { FAIL = 0, STOP = 1, NO_EXTENSION = 2, CONTINUE = 3 };

    virtual ~Visitor() = default;

    bool visit(AbstractData& value);
    // The filling walk: every root field is offered, then the known additions
    // and the unknown ones, as the hooks' step codes allow.
    bool visit(SEQUENCE& value);

    virtual bool do_visit(Null& value) = 0;
    virtual bool do_visit(BOOLEAN& value) = 0;
    virtual bool do_visit(INTEGER& value) = 0;
    virtual bool do_visit(IntegerWithNamedNumber& value);
    virtual bool do_visit(ENUMERATED& value) = 0;
    virtual bool do_visit(OBJECT_IDENTIFIER& value) = 0;
    virtual bool do_visit(OCTET_STRING& value) = 0;
    virtual bool do_visit(BIT_STRING& value) = 0;
    virtual bool do_visit(AbstractString& value) = 0;
    virtual bool do_visit(BMPString& value) = 0;
    virtual bool do_visit(CHOICE& value) = 0;
    virtual bool do_visit(SEQUENCE_OF_Base& value) = 0;
    virtual bool do_visit(OpenData& value) = 0;
    virtual bool do_revisit(OpenData& value) = 0;
    virtual bool do_visit(TypeConstrainedOpenData& value) = 0;
    virtual bool do_visit(GeneralizedTime& value) = 0;

    virtual int preVisitExtensionRoots(SEQUENCE&) { return CONTINUE; }
    virtual int visitExtensionRoot(SEQUENCE&, int /*index*/, int /*optionalId*/) { return FAIL; }
    virtual int preVisitExtensions(SEQUENCE&) { return CONTINUE; }
    virtual int visitKnownExtension(SEQUENCE&, int /*index*/, int /*optionalId*/) {
        return FAIL;
    }
    virtual bool visitUnknownExtensions(SEQUENCE&) { return true; }
};

// Lets a decoder fill `value`, nested in the value it is filling, with
// `depth` counting the nesting it follows: at MaximumNestingDepth it fails
// instead, so that a recursive type cannot let hostile input exhaust the stack.
bool visitNested(Visitor& decoder, AbstractData& value, unsigned& depth);

}  // namespace ASN1
