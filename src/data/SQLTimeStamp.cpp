#include "data/SQLTimeStamp.h"

#include <ctime>

namespace kds {

namespace {

bool IsLeapYear(int32_t Year) {
    return (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0;
}

// Days from 1970-01-01 of a proleptic Gregorian date (any year).
int64_t DaysFromCivil(int64_t Y, int64_t M, int64_t D) {
    Y -= M <= 2 ? 1 : 0;
    const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
    const int64_t Yoe = Y - Era * 400;
    const int64_t Doy = (153 * (M + (M > 2 ? -3 : 9)) + 2) / 5 + D - 1;
    const int64_t Doe = Yoe * 365 + Yoe / 4 - Yoe / 100 + Doy;
    return Era * 146097 + Doe - 719468;
}

void CivilFromDays(int64_t Z, int64_t& Y, int64_t& M, int64_t& D) {
    Z += 719468;
    const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
    const int64_t Doe = Z - Era * 146097;
    const int64_t Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
    const int64_t Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
    const int64_t Mp = (5 * Doy + 2) / 153;
    D = Doy - (153 * Mp + 2) / 5 + 1;
    M = Mp < 10 ? Mp + 3 : Mp - 9;
    Y = Yoe + Era * 400 + (M <= 2 ? 1 : 0);
}

// Day number (0001-01-01 = 1) of 1970-01-01.
constexpr int64_t UnixDayNumber = DateDelta + UnixDateDelta;

} // namespace

bool IsValidDate(int32_t Year, int32_t Month, int32_t Day) {
    static const int32_t Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1)
        return false;
    const int32_t Max = Days[Month - 1] + (Month == 2 && IsLeapYear(Year) ? 1 : 0);
    return Day <= Max;
}

TDBXDate EncodeDBXDate(int32_t Year, int32_t Month, int32_t Day) {
    return static_cast<TDBXDate>(DaysFromCivil(Year, Month, Day) + UnixDayNumber);
}

void DecodeDBXDate(TDBXDate Date, int32_t& Year, int32_t& Month, int32_t& Day) {
    int64_t Y = 0, M = 0, D = 0;
    CivilFromDays(static_cast<int64_t>(Date) - UnixDayNumber, Y, M, D);
    Year = static_cast<int32_t>(Y);
    Month = static_cast<int32_t>(M);
    Day = static_cast<int32_t>(D);
}

int32_t CompareTimeStamps(const TSQLTimeStamp& A, const TSQLTimeStamp& B) {
    const int64_t KA[7] = {A.Year, A.Month, A.Day, A.Hour, A.Minute, A.Second, A.Fractions};
    const int64_t KB[7] = {B.Year, B.Month, B.Day, B.Hour, B.Minute, B.Second, B.Fractions};
    for (int I = 0; I < 7; ++I) {
        if (KA[I] != KB[I])
            return KA[I] < KB[I] ? -1 : 1;
    }
    return 0;
}

TDateTime SQLTimeStampToDateTime(const TSQLTimeStamp& Value) {
    const double Days =
        static_cast<double>(DaysFromCivil(Value.Year, Value.Month, Value.Day) + UnixDateDelta);
    const double Ms =
        ((Value.Hour * 60.0 + Value.Minute) * 60.0 + Value.Second) * 1000.0 + Value.Fractions;
    return Days + Ms / MSecsPerDay;
}

bool LocalTimeStampToUnixSeconds(const TSQLTimeStamp& Value, int64_t& Seconds) {
    std::tm T{};
    T.tm_year = Value.Year - 1900;
    T.tm_mon = Value.Month - 1;
    T.tm_mday = Value.Day;
    T.tm_hour = Value.Hour;
    T.tm_min = Value.Minute;
    T.tm_sec = Value.Second;
    T.tm_isdst = -1;
    const std::time_t Result = std::mktime(&T);
    if (Result == static_cast<std::time_t>(-1)) {
        // -1 is also 1969-12-31 23:59:59 UTC; tell it apart by converting back.
        std::tm Back{};
        std::time_t Probe = -1;
        if (localtime_r(&Probe, &Back) == nullptr || Back.tm_year != Value.Year - 1900 ||
            Back.tm_mon != Value.Month - 1 || Back.tm_mday != Value.Day ||
            Back.tm_hour != Value.Hour || Back.tm_min != Value.Minute ||
            Back.tm_sec != Value.Second)
            return false;
    }
    Seconds = static_cast<int64_t>(Result);
    return true;
}

bool UnixSecondsToLocalTimeStamp(int64_t Seconds, TSQLTimeStamp& Value) {
    // Years 1..9999 span about +-2.5e11 seconds around 1970; reject far beyond
    // before asking the C library.
    if (Seconds < -62200000000LL || Seconds > 253500000000LL)
        return false;
    const std::time_t T = static_cast<std::time_t>(Seconds);
    std::tm L{};
    if (localtime_r(&T, &L) == nullptr)
        return false;
    const int64_t Year = static_cast<int64_t>(L.tm_year) + 1900;
    if (Year < 1 || Year > 9999)
        return false;
    Value.Year = static_cast<int16_t>(Year);
    Value.Month = static_cast<uint16_t>(L.tm_mon + 1);
    Value.Day = static_cast<uint16_t>(L.tm_mday);
    Value.Hour = static_cast<uint16_t>(L.tm_hour);
    Value.Minute = static_cast<uint16_t>(L.tm_min);
    Value.Second = static_cast<uint16_t>(L.tm_sec);
    Value.Fractions = 0;
    return true;
}

} // namespace kds
