#include "data/TDBXValue.h"

#include "base/DBXContext.h"
#include "data/TDBXFormatter.h"
#include "data/TDBXRow.h"

namespace kds {

namespace DT = TDBXDataTypes;

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

std::unique_ptr<TStream> TDBXValue::TakeOverflow() {
    return std::move(FOverflow);
}

void TDBXValue::WriteInto(TDBXRow&) {
    RaiseDBXError(FDBXContext, TDBXErrorCodes::NotImplemented,
                  DataTypeName(FValueType->DataType()) + " value cannot be written into a row");
}

void TDBXWritableValue::WriteInto(TDBXRow& Row) {
    FOverflow.reset();
    if (IsNull())
        Row.SetNull(*this);
    else
        WriteToRow(Row);
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
// Null and cursor

void TDBXNullValue::WriteToRow(TDBXRow& Row) {
    Row.SetNull(*this);
}

} // namespace kds
