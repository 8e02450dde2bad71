#pragma once
// The scalar values: NULL, BOOLEAN, INTEGER (with its fixed-range and
// named-number forms) and ENUMERATED.

#include "asn1/abstract_data.h"

namespace ASN1 {

class Null : public AbstractData {
public:
    static const TypeInfo theInfo;
    explicit Null(const TypeInfo* info = &theInfo) : AbstractData(info) {}
    static AbstractData* create(const TypeInfo* info) { return createValue<Null>(info); }

    ASN1_VALUE_HOOKS;
};

class BOOLEAN : public AbstractData {
public:
    static const TypeInfo theInfo;
    explicit BOOLEAN(const TypeInfo* info = &theInfo) : AbstractData(info) {}
    BOOLEAN(bool value, const TypeInfo* info) : AbstractData(info), value_(value) {}
    BOOLEAN(const BOOLEAN&) = default;
    BOOLEAN& operator=(const BOOLEAN&) = default;
    BOOLEAN& operator=(bool value) {
        value_ = value;
        return *this;
    }
    static AbstractData* create(const TypeInfo* info) { return createValue<BOOLEAN>(info); }

    bool getValue() const { return value_; }
    void setValue(bool value) { value_ = value; }

    ASN1_VALUE_HOOKS;

private:
    bool value_ = false;
};

// One 32-bit word, read as signed or unsigned as the constraint asks: unsigned
// when the type is constrained with a lower bound of 0 or more.
class INTEGER : public ConstrainedObject {
public:
    static const ConstrainedInfo theInfo;  // unconstrained
    explicit INTEGER(const ConstrainedInfo* info = &theInfo) : ConstrainedObject(info) {}
    INTEGER(int value, const ConstrainedInfo* info) : ConstrainedObject(info), value_(value) {}
    INTEGER(const INTEGER&) = default;
    INTEGER& operator=(const INTEGER&) = default;
    INTEGER& operator=(int value) {
        value_ = static_cast<unsigned>(value);
        return *this;
    }
    static AbstractData* create(const TypeInfo* info) { return createValue<INTEGER>(info); }

    int getValue() const { return static_cast<int>(value_); }
    unsigned getUnsignedValue() const { return value_; }
    void setValue(int value) { value_ = static_cast<unsigned>(value); }
    void setValue(unsigned value) { value_ = value; }
    // Whether the word reads as unsigned (a constrained type with lower >= 0).
    bool isUnsigned() const { return constraintType() != Unconstrained && lowerLimit() >= 0; }

    ASN1_VALUE_HOOKS;

private:
    unsigned value_ = 0;
};

template <ConstraintType type, int lower, unsigned upper>
class Constrained_INTEGER : public INTEGER {
public:
    static constexpr ConstrainedInfo theInfo = {
        {&createValue<Constrained_INTEGER>, tags::INTEGER}, type, lower, upper};
    explicit Constrained_INTEGER(const ConstrainedInfo* info = &theInfo) : INTEGER(info) {}
    using INTEGER::operator=;
    Constrained_INTEGER& operator=(unsigned value) {
        setValue(value);
        return *this;
    }
    unsigned getValue() const { return getUnsignedValue(); }
};

// An INTEGER whose record names some of its values.
class IntegerWithNamedNumber : public INTEGER {
public:
    using Info = IntegerWithNamedNumberInfo;
    explicit IntegerWithNamedNumber(const IntegerWithNamedNumberInfo* info) : INTEGER(info) {}
    IntegerWithNamedNumber(int value, const IntegerWithNamedNumberInfo* info)
        : INTEGER(value, info) {}
    static AbstractData* create(const TypeInfo* info) {
        return createValue<IntegerWithNamedNumber>(info);
    }

    const IntegerWithNamedNumberInfo* info() const {
        return static_cast<const IntegerWithNamedNumberInfo*>(INTEGER::info());
    }
    const char* getName() const;
    // Takes the value that the record names `name`; false when none is.
    bool setFromName(const char* name);

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

// The value itself (not the enumerator's position) in 0..maximum for the root.
class ENUMERATED : public AbstractData {
public:
    using Info = EnumeratedInfo;
    explicit ENUMERATED(const EnumeratedInfo* info) : AbstractData(info) {}
    ENUMERATED(const EnumeratedInfo* info, int value) : AbstractData(info), value_(value) {}
    ENUMERATED(const ENUMERATED&) = default;
    ENUMERATED& operator=(const ENUMERATED&) = default;
    static AbstractData* create(const TypeInfo* info) { return createValue<ENUMERATED>(info); }

    const EnumeratedInfo* info() const {
        return static_cast<const EnumeratedInfo*>(AbstractData::info());
    }
    int getValue() const { return value_; }
    void setValue(int value) { value_ = value; }
    int getMaximum() const { return info()->maxEnumValue; }
    bool extendable() const { return info()->extendable; }
    // The enumerator's name, or null for a value the type does not name.
    const char* getName() const;
    // Takes the value of the enumerator `name`; false when there is none.
    bool setFromName(const char* name);

    ASN1_VALUE_HOOKS;

private:
    int value_ = 0;
};

}  // namespace ASN1
