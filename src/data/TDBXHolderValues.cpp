// The values that hold an object rather than a scalar or text: streams,
// readers, connections, JSON trees and callbacks (declared in
// data/TDBXValue.h).

#include "ValueHelpers.h"
#include "base/DBXContext.h"
#include "data/DBXCallback.h"
#include "data/DBXJSON.h"
#include "data/TDBXConnection.h"
#include "data/TDBXReader.h"
#include "data/TDBXRow.h"
#include "data/TDBXValue.h"

namespace kds {

using namespace valuedetail;

// ---------------------------------------------------------------------------
// Streams

TDBXStreamValue::TDBXStreamValue(TDBXValueType* ValueType) : TDBXWritableValue(ValueType) {}

TDBXStreamValue::~TDBXStreamValue() = default;

void TDBXStreamValue::Replace(TStream* Stream, bool Owns) {
    FStream.Reset(Stream, Owns);
    FWritten = false;
}

void TDBXStreamValue::ClearValue() {
    Replace(nullptr, false);
}

int64_t TDBXStreamValue::GetValueSize() {
    Sync();
    return FIsNull || !FStream ? 0 : FStream->Size();
}

std::vector<uint8_t> TDBXStreamValue::GetBytes() {
    Sync();
    if (FIsNull || !FStream)
        return {};
    const int64_t Position = FStream->Position();
    FStream->SetPosition(0);
    std::vector<uint8_t> Bytes = FStream->ReadRemaining();
    FStream->SetPosition(Position);
    return Bytes;
}

TStream* TDBXStreamValue::GetStream() {
    Sync();
    return FIsNull ? nullptr : FStream.Get();
}

TStream* TDBXStreamValue::GetStream(bool AInstanceOwner) {
    Sync();
    FStream.SetOwns(AInstanceOwner);
    return FIsNull ? nullptr : FStream.Get();
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
    if (!FWritten || !FStream || FStream->Position() >= FStream->Size())
        return nullptr;
    return FStream.Get();
}

std::unique_ptr<TStream> TDBXStreamValue::TakeOverflow() {
    TStream* Rest = OverflowStream();
    if (Rest == nullptr)
        return nullptr;
    return std::make_unique<TMemoryStream>(Rest->ReadRemaining());
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
    if (!FStream) {
        Row.SetNull(*this);
        return;
    }
    Row.SetStream(*this, *FStream);
    FWritten = true;
}

// ---------------------------------------------------------------------------
// Readers and connections

TDBXReaderValue::TDBXReaderValue(TDBXValueType* ValueType) : TDBXWritableValue(ValueType) {}

TDBXReaderValue::~TDBXReaderValue() = default;

void TDBXReaderValue::ClearValue() {
    FReader.Reset();
}

TDBXReader* TDBXReaderValue::GetDBXReader() {
    Sync();
    return FReader.Get();
}

TDBXReader* TDBXReaderValue::GetDBXReader(bool AInstanceOwner) {
    Sync();
    FReader.SetOwns(AInstanceOwner);
    return FReader.Get();
}

void TDBXReaderValue::SetDBXReader(TDBXReader* Value, bool AInstanceOwner) {
    if (Value == nullptr) {
        SetNull();
        return;
    }
    FReader.Reset(Value, AInstanceOwner);
    Stored();
}

std::unique_ptr<TDBXReader> TDBXReaderValue::TakeReader() {
    if (!FReader.Owns())
        return nullptr;
    FReader.SetOwns(false);
    return std::unique_ptr<TDBXReader>(FReader.Get());
}

void TDBXReaderValue::SetValue(TDBXValue& Other) {
    if (Other.IsNull())
        SetNull();
    else
        SetDBXReader(Other.GetDBXReader(), false);
}

void TDBXReaderValue::WriteToRow(TDBXRow& Row) {
    if (!FReader)
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

TDBXJSONValue::TDBXJSONValue(TDBXValueType* ValueType) : TDBXWritableValue(ValueType) {}

TDBXJSONValue::~TDBXJSONValue() = default;

void TDBXJSONValue::ClearValue() {
    FJsonValue.Reset();
}

TJSONValue* TDBXJSONValue::GetJSONValue() {
    Sync();
    return FJsonValue.Get();
}

TJSONValue* TDBXJSONValue::GetJSONValue(bool AInstanceOwner) {
    Sync();
    FJsonValue.SetOwns(AInstanceOwner);
    return FJsonValue.Get();
}

void TDBXJSONValue::SetJSONValue(TJSONValue* Value, bool AInstanceOwner) {
    if (Value == nullptr) {
        SetNull();
        return;
    }
    FJsonValue.Reset(Value, AInstanceOwner);
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
    return FJsonValue ? FJsonValue->Value() : std::u16string();
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
    return FJsonValue ? FJsonValue->EstimatedByteSize() : 0;
}

int32_t TDBXJSONValue::ToBytes(uint8_t* Data, int32_t Offset) {
    Sync();
    return FJsonValue ? FJsonValue->ToBytes(Data, Offset) : 0;
}

void TDBXJSONValue::ReadFromRow(TDBXRow& Row) {
    std::unique_ptr<TJSONValue> Tree;
    Row.GetJSONValue(*this, Tree, FIsNull);
    FJsonValue.Reset(Tree.release(), true);
    if (!FJsonValue)
        FIsNull = true;
}

void TDBXJSONValue::WriteToRow(TDBXRow& Row) {
    if (!FJsonValue)
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
