#pragma once
// What the slot fuzzers draw from their input as a controller could send it:
// the command of one form of tests/support/controller_inputs.h with each
// INTEGER at an edge of its range, next to one, around 0 or anywhere in it,
// and user data of 0 to 2000 octets. Beside each draw, the call that writes
// the input drawing a given value (SeedWriter), so that the rows of the
// table seed the fuzzers' corpora: run a slot fuzzer with -write_seeds=DIR.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/controller_inputs.h"

namespace ControllerDraws {

using test::CommandForm;
using test::IntField;
using Forms = std::vector<CommandForm>;

constexpr size_t kLongestUserData = 2000;

// The input FuzzedDataProvider draws given values from, call by call: it
// takes integers from the input's end, most significant byte first, and
// byte strings from its front.
class SeedWriter {
public:
    template <class T>
    void integral_in_range(T lowest, T highest, T value) {
        const uint64_t range = static_cast<uint64_t>(highest) - static_cast<uint64_t>(lowest);
        const uint64_t offset = static_cast<uint64_t>(value) - static_cast<uint64_t>(lowest);
        size_t octets = 0;
        while (octets < sizeof(T) && (range >> (8 * octets)) > 0) ++octets;
        while (octets-- > 0) drawnFromEnd_ += static_cast<char>(offset >> (8 * octets));
    }
    void bytes(const std::string& octets) { front_ += octets; }
    std::string input() const {
        return front_ + std::string(drawnFromEnd_.rbegin(), drawnFromEnd_.rend());
    }

private:
    std::string front_;
    std::string drawnFromEnd_;  // in the order they are drawn
};

// ---- An INTEGER field

// The edges of the range, next to them, and around 0 where it is inside.
inline std::vector<int> boundaries(const IntField& field) {
    std::vector<int> out{field.lowest, field.highest};
    if (field.highest - int64_t{field.lowest} >= 2) {
        out.push_back(field.lowest + 1);
        out.push_back(field.highest - 1);
    }
    for (int around : {-1, 0, 1})
        if (around > field.lowest && around < field.highest) out.push_back(around);
    return out;
}

inline int draw_int(FuzzedDataProvider& in, const IntField& field) {
    const std::vector<int> edges = boundaries(field);
    const size_t pick = in.ConsumeIntegralInRange<size_t>(0, edges.size());
    return pick < edges.size() ? edges[pick] : in.ConsumeIntegralInRange(field.lowest, field.highest);
}

// Written as drawn anywhere in the range.
inline void put_int(SeedWriter& out, const IntField& field, int value) {
    const size_t anywhere = boundaries(field).size();
    out.integral_in_range<size_t>(0, anywhere, anywhere);
    out.integral_in_range(field.lowest, field.highest, value);
}

// ---- A command of one of the forms

inline LGCP::Command draw_command(FuzzedDataProvider& in, const Forms& forms,
                                  const CommandForm** drawn = nullptr) {
    const CommandForm& form = forms[in.ConsumeIntegralInRange<size_t>(0, forms.size() - 1)];
    CommandForm::Values values;
    for (const IntField& field : form.fields) values.push_back(draw_int(in, field));
    if (drawn) *drawn = &form;
    return form.build(values);
}

// The row's form with its field at the row's value (unless the field is the
// user data), the others as usual; false when the form is not among `forms`.
inline bool put_command(SeedWriter& out, const Forms& forms, const test::ControllerInput& row) {
    for (size_t index = 0; index < forms.size(); ++index) {
        const CommandForm& form = forms[index];
        if (std::strcmp(form.name, row.form) != 0) continue;
        out.integral_in_range<size_t>(0, forms.size() - 1, index);
        for (const IntField& field : form.fields)
            put_int(out, field, field.name == std::string(row.field) ? row.value : field.usual);
        return true;
    }
    return false;
}

// ---- User data

inline std::vector<char> draw_user_data(FuzzedDataProvider& in) {
    return in.ConsumeBytes<char>(in.ConsumeIntegralInRange<size_t>(0, kLongestUserData));
}

inline void put_user_data(SeedWriter& out, size_t octets) {
    out.integral_in_range<size_t>(0, kLongestUserData, octets);
    out.bytes(std::string(octets, 'u'));
}

// ---- Seeds

// The seed of a row, when the fuzzer can send it.
using SeedOf = std::function<std::optional<std::string>(const test::ControllerInput&)>;

// With "-write_seeds=DIR" among the arguments: one file per row the fuzzer
// can send, named after the row, then the process exits.
inline void write_seeds_if_asked(int argc, char** argv, const SeedOf& seed_of) {
    const char kFlag[] = "-write_seeds=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kFlag, sizeof kFlag - 1) != 0) continue;
        const std::string dir = argv[i] + sizeof kFlag - 1;
        for (const test::ControllerInput& row : test::controller_inputs()) {
            const std::optional<std::string> seed = seed_of(row);
            if (!seed) continue;
            std::string name = row.name();
            for (char& c : name)
                if (c == ' ') c = '_';
            FILE* file = std::fopen((dir + "/" + name).c_str(), "wb");
            if (!file || std::fwrite(seed->data(), 1, seed->size(), file) != seed->size()) {
                std::perror(name.c_str());
                std::exit(1);
            }
            std::fclose(file);
        }
        std::exit(0);
    }
}

}  // namespace ControllerDraws
