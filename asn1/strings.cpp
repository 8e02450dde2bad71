#include "asn1/strings.h"

#include "asn1/visitor.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace ASN1 {

const ConstrainedInfo BIT_STRING::theInfo = {
    {&createValue<BIT_STRING>, tags::BIT_STRING}, Unconstrained, 0, 0xFFFFFFFFu};
const ConstrainedInfo OCTET_STRING::theInfo = {
    {&createValue<OCTET_STRING>, tags::OCTET_STRING}, Unconstrained, 0, 0xFFFFFFFFu};

// The permitted characters of each string type, ascending.
const char NumericStringSet[] = " 0123456789";
const char PrintableStringSet[] =
    " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const char VisibleStringSet[] =
    " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";
// Every code of 0..127 and of 0..255.
const char IA5StringSet[] =
    "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f"
    "\x20\x21\x22\x23\x24\x25\x26\x27\x28\x29\x2a\x2b\x2c\x2d\x2e\x2f"
    "\x30\x31\x32\x33\x34\x35\x36\x37\x38\x39\x3a\x3b\x3c\x3d\x3e\x3f"
    "\x40\x41\x42\x43\x44\x45\x46\x47\x48\x49\x4a\x4b\x4c\x4d\x4e\x4f"
    "\x50\x51\x52\x53\x54\x55\x56\x57\x58\x59\x5a\x5b\x5c\x5d\x5e\x5f"
    "\x60\x61\x62\x63\x64\x65\x66\x67\x68\x69\x6a\x6b\x6c\x6d\x6e\x6f"
    "\x70\x71\x72\x73\x74\x75\x76\x77\x78\x79\x7a\x7b\x7c\x7d\x7e\x7f";
const char GeneralStringSet[] =
    "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f"
    "\x20\x21\x22\x23\x24\x25\x26\x27\x28\x29\x2a\x2b\x2c\x2d\x2e\x2f"
    "\x30\x31\x32\x33\x34\x35\x36\x37\x38\x39\x3a\x3b\x3c\x3d\x3e\x3f"
    "\x40\x41\x42\x43\x44\x45\x46\x47\x48\x49\x4a\x4b\x4c\x4d\x4e\x4f"
    "\x50\x51\x52\x53\x54\x55\x56\x57\x58\x59\x5a\x5b\x5c\x5d\x5e\x5f"
    "\x60\x61\x62\x63\x64\x65\x66\x67\x68\x69\x6a\x6b\x6c\x6d\x6e\x6f"
    "\x70\x71\x72\x73\x74\x75\x76\x77\x78\x79\x7a\x7b\x7c\x7d\x7e\x7f"
    "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8a\x8b\x8c\x8d\x8e\x8f"
    "\x90\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9a\x9b\x9c\x9d\x9e\x9f"
    "\xa0\xa1\xa2\xa3\xa4\xa5\xa6\xa7\xa8\xa9\xaa\xab\xac\xad\xae\xaf"
    "\xb0\xb1\xb2\xb3\xb4\xb5\xb6\xb7\xb8\xb9\xba\xbb\xbc\xbd\xbe\xbf"
    "\xc0\xc1\xc2\xc3\xc4\xc5\xc6\xc7\xc8\xc9\xca\xcb\xcc\xcd\xce\xcf"
    "\xd0\xd1\xd2\xd3\xd4\xd5\xd6\xd7\xd8\xd9\xda\xdb\xdc\xdd\xde\xdf"
    "\xe0\xe1\xe2\xe3\xe4\xe5\xe6\xe7\xe8\xe9\xea\xeb\xec\xed\xee\xef"
    "\xf0\xf1\xf2\xf3\xf4\xf5\xf6\xf7\xf8\xf9\xfa\xfb\xfc\xfd\xfe\xff";

const StringInfo NumericString::theInfo = {
    {{&createValue<NumericString>, tags::NumericString}, Unconstrained, 0, 0xFFFFFFFFu},
    NumericStringSet, 11, 4, 4, 4};
const StringInfo PrintableString::theInfo = {
    {{&createValue<PrintableString>, tags::PrintableString}, Unconstrained, 0, 0xFFFFFFFFu},
    PrintableStringSet, 74, 7, 7, 8};
