#pragma once
// BER decoder: fills a value (which names its type) from the encoding that
// BEREncoder writes. Definite lengths only: the indefinite form, lengths of
// more than four octets, constructed strings and contents that run past their
// enclosing value are refused. A missing mandatory field fails; elements of a
// SEQUENCE that its type does not know are skipped. Counts are bounded by the
// runtime limits and nesting by MaximumNestingDepth; any failure is a false
// result and nothing is logged.

#include "asn1/visitor.h"

#include <vector>

namespace ASN1 {

class CoderEnv;

class BERDecoder : public Visitor {
public:
    // `env` is carried to nested decoders and not consulted.
    BERDecoder(const char* first, const char* last, const CoderEnv* env = nullptr);

    // Identifier and length octets at the position; on success the position
    // stands at the contents, which lie within the enclosing value.
    bool decodeHeader(unsigned& tag, bool& primitive, unsigned& length);
    // The same for value's own header: its tag (unless an implicit tag is
    // pending) and its form must match.
    bool decodeHeader(const AbstractData& value, unsigned& length);
    // Reads a CHOICE's wrapper (when it has one) and selects the alternative
    // by the tag that follows; `end` is where the CHOICE ends.
    bool decodeChoicePreamle(CHOICE& value, const char*& end);
    const char* getPosition() const { return position_; }

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
    int visitKnownExtension(SEQUENCE& value, int index, int optionalId) override;
    bool visitUnknownExtensions(SEQUENCE& value) override;

private:
    // A header with value's tag (or any, under a pending implicit tag) and
    // the given form.
    bool decodeTaggedHeader(const AbstractData& value, bool primitive, unsigned& length);
    // The tag of the next element and where the element ends, without
    // moving.
    bool peekElement(unsigned& tag, const char*& end);
    // The contents of a primitive value: [contents, contents + length).
    bool decodeContents(const AbstractData& value, const char*& contents, unsigned& length);
    bool decodeNumber(const AbstractData& value, long long& number);
    // A CHOICE's or open type's explicit wrapper; `end` is where its
    // contents end.
    bool isWrapped(const AbstractData& value) const;
    bool decodeWrapper(const AbstractData& value, const char*& end);
    bool decodeNested(AbstractData& value);
    int decodeField(SEQUENCE& value, int index, int optionalId);
    const char* limit() const { return ends_.empty() ? end_ : ends_.back(); }

    const CoderEnv* env_;
    const char* position_;
    const char* end_;
    // Where the contents of each SEQUENCE, SEQUENCE OF or wrapper being read end.
    std::vector<const char*> ends_;
    int implicitTags_ = 0;  // while above 0, the next header may carry any tag
    unsigned depth_ = 0;  // the nesting being followed (visitNested)
};

}  // namespace ASN1
