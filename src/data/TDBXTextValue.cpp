// The 8-bit and UTF-16 text values (declared in data/TDBXValue.h).

#include <cmath>
#include <limits>

#include "ValueHelpers.h"
#include "base/NumberFormat.h"
#include "base/TextConvert.h"
#include "data/TDBXFormatter.h"
#include "data/TDBXRow.h"
#include "data/TDBXValue.h"

namespace kds {

using namespace valuedetail;

// ---------------------------------------------------------------------------
// Text values

template <typename S> constexpr bool IsWide = std::is_same_v<S, std::u16string>;

template <typename S> std::string TDBXTextValue<S>::Narrow() {
    Sync();
    if constexpr (IsWide<S>)
        return NarrowText(FValue);
    else
        return FValue;
}

template <typename S> std::u16string TDBXTextValue<S>::Wide() {
    Sync();
    if constexpr (IsWide<S>)
        return FValue;
    else
        return Widen(FValue);
}

template <typename S> std::string TDBXTextValue<S>::GetAnsiString() {
    if constexpr (IsWide<S>)
        return TDBXWritableValue::GetAnsiString();
    else
        return Narrow();
}

template <typename S> void TDBXTextValue<S>::SetAnsiString(const std::string& V) {
    if constexpr (IsWide<S>) {
        TDBXWritableValue::SetAnsiString(V);
    } else {
        FValue = V;
        Stored();
    }
}

template <typename S> std::u16string TDBXTextValue<S>::GetWideString() {
    if constexpr (IsWide<S>)
        return Wide();
    else
        return TDBXWritableValue::GetWideString();
}

template <typename S> void TDBXTextValue<S>::SetWideString(const std::u16string& V) {
    if constexpr (IsWide<S>) {
        FValue = V;
        Stored();
    } else {
        TDBXWritableValue::SetWideString(V);
    }
}

template <typename S> std::u16string TDBXTextValue<S>::GetString() {
    return Wide();
}

template <typename S> void TDBXTextValue<S>::SetString(const std::u16string& V) {
    if constexpr (IsWide<S>)
        FValue = V;
    else
        FValue = NarrowText(V);
    Stored();
}

template <typename S> int64_t TDBXTextValue<S>::GetValueSize() {
    Sync();
    return FIsNull ? 0 : static_cast<int64_t>(FValue.size() * sizeof(typename S::value_type));
}

template <typename S> void TDBXTextValue<S>::SetValue(TDBXValue& Other) {
    if (Other.IsNull()) {
        SetNull();
        return;
    }
    if constexpr (IsWide<S>)
        FValue = Other.GetWideString();
    else
        FValue = Other.GetAnsiString();
    Stored();
}

template <typename S> int32_t TDBXTextValue<S>::Compare(TDBXValue& Other) {
    int32_t Result = 0;
    if (NullOrder(*this, Other, Result))
        return Result;
    Sync();
    if constexpr (IsWide<S>) {
        const std::u16string O = Other.GetWideString();
        return Order(FValue, O);
    } else {
        const std::string O = Other.GetAnsiString();
        const int C = FValue.compare(O);
        return C < 0 ? -1 : (C > 0 ? 1 : 0);
    }
}

template <typename S> bool TDBXTextValue<S>::EqualsValue(TDBXValue& Other) {
    return Compare(Other) == 0;
}

template <typename S> std::u16string TDBXTextValue<S>::AsString() {
    return Wide();
}
template <typename S> std::string TDBXTextValue<S>::AsAnsiString() {
    return Narrow();
}
template <typename S> bool TDBXTextValue<S>::AsBoolean() {
    return Wide() == u"True";
}

template <typename S> bool TDBXTextValue<S>::ToInt64(int64_t& V, int64_t Min, int64_t Max) {
    Sync();
    std::string Text;
    if constexpr (IsWide<S>)
        Text = Utf16ToUtf8(FValue);
    else
        Text = FValue;
    return TryTextToInt64(Text, V) && V >= Min && V <= Max;
}

#define KDS_TEXT_AS_INT(Method, Type)                                                              \
    template <typename S> Type TDBXTextValue<S>::Method() {                                        \
        int64_t V = 0;                                                                             \
        return ToInt64(V, std::numeric_limits<Type>::min(), std::numeric_limits<Type>::max())      \
                   ? static_cast<Type>(V)                                                          \
                   : Type{0};                                                                      \
    }
KDS_TEXT_AS_INT(AsInt8, int8_t)
KDS_TEXT_AS_INT(AsUInt8, uint8_t)
KDS_TEXT_AS_INT(AsInt16, int16_t)
KDS_TEXT_AS_INT(AsUInt16, uint16_t)
KDS_TEXT_AS_INT(AsInt32, int32_t)
KDS_TEXT_AS_INT(AsInt64, int64_t)
#undef KDS_TEXT_AS_INT

template <typename S> double TDBXTextValue<S>::AsDouble() {
    double V = 0;
    if (!TryTextToFloat(Utf16ToUtf8(Wide()), TNumberFormat::DecimalSeparator(), V))
        return 0;
    return V;
}

template <typename S> float TDBXTextValue<S>::AsSingle() {
    const double V = AsDouble();
    if (std::fabs(V) > std::numeric_limits<float>::max())
        return 0;
    return static_cast<float>(V);
}

template <typename S> TDBXDate TDBXTextValue<S>::AsDate() {
    return IsNull() ? TDBXDate{0} : Formatter().StringToDate(Narrow());
}
template <typename S> TDBXTime TDBXTextValue<S>::AsTime() {
    return IsNull() ? TDBXTime{0} : Formatter().StringToTime(Narrow());
}
template <typename S> TSQLTimeStamp TDBXTextValue<S>::AsTimeStamp() {
    return IsNull() ? TSQLTimeStamp{} : Formatter().StringToTimeStamp(Narrow());
}
template <typename S> TBcd TDBXTextValue<S>::AsBcd() {
    return IsNull() ? TBcd{} : Formatter().StringToBcd(Narrow());
}
template <typename S> TDateTime TDBXTextValue<S>::AsDateTime() {
    return IsNull() ? 0.0 : SQLTimeStampToDateTime(AsTimeStamp());
}

template <typename S> void TDBXTextValue<S>::ReadFromRow(TDBXRow& Row) {
    if constexpr (IsWide<S>)
        Row.GetWideString(*this, FValue, FIsNull);
    else
        Row.GetAnsiString(*this, FValue, FIsNull);
}

template <typename S> void TDBXTextValue<S>::WriteToRow(TDBXRow& Row) {
    if constexpr (IsWide<S>)
        Row.SetWideString(*this, FValue);
    else
        Row.SetAnsiString(*this, FValue);
}

template class TDBXTextValue<std::string>;
template class TDBXTextValue<std::u16string>;

} // namespace kds
