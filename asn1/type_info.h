#pragma once
// Type-information records: the static, read-only description of an ASN.1
// type that every value points to. The value classes and the coders take all
// they know about a type from its record.
//
// Record format (the target of the message-module generator)
// ----------------------------------------------------------
// Every record is a constant aggregate of one of the kinds below, all derived
// from `TypeInfo` {create, tag}. Records are plain aggregate initialisers with
// the base in its own braces; they point to each other only by address, so
// they are constant-initialised and may refer across files in any order.
//
//   create  the function that allocates a default value of the type from this
//           record: `&ASN1::createValue<Class>` where Class is the value class
//           that typed access expects (a generated class for a generated type,
//           so that `boost::polymorphic_downcast` to it is sound).
//   tag     class bits (as in a BER identifier octet) << 16 | number; universal
//           tags only (`ASN1::tags::...`); CHOICE and open types use 0.
//
// Kind (record struct)        value class          fields after {create, tag}
//  TypeInfo                   Null BOOLEAN OBJECT_IDENTIFIER GeneralizedTime
//                             OpenData             -
//  ConstrainedInfo            INTEGER, BIT_STRING, OCTET_STRING
//                                                  type, lowerLimit, upperLimit
//  IntegerWithNamedNumberInfo IntegerWithNamedNumber
//                                                  type, lowerLimit, upperLimit,
//                                                  names, nameCount (by value)
//  EnumeratedInfo             ENUMERATED           extendable, maxEnumValue,
//                                                  names, nameCount
//  StringInfo                 AbstractString kinds type, lowerLimit, upperLimit,
//                                                  characterSet, characterSetSize,
//                                                  canonicalBits, unalignedBits,
//                                                  alignedBits
//  BMPStringInfo              BMPString            type, lowerLimit, upperLimit,
//                                                  firstChar, lastChar,
//                                                  unalignedBits, alignedBits
//  SequenceOfInfo             SEQUENCE_OF<T>, SET_OF<T>
//                                                  type, lowerLimit, upperLimit,
//                                                  elementInfo
//  ChoiceInfo                 CHOICE               extendable, selectionInfos,
//                                                  numChoices (root),
//                                                  totalChoices (root + known
//                                                  additions), selectionNames
//  SequenceInfo               SEQUENCE             extendable, fieldInfos
//                                                  (root fields, then known
//                                                  additions), fieldIds (per
//                                                  root field: its optional-bit
//                                                  index, or -1 if mandatory),
//                                                  numFields (root), knownExtensions,
//                                                  numOptional, fieldNames
//  TypeConstrainedOpenDataInfo TypeConstrainedOpenData   typeInfo
//
// `type` is a ConstraintType; an upper limit of 0xFFFFFFFF means "none".
// Size limits (BIT/OCTET STRING, strings, SEQUENCE OF) use the same fields.
// Optional root fields are numbered 0.. in declaration order; known addition k
// has the optional id numOptional + k.
//
// Enumeration names are {value, name} pairs in declaration order with their
// count, so sparse values (dscp 46, not-use -1) are found by value; the name
// is the bare identifier. The wire carries the value in 0..maxEnumValue.
//
// Shared built-in records (components of a plain built-in type point here):
//   ASN1::Null::theInfo, BOOLEAN::theInfo, INTEGER::theInfo (unconstrained),
//   Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>::theInfo,
//   OCTET_STRING::theInfo, BIT_STRING::theInfo, IA5String::theInfo (and the
//   other strings), OBJECT_IDENTIFIER::theInfo, GeneralizedTime::theInfo,
//   SEQUENCE_OF<T>::theInfo, SET_OF<T>::theInfo (T = element class, whose
//   T::theInfo is the element record). A constrained string, or a list whose
//   element record is not T::theInfo, gets a record of its own in the module
//   (create `&ASN1::createValue<ASN1::IA5String>`, or
//   `&ASN1::createValue<ASN1::SEQUENCE_OF<T>>`). A string record may leave
//   characterSet null: its characters are then the codes 0..size-1.
//   SEQUENCE_OF<T> and SET_OF<T> are alias templates of SequenceOfTemplate;
//   their records are constants like every other, so no start-up code fills
//   anything.
//
// Generated classes (see tests/asn1/test_module.h for a complete example):
//
//   class Message : public ASN1::SEQUENCE {
//   public:
//       static const ASN1::SequenceInfo theInfo;
//       explicit Message(const Info* info = &theInfo) : SEQUENCE(info) {}
//   };
//   class PDU : public ASN1::CHOICE {
//   public:
//       static const ASN1::ChoiceInfo theInfo;
//       explicit PDU(const Info* info = &theInfo) : CHOICE(info) {}
//       PDU(int selection, ASN1::AbstractData* alternative)
//           : CHOICE(&theInfo, selection, alternative) {}
//   };
//   class ErrorCause : public ASN1::ENUMERATED {
//   public:
//       enum NamedNumber { invalidParams, insufficientResources, ... };
//       static const ASN1::EnumeratedInfo theInfo;
//       explicit ErrorCause(const Info* info = &theInfo) : ENUMERATED(info) {}
//       ErrorCause(NamedNumber value) : ENUMERATED(&theInfo, value) {}
//   };
//
//   // in the module's .cpp
//   static const ASN1::TypeInfo* const Message_fieldInfos[] = {
//       &ASN1::INTEGER::theInfo,
//       &ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>::theInfo,
//       &PDU::theInfo};
//   static const int Message_fieldIds[] = {0, 1, -1};
//   static const char* const Message_fieldNames[] = {"seq", "slot", "pdu"};
//   const ASN1::SequenceInfo Message::theInfo = {
//       {&ASN1::createValue<Message>, ASN1::tags::SEQUENCE},
//       false, Message_fieldInfos, Message_fieldIds, 3, 0, 2, Message_fieldNames};
//
//   static const ASN1::NameEntry ErrorCause_enum_names__[] = {
//       {0, "invalidParams"}, {1, "insufficientResources"}, ...};
//   const ASN1::EnumeratedInfo ErrorCause::theInfo = {
//       {&ASN1::createValue<ErrorCause>, ASN1::tags::ENUMERATED},
//       true, 12, ErrorCause_enum_names__, 13};

