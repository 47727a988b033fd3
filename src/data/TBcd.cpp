#include "data/TBcd.h"

#include <algorithm>

#include "base/NumberFormat.h"

namespace kds {

bool TBcd::TryParse(std::string_view Text, char Separator, TBcd& Value) {
    size_t I = 0;
    bool Negative = false;
    if (I < Text.size() && (Text[I] == '-' || Text[I] == '+')) {
        Negative = Text[I] == '-';
        ++I;
    }
    std::string Digits;
    int32_t Scale = 0;
    bool SeenSeparator = false;
    for (; I < Text.size(); ++I) {
        const char C = Text[I];
        if (C >= '0' && C <= '9') {
            if (Digits.size() >= static_cast<size_t>(MaxDigits) + 1)
                return false;
            Digits.push_back(C);
            if (SeenSeparator)
                ++Scale;
        } else if (C == Separator && !SeenSeparator) {
            SeenSeparator = true;
        } else {
            return false;
        }
    }
    if (Digits.empty())
        return false;
    TBcd Result;
    Result.FDigits = std::move(Digits);
    Result.FScale = Scale;
    Result.FNegative = Negative;
    Result.Normalise();
    if (Result.FDigits.size() > static_cast<size_t>(MaxDigits))
        return false;
    Value = std::move(Result);
    return true;
}

TBcd TBcd::FromScaled(uint64_t Magnitude, int32_t Scale, bool Negative) {
    TBcd Result;
    Result.FDigits = std::to_string(Magnitude);
    Result.FScale = std::clamp(Scale, 0, MaxDigits);
    Result.FNegative = Negative;
    Result.Normalise();
    return Result;
}

void TBcd::Normalise() {
    // At least one integer digit before the point.
    while (static_cast<int32_t>(FDigits.size()) <= FScale)
        FDigits.insert(FDigits.begin(), '0');
    // No leading zeros in the integer part.
    size_t Lead = 0;
    while (Lead + 1 < FDigits.size() - FScale && FDigits[Lead] == '0')
        ++Lead;
    FDigits.erase(0, Lead);
    if (FDigits.find_first_not_of('0') == std::string::npos)
        FNegative = false;
}

std::string TBcd::ToString(char Separator) const {
    std::string Text;
    if (FNegative)
        Text.push_back('-');
    const size_t IntDigits = FDigits.size() - FScale;
    Text.append(FDigits, 0, IntDigits);
    if (FScale > 0) {
        Text.push_back(Separator);
        Text.append(FDigits, IntDigits, std::string::npos);
    }
    return Text;
}

double TBcd::ToDouble() const {
    double Value = 0;
    TryTextToFloat(ToString('.'), u'.', Value);
    return Value;
}

int32_t TBcd::Compare(const TBcd& A, const TBcd& B) {
    const bool AZero = A.FDigits.find_first_not_of('0') == std::string::npos;
    const bool BZero = B.FDigits.find_first_not_of('0') == std::string::npos;
    const int32_t SignA = AZero ? 0 : (A.FNegative ? -1 : 1);
    const int32_t SignB = BZero ? 0 : (B.FNegative ? -1 : 1);
    if (SignA != SignB)
        return SignA < SignB ? -1 : 1;
    if (SignA == 0)
        return 0;
    // Same sign: compare magnitudes with the fractions padded to one scale.
    const int32_t Scale = std::max(A.FScale, B.FScale);
    std::string MA = A.FDigits + std::string(Scale - A.FScale, '0');
    std::string MB = B.FDigits + std::string(Scale - B.FScale, '0');
    int32_t Order = 0;
    if (MA.size() != MB.size())
        Order = MA.size() < MB.size() ? -1 : 1;
    else if (MA != MB)
        Order = MA < MB ? -1 : 1;
    return SignA < 0 ? -Order : Order;
}

} // namespace kds
