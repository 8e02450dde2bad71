#pragma once
// Fills a value of any message type by a fixed rule, from its record alone,
// so that a test can make the same value that the vector script gave the
// Erlang coder (tests/messages/vectors/make_vectors.py states the rule; the
// two must change together).

#include "asn1/asn1.h"

#include <memory>
#include <string>
#include <vector>

namespace messages_test {

// A default value of the type a record describes.
inline std::unique_ptr<ASN1::AbstractData> create(const ASN1::TypeInfo* info) {
    return std::unique_ptr<ASN1::AbstractData>(info->create(info));
}

class ValueFiller : public ASN1::Visitor {
public:
    // `path`: the alternatives that the first CHOICEs met take, in order.
    ValueFiller(unsigned seed, std::vector<std::string> path);

    // Fills value; false when the path names an unknown alternative.
    bool fill(ASN1::AbstractData& value);
    // Whether every alternative of the path was taken.
    bool pathUsedUp() const { return next_in_path_ == path_.size(); }

private:
    unsigned next() { return ++k_; }

    bool do_visit(ASN1::Null&) override;
    bool do_visit(ASN1::BOOLEAN& value) override;
    bool do_visit(ASN1::INTEGER& value) override;
    bool do_visit(ASN1::ENUMERATED& value) override;
    bool do_visit(ASN1::OBJECT_IDENTIFIER& value) override;
    bool do_visit(ASN1::OCTET_STRING& value) override;
    bool do_visit(ASN1::BIT_STRING&) override { return false; }
    bool do_visit(ASN1::AbstractString& value) override;
    bool do_visit(ASN1::BMPString&) override { return false; }
    bool do_visit(ASN1::CHOICE& value) override;
    bool do_visit(ASN1::SEQUENCE_OF_Base& value) override;
    bool do_visit(ASN1::OpenData&) override { return false; }
    bool do_revisit(ASN1::OpenData&) override { return false; }
    bool do_visit(ASN1::TypeConstrainedOpenData&) override { return false; }
    bool do_visit(ASN1::GeneralizedTime&) override { return false; }

    int preVisitExtensionRoots(ASN1::SEQUENCE& value) override;
    int visitExtensionRoot(ASN1::SEQUENCE& value, int index, int optionalId) override;
    int preVisitExtensions(ASN1::SEQUENCE&) override { return CONTINUE; }
    int visitKnownExtension(ASN1::SEQUENCE& value, int index, int optionalId) override;

    int fillField(ASN1::SEQUENCE& value, int index);

    unsigned k_;
    std::vector<std::string> path_;
    size_t next_in_path_ = 0;
};

}  // namespace messages_test
