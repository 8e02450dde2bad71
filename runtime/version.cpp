#include "runtime/version.h"

#ifndef SERVER_BUILDER
#define SERVER_BUILDER "unknown"
#endif

const Version Version::current(Version::snapshot, 0, "", SERVER_BUILDER, "2024-02-15 18:41",
                               "T240215-1841", "ppc");

Version::Version(Type type, int number, const char* text, const char* builder, const char* date,
                 const char* tag, const char* architecture)
    : type_(type),
      number_(number),
      text_(text),
      builder_(builder),
      date_(date),
      tag_(tag),
      architecture_(architecture) {
    update();
}

void Version::put(std::ostream& os) const { os << tag_; }

const char* version_string(Version::Type type) {
    switch (type) {
        case Version::snapshot: return "snapshot";
        case Version::test: return "test";
        case Version::release: return "release";
        case Version::unit_test: return "unit-test";
    }
    return "unknown";
}

const char* version_suffix(Version::Type type) {
    switch (type) {
        case Version::snapshot: return "S";
        case Version::test: return "T";
        case Version::release: return "R";
        case Version::unit_test: return "T";
    }
    return "U";
}

std::ostream& operator<<(std::ostream& os, Version::Type type) {
    return os << version_string(type);
}
