#include "asn1/scalars.h"

#include "asn1/visitor.h"

namespace ASN1 {

const TypeInfo Null::theInfo = {&createValue<Null>, tags::NULL_};
const TypeInfo BOOLEAN::theInfo = {&createValue<BOOLEAN>, tags::BOOLEAN};
const ConstrainedInfo INTEGER::theInfo = {
    {&createValue<INTEGER>, tags::INTEGER}, Unconstrained, 0, 0xFFFFFFFFu};

int Null::do_compare(const AbstractData&) const { return 0; }
ASN1_DEFINE_CLONE_AND_VISITS(Null)

int BOOLEAN::do_compare(const AbstractData& other) const {
    return compareValues(value_, boost::polymorphic_downcast<const BOOLEAN*>(&other)->value_);
}
ASN1_DEFINE_CLONE_AND_VISITS(BOOLEAN)

int INTEGER::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const INTEGER*>(&other);
    if (isUnsigned()) return compareValues(value_, that.value_);
    return compareValues(getValue(), that.getValue());
}
ASN1_DEFINE_CLONE_AND_VISITS(INTEGER)

const char* IntegerWithNamedNumber::getName() const {
    return findName(info()->names, info()->nameCount, getValue());
}
bool IntegerWithNamedNumber::setFromName(const char* name) {
    int number;
    if (!findValue(info()->names, info()->nameCount, name, number)) return false;
    setValue(number);
    return true;
}
ASN1_DEFINE_CLONE_AND_VISITS(IntegerWithNamedNumber)

const char* ENUMERATED::getName() const {
    return findName(info()->names, info()->nameCount, value_);
}
bool ENUMERATED::setFromName(const char* name) {
    return findValue(info()->names, info()->nameCount, name, value_);
}
int ENUMERATED::do_compare(const AbstractData& other) const {
    return compareValues(value_, boost::polymorphic_downcast<const ENUMERATED*>(&other)->value_);
}
ASN1_DEFINE_CLONE_AND_VISITS(ENUMERATED)

}  // namespace ASN1
