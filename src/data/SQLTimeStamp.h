#pragma once

// Date and time storage of typed values, and the conversions the row codec
// needs: calendar dates as day numbers, local time to and from UTC.
// Pure functions; any thread. The local-time conversions use the process's
// time zone (TZ) through the C library.

#include <cstdint>
#include <string>

namespace kds {

// A calendar date as a day number: 0001-01-01 is day 1.
using TDBXDate = int32_t;
// A time of day in milliseconds since midnight.
using TDBXTime = int32_t;
// Days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

inline constexpr int32_t MSecsPerDay = 86400000;
// Day number of 1899-12-30 and of 1970-01-01.
inline constexpr int32_t DateDelta = 693594;
inline constexpr int32_t UnixDateDelta = 25569; // days from 1899-12-30 to 1970-01-01

struct TSQLTimeStamp {
    int16_t Year = 0;
    uint16_t Month = 0;
    uint16_t Day = 0;
    uint16_t Hour = 0;
    uint16_t Minute = 0;
    uint16_t Second = 0;
    uint32_t Fractions = 0; // milliseconds
    friend bool operator==(const TSQLTimeStamp&, const TSQLTimeStamp&) = default;
};

struct TSQLTimeStampOffset {
    int16_t Year = 0;
    uint16_t Month = 0;
    uint16_t Day = 0;
    uint16_t Hour = 0;
    uint16_t Minute = 0;
    uint16_t Second = 0;
    uint32_t Fractions = 0; // milliseconds
    int16_t TimeZoneHour = 0;
    int16_t TimeZoneMinute = 0;
    friend bool operator==(const TSQLTimeStampOffset&, const TSQLTimeStampOffset&) = default;
};

// Whether the fields are a date of the years 1 to 9999.
bool IsValidDate(int32_t Year, int32_t Month, int32_t Day);
// Day number of 9999-12-31, the last date a row carries (0001-01-01 is 1).
inline constexpr TDBXDate MaxDBXDate = 3652059;
constexpr bool IsValidDBXDate(TDBXDate Date) {
    return Date >= 1 && Date <= MaxDBXDate;
}
// Whether the fields are a time of day: hours 0 to 23, minutes and seconds 0
// to 59 (no leap second).
constexpr bool IsValidTimeOfDay(int32_t Hour, int32_t Minute, int32_t Second) {
    return Hour >= 0 && Hour <= 23 && Minute >= 0 && Minute <= 59 && Second >= 0 && Second <= 59;
}
// Day number of a valid date (see IsValidDate; no check here).
TDBXDate EncodeDBXDate(int32_t Year, int32_t Month, int32_t Day);
// Calendar date of a day number (day 1 and later).
void DecodeDBXDate(TDBXDate Date, int32_t& Year, int32_t& Month, int32_t& Day);

// Orders timestamps field by field; -1, 0 or 1.
int32_t CompareTimeStamps(const TSQLTimeStamp& A, const TSQLTimeStamp& B);
TDateTime SQLTimeStampToDateTime(const TSQLTimeStamp& Value);

// Local wall-clock time (seconds precision) to seconds since 1970-01-01 UTC.
// False when the C library cannot represent it.
bool LocalTimeStampToUnixSeconds(const TSQLTimeStamp& Value, int64_t& Seconds);
// Seconds since 1970-01-01 UTC to local wall-clock time; Fractions is left 0.
// False when the result falls outside the years 1 to 9999.
bool UnixSecondsToLocalTimeStamp(int64_t Seconds, TSQLTimeStamp& Value);

} // namespace kds
