#include "base/NumberFormat.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <langinfo.h>
#include <locale.h>

#include "base/TextConvert.h"

namespace kds {

namespace {

char16_t SeparatorOfSystemLocale() {
    locale_t Loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (Loc == static_cast<locale_t>(0))
        return u'.';
    std::u16string Radix = Utf8ToUtf16(nl_langinfo_l(RADIXCHAR, Loc));
    freelocale(Loc);
    return Radix.size() == 1 ? Radix[0] : u'.';
}

// 0 means "not read yet"; the separator itself is never NUL.
std::atomic<char16_t> GSeparator{0};

std::string SeparatorUtf8(char16_t Separator) {
    return Utf16ToUtf8(std::u16string_view(&Separator, 1));
}

bool IsBlank(char C) {
    return C == ' ' || C == '\t';
}

} // namespace

char16_t TNumberFormat::DecimalSeparator() {
    char16_t Sep = GSeparator.load(std::memory_order_acquire);
    if (Sep == 0) {
        char16_t Expected = 0;
        GSeparator.compare_exchange_strong(Expected, SeparatorOfSystemLocale());
        Sep = GSeparator.load(std::memory_order_acquire);
    }
    return Sep;
}

void TNumberFormat::SetDecimalSeparator(char16_t Separator) {
    GSeparator.store(Separator == 0 ? u'.' : Separator, std::memory_order_release);
}

void TNumberFormat::LoadFromSystemLocale() {
    SetDecimalSeparator(SeparatorOfSystemLocale());
}

std::string FloatToStrGeneral(double Value, char16_t DecimalSeparator) {
    if (std::isnan(Value))
        return "NAN";
    if (std::isinf(Value))
        return Value < 0 ? "-INF" : "INF";
    if (Value == 0)
        return "0";

    // "%.14e" gives exactly 15 significant digits, correctly rounded:
    // [-]d.dddddddddddddde[+-]xx
    char Buf[40];
    std::snprintf(Buf, sizeof Buf, "%.14e", Value);
    const char* P = Buf;
    std::string Result;
    if (*P == '-') {
        Result += '-';
        ++P;
    }
    std::string Digits;
    for (; *P != 'e'; ++P)
        if (*P >= '0' && *P <= '9')
            Digits += *P;
    int Exponent = std::atoi(P + 1);
    while (Digits.size() > 1 && Digits.back() == '0')
        Digits.pop_back();

    const std::string Sep = SeparatorUtf8(DecimalSeparator);
    if (Exponent >= -5 && Exponent < 15) {
        if (Exponent >= 0) {
            const size_t IntLen = static_cast<size_t>(Exponent) + 1;
            if (Digits.size() <= IntLen) {
                Result += Digits;
                Result.append(IntLen - Digits.size(), '0');
            } else {
                Result.append(Digits, 0, IntLen);
                Result += Sep;
                Result.append(Digits, IntLen, std::string::npos);
            }
        } else {
            Result += '0';
            Result += Sep;
            Result.append(static_cast<size_t>(-Exponent - 1), '0');
            Result += Digits;
        }
    } else {
        Result += Digits[0];
        if (Digits.size() > 1) {
            Result += Sep;
            Result.append(Digits, 1, std::string::npos);
        }
        Result += 'E';
        if (Exponent < 0)
            Result += '-';
        Result += std::to_string(std::abs(Exponent));
    }
    return Result;
}

bool TryTextToFloat(std::string_view Text, char16_t DecimalSeparator, double& Value) {
    const std::string Sep = SeparatorUtf8(DecimalSeparator);
    size_t I = 0;
    const size_t N = Text.size();
    while (I < N && IsBlank(Text[I]))
        ++I;
    size_t End = N;
    while (End > I && IsBlank(Text[End - 1]))
        --End;

    // Rebuild the number in the form std::from_chars reads ("." separator,
    // no "+"), which does not depend on any locale.
    std::string Plain;
    bool Negative = false;
    if (I < End && (Text[I] == '+' || Text[I] == '-')) {
        Negative = Text[I] == '-';
        ++I;
    }
    if (Negative)
        Plain += '-';
    size_t MantissaDigits = 0;
    bool SeenSeparator = false;
    while (I < End) {
        const char C = Text[I];
        if (C >= '0' && C <= '9') {
            Plain += C;
            ++MantissaDigits;
            ++I;
        } else if (!SeenSeparator && Text.substr(I, Sep.size()) == Sep) {
            Plain += '.';
            SeenSeparator = true;
            I += Sep.size();
        } else {
            break;
        }
    }
    if (MantissaDigits == 0)
        return false;
    if (I < End && (Text[I] == 'e' || Text[I] == 'E')) {
        Plain += 'e';
        ++I;
        if (I < End && (Text[I] == '+' || Text[I] == '-')) {
            if (Text[I] == '-')
                Plain += '-';
            ++I;
        }
        size_t ExponentDigits = 0;
        while (I < End && Text[I] >= '0' && Text[I] <= '9') {
            Plain += Text[I++];
            ++ExponentDigits;
        }
        if (ExponentDigits == 0)
            return false;
    }
    if (I != End)
        return false;
    double Parsed = 0;
    const auto [Ptr, Ec] = std::from_chars(Plain.data(), Plain.data() + Plain.size(), Parsed);
    if (Ec != std::errc() || Ptr != Plain.data() + Plain.size())
        return false;
    Value = Parsed;
    return true;
}

bool TryTextToInt64(std::string_view Text, int64_t& Value) {
    size_t I = 0;
    size_t End = Text.size();
    while (I < End && IsBlank(Text[I]))
        ++I;
    while (End > I && IsBlank(Text[End - 1]))
        --End;
    if (I < End && Text[I] == '+') {
        ++I; // from_chars accepts "-" but not "+"
        if (I < End && Text[I] == '-')
            return false;
    }
    if (I == End)
        return false;
    int64_t Parsed = 0;
    const auto [Ptr, Ec] = std::from_chars(Text.data() + I, Text.data() + End, Parsed);
    if (Ec != std::errc() || Ptr != Text.data() + End)
        return false;
    Value = Parsed;
    return true;
}

bool TryTextToInt32(std::string_view Text, int32_t& Value) {
    int64_t Wide = 0;
    if (!TryTextToInt64(Text, Wide) || Wide < INT32_MIN || Wide > INT32_MAX)
        return false;
    Value = static_cast<int32_t>(Wide);
    return true;
}

} // namespace kds