#include <cstdint>

namespace ASN1 {

class AbstractData;
struct TypeInfo;

// Allocates a default value of the record's type; see createValue.
typedef AbstractData* (*CreateFunction)(const TypeInfo* info);

enum ConstraintType {
    Unconstrained = 0,
    PartiallyConstrained = 1,  // lower bound only
    FixedConstraint = 2,       // lower..upper
    ExtendableConstraint = 3,  // lower..upper, ...
};

namespace tags {
enum : unsigned {
    NONE = 0,
    BOOLEAN = 1,
    INTEGER = 2,
    BIT_STRING = 3,
    OCTET_STRING = 4,
    NULL_ = 5,
    OBJECT_IDENTIFIER = 6,
    ENUMERATED = 10,
    SEQUENCE = 16,
    SET = 17,
    NumericString = 18,
    PrintableString = 19,
    IA5String = 22,
    GeneralizedTime = 24,
    VisibleString = 26,
    GeneralString = 27,
    BMPString = 30,
};
}

struct TypeInfo {
    CreateFunction create;
    unsigned tag;
};

struct ConstrainedInfo : TypeInfo {
    ConstraintType type;
    int lowerLimit;
    unsigned upperLimit;
};

struct NameEntry {
    int value;
    const char* name;
};

// The name of value in a table of names, or null.
const char* findName(const NameEntry* names, unsigned count, int value);
// The value named `name` in a table of names; false when none is.
bool findValue(const NameEntry* names, unsigned count, const char* name, int& value);

struct IntegerWithNamedNumberInfo : ConstrainedInfo {
    const NameEntry* names;
    unsigned nameCount;
};

struct EnumeratedInfo : TypeInfo {
    bool extendable;
    int maxEnumValue;
    const NameEntry* names;
    unsigned nameCount;
};

struct StringInfo : ConstrainedInfo {
    const char* characterSet;  // ascending; null: codes 0..characterSetSize-1
    unsigned characterSetSize;
    unsigned canonicalBits;
    unsigned unalignedBits;
    unsigned alignedBits;
};

struct BMPStringInfo : ConstrainedInfo {
    wchar_t firstChar;
    wchar_t lastChar;
    unsigned unalignedBits;
    unsigned alignedBits;
};

struct SequenceOfInfo : ConstrainedInfo {
    const TypeInfo* elementInfo;
};

struct ChoiceInfo : TypeInfo {
    bool extendable;
    const TypeInfo* const* selectionInfos;
    unsigned numChoices;
    unsigned totalChoices;
    const char* const* selectionNames;
};

struct SequenceInfo : TypeInfo {
    bool extendable;
    const TypeInfo* const* fieldInfos;
    const int* fieldIds;
    unsigned numFields;
    unsigned knownExtensions;
    unsigned numOptional;
    const char* const* fieldNames;
};

struct TypeConstrainedOpenDataInfo : TypeInfo {
    const TypeInfo* typeInfo;
};

// The create function of every record: a T built from the record. T has a
// constructor from `const typename T::Info*` (every value class names its
// record kind as Info).
template <class T>
AbstractData* createValue(const TypeInfo* info) {
    return new T(static_cast<const typename T::Info*>(info));
}

// Largest counts the decoders accept: octets, characters or bits of a string;
// elements of a SEQUENCE OF and presence bits of SEQUENCE extension additions.
extern const unsigned MaximumStringSize;  // 16384
extern const unsigned MaximumArraySize;   // 128
// Deepest nesting of constructed values (fields, alternatives, elements) that
// the BER and value-notation decoders follow (visitNested): a recursive type
// must not let hostile input exhaust the stack.
extern const unsigned MaximumNestingDepth;  // 64

// Whether a 32-bit word lies within a constraint's root: read signed when the
// lower bound is negative, unsigned otherwise. Unconstrained accepts every
// word, a lower bound alone is the only test of PartiallyConstrained.
bool withinBounds(const ConstrainedInfo& bounds, unsigned word);

// Bits of a constrained whole number with `range` values (upper - lower + 1,
// 0 standing for the full 32-bit range): 0 -> 32, 1 -> 0, else the least n
// with 2^n >= range.
unsigned CountBits(unsigned range);

// Compares byte ranges as unsigned bytes; a proper prefix is smaller.
int lexicographic_compare_bytes(const char* first1, const char* last1, const char* first2,
                                const char* last2);

}  // namespace ASN1
