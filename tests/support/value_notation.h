#pragma once
// Message values written and read in ASN.1 value notation, for tests that
// state a value as the protocol's documents write it.
//
//   auto status = test::value_of<TERM::RadioStatus>("vark : { ... }");
//   EXPECT_EQ(test::text_of(expected), test::text_of(status));

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "asn1/abstract_data.h"

namespace test {

// A value read from its value notation.
template <class T>
T value_of(const std::string& text) {
    T value;
    std::istringstream in(text);
    in >> value;
    EXPECT_FALSE(in.fail()) << text;
    return value;
}

inline std::string text_of(const ASN1::AbstractData& value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

}  // namespace test
