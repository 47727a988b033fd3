#pragma once

// A decimal number of up to 64 significant digits, the storage of BCD and
// currency values. It travels as decimal text; the scale (digits after the
// point) is kept as given, so "1.50" stays "1.50". A plain value type; any
// thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace kds {

class TBcd {
public:
    static constexpr int32_t MaxDigits = 64;

    // Zero.
    TBcd() = default;

    // Optional sign, digits with at most one Separator, at least one digit;
    // at most MaxDigits digits. False (Value untouched) otherwise.
    static bool TryParse(std::string_view Text, char Separator, TBcd& Value);
    // Magnitude / 10^Scale with a sign; Scale up to 64.
    static TBcd FromScaled(uint64_t Magnitude, int32_t Scale, bool Negative);

    // "-" for negatives, the integer digits (at least one), then Separator
    // and the fraction digits when the scale is not 0.
    std::string ToString(char Separator = '.') const;
    double ToDouble() const;

    bool IsNegative() const { return FNegative; }
    int32_t Scale() const { return FScale; }
    int32_t Precision() const { return static_cast<int32_t>(FDigits.size()); }

    // Numerical order (1.5 equals 1.50); -1, 0 or 1.
    static int32_t Compare(const TBcd& A, const TBcd& B);
    friend bool operator==(const TBcd& A, const TBcd& B) { return Compare(A, B) == 0; }

private:
    void Normalise();

    // Every digit, integer part first, without leading zeros before the
    // point (but at least one integer digit); FScale of them are fractional.
    std::string FDigits = "0";
    int32_t FScale = 0;
    bool FNegative = false;
};

} // namespace kds
