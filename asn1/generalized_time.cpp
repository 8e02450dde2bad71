#include "asn1/generalized_time.h"

#include "asn1/visitor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace ASN1 {

const TypeInfo GeneralizedTime::theInfo = {&createValue<GeneralizedTime>,
                                           tags::GeneralizedTime};

GeneralizedTime::GeneralizedTime(const char* text) : AbstractData(&theInfo) { set(text); }

GeneralizedTime::GeneralizedTime(int year, int month, int day, int hour, int minute,
                                 int second, int millisec, int mindiff, bool utc)
    : AbstractData(&theInfo),
      year(year),
      month(month),
      day(day),
      hour(hour),
      minute(minute),
      second(second),
      millisec(millisec),
      mindiff(mindiff),
      utc(utc) {}

void GeneralizedTime::swap(GeneralizedTime& other) {
    std::swap(year, other.year);
    std::swap(month, other.month);
    std::swap(day, other.day);
    std::swap(hour, other.hour);
    std::swap(minute, other.minute);
    std::swap(second, other.second);
    std::swap(millisec, other.millisec);
    std::swap(mindiff, other.mindiff);
    std::swap(utc, other.utc);
}

void GeneralizedTime::set(const char* text) {
    std::sscanf(text, "%4d%2d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute, &second);
    const size_t length = std::strlen(text);
    if (length > 14 && text[14] == '.') {
        // The fraction in milliseconds, truncated; read digit by digit so that
        // what get() prints reads back unchanged.
        millisec = 0;
        int scale = 100;
        for (const char* p = text + 15; *p >= '0' && *p <= '9' && scale > 0; ++p, scale /= 10) {
            millisec += (*p - '0') * scale;
        }
    }
    if (length > 0 && text[length - 1] == 'Z') {
        utc = true;
    } else if (length >= 5 && (text[length - 5] == '+' || text[length - 5] == '-')) {
        int hours = 0;
        int minutes = 0;
        std::sscanf(text + length - 4, "%2d%2d", &hours, &minutes);
        mindiff = hours * 60 + minutes;
        if (text[length - 5] == '-') mindiff = -mindiff;
    }
}

std::string GeneralizedTime::get() const {
    char text[96];
    int n = std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", year, month, day, hour,
                          minute, second);
    std::string result(text, static_cast<size_t>(n));
    if (millisec != 0) {
        n = std::snprintf(text, sizeof text, ".%03d", millisec);
        result.append(text, static_cast<size_t>(n));
    }
    if (utc) {
        result += 'Z';
    } else if (mindiff != 0) {
        const int minutes = std::abs(mindiff);
        n = std::snprintf(text, sizeof text, "%c%02d%02d", mindiff < 0 ? '-' : '+', minutes / 60,
                          minutes % 60);
        result.append(text, static_cast<size_t>(n));
    }
    return result;
}

time_t GeneralizedTime::get_time_t() const {
    struct tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return mktime(&fields);
}

void GeneralizedTime::set_time_t(time_t t) {
    struct tm fields = {};
    if (!gmtime_r(&t, &fields)) return;
    year = fields.tm_year + 1900;
    month = fields.tm_mon + 1;
    day = fields.tm_mday;
    hour = fields.tm_hour;
    minute = fields.tm_min;
    second = fields.tm_sec;
}

int GeneralizedTime::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const GeneralizedTime*>(&other);
    const int mine[] = {year, month, day, hour, minute, second, millisec, mindiff, utc};
    const int theirs[] = {that.year,   that.month,    that.day,     that.hour, that.minute,
                          that.second, that.millisec, that.mindiff, that.utc};
    for (size_t i = 0; i < sizeof mine / sizeof mine[0]; ++i) {
        if (mine[i] != theirs[i]) return compareValues(mine[i], theirs[i]);
    }
    return 0;
}

ASN1_DEFINE_CLONE_AND_VISITS(GeneralizedTime)

}  // namespace ASN1
