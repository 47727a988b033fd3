#include "data/TDBXJSonRow.h"

#include "data/TDBXReader.h"
#include "data/TDBXValue.h"

namespace kds {

void TDBXStreamerRow::NoteReaderOrdinal(int32_t Ordinal) {
    if (FFirstDBXReaderOrdinal < 0 || Ordinal < FFirstDBXReaderOrdinal)
        FFirstDBXReaderOrdinal = Ordinal;
    if (Ordinal > FLastDBXReaderOrdinal)
        FLastDBXReaderOrdinal = Ordinal;
}

TDBXJSonRow::TDBXJSonRow(TDBXContext* DBXContext, TDBXRowBuffer* DbxRowBuffer)
    : TDBXStreamerRow(DBXContext), FDbxRowBuffer(DbxRowBuffer) {}

TDBXJSonRow::TDBXJSonRow(TDBXContext* DBXContext, std::unique_ptr<TDBXRowBuffer> DbxRowBuffer)
    : TDBXStreamerRow(DBXContext), FOwnedRowBuffer(std::move(DbxRowBuffer)),
      FDbxRowBuffer(FOwnedRowBuffer.get()) {}

std::unique_ptr<TDBXWritableValue> TDBXJSonRow::CreateCustomValue(const TDBXValueType& ValueType) {
    auto* Type = const_cast<TDBXValueType*>(&ValueType);
    const int32_t Sub = ValueType.SubType();
    switch (ValueType.DataType()) {
    case TDBXDataTypes::AnsiStringType:
        return std::make_unique<TDBXAnsiCharsValue>(Type);
    case TDBXDataTypes::WideStringType:
        return std::make_unique<TDBXWideCharsValue>(Type);
    case TDBXDataTypes::BlobType:
        if (Sub == TDBXSubDataTypes::MemoSubType || Sub == TDBXSubDataTypes::HMemoSubType)
            return std::make_unique<TDBXAnsiCharsValue>(Type);
        if (Sub == TDBXSubDataTypes::WideMemoSubType)
            return std::make_unique<TDBXWideCharsValue>(Type);
        return nullptr;
    default:
        return nullptr;
    }
}

TDBXRowBuffer& TDBXJSonRow::At(const TDBXValue& Value) {
    FDbxRowBuffer->GoToField(Value.ValueType().Ordinal());
    return *FDbxRowBuffer;
}

void TDBXJSonRow::GetBoolean(const TDBXValue& V, bool& Out, bool& IsNull) {
    IsNull = !At(V).ReadBoolean(Out);
}
void TDBXJSonRow::GetInt8(const TDBXValue& V, int8_t& Out, bool& IsNull) {
    IsNull = !At(V).ReadInt8(Out);
}
void TDBXJSonRow::GetUInt8(const TDBXValue& V, uint8_t& Out, bool& IsNull) {
    IsNull = !At(V).ReadUInt8(Out);
}
void TDBXJSonRow::GetInt16(const TDBXValue& V, int16_t& Out, bool& IsNull) {
    IsNull = !At(V).ReadInt16(Out);
}
void TDBXJSonRow::GetUInt16(const TDBXValue& V, uint16_t& Out, bool& IsNull) {
    IsNull = !At(V).ReadUInt16(Out);
}
void TDBXJSonRow::GetInt32(const TDBXValue& V, int32_t& Out, bool& IsNull) {
    IsNull = !At(V).ReadInt32(Out);
}
void TDBXJSonRow::GetInt64(const TDBXValue& V, int64_t& Out, bool& IsNull) {
    IsNull = !At(V).ReadInt64(Out);
}
void TDBXJSonRow::GetSingle(const TDBXValue& V, float& Out, bool& IsNull) {
    IsNull = !At(V).ReadSingle(Out);
}
void TDBXJSonRow::GetDouble(const TDBXValue& V, double& Out, bool& IsNull) {
    IsNull = !At(V).ReadDouble(Out);
}
void TDBXJSonRow::GetDate(const TDBXValue& V, TDBXDate& Out, bool& IsNull) {
    IsNull = !At(V).ReadDate(Out);
}
void TDBXJSonRow::GetTime(const TDBXValue& V, TDBXTime& Out, bool& IsNull) {
    IsNull = !At(V).ReadTime(Out);
}
void TDBXJSonRow::GetTimeStamp(const TDBXValue& V, TSQLTimeStamp& Out, bool& IsNull) {
    IsNull = !At(V).ReadTimeStamp(Out);
}
void TDBXJSonRow::GetTimeStampOffset(const TDBXValue& V, TSQLTimeStampOffset& Out, bool& IsNull) {
    IsNull = !At(V).ReadTimeStampOffset(Out);
}
void TDBXJSonRow::GetBcd(const TDBXValue& V, TBcd& Out, bool& IsNull) {
    IsNull = !At(V).ReadBcd(Out, FBcdFormat == 1);
}
void TDBXJSonRow::GetAnsiString(const TDBXValue& V, std::string& Out, bool& IsNull) {
    IsNull = !At(V).ReadAnsiString(Out);
}
void TDBXJSonRow::GetWideString(const TDBXValue& V, std::u16string& Out, bool& IsNull) {
    IsNull = !At(V).ReadWideString(Out);
}
void TDBXJSonRow::GetBytes(const TDBXValue& V, std::vector<uint8_t>& Out, bool& IsNull) {
    IsNull = !At(V).ReadBytes(Out);
}
void TDBXJSonRow::GetJSONValue(const TDBXValue& V, std::unique_ptr<TJSONValue>& Out, bool& IsNull) {
    IsNull = !At(V).ReadJSON(Out);
}
void TDBXJSonRow::GetCallbackValue(const TDBXValue& V, bool& Held) {
    Held = At(V).ReadCallbackMark();
}
void TDBXJSonRow::GetDBXReader(const TDBXValue& V, int32_t& RowHandle, bool& IsNull) {
    IsNull = !At(V).ReadInt32(RowHandle);
}

void TDBXJSonRow::SetNull(TDBXWritableValue&) {
    FDbxRowBuffer->WriteNull();
}
void TDBXJSonRow::SetBoolean(TDBXWritableValue&, bool V) {
    FDbxRowBuffer->WriteBoolean(V);
}
void TDBXJSonRow::SetInt64(TDBXWritableValue&, int64_t V) {
    FDbxRowBuffer->WriteInt64(V);
}
void TDBXJSonRow::SetSingle(TDBXWritableValue&, float V) {
    FDbxRowBuffer->WriteSingle(V);
}
void TDBXJSonRow::SetDouble(TDBXWritableValue&, double V) {
    FDbxRowBuffer->WriteDouble(V);
}
void TDBXJSonRow::SetDate(TDBXWritableValue&, TDBXDate V) {
    FDbxRowBuffer->WriteDate(V);
}
void TDBXJSonRow::SetTime(TDBXWritableValue&, TDBXTime V) {
    FDbxRowBuffer->WriteTime(V);
}
void TDBXJSonRow::SetTimeStamp(TDBXWritableValue&, const TSQLTimeStamp& V) {
    FDbxRowBuffer->WriteTimeStamp(V);
}
void TDBXJSonRow::SetTimeStampOffset(TDBXWritableValue&, const TSQLTimeStampOffset& V) {
    FDbxRowBuffer->WriteTimeStampOffset(V);
}
void TDBXJSonRow::SetBcd(TDBXWritableValue&, const TBcd& V) {
    FDbxRowBuffer->WriteBcd(V);
}

void TDBXJSonRow::SetAnsiString(TDBXWritableValue& Value, std::string_view V) {
    if (FDbxRowBuffer->WriteAnsiString(V, FOverflow))
        Value.SetOverflow(std::move(FOverflow));
    FOverflow.clear();
}

void TDBXJSonRow::SetWideString(TDBXWritableValue& Value, std::u16string_view V) {
    if (FDbxRowBuffer->WriteWideString(V, FOverflow))
        Value.SetOverflow(std::move(FOverflow));
    FOverflow.clear();
}

void TDBXJSonRow::SetStream(TDBXWritableValue&, TStream& V) {
    FDbxRowBuffer->WriteBytes(V);
}
void TDBXJSonRow::SetJSONValue(TDBXWritableValue&, const TJSONValue& V) {
    FDbxRowBuffer->WriteJSON(V);
}
void TDBXJSonRow::SetCallbackValue(TDBXWritableValue&) {
    FDbxRowBuffer->WriteCallbackMark();
}

void TDBXJSonRow::SetDBXReader(TDBXWritableValue& Value, TDBXReader& V) {
    NoteReaderOrdinal(Value.ValueType().Ordinal());
    FDbxRowBuffer->WriteInt64(V.RowHandle());
}

void TDBXJSonRow::SetDBXConnection(TDBXWritableValue&) {}

} // namespace kds
