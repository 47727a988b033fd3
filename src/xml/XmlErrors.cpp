#include "xml/XmlErrors.h"

#include <cstdint>

#include "base/AsciiText.h"

namespace kds {

namespace {

[[noreturn]] void RaiseNotInteger(const std::string& Text) {
    throw EXmlConvertError("''" + Text + "'' is not a valid integer value");
}

} // namespace

int StrToInt(const std::string& Text) {
    std::size_t I = 0;
    bool Negative = false;
    if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) {
        Negative = Text[I] == '-';
        ++I;
    }
    int Base = 10;
    if (I < Text.size() && Text[I] == '$') {
        Base = 16;
        ++I;
    } else if (I + 1 < Text.size() && Text[I] == '0' &&
               (Text[I + 1] == 'x' || Text[I + 1] == 'X')) {
        Base = 16;
        I += 2;
    }
    if (I >= Text.size())
        RaiseNotInteger(Text);
    int64_t Value = 0;
    const int64_t Limit = Negative ? int64_t(INT32_MAX) + 1 : int64_t(INT32_MAX);
    for (; I < Text.size(); ++I) {
        const int D = HexDigitValue(Text[I]);
        if (D < 0 || D >= Base)
            RaiseNotInteger(Text);
        Value = Value * Base + D;
        if (Value > Limit)
            RaiseNotInteger(Text);
    }
    return static_cast<int>(Negative ? -Value : Value);
}

} // namespace kds
