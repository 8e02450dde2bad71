#include "asn1/type_info.h"

#include <cstring>

namespace ASN1 {

const unsigned MaximumStringSize = 16384;
const unsigned MaximumArraySize = 128;
const unsigned MaximumNestingDepth = 64;

bool withinBounds(const ConstrainedInfo& bounds, unsigned word) {
    if (bounds.type == Unconstrained) return true;
    const bool upperBounded = bounds.type != PartiallyConstrained;
    if (bounds.lowerLimit < 0) {
        const long long value = static_cast<int>(word);
        return value >= bounds.lowerLimit && (!upperBounded || value <= bounds.upperLimit);
    }
    return word >= static_cast<unsigned>(bounds.lowerLimit) &&
           (!upperBounded || word <= bounds.upperLimit);
}

const char* findName(const NameEntry* names, unsigned count, int value) {
    for (unsigned i = 0; i < count; ++i) {
        if (names[i].value == value) return names[i].name;
    }
    return nullptr;
}

bool findValue(const NameEntry* names, unsigned count, const char* name, int& value) {
    for (unsigned i = 0; i < count; ++i) {
        if (std::strcmp(names[i].name, name) == 0) {
            value = names[i].value;
            return true;
        }
    }
    return false;
}

unsigned CountBits(unsigned range) {
    if (range == 0) return 32;
    unsigned bits = 0;
    while (bits < 32 && (uint64_t(1) << bits) < range) ++bits;
    return bits;
}

int lexicographic_compare_bytes(const char* first1, const char* last1, const char* first2,
                                const char* last2) {
    for (; first1 != last1 && first2 != last2; ++first1, ++first2) {
        const int a = static_cast<unsigned char>(*first1);
        const int b = static_cast<unsigned char>(*first2);
        if (a != b) return a - b;
    }
    if (first1 == last1) return first2 == last2 ? 0 : -1;
    return 1;
}

}  // namespace ASN1
