#include "data/TDBXRow.h"

#include "base/DBXContext.h"
#include "data/TDBXValue.h"

namespace kds {

void TDBXRow::NotImplemented() const {
    RaiseDBXError(FDBXContext, TDBXErrorCodes::NotImplemented, "Feature not implemented");
}

std::unique_ptr<TDBXWritableValue> TDBXRow::CreateCustomValue(const TDBXValueType&) {
    return nullptr;
}

void TDBXRow::GetBoolean(const TDBXValue&, bool&, bool&) {
    NotImplemented();
}
void TDBXRow::GetInt8(const TDBXValue&, int8_t&, bool&) {
    NotImplemented();
}
void TDBXRow::GetUInt8(const TDBXValue&, uint8_t&, bool&) {
    NotImplemented();
}
void TDBXRow::GetInt16(const TDBXValue&, int16_t&, bool&) {
    NotImplemented();
}
void TDBXRow::GetUInt16(const TDBXValue&, uint16_t&, bool&) {
    NotImplemented();
}
void TDBXRow::GetInt32(const TDBXValue&, int32_t&, bool&) {
    NotImplemented();
}
void TDBXRow::GetInt64(const TDBXValue&, int64_t&, bool&) {
    NotImplemented();
}
void TDBXRow::GetSingle(const TDBXValue&, float&, bool&) {
    NotImplemented();
}
void TDBXRow::GetDouble(const TDBXValue&, double&, bool&) {
    NotImplemented();
}
void TDBXRow::GetDate(const TDBXValue&, TDBXDate&, bool&) {
    NotImplemented();
}
void TDBXRow::GetTime(const TDBXValue&, TDBXTime&, bool&) {
    NotImplemented();
}
void TDBXRow::GetTimeStamp(const TDBXValue&, TSQLTimeStamp&, bool&) {
    NotImplemented();
}
void TDBXRow::GetTimeStampOffset(const TDBXValue&, TSQLTimeStampOffset&, bool&) {
    NotImplemented();
}
void TDBXRow::GetBcd(const TDBXValue&, TBcd&, bool&) {
    NotImplemented();
}
void TDBXRow::GetAnsiString(const TDBXValue&, std::string&, bool&) {
    NotImplemented();
}
void TDBXRow::GetWideString(const TDBXValue&, std::u16string&, bool&) {
    NotImplemented();
}
void TDBXRow::GetBytes(const TDBXValue&, std::vector<uint8_t>&, bool&) {
    NotImplemented();
}
void TDBXRow::GetJSONValue(const TDBXValue&, std::unique_ptr<TJSONValue>&, bool&) {
    NotImplemented();
}
void TDBXRow::GetCallbackValue(const TDBXValue&, bool&) {
    NotImplemented();
}
void TDBXRow::GetDBXReader(const TDBXValue&, int32_t&, bool&) {
    NotImplemented();
}

void TDBXRow::SetNull(TDBXWritableValue&) {
    NotImplemented();
}
void TDBXRow::SetBoolean(TDBXWritableValue&, bool) {
    NotImplemented();
}
void TDBXRow::SetInt64(TDBXWritableValue&, int64_t) {
    NotImplemented();
}
void TDBXRow::SetSingle(TDBXWritableValue&, float) {
    NotImplemented();
}
void TDBXRow::SetDouble(TDBXWritableValue&, double) {
    NotImplemented();
}
void TDBXRow::SetDate(TDBXWritableValue&, TDBXDate) {
    NotImplemented();
}
void TDBXRow::SetTime(TDBXWritableValue&, TDBXTime) {
    NotImplemented();
}
void TDBXRow::SetTimeStamp(TDBXWritableValue&, const TSQLTimeStamp&) {
    NotImplemented();
}
void TDBXRow::SetTimeStampOffset(TDBXWritableValue&, const TSQLTimeStampOffset&) {
    NotImplemented();
}
void TDBXRow::SetBcd(TDBXWritableValue&, const TBcd&) {
    NotImplemented();
}
void TDBXRow::SetAnsiString(TDBXWritableValue&, std::string_view) {
    NotImplemented();
}
void TDBXRow::SetWideString(TDBXWritableValue&, std::u16string_view) {
    NotImplemented();
}
void TDBXRow::SetStream(TDBXWritableValue&, TStream&) {
    NotImplemented();
}
void TDBXRow::SetJSONValue(TDBXWritableValue&, const TJSONValue&) {
    NotImplemented();
}
void TDBXRow::SetCallbackValue(TDBXWritableValue&) {
    NotImplemented();
}
void TDBXRow::SetDBXReader(TDBXWritableValue&, TDBXReader&) {
    NotImplemented();
}
void TDBXRow::SetDBXConnection(TDBXWritableValue&) {
    NotImplemented();
}

} // namespace kds
