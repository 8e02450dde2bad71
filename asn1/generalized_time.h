#pragma once
// GeneralizedTime values, kept as their fields and written as the text
// YYYYMMDDhhmmss[.fff][Z|+hhmm].

#include "asn1/abstract_data.h"

#include <ctime>
#include <string>

namespace ASN1 {

class GeneralizedTime : public AbstractData {
public:
    static const TypeInfo theInfo;

    explicit GeneralizedTime(const TypeInfo* info = &theInfo) : AbstractData(info) {}
    explicit GeneralizedTime(const char* text);
    GeneralizedTime(int year, int month, int day, int hour, int minute, int second,
                    int millisec = 0, int mindiff = 0, bool utc = false);
    GeneralizedTime(const GeneralizedTime&) = default;
    GeneralizedTime& operator=(const GeneralizedTime&) = default;
    void swap(GeneralizedTime& other);
    static AbstractData* create(const TypeInfo* info) {
        return createValue<GeneralizedTime>(info);
    }

    // Fields that the text does not give keep their values.
    void set(const char* text);
    std::string get() const;
    time_t get_time_t() const;  // year to second as local time
    void set_time_t(time_t t);  // year to second from UTC

    int year = 1, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisec = 0;
    int mindiff = 0;  // minutes from UTC
    bool utc = false;

    ASN1_VALUE_HOOKS;
};

}  // namespace ASN1
