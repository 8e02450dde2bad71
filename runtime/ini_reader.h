#pragma once
// Reading one configuration subsection into typed variables. A component
// declares the keys it expects, each bound to a variable that holds its
// default, and lets a Reader check the subsection: a required key must occur
// exactly once with a valid value; an optional key may be absent, and a bad or
// repeated one is reported and ignored. Undeclared keys are ignored.

#include <cstdlib>
#include <cstring>
#include <list>
#include <ostream>
#include <string>
#include <type_traits>

#include "runtime/ini_file.h"

namespace IniFile {

// One row of a name-to-value table; a table ends with a row whose name is null.
template <class T>
struct Symbol {
    const char* name;
    T value;
};

namespace Private {

// One declared key.
class KeyValue {
public:
    virtual ~KeyValue() = default;
    virtual const char* name() const = 0;
    // Converts `text` into the bound variable; false (variable untouched)
    // when the text is not a valid value.
    virtual bool do_parse(const char* text) = 0;

    // The result of the last parse of this key.
    bool parsed = false;
};

// Boolean words: "true"/"false", "yes"/"no", "enabled"/"disabled",
// "enable"/"disable", "1"/"0", matched exactly.
bool ParseBool(const char* text, bool* value);

// A key bound to a variable of an enumerated type: a name from the table, or
// a whole number (decimal, 0x hexadecimal, 0 octal).
template <class T>
class TKeyValue : public KeyValue {
    static_assert(std::is_enum<T>::value || std::is_integral<T>::value,
                  "bool, std::string or an enumerated type");

public:
    TKeyValue(T* variable, const char* name, const Symbol<T>* table)
        : variable_(variable), name_(name), table_(table) {}
    const char* name() const override { return name_; }
    bool do_parse(const char* text) override {
        for (const Symbol<T>* row = table_; row && row->name; ++row) {
            if (std::strcmp(row->name, text) == 0) {
                *variable_ = row->value;
                return true;
            }
        }
        char* end = nullptr;
        // long long: the board's long is 32 bits and would clip 0xFFFFFFFF.
        long long number = std::strtoll(text, &end, 0);
        if (*text == '\0' || *end != '\0') return false;
        *variable_ = static_cast<T>(number);
        return true;
    }

private:
    T* variable_;
    const char* name_;
    const Symbol<T>* table_;
};

template <>
class TKeyValue<bool> : public KeyValue {
public:
    TKeyValue(bool* variable, const char* name, const Symbol<bool>*)
        : variable_(variable), name_(name) {}
    const char* name() const override { return name_; }
    bool do_parse(const char* text) override { return ParseBool(text, variable_); }

private:
    bool* variable_;
    const char* name_;
};

template <>
class TKeyValue<std::string> : public KeyValue {
public:
    TKeyValue(std::string* variable, const char* name, const Symbol<std::string>*)
        : variable_(variable), name_(name) {}
    const char* name() const override { return name_; }
    bool do_parse(const char* text) override {
        *variable_ = text;
        return true;
    }

private:
    std::string* variable_;
    const char* name_;
};

}  // namespace Private

class Reader {
public:
    // The declarations of one kind, in declaration order; owns them.
    class Field {
    public:
        Field() = default;
        Field(const Field&) = delete;
        Field& operator=(const Field&) = delete;
        ~Field() {
            for (Private::KeyValue* kv : keys_) delete kv;
        }

        // Takes `kv`; the returned flag tells later whether it parsed.
        bool& add(Private::KeyValue* kv) {
            keys_.push_back(kv);
            return kv->parsed;
        }
        template <class T>
        bool& add(T* variable, const char* name, const Symbol<T>* table = nullptr) {
            return add(new Private::TKeyValue<T>(variable, name, table));
        }

        const std::list<Private::KeyValue*>& keys() const { return keys_; }

    private:
        std::list<Private::KeyValue*> keys_;
    };

    // Complaints go to `out`, each line beginning with `prefix`.
    Reader(const std::string& prefix, std::ostream& out) : prefix_(prefix), out_(&out) {}

    // True when every required key occurs once with a valid value. The first
    // bad required key ends the parse.
    bool parse(SubSection& section);

    Field required;
    Field optional;

private:
    bool ParseRequired(SubSection& section, Private::KeyValue& kv);
    void ParseOptional(SubSection& section, Private::KeyValue& kv);
    void ReportRepeated(const char* kind, const Key& key, const char* twiceEnd,
                        const char* moreEnd);

    std::string prefix_;
    std::ostream* out_;
};

}  // namespace IniFile
