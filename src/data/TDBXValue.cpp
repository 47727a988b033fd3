#include "data/TDBXValue.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/DBXContext.h"
#include "base/NumberFormat.h"
#include "base/TextConvert.h"
#include "data/DBXCallback.h"
#include "data/DBXJSON.h"
#include "data/TDBXConnection.h"
#include "data/TDBXFormatter.h"
#include "data/TDBXReader.h"
#include "data/TDBXRow.h"

namespace kds {

namespace DT = TDBXDataTypes;

namespace {

std::u16string Widen(std::string_view Text) {
    std::u16string Result(Text.size(), u'\0');
    for (size_t I = 0; I < Text.size(); ++I)
        Result[I] = static_cast<unsigned char>(Text[I]);
    return Result;
}

std::string NarrowText(std::u16string_view Text) {
    std::string Result(Text.size(), '\0');
    for (size_t I = 0; I < Text.size(); ++I)
        Result[I] = Text[I] <= 0xFF ? static_cast<char>(Text[I]) : '?';
    return Result;
}

std::u16string Ascii(const std::string& Text) {
    return Utf8ToUtf16(Text);
}

template <typename T> int32_t Order(const T& A, const T& B) {
    return A < B ? -1 : (B < A ? 1 : 0);
}
int32_t Order(const TSQLTimeStamp& A, const TSQLTimeStamp& B) {
    return CompareTimeStamps(A, B);
}
int32_t Order(const TSQLTimeStampOffset& A, const TSQLTimeStampOffset& B) {
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
int32_t Order(const TBcd& A, const TBcd& B) {
    return TBcd::Compare(A, B);
}

// Nulls first; both null are equal. Answers true when the order is decided.
bool NullOrder(TDBXValue& A, TDBXValue& B, int32_t& Result) {
    const bool NA = A.IsNull(), NB = B.IsNull();
    if (!NA && !NB)
        return false;
    Result = NA && NB ? 0 : (NA ? -1 : 1);
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// TDBXValue

TDBXValue::TDBXValue(TDBXValueType* ValueType) : FValueType(ValueType) {
    if (FValueType != nullptr)
        FDBXContext = FValueType->DBXContext();
}

TDBXValue::~TDBXValue() = default;

void TDBXValue::AdoptValueType(std::unique_ptr<TDBXValueType> ValueType) {
    FValueType = ValueType.get();
    FOwnedValueType = std::move(ValueType);
}

namespace {

bool IsMemoSubType(int32_t SubType) {
    return SubType == TDBXSubDataTypes::MemoSubType || SubType == TDBXSubDataTypes::HMemoSubType;
}

std::unique_ptr<TDBXWritableValue> MakeStandardValue(TDBXValueType* T) {
    switch (T->DataType()) {
    case DT::AnsiStringType:
        return std::make_unique<TDBXAnsiStringBuilderValue>(T);
    case DT::DateType:
        return std::make_unique<TDBXDateValue>(T);
    case DT::BlobType:
    case DT::BytesType:
    case DT::VarBytesType:
    case DT::AdtType:
    case DT::ArrayType:
        if (IsMemoSubType(T->SubType()))
            return std::make_unique<TDBXAnsiMemoValue>(T);
        if (T->SubType() == TDBXSubDataTypes::WideMemoSubType)
            return std::make_unique<TDBXWideMemoValue>(T);
        return std::make_unique<TDBXStreamValue>(T);
    case DT::BooleanType:
        return std::make_unique<TDBXBooleanValue>(T);
    case DT::Int16Type:
        return std::make_unique<TDBXInt16Value>(T);
    case DT::Int32Type:
        return std::make_unique<TDBXInt32Value>(T);
    case DT::DoubleType:
        return std::make_unique<TDBXDoubleValue>(T);
    case DT::BcdType:
    case DT::CurrencyType:
        return std::make_unique<TDBXBcdValue>(T);
    case DT::TimeType:
        return std::make_unique<TDBXTimeValue>(T);
    case DT::DateTimeType:
    case DT::TimeStampType:
        return std::make_unique<TDBXTimeStampValue>(T);
    case DT::UInt16Type:
        return std::make_unique<TDBXUInt16Value>(T);
    case DT::CursorType:
        return std::make_unique<TDBXCursorValue>(T);
    case DT::Int64Type:
        return std::make_unique<TDBXInt64Value>(T);
    case DT::TableType:
        return std::make_unique<TDBXReaderValue>(T);
    case DT::WideStringType:
        return std::make_unique<TDBXWideStringBuilderValue>(T);
    case DT::SingleType:
        return std::make_unique<TDBXSingleValue>(T);
    case DT::Int8Type:
        return std::make_unique<TDBXInt8Value>(T);
    case DT::UInt8Type:
        return std::make_unique<TDBXUInt8Value>(T);
    case DT::BinaryBlobType:
    case DT::VariantType:
        return std::make_unique<TDBXStreamValue>(T);
    case DT::DBXConnectionType:
        return std::make_unique<TDBXConnectionValue>(T);
    case DT::TimeStampOffsetType:
        return std::make_unique<TDBXTimeStampOffsetValue>(T);
    case DT::JsonValueType:
        return std::make_unique<TDBXJSONValue>(T);
    case DT::CallbackType:
        return std::make_unique<TDBXCallbackValue>(T);
    default:
        return nullptr;
    }
}

} // namespace

std::unique_ptr<TDBXWritableValue> TDBXValue::CreateValue(TDBXContext* DBXContext,
                                                          TDBXValueType* ValueType, TDBXRow* DbxRow,
                                                          bool ReadOnlyType) {
    if (ReadOnlyType && !ValueType->ReadOnlyType())
        ValueType->SetReadOnlyType();
    std::unique_ptr<TDBXWritableValue> Value;
    if (DbxRow != nullptr)
        Value = DbxRow->CreateCustomValue(*ValueType);
    if (!Value)
        Value = MakeStandardValue(ValueType);
    if (!Value)
        RaiseDBXError(DBXContext != nullptr ? DBXContext : ValueType->DBXContext(),
                      TDBXErrorCodes::UnsupportedFieldType,
                      "Unexpected data type " + std::to_string(ValueType->DataType()));
    if (DBXContext != nullptr)
        Value->FDBXContext = DBXContext;
    ValueType->SetDbxRow(DbxRow);
    Value->SetDbxRow(DbxRow);
    return Value;
}

std::unique_ptr<TDBXWritableValue> TDBXValue::CreateValue(TDBXContext* DBXContext,
                                                          std::unique_ptr<TDBXValueType> ValueType,
                                                          TDBXRow* DbxRow, bool ReadOnlyType) {
    auto Value = CreateValue(DBXContext, ValueType.get(), DbxRow, ReadOnlyType);
    Value->AdoptValueType(std::move(ValueType));
    return Value;
}

std::unique_ptr<TDBXWritableValue>
TDBXValue::CreateValue(std::unique_ptr<TDBXValueType> ValueType) {
    return CreateValue(nullptr, std::move(ValueType), nullptr, false);
}

void TDBXValue::Sync() {
    if (FDbxRow != nullptr && FGeneration != FDbxRow->Generation()) {
        const int64_t Generation = FDbxRow->Generation();
        ReadFromRow(*FDbxRow);
        FGeneration = Generation;
        AfterRead();
    }
}

void TDBXValue::Unsupported(int32_t AskedDataType) const {
    TDBXValueType Probe(FDBXContext);
    Probe.InvalidTypeAccess(FValueType->DataType(), AskedDataType);
}

const TDBXFormatter& TDBXValue::Formatter() const {
    if (FDBXContext != nullptr && FDBXContext->DBXFormatter() != nullptr)
        return *FDBXContext->DBXFormatter();
    return TDBXFormatter::Default();
}

bool TDBXValue::IsNull() {
    Sync();
    return FIsNull;
}

int64_t TDBXValue::GetValueSize() {
    Unsupported(DT::UnknownType);
}
std::string TDBXValue::GetAnsiString() {
    Unsupported(DT::AnsiStringType);
}
TDBXDate TDBXValue::GetDate() {
    Unsupported(DT::DateType);
}
bool TDBXValue::GetBoolean() {
    Unsupported(DT::BooleanType);
}
TDBXTime TDBXValue::GetTime() {
    Unsupported(DT::TimeType);
}
std::u16string TDBXValue::GetWideString() {
    Unsupported(DT::WideStringType);
}
std::u16string TDBXValue::GetString() {
    return GetWideString();
}
uint8_t TDBXValue::GetUInt8() {
    Unsupported(DT::UInt8Type);
}
int8_t TDBXValue::GetInt8() {
    Unsupported(DT::Int8Type);
}
uint16_t TDBXValue::GetUInt16() {
    Unsupported(DT::UInt16Type);
}
int16_t TDBXValue::GetInt16() {
    Unsupported(DT::Int16Type);
}
int32_t TDBXValue::GetInt32() {
    Unsupported(DT::Int32Type);
}
int64_t TDBXValue::GetInt64() {
    Unsupported(DT::Int64Type);
}
float TDBXValue::GetSingle() {
    Unsupported(DT::SingleType);
}
double TDBXValue::GetDouble() {
    Unsupported(DT::DoubleType);
}
std::vector<uint8_t> TDBXValue::GetBytes() {
    Unsupported(DT::BytesType);
}
TSQLTimeStamp TDBXValue::GetTimeStamp() {
    Unsupported(DT::TimeStampType);
}
TSQLTimeStampOffset TDBXValue::GetTimeStampOffset() {
    Unsupported(DT::TimeStampOffsetType);
}
TBcd TDBXValue::GetBcd() {
    Unsupported(DT::BcdType);
}
TDBXReader* TDBXValue::GetDBXReader() {
    Unsupported(DT::TableType);
}
TDBXReader* TDBXValue::GetDBXReader(bool) {
    Unsupported(DT::TableType);
}
TDBXConnection* TDBXValue::GetDBXConnection() {
    Unsupported(DT::DBXConnectionType);
}
TStream* TDBXValue::GetStream() {
    Unsupported(DT::BinaryBlobType);
}
TStream* TDBXValue::GetStream(bool) {
    Unsupported(DT::BinaryBlobType);
}
TJSONValue* TDBXValue::GetJSONValue() {
    Unsupported(DT::JsonValueType);
}
TJSONValue* TDBXValue::GetJSONValue(bool) {
    Unsupported(DT::JsonValueType);
}
TDBXCallback* TDBXValue::GetCallbackValue() {
    Unsupported(DT::CallbackType);
}
TObject* TDBXValue::GetObjectValue() {
    Unsupported(DT::JsonValueType);
}
TObject* TDBXValue::GetObjectValue(bool) {
    Unsupported(DT::JsonValueType);
}

std::u16string TDBXValue::GetWideString(const std::u16string& defaultValue) {
    return IsNull() ? defaultValue : GetWideString();
}
bool TDBXValue::GetBoolean(bool defaultValue) {
    return IsNull() ? defaultValue : GetBoolean();
}
uint8_t TDBXValue::GetUInt8(uint8_t defaultValue) {
    return IsNull() ? defaultValue : GetUInt8();
}
int8_t TDBXValue::GetInt8(int8_t defaultValue) {
    return IsNull() ? defaultValue : GetInt8();
}
uint16_t TDBXValue::GetUInt16(uint16_t defaultValue) {
    return IsNull() ? defaultValue : GetUInt16();
}
int16_t TDBXValue::GetInt16(int16_t defaultValue) {
    return IsNull() ? defaultValue : GetInt16();
}
int32_t TDBXValue::GetInt32(int32_t defaultValue) {
    return IsNull() ? defaultValue : GetInt32();
}
int64_t TDBXValue::GetInt64(int64_t defaultValue) {
    return IsNull() ? defaultValue : GetInt64();
}

bool TDBXValue::EqualsValue(TDBXValue& Other) {
    return Compare(Other) == 0;
}
int32_t TDBXValue::Compare(TDBXValue&) {
    RaiseDBXError(FDBXContext, TDBXErrorCodes::NotImplemented, "Feature not implemented");
}

std::u16string TDBXValue::AsString() {
    return GetWideString();
}
std::string TDBXValue::AsAnsiString() {
    return GetAnsiString();
}
bool TDBXValue::AsBoolean() {
    return GetBoolean();
}
int8_t TDBXValue::AsInt8() {
    return GetInt8();
}
uint8_t TDBXValue::AsUInt8() {
    return GetUInt8();
}
int16_t TDBXValue::AsInt16() {
    return GetInt16();
}
uint16_t TDBXValue::AsUInt16() {
    return GetUInt16();
}
int32_t TDBXValue::AsInt32() {
    return GetInt32();
}
int64_t TDBXValue::AsInt64() {
    return GetInt64();
}
float TDBXValue::AsSingle() {
    return GetSingle();
}
double TDBXValue::AsDouble() {
    return GetDouble();
}
TDBXDate TDBXValue::AsDate() {
    return GetDate();
}
TDBXTime TDBXValue::AsTime() {
    return GetTime();
}
TSQLTimeStamp TDBXValue::AsTimeStamp() {
    return GetTimeStamp();
}
TBcd TDBXValue::AsBcd() {
    return GetBcd();
}
TDateTime TDBXValue::AsDateTime() {
    return SQLTimeStampToDateTime(GetTimeStamp());
}

// ---------------------------------------------------------------------------
// TDBXWritableValue

void TDBXWritableValue::Stored() {
    FIsNull = false;
    FSetPending = true;
    if (FDbxRow != nullptr)
        FGeneration = FDbxRow->Generation();
}

void TDBXWritableValue::SetNull() {
    ClearValue();
    FOverflow.reset();
    Stored();
    FIsNull = true;
}

void TDBXWritableValue::SetTimeStamp(const TSQLTimeStamp&) {
    Unsupported(DT::TimeStampType);
}
void TDBXWritableValue::SetTimeStampOffset(const TSQLTimeStampOffset&) {
    Unsupported(DT::TimeStampOffsetType);
}
void TDBXWritableValue::SetBcd(const TBcd&) {
    Unsupported(DT::BcdType);
}
void TDBXWritableValue::SetAnsiString(const std::string&) {
    Unsupported(DT::AnsiStringType);
}
void TDBXWritableValue::SetBoolean(bool) {
    Unsupported(DT::BooleanType);
}
void TDBXWritableValue::SetDate(TDBXDate) {
    Unsupported(DT::DateType);
}
void TDBXWritableValue::SetTime(TDBXTime) {
    Unsupported(DT::TimeType);
}
void TDBXWritableValue::SetWideString(const std::u16string&) {
    Unsupported(DT::WideStringType);
}
void TDBXWritableValue::SetString(const std::u16string& Value) {
    SetWideString(Value);
}
void TDBXWritableValue::SetUInt8(uint8_t) {
    Unsupported(DT::UInt8Type);
}
void TDBXWritableValue::SetInt8(int8_t) {
    Unsupported(DT::Int8Type);
}
void TDBXWritableValue::SetUInt16(uint16_t) {
    Unsupported(DT::UInt16Type);
}
void TDBXWritableValue::SetInt16(int16_t) {
    Unsupported(DT::Int16Type);
}
void TDBXWritableValue::SetInt32(int32_t) {
    Unsupported(DT::Int32Type);
}
void TDBXWritableValue::SetInt64(int64_t) {
    Unsupported(DT::Int64Type);
}
void TDBXWritableValue::SetSingle(float) {
    Unsupported(DT::SingleType);
}
void TDBXWritableValue::SetDouble(double) {
    Unsupported(DT::DoubleType);
}
void TDBXWritableValue::SetStaticBytes(int64_t, const uint8_t*, int64_t, int64_t) {
    Unsupported(DT::BytesType);
}
void TDBXWritableValue::SetDynamicBytes(int64_t, const std::vector<uint8_t>&, int64_t, int64_t) {
    Unsupported(DT::BytesType);
}
void TDBXWritableValue::SetDBXReader(TDBXReader*, bool) {
    Unsupported(DT::TableType);
}
void TDBXWritableValue::SetStream(TStream*, bool) {
    Unsupported(DT::BinaryBlobType);
}
void TDBXWritableValue::SetDBXConnection(TDBXConnection*) {
    Unsupported(DT::DBXConnectionType);
}
void TDBXWritableValue::SetJSONValue(TJSONValue*, bool) {
    Unsupported(DT::JsonValueType);
}
void TDBXWritableValue::SetObjectValue(TObject*, bool) {
    Unsupported(DT::JsonValueType);
}
void TDBXWritableValue::SetCallbackValue(TDBXCallback*) {
    Unsupported(DT::CallbackType);
}
void TDBXWritableValue::SetValue(TDBXValue& Value) {
    if (Value.IsNull())
        SetNull();
    else
        RaiseDBXError(FDBXContext, TDBXErrorCodes::NotImplemented, "Feature not implemented");
}

void TDBXWritableValue::SetOverflow(std::vector<uint8_t> Rest) {
    if (Rest.empty())
        FOverflow.reset();
    else
        FOverflow = std::make_unique<TMemoryStream>(std::move(Rest));
}

void TDBXWritableValue::Flush() {
    if (FDbxRow == nullptr)
        RaiseDBXError(FDBXContext, TDBXErrorCodes::None,
                      "Value of column number " + std::to_string(FValueType->Ordinal()) +
                          " is not attached to a row");
    TDBXRow& Row = *FDbxRow;
    const int32_t Direction = FValueType->ParameterDirection();
    if (!FSetPending) {
        if (Direction == TDBXParameterDirections::OutParameter ||
            Direction == TDBXParameterDirections::ReturnParameter)
            RaiseDBXError(FDBXContext, TDBXErrorCodes::ParameterNotSet,
                          "Parameter not set for column number " +
                              std::to_string(FValueType->Ordinal()));
        FOverflow.reset();
        Row.SetNull(*this);
    } else if (FIsNull) {
        FOverflow.reset();
        Row.SetNull(*this);
    } else {
        FOverflow.reset();
        WriteToRow(Row);
    }
    FSetPending = false;
}

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

// ---------------------------------------------------------------------------
// Null and cursor

void TDBXNullValue::WriteToRow(TDBXRow& Row) {
    Row.SetNull(*this);
}

// ---------------------------------------------------------------------------
// Streams

TDBXStreamValue::~TDBXStreamValue() {
    Replace(nullptr, false);
}

void TDBXStreamValue::Replace(TStream* Stream, bool Owns) {
    if (FStream != nullptr && FOwnsStream && FStream != Stream)
        delete FStream;
    FStream = Stream;
    FOwnsStream = Owns;
    FWritten = false;
}

void TDBXStreamValue::ClearValue() {
    Replace(nullptr, false);
}

int64_t TDBXStreamValue::GetValueSize() {
    Sync();
    return FIsNull || FStream == nullptr ? 0 : FStream->Size();
}

std::vector<uint8_t> TDBXStreamValue::GetBytes() {
    Sync();
    if (FIsNull || FStream == nullptr)
        return {};
    const int64_t Position = FStream->Position();
    FStream->SetPosition(0);
    std::vector<uint8_t> Bytes = FStream->ReadRemaining();
    FStream->SetPosition(Position);
    return Bytes;
}

TStream* TDBXStreamValue::GetStream() {
    Sync();
    return FIsNull ? nullptr : FStream;
}

TStream* TDBXStreamValue::GetStream(bool AInstanceOwner) {
    Sync();
    FOwnsStream = AInstanceOwner;
    return FIsNull ? nullptr : FStream;
}

void TDBXStreamValue::SetStream(TStream* Stream, bool AInstanceOwner) {
    if (Stream == nullptr) {
        SetNull();
        return;
    }
    Replace(Stream, AInstanceOwner);
    Stored();
}

void TDBXStreamValue::SetStaticBytes(int64_t Offset, const uint8_t* Buffer, int64_t BufferOffset,
                                     int64_t Length) {
    if (Offset < 0 || BufferOffset < 0 || Length < 0 || (Length > 0 && Buffer == nullptr))
        RaiseDBXError(FDBXContext, TDBXErrorCodes::InvalidArgument, "");
    std::vector<uint8_t> Bytes(static_cast<size_t>(Offset), 0);
    Bytes.insert(Bytes.end(), Buffer + BufferOffset, Buffer + BufferOffset + Length);
    SetStream(new TMemoryStream(std::move(Bytes)), true);
}

void TDBXStreamValue::SetDynamicBytes(int64_t Offset, const std::vector<uint8_t>& Buffer,
                                      int64_t BufferOffset, int64_t Length) {
    if (BufferOffset < 0 || Length < 0 ||
        BufferOffset + Length > static_cast<int64_t>(Buffer.size()))
        RaiseDBXError(FDBXContext, TDBXErrorCodes::InvalidArgument, "");
    SetStaticBytes(Offset, Buffer.data(), BufferOffset, Length);
}

void TDBXStreamValue::SetValue(TDBXValue& Other) {
    if (Other.IsNull()) {
        SetNull();
        return;
    }
    const std::vector<uint8_t> Bytes = Other.GetBytes();
    SetStream(new TMemoryStream(Bytes), true);
}

int32_t TDBXStreamValue::Compare(TDBXValue& Other) {
    int32_t Result = 0;
    if (NullOrder(*this, Other, Result))
        return Result;
    return Order(GetBytes(), Other.GetBytes());
}

bool TDBXStreamValue::EqualsValue(TDBXValue& Other) {
    return Compare(Other) == 0;
}

std::u16string TDBXStreamValue::AsString() {
    const std::vector<uint8_t> Bytes = GetBytes();
    return Widen(std::string_view(reinterpret_cast<const char*>(Bytes.data()), Bytes.size()));
}

TStream* TDBXStreamValue::OverflowStream() {
    if (!FWritten || FStream == nullptr || FStream->Position() >= FStream->Size())
        return nullptr;
    return FStream;
}

void TDBXStreamValue::ReadFromRow(TDBXRow& Row) {
    std::vector<uint8_t> Bytes;
    Row.GetBytes(*this, Bytes, FIsNull);
    if (FIsNull)
        Replace(nullptr, false);
    else
        Replace(new TMemoryStream(std::move(Bytes)), true);
}

void TDBXStreamValue::WriteToRow(TDBXRow& Row) {
    if (FStream == nullptr) {
        Row.SetNull(*this);
        return;
    }
    Row.SetStream(*this, *FStream);
    FWritten = true;
}

// ---------------------------------------------------------------------------
// Readers and connections

TDBXReaderValue::~TDBXReaderValue() {
    ClearValue();
}

void TDBXReaderValue::ClearValue() {
    if (FOwnsReader)
        delete FReader;
    FReader = nullptr;
    FOwnsReader = false;
}

TDBXReader* TDBXReaderValue::GetDBXReader() {
    Sync();
    return FReader;
}

TDBXReader* TDBXReaderValue::GetDBXReader(bool AInstanceOwner) {
    Sync();
    FOwnsReader = AInstanceOwner;
    return FReader;
}

void TDBXReaderValue::SetDBXReader(TDBXReader* Value, bool AInstanceOwner) {
    if (Value == nullptr) {
        SetNull();
        return;
    }
    if (FReader != Value)
        ClearValue();
    FReader = Value;
    FOwnsReader = AInstanceOwner;
    Stored();
}

void TDBXReaderValue::SetValue(TDBXValue& Other) {
    if (Other.IsNull())
        SetNull();
    else
        SetDBXReader(Other.GetDBXReader(), false);
}

void TDBXReaderValue::WriteToRow(TDBXRow& Row) {
    if (FReader == nullptr)
        Row.SetNull(*this);
    else
        Row.SetDBXReader(*this, *FReader);
}

TDBXConnection* TDBXConnectionValue::GetDBXConnection() {
    Sync();
    return FConnection;
}

void TDBXConnectionValue::SetDBXConnection(TDBXConnection* Value) {
    if (Value == nullptr) {
        SetNull();
        return;
    }
    FConnection = Value;
    Stored();
}

void TDBXConnectionValue::SetValue(TDBXValue& Other) {
    if (Other.IsNull())
        SetNull();
    else
        SetDBXConnection(Other.GetDBXConnection());
}

void TDBXConnectionValue::WriteToRow(TDBXRow& Row) {
    Row.SetDBXConnection(*this);
}

// ---------------------------------------------------------------------------
// JSON

TDBXJSONValue::~TDBXJSONValue() {
    Replace(nullptr, false);
}

void TDBXJSONValue::Replace(TJSONValue* Value, bool Owns) {
    if (FJsonValue != nullptr && FOwnsJsonValue && FJsonValue != Value)
        delete FJsonValue;
    FJsonValue = Value;
    FOwnsJsonValue = Owns;
}

void TDBXJSONValue::ClearValue() {
    Replace(nullptr, false);
}

TJSONValue* TDBXJSONValue::GetJSONValue() {
    Sync();
    return FJsonValue;
}

TJSONValue* TDBXJSONValue::GetJSONValue(bool AInstanceOwner) {
    Sync();
    FOwnsJsonValue = AInstanceOwner;
    return FJsonValue;
}

void TDBXJSONValue::SetJSONValue(TJSONValue* Value, bool AInstanceOwner) {
    if (Value == nullptr) {
        SetNull();
        return;
    }
    Replace(Value, AInstanceOwner);
    Stored();
}

void TDBXJSONValue::SetObjectValue(TObject* Value, bool AInstanceOwner) {
    if (auto* Json = dynamic_cast<TJSONValue*>(Value))
        SetJSONValue(Json, AInstanceOwner);
    else
        TDBXWritableValue::SetObjectValue(Value, AInstanceOwner);
}

TObject* TDBXJSONValue::GetObjectValue() {
    return dynamic_cast<TObject*>(GetJSONValue());
}

TObject* TDBXJSONValue::GetObjectValue(bool AInstanceOwner) {
    return dynamic_cast<TObject*>(GetJSONValue(AInstanceOwner));
}

std::u16string TDBXJSONValue::GetWideString() {
    Sync();
    return FJsonValue != nullptr ? FJsonValue->Value() : std::u16string();
}

void TDBXJSONValue::SetValue(TDBXValue& Other) {
    if (Other.IsNull()) {
        SetNull();
        return;
    }
    TJSONValue* Source = Other.GetJSONValue();
    if (Source == nullptr)
        SetNull();
    else
        SetJSONValue(Source->Clone().release(), true);
}

int32_t TDBXJSONValue::EstimatedByteSize() {
    Sync();
    return FJsonValue != nullptr ? FJsonValue->EstimatedByteSize() : 0;
}

int32_t TDBXJSONValue::ToBytes(uint8_t* Data, int32_t Offset) {
    Sync();
    return FJsonValue != nullptr ? FJsonValue->ToBytes(Data, Offset) : 0;
}

void TDBXJSONValue::ReadFromRow(TDBXRow& Row) {
    std::unique_ptr<TJSONValue> Tree;
    Row.GetJSONValue(*this, Tree, FIsNull);
    Replace(Tree.release(), true);
    if (FJsonValue == nullptr)
        FIsNull = true;
}

void TDBXJSONValue::WriteToRow(TDBXRow& Row) {
    if (FJsonValue == nullptr)
        Row.SetNull(*this);
    else
        Row.SetJSONValue(*this, *FJsonValue);
}

// ---------------------------------------------------------------------------
// Callbacks

TDBXCallbackValue::TDBXCallbackValue(TDBXValueType* ValueType) : TDBXWritableValue(ValueType) {
    Replace(new TDBXCallbackDelegate());
    FIsNull = false;
}

TDBXCallbackValue::~TDBXCallbackValue() {
    Replace(nullptr);
}

void TDBXCallbackValue::Replace(TDBXCallback* Value) {
    if (Value == FCallback)
        return;
    if (Value != nullptr)
        Value->AddRef();
    TDBXCallback* Old = FCallback;
    FCallback = Value;
    if (Old != nullptr)
        Old->Release();
}

void TDBXCallbackValue::ClearValue() {
    Replace(nullptr);
}

bool TDBXCallbackValue::IsNull() {
    Sync();
    return FCallback == nullptr;
}

TDBXCallback* TDBXCallbackValue::GetCallbackValue() {
    Sync();
    return FCallback;
}

void TDBXCallbackValue::SetCallbackValue(TDBXCallback* Value) {
    if (Value == nullptr) {
        SetNull();
        return;
    }
    Replace(Value);
    Stored();
}

void TDBXCallbackValue::SetValue(TDBXValue& Other) {
    if (Other.IsNull())
        SetNull();
    else
        SetCallbackValue(Other.GetCallbackValue());
}

void TDBXCallbackValue::ReadFromRow(TDBXRow& Row) {
    bool Held = false;
    Row.GetCallbackValue(*this, Held);
    if (!Held)
        Replace(nullptr);
    else if (FCallback == nullptr)
        Replace(new TDBXCallbackDelegate());
    FIsNull = !Held;
}

void TDBXCallbackValue::WriteToRow(TDBXRow& Row) {
    if (FCallback == nullptr)
        Row.SetNull(*this);
    else
        Row.SetCallbackValue(*this);
}

} // namespace kds
