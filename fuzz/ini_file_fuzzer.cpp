// The configuration parser on arbitrary bytes: it must never fail, and the
// model it builds must hold what the grammar promises.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "runtime/ini_file.h"
#include "runtime/ini_reader.h"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

bool has_any(const std::string& text, const char* bytes) {
    return text.find_first_of(bytes) != std::string::npos;
}

void check_value(const std::string& value) {
    check(!has_any(value, "\r\n"));
    check(value.empty() || (value.front() != ' ' && value.back() != ' '));
}

void check_key(const IniFile::Key& key, int lastLine) {
    const std::string& name = key.name();
    // A line that begins with "=" starts its key name with it.
    check(!name.empty() && !has_any(name, "\r\n") && name.find('=', 1) == std::string::npos);
    check(name.front() != ' ' && name.front() != '\t' && name.front() != '#' &&
          name.front() != '[' && name.back() != ' ');
    int count = 0;
    int previousLine = 0;
    for (const IniFile::SubKey& subKey : key) {
        check_value(subKey.mValue);
        check(subKey.mLineNo > previousLine && subKey.mLineNo <= lastLine);
        previousLine = subKey.mLineNo;
        ++count;
    }
    check(count == key.SubKeyCount() && count > 0);
}

void check_sub_section(IniFile::SubSection& sub, int lastLine) {
    int count = 0;
    for (IniFile::Key& key : sub) {
        check_key(key, lastLine);
        check(&sub[key.name()] == &key);
        ++count;
    }
    check(count == sub.KeyCount());
}

// Reads the subsection as a component with one key of every type would.
void read_like_a_component(IniFile::SubSection& sub) {
    enum Kind { a, b };
    static const IniFile::Symbol<Kind> kinds[] = {{"a", a}, {"b", b}, {nullptr, a}};
    std::string text;
    Kind kind = a;
    bool flag = false;
    std::ostringstream out;
    IniFile::Reader reader("fuzz: ", out);
    reader.required.add(&text, "k");
    reader.optional.add(&flag, "flag");
    reader.optional.add(&kind, "kind", kinds);
    reader.parse(sub);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    IniFile::File file;
    in >> file;
    check(file.IsOpen());

    int lastLine = 1;
    for (char c : text) lastLine += c == '\n';

    int sections = 0;
    for (IniFile::Section& section : file) {
        check(!has_any(section.name(), "\r\n]"));
        check(&file[section.name()] == &section);
        int previousLine = 0;
        int subSections = 0;
        for (IniFile::SubSection& sub : section) {
            check(sub.LineNo() > previousLine && sub.LineNo() <= lastLine);
            previousLine = sub.LineNo();
            check_sub_section(sub, lastLine);
            read_like_a_component(sub);
            ++subSections;
        }
        check(subSections == section.SubSectionCount() && subSections > 0);
        ++sections;
    }
    check(sections == file.SectionCount());

    std::ostringstream dump;
    file.Dump(dump);
    return 0;
}
