#pragma once
// How both radio codecs tell whether two received packets are of one type
// from one source: type, then source SSRC, then source address; the first
// difference (second minus first), 0 when all match, -1 for a null record.

#include <cstdint>

template <class Record>
int compare_type_and_source(const Record* a, const Record* b) {
    if (!a || !b) return -1;
    const uint32_t Record::*fields[] = {&Record::type, &Record::source_ssrc, &Record::source_addr};
    for (const uint32_t Record::*field : fields)
        if (a->*field != b->*field) return static_cast<int>(b->*field - a->*field);
    return 0;
}
