#include "asn1/type_info.h"

namespace ASN1 {

const unsigned MaximumStringSize = 16384;
const unsigned MaximumArraySize = 128;

const char* findName(const NameEntry* names, unsigned count, int value) {
    for (unsigned i = 0; i < count; ++i) {
        if (names[i].value == value) return names[i].name;
    }
    return nullptr;
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
