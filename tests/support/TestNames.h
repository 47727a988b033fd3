#pragma once

#include <string>
#include <string_view>

namespace kds::test {

// A parameterised case's label made into a valid test name: every character
// that is not an ASCII letter or digit becomes '_'.
inline std::string TestName(std::string_view Label) {
    std::string Name(Label);
    for (char& C : Name) {
        const bool Alnum =
            (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9');
        if (!Alnum)
            C = '_';
    }
    return Name.empty() ? std::string("empty") : Name;
}

// For INSTANTIATE_TEST_SUITE_P over cases with a Name member.
struct TCaseName {
    template <typename Info> std::string operator()(const Info& I) const {
        return TestName(I.param.Name);
    }
};

} // namespace kds::test
