#pragma once
// Names parameterised test cases after a description of the case.

#include <cctype>
#include <string>

namespace test {

// gtest's printable name of a case whose parameter has a `what` text: that
// text with every character but letters and digits replaced by "_".
// A parameter that points to its case names the case it points to.
// INSTANTIATE_TEST_SUITE_P(Suite, Test, ValuesIn(cases), test::CaseName());
struct CaseName {
    template <class Info>
    std::string operator()(const Info& info) const {
        std::string name = what(info.param);
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    }

private:
    template <class Param>
    static std::string what(const Param& param) { return param.what; }
    template <class Param>
    static std::string what(const Param* param) { return param->what; }
};

}  // namespace test
