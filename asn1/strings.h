#pragma once
// Values whose contents are a run of units: BIT STRING, OCTET STRING, the
// 8-bit character strings and BMPString, with the permitted-character sets
// that the string records point to.

#include "asn1/abstract_data.h"

#include <string>
#include <vector>

namespace ASN1 {

class BIT_STRING : public ConstrainedObject {
public:
    static const ConstrainedInfo theInfo;

    explicit BIT_STRING(const ConstrainedInfo* info = &theInfo) : ConstrainedObject(info) {}
    BIT_STRING(const BIT_STRING&) = default;
    BIT_STRING& operator=(const BIT_STRING&) = default;
    static AbstractData* create(const TypeInfo* info) { return createValue<BIT_STRING>(info); }

    unsigned size() const { return totalBits_; }
    // Bits past the old size come in cleared.
    void resize(unsigned bits);
    bool operator[](unsigned bit) const;
    void set(unsigned bit, bool value = true);
    // Bit 0 is the most significant bit of byte 0.
    const std::vector<char>& bitData() const { return bitData_; }
    std::vector<char>& bitData() { return bitData_; }

    ASN1_VALUE_HOOKS;

private:
    unsigned totalBits_ = 0;
    std::vector<char> bitData_;
};

class OCTET_STRING : public ConstrainedObject, public std::vector<char> {
public:
    static const ConstrainedInfo theInfo;

    explicit OCTET_STRING(const ConstrainedInfo* info = &theInfo) : ConstrainedObject(info) {}
    OCTET_STRING(unsigned n, char fill, const ConstrainedInfo* info = &theInfo)
        : ConstrainedObject(info), std::vector<char>(n, fill) {}
    OCTET_STRING(const std::vector<char>& bytes, const ConstrainedInfo* info = &theInfo)
        : ConstrainedObject(info), std::vector<char>(bytes) {}
    OCTET_STRING(const OCTET_STRING&) = default;
    OCTET_STRING& operator=(const OCTET_STRING&) = default;
    static AbstractData* create(const TypeInfo* info) { return createValue<OCTET_STRING>(info); }

    using ConstrainedObject::info;
    using ConstrainedObject::operator==;
    using ConstrainedObject::operator!=;

    ASN1_VALUE_HOOKS;
};

// Base of the 8-bit character strings; the record's set tells the permitted
// characters and the bits per character.
class AbstractString : public ConstrainedObject, public std::string {
public:
    using Info = StringInfo;

    explicit AbstractString(const StringInfo* info) : ConstrainedObject(info) {}
    AbstractString(const StringInfo* info, const std::string& text)
        : ConstrainedObject(info), std::string(text) {}
    AbstractString(const StringInfo* info, const char* text)
        : ConstrainedObject(info), std::string(text) {}
    AbstractString(const AbstractString&) = default;
    AbstractString& operator=(const AbstractString&) = default;
    AbstractString& operator=(const std::string& text);
    static AbstractData* create(const TypeInfo* info) {
        return createValue<AbstractString>(info);
    }

    const StringInfo* info() const { return static_cast<const StringInfo*>(AbstractData::info()); }
    using ConstrainedObject::compare;
    using ConstrainedObject::operator==;
    using ConstrainedObject::operator!=;
    // The index of c in the permitted set, or -1.
    int indexOf(char c) const;
    // The character at index of the permitted set; index must be below the
    // set size.
    char characterAt(unsigned index) const;

    ASN1_VALUE_HOOKS;
};

extern const char NumericStringSet[];
extern const char PrintableStringSet[];
extern const char VisibleStringSet[];
extern const char IA5StringSet[];
extern const char GeneralStringSet[];

#define ASN1_STRING_CLASS(Name)                                                               \
    class Name : public AbstractString {                                                      \
    public:                                                                                   \
        static const StringInfo theInfo;                                                      \
        explicit Name(const StringInfo* info = &theInfo) : AbstractString(info) {}            \
        Name(const std::string& text, const StringInfo* info = &theInfo)                      \
            : AbstractString(info, text) {}                                                   \
        Name(const char* text, const StringInfo* info = &theInfo) : AbstractString(info, text) {} \
        Name& operator=(const std::string& text) {                                            \
            AbstractString::operator=(text);                                                  \
            return *this;                                                                     \
        }                                                                                     \
        Name& operator=(const char* text) { return *this = std::string(text); }               \
    }

ASN1_STRING_CLASS(NumericString);
ASN1_STRING_CLASS(PrintableString);
ASN1_STRING_CLASS(VisibleString);
ASN1_STRING_CLASS(IA5String);
ASN1_STRING_CLASS(GeneralString);

#undef ASN1_STRING_CLASS

class BMPString : public ConstrainedObject, public std::wstring {
public:
    using Info = BMPStringInfo;
    static const BMPStringInfo theInfo;

    explicit BMPString(const BMPStringInfo* info = &theInfo) : ConstrainedObject(info) {}
    BMPString(const std::wstring& text, const BMPStringInfo* info = &theInfo)
        : ConstrainedObject(info), std::wstring(text) {}
    BMPString(const wchar_t* text, const BMPStringInfo* info = &theInfo)
        : ConstrainedObject(info), std::wstring(text) {}
    BMPString(const BMPString&) = default;
    BMPString& operator=(const BMPString&) = default;
    static AbstractData* create(const TypeInfo* info) { return createValue<BMPString>(info); }

    const BMPStringInfo* info() const {
        return static_cast<const BMPStringInfo*>(AbstractData::info());
    }
    using ConstrainedObject::compare;
    using ConstrainedObject::operator==;
    using ConstrainedObject::operator!=;

    ASN1_VALUE_HOOKS;
};

}  // namespace ASN1
