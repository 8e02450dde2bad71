#include "runtime/ini_reader.h"

namespace IniFile {

namespace Private {

bool ParseBool(const char* text, bool* value) {
    static const Symbol<bool> words[] = {
        {"true", true},    {"false", false},    {"yes", true},    {"no", false},
        {"enabled", true}, {"disabled", false}, {"enable", true}, {"disable", false},
        {"1", true},       {"0", false},        {nullptr, false},
    };
    for (const Symbol<bool>* row = words; row->name; ++row) {
        if (std::strcmp(row->name, text) == 0) {
            *value = row->value;
            return true;
        }
    }
    return false;
}

}  // namespace Private

bool Reader::parse(SubSection& section) {
    for (Private::KeyValue* kv : required.keys())
        if (!ParseRequired(section, *kv)) return false;
    for (Private::KeyValue* kv : optional.keys()) ParseOptional(section, *kv);
    return true;
}

bool Reader::ParseRequired(SubSection& section, Private::KeyValue& kv) {
    const Key& key = section[kv.name()];
    switch (key.SubKeyCount()) {
        case 0:
            *out_ << prefix_ << "required key \"" << kv.name() << "\""
                  << " not present, line " << section.LineNo() << std::endl;
            return false;
        case 1: {
            const SubKey& only = *key.First();
            kv.parsed = kv.do_parse(only.mValue.c_str());
            if (!kv.parsed)
                *out_ << prefix_ << "required key \"" << kv.name() << "\""
                      << " has invalid value=\"" << only.mValue << "\","
                      << " line " << only.mLineNo << std::endl;
            return kv.parsed;
        }
        default:
            ReportRepeated("required", key, " line.", " lines");
            return false;
    }
}

void Reader::ParseOptional(SubSection& section, Private::KeyValue& kv) {
    const Key& key = section[kv.name()];
    kv.parsed = false;
    switch (key.SubKeyCount()) {
        case 0:
            return;
        case 1: {
            const SubKey& only = *key.First();
            kv.parsed = kv.do_parse(only.mValue.c_str());
            if (!kv.parsed)
                *out_ << prefix_ << "optional key \"" << kv.name() << "\""
                      << " has invalid value=\"" << only.mValue << "\","
                      << " line " << only.mLineNo << ". Key will be ignored." << std::endl;
            return;
        }
        default:
            ReportRepeated("optional", key, " line. Both keys will be ignored.",
                           " lines. All keys will be ignored.");
    }
}

// Two occurrences take three lines; more take one line with every line number.
void Reader::ReportRepeated(const char* kind, const Key& key, const char* twiceEnd,
                            const char* moreEnd) {
    *out_ << prefix_ << kind << " key \"" << key.name() << "\"";
    if (key.SubKeyCount() == 2) {
        *out_ << " is duplicated!" << std::endl;
        *out_ << prefix_ << " first occurence at " << key.First()->mLineNo << " line." << std::endl;
        *out_ << prefix_ << " second occurence at " << key.Last()->mLineNo << twiceEnd << std::endl;
        return;
    }
    *out_ << " specified more than once:";
    for (const SubKey& subKey : key) *out_ << " " << subKey.mLineNo;
    *out_ << moreEnd << std::endl;
}

}  // namespace IniFile
