#pragma once
// The build's version record: its tag names the build at start-up, in
// --version, in the status dump and in the daemon's syslog identity.

#include <ostream>

class Version {
public:
    enum Type : int { snapshot = 0, test = 1, release = 2, unit_test = 3 };

    Version(Type type, int number, const char* text, const char* builder, const char* date,
            const char* tag, const char* architecture);
    ~Version() = default;

    // Writes the tag.
    void put(std::ostream& os) const;

    Type type() const { return type_; }
    int number() const { return number_; }
    const char* text() const { return text_; }
    const char* builder() const { return builder_; }
    const char* date() const { return date_; }
    const char* tag() const { return tag_; }
    const char* architecture() const { return architecture_; }

    static const Version current;

private:
    void update() {}

    Type type_;
    int number_;
    const char* text_;
    const char* builder_;
    const char* date_;
    const char* tag_;
    const char* architecture_;
};

inline std::ostream& operator<<(std::ostream& os, const Version& v) {
    v.put(os);
    return os;
}

// "snapshot", "test", "release", "unit-test"; "unknown" otherwise.
const char* version_string(Version::Type type);
// "S", "T", "R", "T"; "U" otherwise.
const char* version_suffix(Version::Type type);
std::ostream& operator<<(std::ostream& os, Version::Type type);
