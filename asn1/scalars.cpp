#include "asn1/scalars.h"

#include "asn1/visitor.h"

namespace ASN1 {

const TypeInfo Null::theInfo = {&createValue<Null>, tags::NULL_};
const TypeInfo BOOLEAN::theInfo = {&createValue<BOOLEAN>, tags::BOOLEAN};
const ConstrainedInfo INTEGER::theInfo = {
    {&createValue<INTEGER>, tags::INTEGER}, Unconstrained, 0, 0xFFFFFFFFu};

int Null::do_compare(const AbstractData&) const { return 0; }
AbstractData* Null::do_clone() const { return cloneByRecord(*this); }
bool Null::do_accept(Visitor& visitor) { return visitor.do_visit(*this); }
bool Null::do_accept(ConstVisitor& visitor) const { return visitor.do_visit(*this); }

int BOOLEAN::do_compare(const AbstractData& other) const {
    return compareValues(value_, boost::polymorphic_downcast<const BOOLEAN*>(&other)->value_);
}
AbstractData* BOOLEAN::do_clone() const { return cloneByRecord(*this); }
bool BOOLEAN::do_accept(Visitor& visitor) { return visitor.do_visit(*this); }
bool BOOLEAN::do_accept(ConstVisitor& visitor) const { return visitor.do_visit(*this); }

int INTEGER::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const INTEGER*>(&other);
    if (isUnsigned()) return compareValues(value_, that.value_);
    return compareValues(getValue(), that.getValue());
}
AbstractData* INTEGER::do_clone() const { return cloneByRecord(*this); }
bool INTEGER::do_accept(Visitor& visitor) { return visitor.do_visit(*this); }
bool INTEGER::do_accept(ConstVisitor& visitor) const { return visitor.do_visit(*this); }

const char* IntegerWithNamedNumber::getName() const {
    return findName(info()->names, info()->nameCount, getValue());
}
AbstractData* IntegerWithNamedNumber::do_clone() const { return cloneByRecord(*this); }
bool IntegerWithNamedNumber::do_accept(Visitor& visitor) { return visitor.do_visit(*this); }
bool IntegerWithNamedNumber::do_accept(ConstVisitor& visitor) const {
    return visitor.do_visit(*this);
}

const char* ENUMERATED::getName() const {
    return findName(info()->names, info()->nameCount, value_);
}
int ENUMERATED::do_compare(const AbstractData& other) const {
    return compareValues(value_, boost::polymorphic_downcast<const ENUMERATED*>(&other)->value_);
}
AbstractData* ENUMERATED::do_clone() const { return cloneByRecord(*this); }
bool ENUMERATED::do_accept(Visitor& visitor) { return visitor.do_visit(*this); }
bool ENUMERATED::do_accept(ConstVisitor& visitor) const { return visitor.do_visit(*this); }

}  // namespace ASN1
