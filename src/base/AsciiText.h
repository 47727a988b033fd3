#pragma once

// Small text helpers that every layer needs. Case folding here is ASCII only,
// on purpose: names that the system matches without regard to case (method
// aliases, field names, file extensions, encoding names) must compare the same
// whatever the process locale is (a Turkish locale folds 'I' to a dotless i).
// Any character outside A-Z and a-z compares exactly.
//
// All functions are pure and may be called from any thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kds {

template <typename C> constexpr C AsciiLower(C Ch) {
    return (Ch >= C('A') && Ch <= C('Z')) ? C(Ch - C('A') + C('a')) : Ch;
}
template <typename C> constexpr C AsciiUpper(C Ch) {
    return (Ch >= C('a') && Ch <= C('z')) ? C(Ch - C('a') + C('A')) : Ch;
}

template <typename C> std::basic_string<C> AsciiLowerCase(std::basic_string_view<C> Text) {
    std::basic_string<C> Out(Text);
    for (C& Ch : Out)
        Ch = AsciiLower(Ch);
    return Out;
}
template <typename C> std::basic_string<C> AsciiUpperCase(std::basic_string_view<C> Text) {
    std::basic_string<C> Out(Text);
    for (C& Ch : Out)
        Ch = AsciiUpper(Ch);
    return Out;
}
inline std::string AsciiLowerCase(const std::string& Text) {
    return AsciiLowerCase(std::string_view(Text));
}
inline std::u16string AsciiUpperCase(const std::u16string& Text) {
    return AsciiUpperCase(std::u16string_view(Text));
}

// Equal when equal after ASCII case folding.
template <typename C>
constexpr bool SameTextAscii(std::basic_string_view<C> A, std::basic_string_view<C> B) {
    if (A.size() != B.size())
        return false;
    for (std::size_t I = 0; I < A.size(); ++I)
        if (AsciiLower(A[I]) != AsciiLower(B[I]))
            return false;
    return true;
}
inline bool SameTextAscii(std::string_view A, std::string_view B) {
    return SameTextAscii<char>(A, B);
}
inline bool SameTextAscii(std::u16string_view A, std::u16string_view B) {
    return SameTextAscii<char16_t>(A, B);
}

// Three-way comparison after ASCII case folding, then by code unit
// (unsigned), shorter first on a common prefix: <0, 0 or >0.
template <typename C>
constexpr int CompareTextAscii(std::basic_string_view<C> A, std::basic_string_view<C> B) {
    using U = std::make_unsigned_t<C>;
    const std::size_t N = A.size() < B.size() ? A.size() : B.size();
    for (std::size_t I = 0; I < N; ++I) {
        const U X = static_cast<U>(AsciiLower(A[I]));
        const U Y = static_cast<U>(AsciiLower(B[I]));
        if (X != Y)
            return X < Y ? -1 : 1;
    }
    return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}
inline int CompareTextAscii(std::string_view A, std::string_view B) {
    return CompareTextAscii<char>(A, B);
}
inline int CompareTextAscii(std::u16string_view A, std::u16string_view B) {
    return CompareTextAscii<char16_t>(A, B);
}

template <typename C>
constexpr bool StartsWithAscii(std::basic_string_view<C> Text, std::basic_string_view<C> Prefix) {
    return Text.size() >= Prefix.size() && SameTextAscii(Text.substr(0, Prefix.size()), Prefix);
}
template <typename C>
constexpr bool EndsWithAscii(std::basic_string_view<C> Text, std::basic_string_view<C> Suffix) {
    return Text.size() >= Suffix.size() &&
           SameTextAscii(Text.substr(Text.size() - Suffix.size()), Suffix);
}

// Upper-case hexadecimal digits, for escapes and dumps.
inline constexpr char UpperHexDigits[] = "0123456789ABCDEF";

// The value of one hexadecimal digit in either case, or -1.
template <typename C> constexpr int HexDigitValue(C Ch) {
    if (Ch >= C('0') && Ch <= C('9'))
        return static_cast<int>(Ch - C('0'));
    if (Ch >= C('a') && Ch <= C('f'))
        return static_cast<int>(Ch - C('a')) + 10;
    if (Ch >= C('A') && Ch <= C('F'))
        return static_cast<int>(Ch - C('A')) + 10;
    return -1;
}

// Splits Text at every Separator and drops the empty parts. With
// TrimBlanks, control characters and blanks (bytes up to 32) around each
// part are removed first: "A;B ; C" -> {"A", "B", "C"}.
std::vector<std::string> SplitList(std::string_view Text, char Separator, bool TrimBlanks);

} // namespace kds
