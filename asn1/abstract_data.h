#pragma once
// The common base of every ASN.1 value, and of those with size or value
// constraints. A value holds a pointer to its type's record and its own
// contents; everything it knows about its type comes from the record.

#include "asn1/type_info.h"

#include <boost/polymorphic_cast.hpp>

#include <ios>
#include <memory>
#include <string>

namespace ASN1 {

class Visitor;
class ConstVisitor;

class AbstractData {
public:
    using Info = TypeInfo;

    virtual ~AbstractData() = default;

    const TypeInfo* info() const { return info_; }

    // Negative, 0 or positive; `other` must be a value of the same type.
    int compare(const AbstractData& other) const { return do_compare(other); }
    // A deep copy of the same class and record, owned by the caller.
    AbstractData* clone() const { return do_clone(); }
    bool accept(Visitor& visitor) { return do_accept(visitor); }
    bool accept(ConstVisitor& visitor) const { return do_accept(visitor); }

    bool operator==(const AbstractData& other) const { return compare(other) == 0; }
    bool operator!=(const AbstractData& other) const { return compare(other) != 0; }

    // Constraint checks (validity.cpp): isValid accepts what an extendable
    // type may carry from a newer peer, isStrictlyValid only the roots.
    bool isValid() const;
    bool isStrictlyValid() const;

    // Value notation (avn_encoder.cpp, avn_decoder.cpp). print_on and
    // get_from return the stream state to set: 0 on success.
    std::string asValueNotation() const;
    std::ios_base::iostate print_on(std::ostream& stream) const;
    bool setFromValueNotation(const std::string& text);
    std::ios_base::iostate get_from(std::istream& stream);

protected:
    explicit AbstractData(const TypeInfo* info) : info_(info) {}
    AbstractData(const AbstractData&) = default;
    // Assignment copies contents only: a value keeps its record for life, so
    // the value classes' defaulted assignments copy their contents alone.
    AbstractData& operator=(const AbstractData&) { return *this; }

    virtual int do_compare(const AbstractData& other) const = 0;
    virtual AbstractData* do_clone() const = 0;
    virtual bool do_accept(Visitor& visitor) = 0;
    virtual bool do_accept(ConstVisitor& visitor) const = 0;

private:
    const TypeInfo* info_;
};

// Prints a value as indented value notation; every message trace goes
// through it. A stream that is not good is left alone; a value that cannot be
// printed (a CHOICE without a selection) sets the fail state.
std::ostream& operator<<(std::ostream& stream, const AbstractData& value);
// Reads a value from the text that operator<< writes; the fail state on error.
std::istream& operator>>(std::istream& stream, AbstractData& value);

// Base of the values whose record is a ConstrainedInfo (or derived from it).
class ConstrainedObject : public AbstractData {
public:
    using Info = ConstrainedInfo;

    const ConstrainedInfo* info() const {
        return static_cast<const ConstrainedInfo*>(AbstractData::info());
    }
    ConstraintType constraintType() const { return info()->type; }
    int lowerLimit() const { return info()->lowerLimit; }
    unsigned upperLimit() const { return info()->upperLimit; }

protected:
    explicit ConstrainedObject(const ConstrainedInfo* info) : AbstractData(info) {}
};

// The hooks behind AbstractData's public operations, which every value class
// overrides.
#define ASN1_VALUE_HOOKS                                                \
protected:                                                              \
    int do_compare(const AbstractData& other) const override;           \
    AbstractData* do_clone() const override;                            \
    bool do_accept(Visitor& visitor) override;                          \
    bool do_accept(ConstVisitor& visitor) const override

// do_clone and the visits of a class that visitors take as itself.
#define ASN1_DEFINE_CLONE_AND_VISITS(Class)                                                 \
    AbstractData* Class::do_clone() const { return cloneByRecord(*this); }                  \
    bool Class::do_accept(Visitor& visitor) { return visitor.do_visit(*this); }             \
    bool Class::do_accept(ConstVisitor& visitor) const { return visitor.do_visit(*this); }

// Allocates a value of the record's class and gives it the contents of
// `source`: a clone keeps the concrete class that the record names.
template <class T>
AbstractData* cloneByRecord(const T& source) {
    std::unique_ptr<AbstractData> copy(source.info()->create(source.info()));
    *boost::polymorphic_downcast<T*>(copy.get()) = source;
    return copy.release();
}

// Three-way comparison of two ordered values.
template <class T>
int compareValues(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace ASN1
