#include "data/TDBXFormatter.h"

#include <cstdio>

#include "base/NumberFormat.h"

namespace kds {

namespace {

// Reads exactly Count digits at Pos.
bool Digits(const std::string& Text, size_t& Pos, int Count, int32_t& Value) {
    Value = 0;
    for (int I = 0; I < Count; ++I, ++Pos) {
        if (Pos >= Text.size() || Text[Pos] < '0' || Text[Pos] > '9')
            return false;
        Value = Value * 10 + (Text[Pos] - '0');
    }
    return true;
}

bool Expect(const std::string& Text, size_t& Pos, char C) {
    if (Pos >= Text.size() || Text[Pos] != C)
        return false;
    ++Pos;
    return true;
}

bool ParseDate(const std::string& Text, size_t& Pos, int32_t& Y, int32_t& M, int32_t& D) {
    return Digits(Text, Pos, 4, Y) && Expect(Text, Pos, '-') && Digits(Text, Pos, 2, M) &&
           Expect(Text, Pos, '-') && Digits(Text, Pos, 2, D) && IsValidDate(Y, M, D);
}

bool ParseTime(const std::string& Text, size_t& Pos, int32_t& H, int32_t& N, int32_t& S,
               int32_t& Ms) {
    Ms = 0;
    if (!(Digits(Text, Pos, 2, H) && Expect(Text, Pos, ':') && Digits(Text, Pos, 2, N) &&
          Expect(Text, Pos, ':') && Digits(Text, Pos, 2, S)))
        return false;
    if (Pos < Text.size() && Text[Pos] == '.') {
        ++Pos;
        if (!Digits(Text, Pos, 3, Ms))
            return false;
    }
    return H < 24 && N < 60 && S < 60;
}

[[noreturn]] void Invalid(const std::string& Text, const char* What) {
    throw EConvertError("'" + Text + "' is not a valid " + What);
}

std::string Format(const char* Pattern, int A, int B, int C, int D = 0, int E = 0, int F = 0,
                   int G = 0) {
    char Buffer[64];
    std::snprintf(Buffer, sizeof Buffer, Pattern, A, B, C, D, E, F, G);
    return Buffer;
}

// Timestamps with and without an offset share their date and time parts.
template <typename T> std::string DateTimeText(const T& V) {
    return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", V.Year, V.Month, V.Day, V.Hour, V.Minute,
                  V.Second, static_cast<int>(V.Fractions));
}

template <typename T>
void SetDateTimeParts(T& V, int32_t Y, int32_t M, int32_t D, int32_t H, int32_t N, int32_t S,
                      int32_t Ms) {
    V.Year = static_cast<int16_t>(Y);
    V.Month = static_cast<uint16_t>(M);
    V.Day = static_cast<uint16_t>(D);
    V.Hour = static_cast<uint16_t>(H);
    V.Minute = static_cast<uint16_t>(N);
    V.Second = static_cast<uint16_t>(S);
    V.Fractions = static_cast<uint32_t>(Ms);
}

} // namespace

TDBXFormatter& TDBXFormatter::Default() {
    static TDBXFormatter Instance;
    return Instance;
}

std::string TDBXFormatter::DateToString(TDBXDate Value) const {
    int32_t Y = 0, M = 0, D = 0;
    DecodeDBXDate(Value, Y, M, D);
    return Format("%04d-%02d-%02d", Y, M, D);
}

TDBXDate TDBXFormatter::StringToDate(const std::string& Text) const {
    size_t Pos = 0;
    int32_t Y = 0, M = 0, D = 0;
    if (!ParseDate(Text, Pos, Y, M, D) || Pos != Text.size())
        Invalid(Text, "date");
    return EncodeDBXDate(Y, M, D);
}

std::string TDBXFormatter::TimeToString(TDBXTime Value) const {
    const int32_t Ms = Value % 1000, S = Value / 1000 % 60, N = Value / 60000 % 60,
                  H = Value / 3600000;
    return Format("%02d:%02d:%02d.%03d", H, N, S, Ms);
}

TDBXTime TDBXFormatter::StringToTime(const std::string& Text) const {
    size_t Pos = 0;
    int32_t H = 0, N = 0, S = 0, Ms = 0;
    if (!ParseTime(Text, Pos, H, N, S, Ms) || Pos != Text.size())
        Invalid(Text, "time");
    return ((H * 60 + N) * 60 + S) * 1000 + Ms;
}

std::string TDBXFormatter::TimeStampToString(const TSQLTimeStamp& V) const {
    return DateTimeText(V);
}

TSQLTimeStamp TDBXFormatter::StringToTimeStamp(const std::string& Text) const {
    size_t Pos = 0;
    int32_t Y = 0, M = 0, D = 0, H = 0, N = 0, S = 0, Ms = 0;
    if (!ParseDate(Text, Pos, Y, M, D) || !Expect(Text, Pos, ' ') ||
        !ParseTime(Text, Pos, H, N, S, Ms) || Pos != Text.size())
        Invalid(Text, "date and time");
    TSQLTimeStamp V;
    SetDateTimeParts(V, Y, M, D, H, N, S, Ms);
    return V;
}

std::string TDBXFormatter::TimeStampOffsetToString(const TSQLTimeStampOffset& V) const {
    const bool Negative = V.TimeZoneHour < 0 || V.TimeZoneMinute < 0;
    const int ZH = V.TimeZoneHour < 0 ? -V.TimeZoneHour : V.TimeZoneHour;
    const int ZM = V.TimeZoneMinute < 0 ? -V.TimeZoneMinute : V.TimeZoneMinute;
    return DateTimeText(V) + (Negative ? " -" : " +") + Format("%02d:%02d", ZH, ZM, 0);
}

TSQLTimeStampOffset TDBXFormatter::StringToTimeStampOffset(const std::string& Text) const {
    size_t Pos = 0;
    int32_t Y = 0, M = 0, D = 0, H = 0, N = 0, S = 0, Ms = 0, ZH = 0, ZM = 0;
    bool Ok = ParseDate(Text, Pos, Y, M, D) && Expect(Text, Pos, ' ') &&
              ParseTime(Text, Pos, H, N, S, Ms) && Expect(Text, Pos, ' ');
    bool Negative = false;
    if (Ok && Pos < Text.size() && (Text[Pos] == '+' || Text[Pos] == '-')) {
        Negative = Text[Pos] == '-';
        ++Pos;
        Ok = Digits(Text, Pos, 2, ZH) && Expect(Text, Pos, ':') && Digits(Text, Pos, 2, ZM) &&
             ZH <= 14 && ZM < 60 && Pos == Text.size();
    } else {
        Ok = false;
    }
    if (!Ok)
        Invalid(Text, "date and time with offset");
    TSQLTimeStampOffset V;
    SetDateTimeParts(V, Y, M, D, H, N, S, Ms);
    V.TimeZoneHour = static_cast<int16_t>(Negative ? -ZH : ZH);
    V.TimeZoneMinute = static_cast<int16_t>(Negative ? -ZM : ZM);
    return V;
}

std::string TDBXFormatter::BcdToString(const TBcd& Value) const {
    return Value.ToString(static_cast<char>(TNumberFormat::DecimalSeparator()));
}

TBcd TDBXFormatter::StringToBcd(const std::string& Text) const {
    TBcd Value;
    if (!TBcd::TryParse(Text, static_cast<char>(TNumberFormat::DecimalSeparator()), Value))
        Invalid(Text, "BCD value");
    return Value;
}

} // namespace kds
