#include "asn1/visitor.h"

#include "asn1/asn1.h"

namespace ASN1 {

bool ConstVisitor::visit(const AbstractData& value) { return value.accept(*this); }

bool ConstVisitor::visit(const SEQUENCE& value) {
    if (!preVisitExtensionRoots(value)) return false;
    for (unsigned i = 0; i < value.numRootFields(); ++i) {
        const int id = value.fieldId(i);
        if (id >= 0 && !value.hasOptionalField(static_cast<unsigned>(id))) continue;
        if (!visitExtensionRoot(value, static_cast<int>(i))) return false;
    }
    if (value.extensionMap().size() == 0) return afterVisitSequence(value);
    if (!preVisitExtensions(value)) return false;
    for (unsigned i = value.numRootFields(); i < value.fieldCount(); ++i) {
        if (!value.hasOptionalField(value.numOptional() + i - value.numRootFields())) continue;
        if (!visitKnownExtension(value, static_cast<int>(i))) return false;
    }
    return afterVisitSequence(value);
}

bool ConstVisitor::do_visit(const Null& value) { return do_visit(static_cast<const AbstractData&>(value)); }
bool ConstVisitor::do_visit(const BOOLEAN& value) { return do_visit(static_cast<const AbstractData&>(value)); }
bool ConstVisitor::do_visit(const INTEGER& value) { return do_visit(static_cast<const AbstractData&>(value)); }
bool ConstVisitor::do_visit(const IntegerWithNamedNumber& value) { return do_visit(static_cast<const INTEGER&>(value)); }
bool ConstVisitor::do_visit(const ENUMERATED& value) { return do_visit(static_cast<const AbstractData&>(value)); }
bool ConstVisitor::do_visit(const OBJECT_IDENTIFIER& value) { return do_visit(static_cast<const AbstractData&>(value)); }
bool ConstVisitor::do_visit(const BIT_STRING& value) { return do_visit(static_cast<const AbstractData&>(value)); }
bool ConstVisitor::do_visit(const OCTET_STRING& value) { return do_visit(static_cast<const AbstractData&>(static_cast<const ConstrainedObject&>(value))); }
bool ConstVisitor::do_visit(const AbstractString& value) { return do_visit(static_cast<const AbstractData&>(static_cast<const ConstrainedObject&>(value))); }
bool ConstVisitor::do_visit(const BMPString& value) { return do_visit(static_cast<const AbstractData&>(static_cast<const ConstrainedObject&>(value))); }
bool ConstVisitor::do_visit(const CHOICE& value) { return do_visit(static_cast<const AbstractData&>(value)); }
bool ConstVisitor::do_visit(const OpenData& value) { return do_visit(static_cast<const AbstractData&>(value)); }
bool ConstVisitor::do_visit(const GeneralizedTime& value) { return do_visit(static_cast<const AbstractData&>(value)); }
bool ConstVisitor::do_visit(const SEQUENCE_OF_Base& value) { return do_visit(static_cast<const AbstractData&>(value)); }
bool ConstVisitor::preVisitExtensionRoots(const SEQUENCE& value) { return do_visit(static_cast<const AbstractData&>(value)); }

bool Visitor::visit(AbstractData& value) { return value.accept(*this); }

bool Visitor::visit(SEQUENCE& value) {
    const int r = preVisitExtensionRoots(value);
    if (r == FAIL) return false;
    if (r == STOP) return true;
    for (unsigned i = 0; i < value.numRootFields(); ++i) {
        const int s = visitExtensionRoot(value, static_cast<int>(i), value.fieldId(i));
        if (s == FAIL) return false;
        if (s == STOP) return true;
    }
    if (r == NO_EXTENSION) return true;
    const int t = preVisitExtensions(value);
    if (t != CONTINUE) return t != FAIL;
    for (unsigned i = value.numRootFields(); i < value.fieldCount(); ++i) {
        const int id = static_cast<int>(value.numOptional() + i - value.numRootFields());
        const int u = visitKnownExtension(value, static_cast<int>(i), id);
        if (u != CONTINUE) return u != FAIL;
    }
    return visitUnknownExtensions(value);
}

bool Visitor::do_visit(IntegerWithNamedNumber& value) { return do_visit(static_cast<INTEGER&>(value)); }

bool visitNested(Visitor& decoder, AbstractData& value, unsigned& depth) {
    if (depth >= MaximumNestingDepth) return false;
    ++depth;
    const bool ok = value.accept(decoder);
    --depth;
    return ok;
}

}  // namespace ASN1