const StringInfo VisibleString::theInfo = {
    {{&createValue<VisibleString>, tags::VisibleString}, Unconstrained, 0, 0xFFFFFFFFu},
    VisibleStringSet, 95, 7, 7, 8};
const StringInfo IA5String::theInfo = {
    {{&createValue<IA5String>, tags::IA5String}, Unconstrained, 0, 0xFFFFFFFFu},
    IA5StringSet, 128, 7, 7, 8};
const StringInfo GeneralString::theInfo = {
    {{&createValue<GeneralString>, tags::GeneralString}, Unconstrained, 0, 0xFFFFFFFFu},
    GeneralStringSet, 256, 8, 8, 8};
const BMPStringInfo BMPString::theInfo = {
    {{&createValue<BMPString>, tags::BMPString}, Unconstrained, 0, 0xFFFFFFFFu},
    0, 0xFFFF, 16, 16};

void BIT_STRING::resize(unsigned bits) {
    if (bits < totalBits_ && bits % 8 != 0) {
        bitData_[bits / 8] &= static_cast<char>(0xFF00 >> (bits % 8));
    }
    bitData_.resize((bits + 7) / 8, 0);
    totalBits_ = bits;
}

bool BIT_STRING::operator[](unsigned bit) const {
    if (bit >= totalBits_) return false;
    return (bitData_[bit / 8] & (0x80 >> (bit % 8))) != 0;
}

void BIT_STRING::set(unsigned bit, bool value) {
    if (bit >= totalBits_) return;
    const char mask = static_cast<char>(0x80 >> (bit % 8));
    if (value) {
        bitData_[bit / 8] |= mask;
    } else {
        bitData_[bit / 8] &= static_cast<char>(~mask);
    }
}

int BIT_STRING::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const BIT_STRING*>(&other);
    const size_t count = std::min(bitData_.size(), that.bitData_.size());
    for (size_t i = 0; i < count; ++i) {
        const int a = static_cast<unsigned char>(bitData_[i]);
        const int b = static_cast<unsigned char>(that.bitData_[i]);
        // The first differing bit decides.
        const int differing = a ^ b;
        if (differing) return (a & differing) - (b & differing);
    }
    return compareValues(totalBits_, that.totalBits_);
}

ASN1_DEFINE_CLONE_AND_VISITS(BIT_STRING)

int OCTET_STRING::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const OCTET_STRING*>(&other);
    return lexicographic_compare_bytes(data(), data() + size(), that.data(),
                                       that.data() + that.size());
}

ASN1_DEFINE_CLONE_AND_VISITS(OCTET_STRING)

AbstractString& AbstractString::operator=(const std::string& text) {
    std::string::operator=(text);
    return *this;
}

int AbstractString::indexOf(char c) const {
    const unsigned code = static_cast<unsigned char>(c);
    const StringInfo& record = *info();
    if (!record.characterSet) return code < record.characterSetSize ? int(code) : -1;
    const auto* first = reinterpret_cast<const unsigned char*>(record.characterSet);
    const auto* last = first + record.characterSetSize;
    const auto* found = std::lower_bound(first, last, code);
    return found != last && *found == code ? int(found - first) : -1;
}

char AbstractString::characterAt(unsigned index) const {
    const StringInfo& record = *info();
    return record.characterSet ? record.characterSet[index] : static_cast<char>(index);
}

int AbstractString::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const AbstractString*>(&other);
    const size_t count = std::min(size(), that.size());
    const int result = count ? std::memcmp(data(), that.data(), count) : 0;
    if (result) return result;
    return compareValues(size(), that.size());
}

ASN1_DEFINE_CLONE_AND_VISITS(AbstractString)

int BMPString::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const BMPString*>(&other);
    const size_t count = std::min(size(), that.size());
    const int result = count ? std::wmemcmp(data(), that.data(), count) : 0;
    if (result) return result;
    return compareValues(size(), that.size());
}

ASN1_DEFINE_CLONE_AND_VISITS(BMPString)

}  // namespace ASN1
