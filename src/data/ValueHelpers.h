#pragma once

// Internal to kds_data: the text widening and the orderings that the value
// classes share.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/TextConvert.h"
#include "data/SQLTimeStamp.h"
#include "data/TBcd.h"
#include "data/TDBXValue.h"

namespace kds::valuedetail {

inline std::u16string Widen(std::string_view Text) {
    std::u16string Result(Text.size(), u'\0');
    for (size_t I = 0; I < Text.size(); ++I)
        Result[I] = static_cast<unsigned char>(Text[I]);
    return Result;
}

inline std::string NarrowText(std::u16string_view Text) {
    std::string Result(Text.size(), '\0');
    for (size_t I = 0; I < Text.size(); ++I)
        Result[I] = Text[I] <= 0xFF ? static_cast<char>(Text[I]) : '?';
    return Result;
}

inline std::u16string Ascii(const std::string& Text) {
    return Utf8ToUtf16(Text);
}

template <typename T> int32_t Order(const T& A, const T& B) {
    return A < B ? -1 : (B < A ? 1 : 0);
}
inline int32_t Order(const TSQLTimeStamp& A, const TSQLTimeStamp& B) {
    return CompareTimeStamps(A, B);
}
inline int32_t Order(const TSQLTimeStampOffset& A, const TSQLTimeStampOffset& B) {
    const int64_t KA[9] = {A.Year,   A.Month,     A.Day,          A.Hour,          A.Minute,
                           A.Second, A.Fractions, A.TimeZoneHour, A.TimeZoneMinute};
    const int64_t KB[9] = {B.Year,   B.Month,     B.Day,          B.Hour,          B.Minute,
                           B.Second, B.Fractions, B.TimeZoneHour, B.TimeZoneMinute};
    for (int I = 0; I < 9; ++I) {
        if (KA[I] != KB[I])
            return KA[I] < KB[I] ? -1 : 1;
    }
    return 0;
}
inline int32_t Order(const TBcd& A, const TBcd& B) {
    return TBcd::Compare(A, B);
}

// Nulls first; both null are equal. Answers true when the order is decided.
inline bool NullOrder(TDBXValue& A, TDBXValue& B, int32_t& Result) {
    const bool NA = A.IsNull(), NB = B.IsNull();
    if (!NA && !NB)
        return false;
    Result = NA && NB ? 0 : (NA ? -1 : 1);
    return true;
}

} // namespace kds::valuedetail
