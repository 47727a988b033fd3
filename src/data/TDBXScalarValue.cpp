// The scalar values: one storage slot of a fixed kind (declared in
// data/TDBXValue.h).

#include "ValueHelpers.h"
#include "base/NumberFormat.h"
#include "base/TextConvert.h"
#include "data/TDBXFormatter.h"
#include "data/TDBXRow.h"
#include "data/TDBXValue.h"

namespace kds {

using namespace valuedetail;

// ---------------------------------------------------------------------------
// Scalar values

using K = TDBXScalarKind;

#define KDS_SCALAR_GET(Method, Kind, Type)                                                         \
    template <TDBXScalarKind KD, typename T> Type TDBXScalarValue<KD, T>::Method() {               \
        if constexpr (KD == K::Kind)                                                               \
            return Get();                                                                          \
        else                                                                                       \
            return TDBXWritableValue::Method();                                                    \
    }
#define KDS_SCALAR_SET(Method, Kind, Arg)                                                          \
    template <TDBXScalarKind KD, typename T> void TDBXScalarValue<KD, T>::Method(Arg V) {          \
        if constexpr (KD == K::Kind)                                                               \
            Put(V);                                                                                \
        else                                                                                       \
            TDBXWritableValue::Method(V);                                                          \
    }

KDS_SCALAR_GET(GetBoolean, Boolean, bool)
KDS_SCALAR_GET(GetInt8, Int8, int8_t)
KDS_SCALAR_GET(GetUInt8, UInt8, uint8_t)
KDS_SCALAR_GET(GetInt16, Int16, int16_t)
KDS_SCALAR_GET(GetUInt16, UInt16, uint16_t)
KDS_SCALAR_GET(GetInt32, Int32, int32_t)
KDS_SCALAR_GET(GetInt64, Int64, int64_t)
KDS_SCALAR_GET(GetSingle, Single, float)
KDS_SCALAR_GET(GetDouble, Double, double)
KDS_SCALAR_GET(GetDate, Date, TDBXDate)
KDS_SCALAR_GET(GetTime, Time, TDBXTime)
KDS_SCALAR_GET(GetTimeStamp, TimeStamp, TSQLTimeStamp)
KDS_SCALAR_GET(GetTimeStampOffset, TimeStampOffset, TSQLTimeStampOffset)
KDS_SCALAR_GET(GetBcd, Bcd, TBcd)

KDS_SCALAR_SET(SetBoolean, Boolean, bool)
KDS_SCALAR_SET(SetInt8, Int8, int8_t)
KDS_SCALAR_SET(SetUInt8, UInt8, uint8_t)
KDS_SCALAR_SET(SetInt16, Int16, int16_t)
KDS_SCALAR_SET(SetUInt16, UInt16, uint16_t)
KDS_SCALAR_SET(SetInt32, Int32, int32_t)
KDS_SCALAR_SET(SetInt64, Int64, int64_t)
KDS_SCALAR_SET(SetSingle, Single, float)
KDS_SCALAR_SET(SetDouble, Double, double)
KDS_SCALAR_SET(SetDate, Date, TDBXDate)
KDS_SCALAR_SET(SetTime, Time, TDBXTime)
KDS_SCALAR_SET(SetTimeStamp, TimeStamp, const TSQLTimeStamp&)
KDS_SCALAR_SET(SetTimeStampOffset, TimeStampOffset, const TSQLTimeStampOffset&)
KDS_SCALAR_SET(SetBcd, Bcd, const TBcd&)

#undef KDS_SCALAR_GET
#undef KDS_SCALAR_SET

template <TDBXScalarKind KD, typename T> T TDBXScalarValue<KD, T>::Fetch(TDBXValue& Other) {
    if constexpr (KD == K::Boolean)
        return Other.GetBoolean();
    else if constexpr (KD == K::Int8)
        return Other.GetInt8();
    else if constexpr (KD == K::UInt8)
        return Other.GetUInt8();
    else if constexpr (KD == K::Int16)
        return Other.GetInt16();
    else if constexpr (KD == K::UInt16)
        return Other.GetUInt16();
    else if constexpr (KD == K::Int32)
        return Other.GetInt32();
    else if constexpr (KD == K::Int64)
        return Other.GetInt64();
    else if constexpr (KD == K::Single)
        return Other.GetSingle();
    else if constexpr (KD == K::Double)
        return Other.GetDouble();
    else if constexpr (KD == K::Date)
        return Other.GetDate();
    else if constexpr (KD == K::Time)
        return Other.GetTime();
    else if constexpr (KD == K::TimeStamp)
        return Other.GetTimeStamp();
    else if constexpr (KD == K::TimeStampOffset)
        return Other.GetTimeStampOffset();
    else
        return Other.GetBcd();
}

template <TDBXScalarKind KD, typename T> void TDBXScalarValue<KD, T>::ReadFromRow(TDBXRow& Row) {
    FValue = T{};
    if constexpr (KD == K::Boolean)
        Row.GetBoolean(*this, FValue, FIsNull);
    else if constexpr (KD == K::Int8)
        Row.GetInt8(*this, FValue, FIsNull);
    else if constexpr (KD == K::UInt8)
        Row.GetUInt8(*this, FValue, FIsNull);
    else if constexpr (KD == K::Int16)
        Row.GetInt16(*this, FValue, FIsNull);
    else if constexpr (KD == K::UInt16)
        Row.GetUInt16(*this, FValue, FIsNull);
    else if constexpr (KD == K::Int32)
        Row.GetInt32(*this, FValue, FIsNull);
    else if constexpr (KD == K::Int64)
        Row.GetInt64(*this, FValue, FIsNull);
    else if constexpr (KD == K::Single)
        Row.GetSingle(*this, FValue, FIsNull);
    else if constexpr (KD == K::Double) {
        if (FValueType->SubType() == TDBXSubDataTypes::SingleSubType) {
            float Single = 0;
            Row.GetSingle(*this, Single, FIsNull);
            FValue = Single;
        } else {
            Row.GetDouble(*this, FValue, FIsNull);
        }
    } else if constexpr (KD == K::Date)
        Row.GetDate(*this, FValue, FIsNull);
    else if constexpr (KD == K::Time)
        Row.GetTime(*this, FValue, FIsNull);
    else if constexpr (KD == K::TimeStamp)
        Row.GetTimeStamp(*this, FValue, FIsNull);
    else if constexpr (KD == K::TimeStampOffset)
        Row.GetTimeStampOffset(*this, FValue, FIsNull);
    else
        Row.GetBcd(*this, FValue, FIsNull);
}

template <TDBXScalarKind KD, typename T> void TDBXScalarValue<KD, T>::WriteToRow(TDBXRow& Row) {
    if constexpr (KD == K::Boolean)
        Row.SetBoolean(*this, FValue);
    else if constexpr (KD == K::Single)
        Row.SetSingle(*this, FValue);
    else if constexpr (KD == K::Double) {
        if (FValueType->SubType() == TDBXSubDataTypes::SingleSubType)
            Row.SetSingle(*this, static_cast<float>(FValue));
        else
            Row.SetDouble(*this, FValue);
    } else if constexpr (KD == K::Date)
        Row.SetDate(*this, FValue);
    else if constexpr (KD == K::Time)
        Row.SetTime(*this, FValue);
    else if constexpr (KD == K::TimeStamp)
        Row.SetTimeStamp(*this, FValue);
    else if constexpr (KD == K::TimeStampOffset)
        Row.SetTimeStampOffset(*this, FValue);
    else if constexpr (KD == K::Bcd)
        Row.SetBcd(*this, FValue);
    else
        Row.SetInt64(*this, static_cast<int64_t>(FValue));
}

template <TDBXScalarKind KD, typename T> int64_t TDBXScalarValue<KD, T>::GetValueSize() {
    return IsNull() ? 0 : static_cast<int64_t>(sizeof(T));
}

template <TDBXScalarKind KD, typename T> void TDBXScalarValue<KD, T>::SetValue(TDBXValue& Other) {
    if (Other.IsNull())
        SetNull();
    else
        Put(Fetch(Other));
}

template <TDBXScalarKind KD, typename T> int32_t TDBXScalarValue<KD, T>::Compare(TDBXValue& Other) {
    int32_t Result = 0;
    if (NullOrder(*this, Other, Result))
        return Result;
    return Order(Get(), Fetch(Other));
}

template <TDBXScalarKind KD, typename T>
bool TDBXScalarValue<KD, T>::EqualsValue(TDBXValue& Other) {
    return Compare(Other) == 0;
}

template <TDBXScalarKind KD, typename T> std::string TDBXScalarValue<KD, T>::AsAnsiString() {
    return Utf16ToUtf8(AsString());
}

template <TDBXScalarKind KD, typename T> std::u16string TDBXScalarValue<KD, T>::AsString() {
    if (IsNull())
        return std::u16string();
    const T V = Get();
    if constexpr (KD == K::Boolean)
        return V ? u"True" : u"False";
    else if constexpr (KD == K::Single || KD == K::Double)
        return Ascii(FloatToStrGeneral(static_cast<double>(V), TNumberFormat::DecimalSeparator()));
    else if constexpr (KD == K::Date)
        return Ascii(Formatter().DateToString(V));
    else if constexpr (KD == K::Time)
        return Ascii(Formatter().TimeToString(V));
    else if constexpr (KD == K::TimeStamp)
        return Ascii(Formatter().TimeStampToString(V));
    else if constexpr (KD == K::TimeStampOffset)
        return Ascii(Formatter().TimeStampOffsetToString(V));
    else if constexpr (KD == K::Bcd)
        return Ascii(Formatter().BcdToString(V));
    else
        return Ascii(std::to_string(static_cast<int64_t>(V)));
}

template <TDBXScalarKind KD, typename T> TDateTime TDBXScalarValue<KD, T>::AsDateTime() {
    if constexpr (KD == K::Date)
        return IsNull() ? 0.0 : static_cast<TDateTime>(Get() - DateDelta);
    else if constexpr (KD == K::Time)
        return IsNull() ? 0.0 : static_cast<TDateTime>(Get()) / MSecsPerDay;
    else
        return TDBXWritableValue::AsDateTime();
}

template class TDBXScalarValue<K::Boolean, bool>;
template class TDBXScalarValue<K::Int8, int8_t>;
template class TDBXScalarValue<K::UInt8, uint8_t>;
template class TDBXScalarValue<K::Int16, int16_t>;
template class TDBXScalarValue<K::UInt16, uint16_t>;
template class TDBXScalarValue<K::Int32, int32_t>;
template class TDBXScalarValue<K::Int64, int64_t>;
template class TDBXScalarValue<K::Single, float>;
template class TDBXScalarValue<K::Double, double>;
template class TDBXScalarValue<K::Date, TDBXDate>;
template class TDBXScalarValue<K::Time, TDBXTime>;
template class TDBXScalarValue<K::TimeStamp, TSQLTimeStamp>;
template class TDBXScalarValue<K::TimeStampOffset, TSQLTimeStampOffset>;
template class TDBXScalarValue<K::Bcd, TBcd>;

} // namespace kds
