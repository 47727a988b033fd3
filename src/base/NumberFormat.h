#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kds {

// The runtime's conversion error: text that is not a number of the kind asked for.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The process-wide number format: the decimal separator used wherever a
// number is shown to, or read from, the operator (JSON number values, the
// order book). It comes from the system locale (LC_ALL / LC_NUMERIC / LANG)
// on first use, is settable by tests and start-up code, and never touches the
// C library's global locale. Any thread may read or set it.
class TNumberFormat {
public:
    static char16_t DecimalSeparator();
    static void SetDecimalSeparator(char16_t Separator);
    // Re-reads the separator from the environment's locale ("." when none).
    static void LoadFromSystemLocale();
};

// The general floating-point format at 15 significant digits: no exponent for
// magnitudes from 0.00001 up to below 10^15, else mantissa, "E", an optional
// "-" and the exponent without leading zeros (1E20). Result is UTF-8.
std::string FloatToStrGeneral(double Value, char16_t DecimalSeparator);

// Reads a decimal number written with the given separator: optional blanks,
// an optional sign, digits with at most one separator, an optional exponent
// (E or e, optional sign, digits), optional blanks. Out-of-range values and
// anything else fail. Never depends on the C library's locale.
bool TryTextToFloat(std::string_view Text, char16_t DecimalSeparator, double& Value);

// Reads a decimal integer: optional blanks, optional sign, digits, optional
// blanks; fails on anything else and on overflow.
bool TryTextToInt64(std::string_view Text, int64_t& Value);
bool TryTextToInt32(std::string_view Text, int32_t& Value);

} // namespace kds
